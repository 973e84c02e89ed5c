// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef DATABASE_H
#define DATABASE_H

#include <QObject>
#include <QSqlDatabase>
#include <QString>

// Handle on the client's local catalogue: the SQLite file "tavrellite.db" under
// the user's configuration directory, reached through the one process-wide
// connection named "tavrellite". Every user opens it before and closes it after
// each group of statements; no query outlives a closeDB().
class Database : public QObject
{
    Q_OBJECT
public:
    explicit Database(QObject *parent = nullptr);

    void openDB();
    void closeDB();
    void initialDB();
    void createDb();

    // Directory and file of the catalogue ("<user config dir>/TavrelLite/tavrellite.db").
    static QString dataDirectory();
    static QString databasePath();
    static const char *connectionName() { return "tavrellite"; }

    // What to tell the user, in Italian, when the catalogue cannot be opened or
    // written (naming the path and the cause); "" when it works.
    static QString unusableMessage();

    QSqlDatabase db;
};

#endif // DATABASE_H
