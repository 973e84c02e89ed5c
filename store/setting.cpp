// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "store/setting.h"

#include <QSqlQuery>
#include <QVariant>

Setting::Setting(QObject *parent)
    : QObject(parent)
    , database()
{
}

void Setting::saveSetting(const QString &key, QString value)
{
    if (key == QLatin1String("url")) {
        while (value.endsWith(QLatin1Char('/')))
            value.chop(1);
    }
    database.openDB();
    {
        QSqlQuery query(database.db);
        query.prepare(QStringLiteral("REPLACE INTO settings (key, value) VALUES (?, ?)"));
        query.addBindValue(key);
        query.addBindValue(value);
        query.exec();
    }
    database.closeDB();
}

QString Setting::getSetting(const QString &key)
{
    QString result;
    database.openDB();
    {
        QSqlQuery query(database.db);
        query.prepare(QStringLiteral("SELECT value FROM settings WHERE key = ?"));
        query.addBindValue(key);
        if (query.exec() && query.next())
            result = query.value(0).toString();
    }
    database.closeDB();
    return result;
}

void Setting::deleteSetting(const QString &key)
{
    database.openDB();
    {
        QSqlQuery query(database.db);
        query.prepare(QStringLiteral("DELETE FROM settings WHERE key = ?"));
        query.addBindValue(key);
        query.exec();
    }
    database.closeDB();
}
