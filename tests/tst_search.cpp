// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The word search of the file list: the indexed statement must give exactly the
// rows of the scan of the catalogue's searchable-value view, before and after
// every kind of catalogue change by this client or by another program, and the
// word rules hold.
#include "browse/filelistquery.h"
#include "browse/searchindex.h"
#include "store/database.h"
#include "support/testenv.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

namespace {

using Rows = QList<QStringList>;

Rows rowsOf(QSqlQuery &query)
{
    Rows rows;
    if (!query.exec())
        return {{QStringLiteral("error: ") + query.lastError().text()}};
    while (query.next()) {
        QStringList row;
        for (int column = 0; column <= FileListQuery::ClassId; ++column)
            row << query.value(column).toString();
        rows << row;
    }
    return rows;
}

QStringList hashes(const Rows &rows)
{
    QStringList out;
    for (const QStringList &row : rows)
        out << row.first();
    return out;
}

void exec(QSqlDatabase &db, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    QVERIFY2(query.exec(), qPrintable(sql + ": " + query.lastError().text()));
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

    Database database;

    Rows fast(const QString &text, const QString &profile = QStringLiteral("P1"))
    {
        QSqlQuery query = FileListQuery::list(database.db, QStringLiteral("%"), profile, text);
        return rowsOf(query);
    }
    Rows literal(const QString &text, const QString &profile = QStringLiteral("P1"))
    {
        QSqlQuery query = FileListQuery::literalSearch(database.db, QStringLiteral("%"), profile, text);
        return rowsOf(query);
    }

    void addFile(const QString &hash, int folder, const QString &path, const QString &computer,
                 const QString &when, const QString &token = QStringLiteral("tok"))
    {
        exec(database.db,
             "INSERT OR REPLACE INTO files (hash, hash4k, last_modified, fullpath, token, folderid, username, "
             "tsupdate, idbuckets, tsconserve, computer_name) VALUES (?, '', '', ?, ?, ?, 'demo', 1, 'P1', ?, ?)",
             {hash, path, token.isEmpty() ? QString("") : token + hash, folder, when, computer});
    }
    void addValue(const QString &hash, int index, const QVariant &value)
    {
        exec(database.db, "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, ?, ?)",
             {index, value, hash});
    }

    // A small catalogue whose texts exercise the word rules.
    void seedExamples()
    {
        exec(database.db, "INSERT INTO buckets (idbuckets, description) VALUES ('P1', 'Uno'), ('P''2', 'Due')");
        exec(database.db, "INSERT INTO folders (idfolder, name, idbuckets) VALUES (1, 'Fatture attive', 'P1'), "
                          "(2, 'Contratti', 'P1'), (3, 'Privato', 'P''2')");
        exec(database.db, "INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (10, 1, 'Cliente'), "
                          "(11, 1, 'Sconto'), (20, 2, 'Controparte'), (21, 2, 'Sede')");
        addFile("h1", 1, "/home/demo/fattura-0142.txt", "ufficio", "15/01/2026 10:02:11");
        addFile("h2", 2, "/home/demo/contratto.txt", "ufficio-legale", "29/01/2026 08:15:40");
        addFile("h3", 1, "C:\\dati\\atto.pdf", "portatile", "02/02/2026 12:05:00");
        addFile("h4", 3, "/home/demo/carta.txt", "casa", "03/02/2026 09:00:00");
        addFile("h5", 1, "/home/demo/bozza.txt", "ufficio", "04/02/2026 09:00:00", QString()); // not preserved
        addValue("h1", 10, "Rossi Forniture S.r.l.");
        addValue("h1", 11, "50% sul totale");
        addValue("h2", 20, "Bianchi Impianti");
        addValue("h2", 21, "𠮷野家 😀😀 Москва");
        addValue("h3", 10, "Carta d'identità di Rossi");
        addValue("h3", 11, "cinque_per_cento");
        addValue("h4", 10, "Rossi privato");
    }

private slots:
    void init()
    {
        database.openDB();
        // One commit: the catalogue's file is synchronised once, not per statement.
        QVERIFY(database.db.transaction());
        database.createDb();
        SearchIndex::drop(database.db);
        QVERIFY(SearchIndex::ensure(database.db));
        seedExamples();
        QVERIFY(database.db.commit());
    }

    void cleanup()
    {
        database.closeDB();
    }

    void wordRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        // Newest first: h3 (02/02), h2 (29/01), h1 (15/01). h4 is another profile, h5 unpreserved.
        QTest::newRow("no text") << "" << QStringList{"h3", "h2", "h1"};
        QTest::newRow("one word, ASCII case ignored") << "ROSSI" << QStringList{"h3", "h1"};
        QTest::newRow("words in value and computer") << "rossi ufficio" << QStringList{"h1"};
        QTest::newRow("words bound, not joined") << "Rossi Forniture" << QStringList{"h1"};
        QTest::newRow("every word must occur") << "rossi bianchi" << QStringList{};
        QTest::newRow("extra spaces") << " rossi  ufficio" << QStringList{"h1"};
        QTest::newRow("only spaces") << "   " << QStringList{};
        QTest::newRow("apostrophe") << "d'identità" << QStringList{"h3"};
        QTest::newRow("percent is a wildcard") << "50%totale" << QStringList{"h1"};
        QTest::newRow("lone percent") << "%" << QStringList{"h3", "h2", "h1"};
        QTest::newRow("underscore is a wildcard") << "cinque_per" << QStringList{"h3"};
        QTest::newRow("backslash path, class name") << "C:\\dati fatture" << QStringList{"h3"};
        QTest::newRow("quote and parenthesis") << "') OR 1=1 --" << QStringList{};
        // Characters, not UTF-16 units: "😀" and "𠮷" are two units each.
        QTest::newRow("two emoji") << "😀😀" << QStringList{"h2"};
        QTest::newRow("two characters, three units") << "𠮷野" << QStringList{"h2"};
        QTest::newRow("three characters, four units") << "𠮷野家" << QStringList{"h2"};
        QTest::newRow("no case folding beyond ASCII") << "москва" << QStringList{};
    }
    void wordRules()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(hashes(fast(text)), expected);
        if (!FileListQuery::words(text).isEmpty())
            QCOMPARE(fast(text), literal(text));
    }

    // Every kind of change to the catalogue reaches the index in the writer's
    // own statement; the class name and the index definitions are read live.
    // Each change hides the text `gone` and lets `found` find `hash`.
    void changesReachTheIndex()
    {
        const struct
        {
            const char *sql, *gone, *found, *hash;
        } changes[] = {
            {"INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (20, 'Verdi Costruzioni', 'h2')",
             "bianchi", "verdi", "h2"},
            {"UPDATE metadati_values SET value = 'Gialli' WHERE hash = 'h2'", "verdi", "gialli", "h2"},
            {"INSERT OR REPLACE INTO files (hash, fullpath, token, folderid, idbuckets, tsconserve, computer_name) "
             "VALUES ('h1', '/home/demo/rinominata.txt', 'tokh1', 1, 'P1', '15/01/2026 10:02:11', 'server')",
             "fattura-0142", "rinominata server", "h1"},
            {"UPDATE files SET computer_name = 'nuovo-pc' WHERE hash = 'h3'", "portatile", "nuovo-pc", "h3"},
            {"UPDATE folders SET name = 'Preventivi' WHERE idfolder = 2", "contratti", "preventivi", "h2"},
            {"DELETE FROM metadati WHERE idmetadato = 11", "cinque", nullptr, nullptr},
        };
        for (const auto &change : changes) {
            exec(database.db, change.sql);
            QVERIFY2(fast(change.gone).isEmpty(), change.sql);
            if (change.found)
                QVERIFY2(hashes(fast(change.found)) == QStringList{change.hash}, change.sql);
        }
        for (const char *text : {"rossi", "ufficio", "txt", "%", "Gialli", "nuovo", "Preventivi 2026", "ser"})
            QCOMPARE(fast(text), literal(text));
    }

    // Only the profile asked for, its id bound; none when the catalogue has no
    // profile (the current profile id is then "").
    void profiles()
    {
        QCOMPARE(hashes(fast(QString(), QStringLiteral("P'2"))), QStringList{"h4"});
        QVERIFY(fast(QString(), QString()).isEmpty());
        QVERIFY(fast(QStringLiteral("rossi"), QString()).isEmpty());
    }

    // A rebuilt catalogue starts without the index, so none of the old texts
    // can be found once it is made again.
    void rebuiltCatalogueStartsWithoutTheIndex()
    {
        database.createDb();
        QVERIFY(!SearchIndex::isPresent(database.db));
        QVERIFY(SearchIndex::ensure(database.db));
        QVERIFY(fast("%").isEmpty());
    }

    // The index is trusted from one use of the catalogue to the next only when
    // nothing but this client wrote the catalogue in between; otherwise, or
    // when its file is gone or damaged, it is rebuilt before the search.
    void indexFollowsEveryWriter_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("nothing") << "" << true;
        QTest::newRow("this client writes") << "own" << true;
        QTest::newRow("another program writes") << "other" << false;
        QTest::newRow("another program writes while the client has it open") << "other while open" << false;
        QTest::newRow("index file deleted") << "deleted" << false;
        QTest::newRow("index file damaged") << "damaged" << false;
    }
    void indexFollowsEveryWriter()
    {
        QFETCH(QString, change);
        QFETCH(bool, trusted);
        const QStringList update = {
            "UPDATE metadati_values SET value = 'Neri Logistica' WHERE hash = 'h2' AND idmetadata = 20",
            "INSERT INTO files (hash, fullpath, token, folderid, idbuckets, tsconserve, computer_name) "
            "VALUES ('h6', '/home/demo/nuovo.txt', 'tokh6', 2, 'P1', '05/02/2026 09:00:00', 'magazzino')"};
        const auto otherProgram = [&update] {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "tst_search_other");
            other.setDatabaseName(Database::databasePath());
            QVERIFY(other.open());
            for (const QString &sql : update)
                exec(other, sql);
            other.close();
        };
        const QString indexFile = SearchIndex::filePath(Database::databasePath());

        if (change == "own") {
            for (const QString &sql : update)
                exec(database.db, sql);
        } else if (change == "other while open") {
            otherProgram();
            QVERIFY(!SearchIndex::isPresent(database.db));
        }
        database.closeDB();
        QSqlDatabase::removeDatabase("tst_search_other");
        if (change == "other") {
            otherProgram();
            QSqlDatabase::removeDatabase("tst_search_other");
        } else if (change == "deleted") {
            QVERIFY(QFile::remove(indexFile));
        } else if (change == "damaged") {
            QFile file(indexFile);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray("not an index ").repeated(400));
        }

        database.openDB();
        QCOMPARE(SearchIndex::isPresent(database.db), trusted);
        QVERIFY(SearchIndex::ensure(database.db));
        const bool updated = change.startsWith("own") || change.startsWith("other");
        QCOMPARE(hashes(fast("neri")), updated ? QStringList{"h2"} : QStringList{});
        QCOMPARE(hashes(fast("magazzino")), updated ? QStringList{"h6"} : QStringList{});
        for (const char *text : {"bianchi", "rossi", "txt", "%", "impianti neri"})
            QCOMPARE(fast(text), literal(text));
        // The list's order table follows too.
        QCOMPARE(hashes(fast(QString())),
                 updated ? QStringList({"h6", "h3", "h2", "h1"}) : QStringList({"h3", "h2", "h1"}));
        // Made anew, it is the owner's alone, like the catalogue.
        QCOMPARE(QFile::permissions(indexFile) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());
    }

    // A generated catalogue: many files in many classes with values drawn from
    // a small vocabulary, searched with generated texts of one to three words.
    void sameRowsAsTheLiteralScan()
    {
        const QStringList vocabulary = {"Rossi", "rossini", "Bianchi", "verdi", "Città", "CITTÀ", "fattura",
                                        "contratto", "2026", "0142", "d'Amico", "50%", "a_b", "x", "Ünïcode",
                                        "via Roma", "ab", "ROMA", "perizia", "Sconto", "😀😀😀", "𠮷野家"};
        QRandomGenerator random(20260115);
        auto pick = [&] { return vocabulary.at(int(random.bounded(vocabulary.size()))); };

        database.db.transaction();
        for (int folder = 4; folder < 12; ++folder) {
            exec(database.db, "INSERT INTO folders (idfolder, name, idbuckets) VALUES (?, ?, ?)",
                 {folder, pick() + QStringLiteral(" ") + QString::number(folder), folder % 3 ? "P1" : "P'2"});
            for (int index = 0; index < 4; ++index)
                exec(database.db, "INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (?, ?, ?)",
                     {folder * 100 + index, folder, pick()});
        }
        for (int file = 0; file < 400; ++file) {
            const QString hash = QStringLiteral("g%1").arg(file);
            const int folder = 4 + int(random.bounded(8));
            const QString when = QDateTime(QDate(2025, 1 + file % 12, 1 + file % 28), QTime(file % 24, 0))
                                     .toString("dd/MM/yyyy hh:mm:ss");
            addFile(hash, folder, "/srv/" + pick() + "/" + pick() + ".pdf", pick(), when,
                    file % 17 ? QStringLiteral("t") : QString());
            for (int index = 0; index < 4; ++index)
                if (random.bounded(4))
                    addValue(hash, folder * 100 + index, pick() + QStringLiteral(" ") + pick());
            // Some values of undefined indexes: never searchable.
            if (file % 13 == 0)
                addValue(hash, 99999, QStringLiteral("fantasma"));
            if (file % 29 == 0)
                addValue(hash, folder * 100, QVariant(QMetaType(QMetaType::QString)));
        }
        // The same content in two classes.
        addFile("g1", 11, "/srv/copia.pdf", "altro", "01/01/2025 00:00:00");
        database.db.commit();

        QCOMPARE(hashes(fast("fantasma")), QStringList{});
        // Both ways of looking for short words are taken below.
        QVERIFY(FileListQuery::fewCandidates(database.db, {"Rossi", "x"}));
        FileListQuery::setCandidateLimit(1);
        QVERIFY(!FileListQuery::fewCandidates(database.db, {"Rossi", "x"}));
        int nonEmpty = 0;
        for (int i = 0; i < 150; ++i) {
            QStringList words;
            const int count = 1 + int(random.bounded(3));
            for (int w = 0; w < count; ++w) {
                QString word = pick();
                // Pieces of words too, and now and then a double space.
                if (random.bounded(3) == 0 && word.size() > 2)
                    word = word.mid(int(random.bounded(word.size() - 2)), 3);
                words << word;
            }
            const QString text = (random.bounded(5) == 0 ? QStringLiteral(" ") : QString())
                + words.join(random.bounded(6) == 0 ? QStringLiteral("  ") : QStringLiteral(" "));
            for (const QString profile : {"P1", "P'2"}) {
                const Rows expected = literal(text, profile);
                // Short words looked for among the candidates, or scanned.
                for (const int limit : {5000, 1}) {
                    FileListQuery::setCandidateLimit(limit);
                    QCOMPARE(fast(text, profile), expected);
                }
                nonEmpty += expected.isEmpty() ? 0 : 1;
            }
        }
        FileListQuery::setCandidateLimit(5000);
        // The comparison means something only if many searches found files.
        QVERIFY2(nonEmpty > 100, qPrintable(QString::number(nonEmpty)));
    }
};

TAVREL_TEST_MAIN(TestSearch)
#include "tst_search.moc"
