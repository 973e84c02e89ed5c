// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef XMLTEXT_H
#define XMLTEXT_H

#include <QString>

// Escapes a value for use as the text of an element (or an attribute value) in a
// request document built from a literal template: "&", "<", ">", '"' and "'"
// become entity references, so a password such as "a&b<c" reaches the service
// as typed instead of breaking the document.
QString xmlEscaped(const QString &value);

#endif // XMLTEXT_H
