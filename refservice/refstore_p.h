// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef REFSTORE_P_H
#define REFSTORE_P_H

// Row readers and statement helpers shared by the parts of RefStore.

#include "refstore.h"

#include <QSqlQuery>

namespace StoreRows {

// The columns readFile() reads, in its order.
extern const char *const FileColumns;

RefStore::FileVersion readFile(const QSqlQuery &q);
RefStore::Bucket readBucket(const QSqlQuery &q);
QList<RefStore::Folder> readFolders(QSqlQuery &q);
// Loads the index definitions of `folders` in one prepared statement.
void attachIndexes(QSqlDatabase &db, QList<RefStore::Folder> &folders);

// Prepares `sql`, binds `values` in order and executes; on failure `error`
// (when given) receives the driver's message.
bool run(QSqlQuery &q, const QString &sql, const QVariantList &values, QString *error = nullptr);
// SQLite keeps NULL and '' apart; a text column compared with '=' must never get NULL.
QString notNull(const QString &text);
// A new preservation token: the date and 64 random bits.
QString newToken();
QString timestamp();

} // namespace StoreRows

#endif // REFSTORE_P_H
