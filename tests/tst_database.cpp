// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/constants.h"
#include "browse/coremain.h"
#include "browse/filelistquery.h"
#include "browse/searchindex.h"
#include "service/kvdialoglogin.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <sys/stat.h>

namespace {
// Runs `statements` on the catalogue and returns the rows of the last one as "v1|v2|...".
QStringList sql(Database &database, const QStringList &statements)
{
    QStringList out;
    database.openDB();
    {
        QSqlQuery query(database.db);
        for (const QString &s : statements) {
            if (!query.exec(s)) {
                out << "error: " + query.lastError().text();
                break;
            }
        }
        while (query.isSelect() && query.next()) {
            QStringList cols;
            for (int i = 0; i < query.record().count(); ++i)
                cols << query.value(i).toString();
            out << cols.join('|');
        }
    }
    database.closeDB();
    return out;
}

QStringList asideFiles()
{
    return QDir(Database::dataDirectory()).entryList({"tavrellite.db.unreadable-*"}, QDir::Files);
}

// Permission bits of `path`, or -1 when it does not exist.
int modeOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

// Puts `bytes` in place of the catalogue as a new file, as a copy restored by
// hand or another program would, which this process has not opened yet.
bool replaceCatalogue(const QByteArray &bytes, mode_t mode = 0600)
{
    const QByteArray path = QFile::encodeName(Database::databasePath());
    const QByteArray fresh = path + ".new";
    QDir().mkpath(Database::dataDirectory());
    QFile file(QFile::decodeName(fresh));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return ::chmod(fresh.constData(), mode) == 0 && ::rename(fresh.constData(), path.constData()) == 0;
}

QByteArray catalogueBytes()
{
    QFile file(Database::databasePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT
private slots:
    void init() { QDir(Database::dataDirectory()).removeRecursively(); }

    void firstOpenCreatesDirectoryFileAndSchema()
    {
        QCOMPARE(Database::dataDirectory(), TestEnv::instance()->configHome() + "/TavrelLite");
        QCOMPARE(Database::databasePath(), TestEnv::instance()->catalogueFile());
        // The organisation name used to find the directory is not left behind.
        QVERIFY(QCoreApplication::organizationName().isEmpty());

        QVERIFY(!QFile::exists(Database::databasePath()));
        Database database;
        QCOMPARE(sql(database, {"SELECT version FROM dbversion"}), QStringList{"14"});
        QVERIFY(QFile::exists(Database::databasePath()));
        // It holds saved passwords: only its user may enter the folder or read it.
        QCOMPARE(modeOf(Database::dataDirectory()), 0700);
        QCOMPARE(modeOf(Database::databasePath()), 0600);
        QCOMPARE(sql(database, {"SELECT key, value FROM settings"}), QStringList{QStringLiteral("url|") + URLSERVICE});
        QCOMPARE(sql(database, {"SELECT id, value FROM tipo_metadato"}), (QStringList{"1|Testo", "2|Numerico", "3|Data"}));
        QCOMPARE(sql(database, {"SELECT id, value FROM tipo_required"}), (QStringList{"0|Facoltativo", "1|Obbligatorio"}));
        QCOMPARE(sql(database, {"SELECT id, value FROM stato_metadato ORDER BY rowid"}),
                 (QStringList{"1|Visibile", "0|Invisibile"}));

        // Opened again at the current version, nothing changes.
        QVERIFY(sql(database, {"INSERT INTO buckets VALUES ('b1', 'Profilo', 10, 2, 'GB', 1)",
                               "REPLACE INTO settings VALUES ('url', 'http://example.invalid')"}).isEmpty());
        QCOMPARE(sql(database, {"SELECT idbuckets FROM buckets"}), QStringList{"b1"});
        QCOMPARE(sql(database, {"SELECT value FROM settings WHERE key='url'"}), QStringList{"http://example.invalid"});

        // A catalogue left readable by everyone by an earlier version is made
        // private when first opened, contents untouched.
        QVERIFY(replaceCatalogue(catalogueBytes(), 0644));
        QCOMPARE(::chmod(QFile::encodeName(Database::dataDirectory()).constData(), 0755), 0);
        QCOMPARE(sql(database, {"SELECT idbuckets FROM buckets"}), QStringList{"b1"});
        QCOMPARE(modeOf(Database::dataDirectory()), 0700);
        QCOMPARE(modeOf(Database::databasePath()), 0600);
    }

    void otherVersionOrMissingVersionRebuildsKeepingSettings_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("older version") << "UPDATE dbversion SET version = '13'";
        QTest::newRow("no dbversion table") << "DROP TABLE dbversion";
        QTest::newRow("empty dbversion") << "DELETE FROM dbversion";
    }
    void otherVersionOrMissingVersionRebuildsKeepingSettings()
    {
        QFETCH(QString, damage);
        Database database;
        QVERIFY(sql(database, {"INSERT INTO buckets VALUES ('b1', 'Profilo', 10, 2, 'GB', 1)",
                               "INSERT INTO files (hash, folderid, token) VALUES ('h', 1, 't')",
                               "INSERT INTO settings VALUES ('saveLogin', '1')",
                               "INSERT INTO settings VALUES ('username', 'demo')",
                               "REPLACE INTO settings VALUES ('url', 'http://example.invalid')", damage})
                    .isEmpty());
        QCOMPARE(sql(database, {"SELECT version FROM dbversion"}), QStringList{"14"});
        QVERIFY(sql(database, {"SELECT * FROM buckets"}).isEmpty());
        QVERIFY(sql(database, {"SELECT * FROM files"}).isEmpty());
        // Every setting is kept but the service address, which goes back to its default.
        QCOMPARE(sql(database, {"SELECT key, value FROM settings ORDER BY key"}),
                 (QStringList{"saveLogin|1", QStringLiteral("url|") + URLSERVICE, "username|demo"}));
    }

    void oneValuePerIndexAndFile()
    {
        Database database;
        QCOMPARE(sql(database, {"INSERT INTO metadati_values (idmetadata, value, hash) VALUES (7, 'a', 'h1')",
                                "INSERT INTO metadati_values (idmetadata, value, hash) VALUES (7, 'b', 'h1')"})
                     .size(),
                 1); // the error
        QVERIFY(sql(database, {"INSERT INTO metadati_values (idmetadata, value, hash) VALUES (7, 'c', 'h2')",
                               "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (7, 'd', 'h1')"})
                    .isEmpty());
        QCOMPARE(sql(database, {"SELECT idmetadata, value, hash FROM metadati_values ORDER BY hash"}),
                 (QStringList{"7|d|h1", "7|c|h2"}));
    }

    void searchViewListsClassComputerPathAndValues()
    {
        Database database;
        QCOMPARE(sql(database, {"INSERT INTO folders VALUES (3, 'Fatture', 'Contabilita', 0, 'b1', 'p1')",
                                "INSERT INTO files (hash, folderid, fullpath, computer_name, token) "
                                "VALUES ('h', 3, '/doc/a.pdf', 'pc1', 'tok')",
                                "INSERT INTO metadati (idmetadato, idfolder, nome, tipo) VALUES (9, 3, 'Numero', 2)",
                                "INSERT INTO metadati_values (idmetadata, value, hash) VALUES (9, '42', 'h')",
                                "SELECT key, value FROM metadati_values_complete WHERE hash='h' ORDER BY key, value"}),
                 (QStringList{"|/doc/a.pdf", "|Fatture", "|pc1", "Numero|42"}));
        // A rebuilt catalogue has a working view too.
        QVERIFY(sql(database, {"DROP TABLE dbversion"}).isEmpty());
        QCOMPARE(sql(database, {"INSERT INTO files (hash, folderid, fullpath, computer_name) VALUES ('h', 1, '/a', 'pc')",
                                "SELECT value FROM metadati_values_complete WHERE hash='h' ORDER BY value"}),
                 (QStringList{"/a", "pc"}));
    }

    // The catalogue holds the objects of its schema and nothing else, whatever
    // the client does with it: the search index lives in a file of its own, and
    // what an earlier version kept inside the catalogue is removed at the next
    // open.
    void catalogueHoldsOnlyItsSchema()
    {
        Database database;
        QVERIFY(sql(database, {"INSERT INTO folders VALUES (3, 'Fatture', 'G', 0, 'b1', 'p1')",
                               // The search index of an earlier version.
                               "CREATE TABLE search_text (id INTEGER PRIMARY KEY, hash text, value text)",
                               "CREATE INDEX search_text_key ON search_text (hash)",
                               "CREATE INDEX search_files_folder ON files (folderid)",
                               "CREATE INDEX search_files_time ON files (substr(tsconserve, 7, 4))",
                               "CREATE VIRTUAL TABLE search_fts USING fts5(value, content='search_text', "
                               "content_rowid='id', tokenize='trigram')",
                               "CREATE TRIGGER search_files_ai AFTER INSERT ON files BEGIN "
                               "INSERT INTO search_text (hash, value) VALUES (new.hash, new.fullpath); END"})
                    .isEmpty());

        // Searched, then written, then searched again.
        const auto found = [&database](const QString &word) {
            QSqlQuery query = FileListQuery::list(database.db, "%", "b1", word);
            return query.exec() && query.next() ? query.value(0).toString() : QString();
        };
        database.openDB();
        QVERIFY(SearchIndex::ensure(database.db));
        QCOMPARE(found("fatture"), QString());
        QVERIFY(QSqlQuery(database.db).exec("INSERT INTO files (hash, folderid, fullpath, token, tsconserve) "
                                            "VALUES ('h', 3, '/doc/verbale.pdf', 't', '01/02/2026 10:00:00')"));
        QCOMPARE(found("verbale"), QStringLiteral("h"));
        database.closeDB();
        QCOMPARE(sql(database, {"SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master "
                                "WHERE name NOT LIKE 'sqlite_%' ORDER BY name)"}),
                 QStringList{"buckets dbversion files folders metadati metadati_values metadati_values_complete "
                             "metadati_values_index policies settings stato_metadato tipo_metadato tipo_required"});
        QVERIFY(QFile::exists(SearchIndex::filePath(Database::databasePath())));
    }

    void nestedUseKeepsTheOuterTransaction()
    {
        Database outer, inner;
        outer.openDB();
        QVERIFY(outer.db.transaction());
        QVERIFY(QSqlQuery(outer.db).exec("INSERT INTO buckets (idbuckets) VALUES ('outer')"));
        // A handler that runs meanwhile opens and closes the catalogue itself.
        QCOMPARE(sql(inner, {"SELECT count(*) FROM buckets WHERE idbuckets = 'outer'"}), QStringList{"1"});
        QVERIFY(outer.db.isOpen());
        // The journal of the open write is as private as the catalogue.
        QCOMPARE(modeOf(Database::databasePath() + "-journal"), 0600);
        // The outer user can still roll its work back: nothing was committed for it.
        QVERIFY(outer.db.rollback());
        outer.closeDB();
        QVERIFY(!outer.db.isOpen());
        QCOMPARE(sql(outer, {"SELECT idbuckets FROM buckets WHERE idbuckets = 'outer'"}), QStringList());
    }

    // A file that is not a database, or one whose pages past the first were
    // overwritten, is kept aside as it is and a fresh catalogue is built.
    void unreadableCatalogueIsKeptAsideAndRebuilt_data()
    {
        QTest::addColumn<bool>("damagedPages");
        QTest::newRow("not a database") << false;
        QTest::newRow("pages past the first damaged") << true;
    }
    void unreadableCatalogueIsKeptAsideAndRebuilt()
    {
        QFETCH(bool, damagedPages);
        Database database;
        QByteArray bytes = QByteArray("this is not a catalogue at all ").repeated(200);
        if (damagedPages) {
            QVERIFY(sql(database, {"INSERT INTO files (hash, folderid, fullpath, token) "
                                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                                   "SELECT printf('h%d', i), 1, printf('/documenti/%d-%s.pdf', i, hex(randomblob(40))), "
                                   "'t' FROM n"}).isEmpty());
            bytes = catalogueBytes();
            QRandomGenerator random(7);
            for (qsizetype at = bytes.size() / 2; at < bytes.size(); ++at)
                bytes[at] = char(random.generate());
        }
        QVERIFY(replaceCatalogue(bytes));

        QCOMPARE(sql(database, {"SELECT version FROM dbversion"}), QStringList{"14"});
        QCOMPARE(sql(database, {"SELECT count(*) FROM files"}), QStringList{"0"});
        QCOMPARE(Setting().getSetting("url"), URLSERVICE);
        QCOMPARE(asideFiles().size(), 1);
        QFile kept(Database::dataDirectory() + "/" + asideFiles().first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), bytes);
        // A healthy catalogue is never moved aside.
        QCOMPARE(sql(database, {"SELECT version FROM dbversion"}), QStringList{"14"});
        QCOMPARE(asideFiles().size(), 1);
    }

