#include "app/constants.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {
QStringList rowsOf(Database &database, const QString &sql)
{
    QStringList out;
    database.openDB();
    {
        QSqlQuery query(database.db);
        if (query.exec(sql)) {
            while (query.next()) {
                QStringList cols;
                for (int i = 0; i < query.record().count(); ++i)
                    cols << query.value(i).toString();
                out << cols.join(QLatin1Char('|'));
            }
        }
    }
    database.closeDB();
    return out;
}

void execAll(Database &database, const QStringList &statements)
{
    database.openDB();
    {
        QSqlQuery query(database.db);
        for (const QString &s : statements)
            QVERIFY2(query.exec(s), qPrintable(s + QStringLiteral(": ") + query.lastError().text()));
    }
    database.closeDB();
}

QStringList asideFiles()
{
    return QDir(Database::dataDirectory())
        .entryList({QStringLiteral("tavrellite.db.unreadable-*")}, QDir::Files);
}
} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QDir(Database::dataDirectory()).removeRecursively();
    }

    void locationIsUnderTheConfigDirectory()
    {
        QCOMPARE(Database::dataDirectory(), TestEnv::instance()->configHome() + "/TavrelLite");
        QCOMPARE(Database::databasePath(), TestEnv::instance()->catalogueFile());
        // The organisation name used to find the directory is not left behind.
        QVERIFY(QCoreApplication::organizationName().isEmpty());
    }

    void firstOpenCreatesDirectoryFileAndSchema()
    {
        QVERIFY(!QFile::exists(Database::databasePath()));
        Database database;
        QCOMPARE(rowsOf(database, "SELECT version FROM dbversion"), QStringList{"14"});
        QVERIFY(QFile::exists(Database::databasePath()));
        QCOMPARE(rowsOf(database, "SELECT key, value FROM settings"),
                 QStringList{QStringLiteral("url|") + URLSERVICE});
        QCOMPARE(rowsOf(database, "SELECT id, value FROM tipo_metadato"),
                 (QStringList{"1|Testo", "2|Numerico", "3|Data"}));
        QCOMPARE(rowsOf(database, "SELECT id, value FROM tipo_required"),
                 (QStringList{"0|Facoltativo", "1|Obbligatorio"}));
        QCOMPARE(rowsOf(database, "SELECT id, value FROM stato_metadato ORDER BY rowid"),
                 (QStringList{"1|Visibile", "0|Invisibile"}));
        const QStringList objects = rowsOf(
            database, "SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER BY name");
        for (const char *expected :
             {"table|buckets", "table|dbversion", "table|files", "table|folders", "table|metadati",
              "table|metadati_values", "index|metadati_values_index",
              "view|metadati_values_complete", "table|policies", "table|settings",
              "table|stato_metadato", "table|tipo_metadato", "table|tipo_required"})
            QVERIFY2(objects.contains(QLatin1String(expected)), expected);
    }

    void reopeningTheCurrentVersionChangesNothing()
    {
        Database database;
        execAll(database, {"INSERT INTO buckets VALUES ('b1', 'Profilo', 10, 2, 'GB', 1)",
                           "REPLACE INTO settings VALUES ('url', 'http://example.invalid')"});
        QCOMPARE(rowsOf(database, "SELECT idbuckets FROM buckets"), QStringList{"b1"});
        QCOMPARE(rowsOf(database, "SELECT value FROM settings WHERE key='url'"),
                 QStringList{"http://example.invalid"});
    }

    void otherVersionOrMissingVersionRebuildsKeepingSettings_data()
    {
        QTest::addColumn<QStringList>("damage");
        QTest::newRow("older version") << QStringList{"UPDATE dbversion SET version = '13'"};
        QTest::newRow("no dbversion table") << QStringList{"DROP TABLE dbversion"};
        QTest::newRow("empty dbversion") << QStringList{"DELETE FROM dbversion"};
    }
    void otherVersionOrMissingVersionRebuildsKeepingSettings()
    {
        QFETCH(QStringList, damage);
        Database database;
        execAll(database, {"INSERT INTO buckets VALUES ('b1', 'Profilo', 10, 2, 'GB', 1)",
                           "INSERT INTO files (hash, folderid, token) VALUES ('h', 1, 't')",
                           "INSERT INTO settings VALUES ('saveLogin', '1')",
                           "INSERT INTO settings VALUES ('username', 'demo')",
                           "REPLACE INTO settings VALUES ('url', 'http://example.invalid')"});
        execAll(database, damage);
        QCOMPARE(rowsOf(database, "SELECT version FROM dbversion"), QStringList{"14"});
        QVERIFY(rowsOf(database, "SELECT * FROM buckets").isEmpty());
        QVERIFY(rowsOf(database, "SELECT * FROM files").isEmpty());
        QCOMPARE(rowsOf(database, "SELECT key, value FROM settings ORDER BY key"),
                 (QStringList{"saveLogin|1", QStringLiteral("url|") + URLSERVICE, "username|demo"}));
        // The rebuilt catalogue still has a working search view.
        execAll(database, {"INSERT INTO files (hash, folderid, fullpath, computer_name) VALUES ('h', 1, '/a', 'pc')"});
        QCOMPARE(rowsOf(database, "SELECT value FROM metadati_values_complete WHERE hash='h' ORDER BY value"),
                 (QStringList{"/a", "pc"}));
    }

    void oneValuePerIndexAndFile()
    {
        Database database;
        database.openDB();
        {
            QSqlQuery query(database.db);
            QVERIFY(query.exec("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (7, 'a', 'h1')"));
            QVERIFY(!query.exec("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (7, 'b', 'h1')"));
            QVERIFY(query.exec("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (7, 'c', 'h2')"));
            QVERIFY(query.exec("INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (7, 'd', 'h1')"));
        }
        database.closeDB();
        QCOMPARE(rowsOf(database, "SELECT idmetadata, value, hash FROM metadati_values ORDER BY hash"),
                 (QStringList{"7|d|h1", "7|c|h2"}));
    }

    void searchViewListsClassComputerPathAndValues()
    {
        Database database;
        execAll(database,
                {"INSERT INTO folders VALUES (3, 'Fatture', 'Contabilita', 0, 'b1', 'p1')",
                 "INSERT INTO files (hash, folderid, fullpath, computer_name, token) VALUES ('h', 3, '/doc/a.pdf', 'pc1', 'tok')",
                 "INSERT INTO metadati (idmetadato, idfolder, nome, tipo) VALUES (9, 3, 'Numero', 2)",
                 "INSERT INTO metadati_values (idmetadata, value, hash) VALUES (9, '42', 'h')"});
        QCOMPARE(rowsOf(database, "SELECT key, value FROM metadati_values_complete WHERE hash='h' ORDER BY key, value"),
                 (QStringList{"|/doc/a.pdf", "|Fatture", "|pc1", "Numero|42"}));
    }

    void nestedUseKeepsTheOuterTransaction()
    {
        Database outer, inner;
        outer.openDB();
        QVERIFY(outer.db.transaction());
        {
            QSqlQuery query(outer.db);
            QVERIFY(query.exec("INSERT INTO buckets (idbuckets) VALUES ('outer')"));
        }
        // A handler that runs meanwhile opens and closes the catalogue itself.
        inner.openDB();
        {
            QSqlQuery query(inner.db);
            QVERIFY(query.exec("SELECT count(*) FROM buckets WHERE idbuckets = 'outer'") && query.next());
            QCOMPARE(query.value(0).toInt(), 1);
        }
        inner.closeDB();
        QVERIFY(outer.db.isOpen());
        // The outer user can still roll its work back: nothing was committed for it.
        QVERIFY(outer.db.rollback());
        outer.closeDB();
        QVERIFY(!outer.db.isOpen());
        QCOMPARE(rowsOf(outer, "SELECT idbuckets FROM buckets WHERE idbuckets = 'outer'"), QStringList());
    }

    void garbageFileIsKeptAsideAndRebuilt()
    {
        QDir().mkpath(Database::dataDirectory());
        QFile garbage(Database::databasePath());
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        const QByteArray junk = QByteArray("this is not a catalogue at all ").repeated(200);
        garbage.write(junk);
        garbage.close();

        Database database;
        QCOMPARE(rowsOf(database, "SELECT version FROM dbversion"), QStringList{"14"});
        const QStringList aside = asideFiles();
        QCOMPARE(aside.size(), 1);
        QFile kept(Database::dataDirectory() + "/" + aside.first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), junk);

        // A healthy catalogue is never moved aside.
        QCOMPARE(rowsOf(database, "SELECT version FROM dbversion"), QStringList{"14"});
        QCOMPARE(asideFiles().size(), 1);
    }

    void unusableDirectoryGivesEmptyResultsWithoutCrashing()
    {
        // A plain file where the data directory should be: nothing can be created.
        QFile blocker(Database::dataDirectory());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.write("x");
        blocker.close();

        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Db nn aperto: "));
        Database database;
        QVERIFY(rowsOf(database, "SELECT version FROM dbversion").isEmpty());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Db nn aperto: "));
        Setting setting;
        QCOMPARE(setting.getSetting("url"), QString());
        QFile::remove(Database::dataDirectory());
    }
};

TAVREL_TEST_MAIN(TestDatabase)
#include "tst_database.moc"
