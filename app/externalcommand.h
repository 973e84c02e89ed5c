// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef EXTERNALCOMMAND_H
#define EXTERNALCOMMAND_H

#include <QString>

// One message of the command channel as the dispatcher reads it: the text of
// the first element named "command", in lower case, and of the first element
// named "parameter1", wherever they are in the document.
//
// The message is read with a streaming reader, never built into a tree: a
// real command is two or three levels deep, so a document nested deeper than
// kMaxDepth is refused as soon as the reader gets there, and one that is not
// well-formed is refused whole.
struct ExternalCommand
{
    static constexpr int kMaxDepth = 32;

    QString command;       // "" when the message has no usable command
    QString parameter;
    bool hasParameter = false;

    static ExternalCommand parse(const QString &message);
};

#endif // EXTERNALCOMMAND_H
