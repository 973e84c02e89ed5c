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
    return doc.elementsByTagName(QStringLiteral("body")).at(0).toElement();
}

// Every row of a table as "v1|v2|..." (NULL shown as <null>), sorted.
QStringList rows(const QString &table, const QString &columns = QStringLiteral("*"))
{
    Database database;
    database.openDB();
    QStringList out;
    {
        QSqlQuery q(database.db);
        q.exec(QStringLiteral("SELECT %1 FROM %2").arg(columns, table));
        while (q.next()) {
            QStringList cols;
            for (int i = 0; i < q.record().count(); ++i)
                cols << (q.value(i).isNull() ? QStringLiteral("<null>") : q.value(i).toString());
            out << cols.join(QLatin1Char('|'));
        }
    }
    database.closeDB();
    out.sort();
    return out;
}

void exec(const QString &sql)
{
    Database database;
    database.openDB();
    {
        QSqlQuery q(database.db);
        if (!q.exec(sql))
            qFatal("statement failed: %s", qPrintable(sql));
    }
    database.closeDB();
}

QStringList snapshot()
{
    QStringList all;
    for (const char *t : {"buckets", "policies", "folders", "metadati", "files"})
        all << QString::fromLatin1(t) + QLatin1Char(':') + rows(QLatin1String(t)).join(QLatin1Char(';'));
    // The row id of a replaced value changes; what it holds does not.
    all << QStringLiteral("metadati_values:")
            + rows(QStringLiteral("metadati_values"), QStringLiteral("idmetadata, value, hash")).join(QLatin1Char(';'));
    return all;
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

    void replacesDefinitionsAndKeepsEachIndexUnderItsClass()
    {
        KVWConn conn(nullptr);
        QSignalSpy synced(&conn, &KVWConn::syncCategorieOK);
        exec(QStringLiteral("INSERT INTO folders (idfolder, name) VALUES (99, 'vecchia')"));
        exec(QStringLiteral("INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (990, 99, 'vecchio')"));
        QDomDocument doc;
        conn.onSyncFolder(bodyOf(doc, QString::fromLatin1(kBody)));
        QCOMPARE(synced.count(), 1);

        QCOMPARE(rows(QStringLiteral("folders")),
                 QStringList({QStringLiteral("7|Fatture|Amm|0|B1|P1"), QStringLiteral("8|Contratti|Legale||B1|P1")}));
        // A missing attribute is '' (not NULL); a non-numeric integer is 0.
        QCOMPARE(rows(QStringLiteral("metadati")),
                 QStringList({QStringLiteral("70|7|Numero|1|1|1|0"), QStringLiteral("71|7|Data|3|1|0|0"),
                              QStringLiteral("80|8|Parte|0|0|1|0")}));
        QCOMPARE(rows(QStringLiteral("buckets")), QStringList(QStringLiteral("B1|Archivio|100|5|MB|1")));
        QCOMPARE(rows(QStringLiteral("policies")), QStringList(QStringLiteral("P1|B1|Decennale")));
        QCOMPARE(rows(QStringLiteral("metadati_values")), QStringList(QStringLiteral("1|70|42|h1")));
    }

    void mergesFilesAndValues()
    {
        KVWConn conn(nullptr);
        QDomDocument doc;
        // A local row waiting for its token, and a row the body does not list.
        exec(QStringLiteral("INSERT INTO files (hash, folderid, token, username, fullpath) VALUES ('h1', 7, '', 'demo', 'locale.pdf')"));
        exec(QStringLiteral("INSERT INTO files (hash, folderid, token, username) VALUES ('h0', 7, 'T0', 'demo')"));
        conn.onSyncFolder(bodyOf(doc, QString::fromLatin1(kBody)));
        QCOMPARE(rows(QStringLiteral("files")),
                 QStringList({QStringLiteral("h0|<null>|<null>|<null>|T0|7|demo|<null>|<null>|<null>|<null>"),
                              QStringLiteral("h1|k1|01/02/2026 10:00:00|a.pdf|T1|7|demo|1700000000001|B1|"
                                             "01/02/2026 10:00:01|pc")}));

        // No file elements: files and values stay; the replaced tables follow the body.
        const QStringList filesBefore = rows(QStringLiteral("files"));
        conn.onSyncFolder(bodyOf(doc, QStringLiteral("<r><body><folder id='9' name='Solo'/>"
                                                     "<metadatoValue key='70' value='43' hash='h1'/></body></r>")));
        QCOMPARE(rows(QStringLiteral("files")), filesBefore);
        QCOMPARE(rows(QStringLiteral("buckets")), QStringList());
        QCOMPARE(rows(QStringLiteral("folders")), QStringList(QStringLiteral("9|Solo||||")));
        QCOMPARE(rows(QStringLiteral("metadati_values")), QStringList(QStringLiteral("2|70|43|h1")));
    }

    void applyingTwiceEqualsOnceAndUserChangeCleansUp()
    {
        KVWConn conn(nullptr);
        QDomDocument doc;
        const QDomElement body = bodyOf(doc, QString::fromLatin1(kBody));
        conn.onSyncFolder(body);
        const QStringList once = snapshot();
        conn.onSyncFolder(body);
        QCOMPARE(snapshot(), once);

        // Same user: nothing is removed.
        exec(QStringLiteral("INSERT INTO files (hash, folderid, token, username) VALUES ('old', 7, 'T9', 'demo')"));
        conn.checkIfChangeUser(QStringLiteral("demo"));
        QCOMPARE(rows(QStringLiteral("files")).size(), 2);

        // Another user's rows: files, values, buckets and policies go; classes stay
        // until the body is applied again, which restores exactly its rows.
        exec(QStringLiteral("INSERT INTO files (hash, folderid, token, username) VALUES ('x', 8, 'TX', 'rossi')"));
        conn.checkIfChangeUser(QStringLiteral("demo"));
        QCOMPARE(rows(QStringLiteral("files")), QStringList());
        QCOMPARE(rows(QStringLiteral("metadati_values")), QStringList());
        QCOMPARE(rows(QStringLiteral("buckets")), QStringList());
        QCOMPARE(rows(QStringLiteral("policies")), QStringList());
        QCOMPARE(rows(QStringLiteral("folders")).size(), 2);
        conn.onSyncFolder(body);
        QCOMPARE(snapshot(), once);
    }

    void cursorIsTheLargestPreservedStampOfTheUser()
    {
        KVWConn conn(nullptr);
        QCOMPARE(conn.getCodeSync(QStringLiteral("demo")), QStringLiteral("0.0"));
        exec(QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) VALUES ('a', 1, '', 'demo', 900)"));
        exec(QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) VALUES ('b', 1, 'T', 'rossi', 800)"));
        QCOMPARE(conn.getCodeSync(QStringLiteral("demo")), QStringLiteral("0.0"));
        exec(QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) VALUES ('c', 1, 'T', 'demo', '1733400000123')"));
        exec(QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) VALUES ('d', 1, 'T', 'demo', 17)"));
        QCOMPARE(conn.getCodeSync(QStringLiteral("demo")), QStringLiteral("1733400000123"));
        QCOMPARE(conn.getCodeSync(QStringLiteral("rossi")), QStringLiteral("800"));
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
        QCOMPARE(light.body().elementsByTagName(QStringLiteral("file")).count(), 0);
        QCOMPARE(light.body().elementsByTagName(QStringLiteral("metadatoValue")).count(), 0);
        QCOMPARE(light.body().elementsByTagName(QStringLiteral("folder")).count(), 2);

        Database database;
        database.openDB();
        {
            CatalogueApplier applier(database.db);
            const ReplyDocument fed = ReplyDocument::parse(xml, true, &applier);
            QVERIFY(fed.fedSink());
        }
        database.closeDB();
        const QStringList streamed = snapshot();

        resetCatalogue();
        KVWConn conn(nullptr);
        conn.onSyncFolder(ReplyDocument::parse(xml, false).body());
        const QStringList dom = snapshot();
        QCOMPARE(streamed, dom);
        QVERIFY(dom.join(QString()).contains(QStringLiteral("h2||||T|0|")));
        QVERIFY(dom.join(QString()).contains(QStringLiteral("metadati:70|7|N|0|0|0|0;80|8||0|0|0|0")));
        QVERIFY(!dom.join(QString()).contains(QStringLiteral("fuori")));
    }

    void searchIndexFollowsSmallAndLargeBodies()
    {
        Database database;
        database.openDB();
        QVERIFY(SearchIndex::ensure(database.db));
        database.closeDB();
        const auto body = [](int files, const QString &tag) {
            QString xml = QStringLiteral("<response><statusnumber>5</statusnumber><body><folder id='7' name='F'/>");
            for (int i = 0; i < files; ++i)
                xml += QStringLiteral("<file hash='%1%2' idfolder='7' token='T' filename='atto %2.pdf' computer_name='pc'/>"
                                      "<metadatoValue key='70' value='%1 valore %2' hash='%1%2'/>").arg(tag).arg(i);
            return (xml + QStringLiteral("</body></response>")).toUtf8();
        };
        // What a rebuild from the catalogue gives, to compare with what the sync left.
        const auto indexed = [] {
            QStringList texts = rows(QStringLiteral("search_text"), QStringLiteral("hash, kind, ref, value"));
            Database db;
            db.openDB();
            SearchIndex::drop(db.db);
            SearchIndex::ensure(db.db);
            db.closeDB();
            return qMakePair(texts, rows(QStringLiteral("search_text"), QStringLiteral("hash, kind, ref, value")));
        };
        KVWConn conn(nullptr);
        for (const auto &[files, tag] : {qMakePair(20, QStringLiteral("a")), qMakePair(1500, QStringLiteral("b")),
                                         qMakePair(30, QStringLiteral("c"))}) {
            const QByteArray xml = body(files, tag);
            Database db;
            db.openDB();
            db.db.transaction();
            {
                CatalogueApplier applier(db.db);
                ReplyDocument::parse(xml, true, &applier);
                applier.finish();
            }
            db.db.commit();
            QVERIFY(SearchIndex::isPresent(db.db));
            db.closeDB();
            const auto [afterSync, rebuilt] = indexed();
            QCOMPARE(afterSync, rebuilt);
            QVERIFY(afterSync.filter(QStringLiteral("|2|70|") + tag + QStringLiteral(" valore ")).size() == files);
        }
        // Another user's rows go, and so does their text in the index.
        exec(QStringLiteral("UPDATE files SET username = 'rossi'"));
        conn.checkIfChangeUser(QStringLiteral("demo"));
        database.openDB();
        QVERIFY(SearchIndex::isPresent(database.db));
        database.closeDB();
        QCOMPARE(rows(QStringLiteral("search_text")), QStringList());
    }

    void replyReaderKeepsWhatTheWindowsRead()
    {
        // The status must be announced before the body to leave anything out.
        QVERIFY(!ReplyDocument::parse("<r><body><file hash='a'/></body><statusnumber>1</statusnumber></r>", true)
                     .isLight());
        QVERIFY(!ReplyDocument::parse("<r><statusnumber>14</statusnumber><body><file hash='a'/></body></r>", true)
                     .isLight());
        // A bulky element with elements inside is kept whole.
        const ReplyDocument nested =
            ReplyDocument::parse("<r><statusnumber>5</statusnumber><body><file><bucket id='Z'/></file></body></r>", true);
        QVERIFY(!nested.isLight());
        QCOMPARE(nested.body().elementsByTagName(QStringLiteral("bucket")).count(), 1);

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
        reference.documentElement().firstChildElement(QStringLiteral("validation")).save(stream, 4);
        stream.flush();
        QCOMPARE(doc.validationText(), expected);
        QVERIFY(expected.startsWith(QStringLiteral("    <validation>\n        <field")));
        QCOMPARE(doc.statusNumber(), QStringLiteral("20"));
        QCOMPARE(doc.statusDescription(), QStringLiteral("no"));

        // Unparsable: empty status, null body.
        const ReplyDocument broken = ReplyDocument::parse("<response><statusnumber>5</statusnumber><body>", true);
        QVERIFY(broken.statusNumber().isEmpty());
        QVERIFY(broken.body().isNull());

        // Replies are UTF-8 whatever they declare; malformed sequences do not lose the reply.
        const QByteArray latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><statusnumber>14</statusnumber>"
                                 "<body><statusdescription>perch\xc3\xa9</statusdescription></body></r>";
        QCOMPARE(ReplyDocument::parse(latin, true).statusDescription(), QStringLiteral("perch\u00e9"));
        const QByteArray bad = "<r><statusnumber>14</statusnumber><body><statusdescription>a\xff"
                               "b</statusdescription></body></r>";
        QCOMPARE(ReplyDocument::parse(bad, true).statusDescription(), QStringLiteral("a\ufffdb"));
    }
};

TAVREL_TEST_MAIN(TestSync)
#include "tst_sync.moc"