    // Where the catalogue cannot be made, the client still starts and tells the
    // user what is wrong, and where.
    void catalogueThatCannotBeMadeIsReported_data()
    {
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QString>("cause");
        QTest::newRow("a file in place of the folder") << Database::dataDirectory() << "c'è un file.";
        QTest::newRow("a folder in place of the file") << Database::databasePath() << "c'è una cartella.";
    }
    void catalogueThatCannotBeMadeIsReported()
    {
        QFETCH(QString, blocked);
        QFETCH(QString, cause);
        if (blocked == Database::dataDirectory()) {
            QFile blocker(blocked);
            QVERIFY(blocker.open(QIODevice::WriteOnly) && blocker.write("x") == 1);
        } else {
            QVERIFY(QDir().mkpath(blocked));
        }
        const auto unblock = qScopeGuard([&] { QFile::remove(blocked) || QDir(blocked).removeRecursively(); });

        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Db nn aperto: "));
        Database database;
        QCOMPARE(sql(database, {"SELECT version FROM dbversion"}).size(), 1); // the error
        QCOMPARE(Setting().getSetting("url"), QString());

        PromptRecorder prompts;
        CoreMain window;
        QTRY_VERIFY(window.loginDialog()->isVisible());
        const QStringList told = prompts.describe().filter("critical|Catalogo locale|");
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.first().contains("\n" + blocked + "\n" + cause), qPrintable(told.first()));
    }
};

TAVREL_TEST_MAIN(TestDatabase)
#include "tst_database.moc"
