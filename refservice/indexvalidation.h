// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef INDEXVALIDATION_H
#define INDEXVALIDATION_H

#include "refstore.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// Checks the index values of a preservation against its class's definitions:
// only indexes of the class, each once; required ones present; type 2 a
// number ("1234", "-7,5", "1.234,56", "12.5"); type 3 a real date written
// dd/MM/yyyy; at most 1000 characters.
class IndexValidation
{
public:
    using Rejection = QPair<QString, QString>; // (index key as sent, Italian message)

    // The rejected values; `accepted` receives the values by index id.
    static QList<Rejection> check(const RefStore::Folder &folder, const QList<QPair<QString, QString>> &given,
                                  QMap<int, QString> *accepted);

private:
    // The message for one present value of definition `d`, or an empty string.
    static QString problem(const RefStore::IndexDef &d, const QString &value);
};

#endif // INDEXVALIDATION_H
