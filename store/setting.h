// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SETTING_H
#define SETTING_H

#include "store/database.h"

#include <QObject>
#include <QString>

// Key/value configuration kept in the catalogue's "settings" table. Each call
// opens and closes the catalogue, so a value written through one object is seen
// at once by every other. Missing keys and unreadable catalogues read as "".
class Setting : public QObject
{
    Q_OBJECT
public:
    explicit Setting(QObject *parent = nullptr);

    void saveSetting(const QString &key, QString value);
    QString getSetting(const QString &key);
    void deleteSetting(const QString &key);

private:
    Database database;
};

#endif // SETTING_H
