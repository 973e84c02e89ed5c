#include "app/constants.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/testenv.h"

#include <QSqlQuery>

class TestSetting : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QDir(Database::dataDirectory()).removeRecursively();
    }

    void freshCatalogueHoldsOnlyTheDefaultUrl()
    {
        Setting setting;
        QCOMPARE(setting.getSetting("url"), QStringLiteral(URLSERVICE));
        QCOMPARE(setting.getSetting("saveLogin"), QString());
        QCOMPARE(setting.getSetting("never-written"), QString());
    }

    void trailingSlashesAreStrippedFromUrlOnly()
    {
        Setting setting;
        setting.saveSetting("url", "https://service.example//");
        QCOMPARE(setting.getSetting("url"), QStringLiteral("https://service.example"));
        setting.saveSetting("url", "/");
        QCOMPARE(setting.getSetting("url"), QString());
        setting.saveSetting("proxyUrl", "proxy.example/");
        QCOMPARE(setting.getSetting("proxyUrl"), QStringLiteral("proxy.example/"));
    }

    void valuesAreStoredVerbatimAndReplaced()
    {
        Setting setting;
        const QString awkward = QStringLiteral("pa'ss\"w;rd -- DROP TABLE settings; àèì");
        setting.saveSetting("password", awkward);
        QCOMPARE(setting.getSetting("password"), awkward);
        setting.saveSetting("password", "second");
        QCOMPARE(setting.getSetting("password"), QStringLiteral("second"));
        Database database;
        database.openDB();
        {
            QSqlQuery query(database.db);
            QVERIFY(query.exec("SELECT count(*) FROM settings WHERE key = 'password'"));
            QVERIFY(query.next());
            QCOMPARE(query.value(0).toInt(), 1);
        }
        database.closeDB();
    }

    void writesAreSeenByEveryOtherStore()
    {
        Setting writer, reader;
        writer.saveSetting("lastusername", "verdi");
        QCOMPARE(reader.getSetting("lastusername"), QStringLiteral("verdi"));
        reader.deleteSetting("lastusername");
        QCOMPARE(writer.getSetting("lastusername"), QString());
    }

    void deletingAMissingKeyChangesNothing()
    {
        Setting setting;
        setting.saveSetting("proxyPort", "3128");
        setting.deleteSetting("proxyUrl");
        QCOMPARE(setting.getSetting("proxyPort"), QStringLiteral("3128"));
        QCOMPARE(setting.getSetting("url"), QStringLiteral(URLSERVICE));
    }

    void rebuildKeepsEveryKeyButUrl()
    {
        Setting setting;
        setting.saveSetting("url", "https://other.example");
        setting.saveSetting("saveLogin", "1");
        setting.saveSetting("proxyUrl", "127.0.0.1");
        Database database;
        database.openDB();
        database.createDb();
        database.closeDB();
        QCOMPARE(setting.getSetting("url"), QStringLiteral(URLSERVICE));
        QCOMPARE(setting.getSetting("saveLogin"), QStringLiteral("1"));
        QCOMPARE(setting.getSetting("proxyUrl"), QStringLiteral("127.0.0.1"));
    }
};

TAVREL_TEST_MAIN(TestSetting)
#include "tst_setting.moc"
