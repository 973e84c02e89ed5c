// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Catalogue synchronisation: how a login or "syncfolder" body is written into
// the catalogue (replaced and merged tables, idempotence, user change, cursor),
// and the reply reader that leaves bulky elements out of the DOM.

#include "browse/searchindex.h"
#include "service/catalogueapplier.h"
#include "service/kvwconn.h"
#include "service/replydocument.h"
#include "store/database.h"
#include "support/testenv.h"

#include <QDomDocument>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {
QDomElement bodyOf(QDomDocument &doc, const QString &xml)
{
    doc = QDomDocument();
    if (!doc.setContent(xml))
        qFatal("bad test body");
    return doc.elementsByTagName("body").at(0).toElement();
}

// Runs `sql` on the catalogue; returns its rows as "v1|v2|..." (NULL shown as <null>), sorted.
QStringList exec(const QString &sql)
{
    Database database;
    database.openDB();
    QStringList out;
    {
        QSqlQuery q(database.db);
        if (!q.exec(sql))
            qFatal("statement failed: %s", qPrintable(sql));
        while (q.isSelect() && q.next()) {
            QStringList cols;
            for (int i = 0; i < q.record().count(); ++i)
                cols << (q.value(i).isNull() ? QStringLiteral("<null>") : q.value(i).toString());
            out << cols.join('|');
        }
    }
    database.closeDB();
    out.sort();
    return out;
}

QStringList rows(const QString &table, const QString &columns = QStringLiteral("*"))
{
    return exec(QStringLiteral("SELECT %1 FROM %2").arg(columns, table));
}

QStringList snapshot()
{
    QStringList all;
    for (const char *t : {"buckets", "policies", "folders", "metadati", "files"})
        all << QLatin1String(t) + ':' + rows(t).join(';');
    // The row id of a replaced value changes; what it holds does not.
    return all << "metadati_values:" + rows("metadati_values", "idmetadata, value, hash").join(';');
}

void resetCatalogue()
{
    Database database;
    database.openDB();
    database.createDb();
    database.closeDB();
}

const char *const kBody =
    "<response><statusnumber>1</statusnumber><body><statusdescription>ok</statusdescription>"
    "<buckets><bucket id='B1' description='Archivio' quota='100' used='5' unit='MB' div='1'/></buckets>"
    "<policies><policie policie='P1' idbucket='B1' description='Decennale'/></policies>"
    "<folders><folder id='7' name='Fatture' groups='Amm' custom='0' idbuckets='B1' idpolicies='P1'>"
    "<metadato idmetadato='70' idfolder='7' name='Numero' type='1' visible='1' required='1' custom='0'/>"
    "<metadato idmetadato='71' idfolder='7' name='Data' type='3' visible='1' required='0' custom='0'/></folder>"
    "<folder id='8' name='Contratti' groups='Legale' idbuckets='B1' idpolicies='P1'>"
    "<metadato idmetadato='80' idfolder='8' name='Parte' type='x' required='1'/></folder></folders>"
    "<files><file hash='h1' hash4k='k1' last_modified='01/02/2026 10:00:00' filename='a.pdf' token='T1'"
    " idfolder='7' username='demo' tsupdate='1700000000001' idbuckets='B1' tsconserve='01/02/2026 10:00:01'"
    " computer_name='pc'/></files>"
    "<metadatoValues><metadatoValue key='70' value='42' hash='h1'/></metadatoValues>"
    "</body></response>";
} // namespace

