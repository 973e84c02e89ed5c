// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/constants.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/testenv.h"

#include <QSqlQuery>

// The settings store (the catalogue's "settings" table). What a rebuilt
// catalogue keeps is checked in tst_database.
class TestSetting : public QObject
{
    Q_OBJECT
private slots:
    void init() { QDir(Database::dataDirectory()).removeRecursively(); }

    void urlHasADefaultAndLosesTrailingSlashes()
    {
        Setting setting;
        QCOMPARE(setting.getSetting("url"), URLSERVICE);
        QCOMPARE(setting.getSetting("never-written"), QString());
        setting.saveSetting("url", "https://service.example//");
        QCOMPARE(setting.getSetting("url"), "https://service.example");
        setting.saveSetting("url", "/");
        QCOMPARE(setting.getSetting("url"), QString());
        // Only the service address is trimmed.
        setting.saveSetting("proxyUrl", "proxy.example/");
        QCOMPARE(setting.getSetting("proxyUrl"), "proxy.example/");
    }

    void valuesAreStoredVerbatimSharedAndDeleted()
    {
        Setting setting, other;
        const QString awkward = QStringLiteral("pa'ss\"w;rd -- DROP TABLE settings; àèì");
        setting.saveSetting("password", awkward);
        QCOMPARE(other.getSetting("password"), awkward);
        setting.saveSetting("password", "second");
        QCOMPARE(other.getSetting("password"), "second");
        Database database;
        database.openDB();
        {
            QSqlQuery query(database.db);
            QVERIFY(query.exec("SELECT count(*) FROM settings WHERE key = 'password'") && query.next());
            QCOMPARE(query.value(0).toInt(), 1);
        }
        database.closeDB();

        other.deleteSetting("password");
        QCOMPARE(setting.getSetting("password"), QString());
        // Deleting a key that is not there touches no other key.
        setting.saveSetting("proxyPort", "3128");
        setting.deleteSetting("proxyUrl");
        QCOMPARE(setting.getSetting("proxyPort"), "3128");
        QCOMPARE(setting.getSetting("url"), URLSERVICE);
    }
};

TAVREL_TEST_MAIN(TestSetting)
#include "tst_setting.moc"