class TestSync : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetCatalogue(); }

    void replacesDefinitionsAndMergesFiles()
    {
        // Profiles, policies, classes and index definitions follow the body;
        // files and values are merged: a local row waiting for its token gets
        // it, a row the body does not list stays. (Twice like once and the
        // user change: tst_kvwconn, on a real login reply.)
        KVWConn conn(nullptr);
        exec("INSERT INTO folders (idfolder, name) VALUES (99, 'vecchia')");
        exec("INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (990, 99, 'vecchio')");
        exec("INSERT INTO files (hash, folderid, token, username, fullpath) VALUES ('h1', 7, '', 'demo', 'locale.pdf'),"
             " ('h0', 7, 'T0', 'demo', NULL)");
        QDomDocument doc;
        conn.onSyncFolder(bodyOf(doc, kBody));
        QCOMPARE(rows("folders"), (QStringList{"7|Fatture|Amm|0|B1|P1", "8|Contratti|Legale||B1|P1"}));
        QCOMPARE(rows("metadati"), (QStringList{"70|7|Numero|1|1|1|0", "71|7|Data|3|1|0|0", "80|8|Parte|0|0|1|0"}));
        QCOMPARE(rows("buckets") + rows("policies"), (QStringList{"B1|Archivio|100|5|MB|1", "P1|B1|Decennale"}));
        QCOMPARE(rows("files"), (QStringList{"h0|<null>|<null>|<null>|T0|7|demo|<null>|<null>|<null>|<null>",
                                             "h1|k1|01/02/2026 10:00:00|a.pdf|T1|7|demo|1700000000001|B1|"
                                             "01/02/2026 10:00:01|pc"}));

        // The cursor is the user's largest preserved stamp, as a number: rows
        // without a token (still waiting) or of another user do not count.
        exec("INSERT INTO files (hash, folderid, token, username, tsupdate) VALUES ('a', 1, '', 'demo', 1800000000000),"
             " ('b', 1, 'T', 'rossi', 1900000000000), ('c', 1, 'T', 'demo', 900)");
        QCOMPARE(conn.getCodeSync("demo"), "1700000000001");
        QCOMPARE(KVWConn(nullptr).getCodeSync("nessuno"), "0.0");

        // No file elements: the files stay, values are merged, the replaced tables follow the body.
        const QStringList filesBefore = rows("files");
        conn.onSyncFolder(bodyOf(doc, "<r><body><folder id='9' name='Solo'/><metadatoValue key='70' value='43' hash='h1'/>"
                                      "</body></r>"));
        QCOMPARE(rows("files"), filesBefore);
        QCOMPARE(rows("buckets"), QStringList());
        QCOMPARE(rows("folders"), QStringList{"9|Solo||||"});
        QCOMPARE(rows("metadati_values", "idmetadata, value, hash"), QStringList{"70|43|h1"});
    }

    void streamedRowsMatchTheDom()
    {
        // Elements out of the usual order, nested, repeated, and a second body
        // that is not read: the rows written while streaming equal those of the DOM.
        const QByteArray xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><response><statusnumber>5</statusnumber>"
            "<body><statusdescription>ok</statusdescription><metadato idmetadato='1' idfolder='7'/>"
            "<metadatoValue key='70' value='uno' hash='h1'/><file hash='h1' idfolder='7' token='T'/>"
            "<folder id='7' name='F'><x><metadato idmetadato='70' idfolder='7' name='N'/></x>"
            "<folder id='8'><metadato idmetadato='80' idfolder='8'/></folder></folder>"
            "<metadatoValue key='70' value='due' hash='h1'/><file hash='h2' idfolder='x' token='T'/>"
            "<bucket id='B' quota='1'/><bucket id='B' quota='2'/><policie policie='P'/>"
            "</body><body><file hash='fuori'/><bucket id='fuori'/></body></response>";
        const ReplyDocument light = ReplyDocument::parse(xml, true);
        QVERIFY(light.isLight());
        QCOMPARE(light.body().elementsByTagName("file").count(), 0);
        QCOMPARE(light.body().elementsByTagName("folder").count(), 2);

        Database database;
        database.openDB();
        {
            CatalogueApplier applier(database.db);
            QVERIFY(ReplyDocument::parse(xml, true, &applier).fedSink());
        }
        database.closeDB();
        const QStringList streamed = snapshot();

        resetCatalogue();
        KVWConn(nullptr).onSyncFolder(ReplyDocument::parse(xml, false).body());
        QCOMPARE(streamed, snapshot());
        const QString dom = streamed.join(QString());
        QVERIFY(dom.contains("h2||||T|0|"));
        QVERIFY(dom.contains("metadati:70|7|N|0|0|0|0;80|8||0|0|0|0"));
        QVERIFY(!dom.contains("fuori"));
    }

    void searchIndexFollowsSmallAndLargeBodies()
    {
        const auto indexed = [] { return rows("search_text", "hash, kind, ref, value"); };
        // Drops the index and builds it again from the catalogue.
        const auto rebuilt = [&indexed] {
            Database db;
            db.openDB();
            SearchIndex::drop(db.db);
            SearchIndex::ensure(db.db);
            db.closeDB();
            return indexed();
        };
        QCOMPARE(rebuilt(), QStringList());
        KVWConn conn(nullptr);
        for (const auto &[files, tag] : {qMakePair(20, QStringLiteral("a")), qMakePair(1500, QStringLiteral("b")),
                                         qMakePair(30, QStringLiteral("c"))}) {
            QString xml = "<response><statusnumber>5</statusnumber><body><folder id='7' name='F'/>";
            for (int i = 0; i < files; ++i)
                xml += QStringLiteral("<file hash='%1%2' idfolder='7' token='T' filename='atto %2.pdf' computer_name='pc'/>"
                                      "<metadatoValue key='70' value='%1 valore %2' hash='%1%2'/>").arg(tag).arg(i);
            Database db;
            db.openDB();
            db.db.transaction();
            {
                CatalogueApplier applier(db.db);
                ReplyDocument::parse((xml + "</body></response>").toUtf8(), true, &applier);
                applier.finish();
            }
            db.db.commit();
            QVERIFY(SearchIndex::isPresent(db.db));
            db.closeDB();
            // What the synchronisation left equals a rebuild from the catalogue.
            const QStringList afterSync = indexed();
            QCOMPARE(afterSync, rebuilt());
            QCOMPARE(afterSync.filter("|2|70|" + tag + " valore ").size(), files);
        }
        // Another user's rows go, and so does their text in the index.
        exec("UPDATE files SET username = 'rossi'");
        conn.checkIfChangeUser("demo");
        Database database;
        database.openDB();
        QVERIFY(SearchIndex::isPresent(database.db));
        database.closeDB();
        QCOMPARE(indexed(), QStringList());
    }

    void replyReaderKeepsWhatTheWindowsRead()
    {
        // The status must be announced before the body to leave anything out.
        for (const char *xml : {"<r><body><file hash='a'/></body><statusnumber>1</statusnumber></r>",
                                "<r><statusnumber>14</statusnumber><body><file hash='a'/></body></r>"})
            QVERIFY2(!ReplyDocument::parse(xml, true).isLight(), xml);
        // A bulky element with elements inside is kept whole.
        const ReplyDocument nested =
            ReplyDocument::parse("<r><statusnumber>5</statusnumber><body><file><bucket id='Z'/></file></body></r>", true);
        QVERIFY(!nested.isLight());
        QCOMPARE(nested.body().elementsByTagName("bucket").count(), 1);

        // Validation: the first element of the document, indented by 4, as the DOM saves it.
        const QByteArray failure =
            "<response><validation><field key='1' message='a &amp; b'/><field key='2' message='c'><![CDATA[x<y]]></field>"
            "</validation><statusnumber>20</statusnumber><body><statusdescription>no</statusdescription>"
            "<statusdescription>second</statusdescription></body></response>";
        const ReplyDocument doc = ReplyDocument::parse(failure, true);
        QDomDocument reference;
        QVERIFY(reference.setContent(failure));
        QString expected;
        QTextStream stream(&expected);
        reference.documentElement().firstChildElement("validation").save(stream, 4);
        stream.flush();
        QCOMPARE(doc.validationText(), expected);
        QCOMPARE(doc.statusNumber(), "20");
        QCOMPARE(doc.statusDescription(), "no");

        // Unparsable: empty status, null body.
        const ReplyDocument broken = ReplyDocument::parse("<response><statusnumber>5</statusnumber><body>", true);
        QVERIFY(broken.statusNumber().isEmpty() && broken.body().isNull());

        // Replies are UTF-8 whatever they declare; malformed sequences do not lose the reply.
        const QByteArray latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><statusnumber>14</statusnumber>"
                                 "<body><statusdescription>perch\xc3\xa9 a\xff" "b</statusdescription></body></r>";
        QCOMPARE(ReplyDocument::parse(latin, true).statusDescription(), QStringLiteral("perch\u00e9 a\ufffdb"));
    }
};

TAVREL_TEST_MAIN(TestSync)
#include "tst_sync.moc"
