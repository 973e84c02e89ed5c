// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The service connection against the reference service: how each kind of reply
// reaches the window, re-login after a session time-out and the attempt
// counter, the shared session's credentials, download mode, the update demand,
// logout, and the login body applied (twice) to the catalogue.

#include "app/constants.h"
#include "service/dialogupdate.h"
#include "service/kvwconn.h"
#include "service/replydocument.h"
#include "service/sessioncookiejar.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_refservice_client.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {
const QString kUser = QStringLiteral("lucia");
const QString kPassword = QStringLiteral("A&b<c>'\"9");

// Written without a raw string literal: moc does not read those.
const char *const kSeed =
    "{\"users\": [{\"username\": \"lucia\", \"password\": \"A&b<c>'\\\"9\", \"buckets\": ["
    " {\"id\": \"P-L\", \"description\": \"Archivio di Lucia\", \"quota\": 0, \"used\": 0,"
    "  \"unit\": \"KB\", \"div\": 1000, \"policies\": [{\"id\": \"POL\", \"description\": \"Decennale\"}],"
    "  \"folders\": [{\"id\": 21, \"name\": \"Atti\", \"groups\": \"Legale\", \"policy\": \"POL\","
    "   \"indexes\": [{\"id\": 201, \"name\": \"Numero\", \"type\": 2, \"required\": true, \"tooltip\": \"\"}]}]}]}]}";

// The rows `sql` gives on the catalogue, each as "v1|v2|...".
QStringList query(const QString &sql)
{
    Database database;
    database.openDB();
    QStringList out;
    {
        QSqlQuery q(database.db);
        q.exec(sql);
        while (q.next()) {
            QStringList cols;
            for (int i = 0; i < q.record().count(); ++i)
                cols << q.value(i).toString();
            out << cols.join('|');
        }
    }
    database.closeDB();
    return out;
}

// The whole catalogue as sorted "table:row" lines (without the values' row ids).
QStringList catalogue()
{
    QStringList out;
    for (const char *table : {"buckets", "policies", "folders", "metadati", "files"}) {
        for (const QString &row : query(QStringLiteral("SELECT * FROM ") + table))
            out << QLatin1String(table) + ':' + row;
    }
    for (const QString &row : query("SELECT idmetadata, value, hash FROM metadati_values"))
        out << "value:" + row;
    out.sort();
    return out;
}

int catalogued(const QByteArray &content)
{
    return int(catalogue().filter("files:" + sha1Hex(content)).size());
}

void rebuildCatalogue(const QString &url)
{
    Database database;
    database.openDB();
    database.createDb();
    database.closeDB();
    Setting().saveSetting("url", url);
}

// Waits up to 20 s for `spy` to hold `count` signals.
bool waitFor(QSignalSpy &spy, int count = 1)
{
    return QTest::qWaitFor([&] { return spy.count() >= count; }, 20000);
}

QString status(const QSignalSpy &spy, int i) { return spy.at(i).at(1).toString(); }
} // namespace

// The functions run in order on one service and build on each other's
// preserved files (the small one first, then the large one).
class TestKVWConn : public QObject
{
    Q_OBJECT

    std::unique_ptr<RefServiceFixture> m_service;
    SessionCookieJar m_jar;
    QByteArray m_small = QByteArray(300, 's');
    QByteArray m_large = QByteArray(4000, 'L');
    QByteArray m_bytes;

    void loginOn(KVWConn &conn)
    {
        QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
        conn.login(kUser, kPassword, true);
        QVERIFY(waitFor(ok));
    }

    // Posts the XML request `action` with `fields` on the session.
    void post(KVWConn &conn, const QString &action, const QString &fields)
    {
        m_bytes = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>%1</action>%2</request>")
                      .arg(action, fields)
                      .toUtf8();
        conn.request().setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
        conn.postSession(&m_bytes);
    }

    // The two-part upload into class 21 ("14", after some progress), then the
    // conserve request with the value 42 ("15"; the token's use: tst_conserva).
    void preserve(KVWConn &conn, const QByteArray &content, const QString &name)
    {
        QSignalSpy done(&conn, &KVWConn::commandSuccessful);
        QSignalSpy progress(&conn, &KVWConn::avanzamentoUpload);
        conn.postSession(ServiceClient::uploadParts(21, content, name));
        QVERIFY(waitFor(done));
        QCOMPARE(status(done, 0), "14");
        QVERIFY(progress.count() >= 1);
        post(conn, "savevaluemetadati", QStringLiteral("<hash>%1</hash><folderid>21</folderid><computername>pc"
                                                       "</computername><metadato key=\"201\" value=\"42\"/>")
                                            .arg(sha1Hex(content)));
        QVERIFY(waitFor(done, 2));
        QCOMPARE(status(done, 1), "15");
    }

private slots:
    void initTestCase()
    {
        const QString seedPath = TestEnv::instance()->tmpDir() + "/seed.json";
        QFile seed(seedPath);
        QVERIFY(seed.open(QIODevice::WriteOnly) && seed.write(kSeed) > 0);
        seed.close();
        m_service = std::make_unique<RefServiceFixture>(seedPath);
        QVERIFY2(m_service->start(), qPrintable(m_service->errorString()));
        rebuildCatalogue(m_service->baseUrl());
    }

    void loginEscapesCredentialsAndFillsTheCatalogue()
    {
        KVWConn conn(&m_jar);
        QStringList order;
        connect(&conn, &KVWConn::syncCategorieOK, this, [&] { order << "sync"; });
        connect(&conn, &KVWConn::loginSuccessful, this, [&] { order << "login"; });
        connect(&conn, &KVWConn::retry, this, [&] { order << "retry"; });
        QSignalSpy refused(&conn, &KVWConn::loginFailure);
        QSignalSpy finished(&conn, &QNetworkAccessManager::finished);

        // Nothing to sign in with: refused at once, nothing sent.
        conn.login(QString(), QString(), true);
        QCOMPARE(refused.count(), 1);
        QVERIFY(!finished.wait(300));
        conn.login(kUser, "A&b<c>'\"8", true);
        QVERIFY(waitFor(refused, 2));
        QVERIFY(order.isEmpty());

        // "&", "<", quotes in the password reach the service as typed.
        conn.login(kUser, kPassword, true);
        QVERIFY(waitFor(finished, 2));
        QCOMPARE(order, (QStringList{"sync", "login", "retry"}));
        QCOMPARE(conn.savedPassword(), kPassword);
    }

    void repliesAndTheAttemptCounter()
    {
        // How each kind of reply reaches the window, and when a session
        // time-out is repaired. (Validation replies: tst_conserva.)
        KVWConn conn(&m_jar);
        loginOn(conn);
        preserve(conn, m_small, "piccolo.pdf");
        preserve(conn, m_large, "grande.pdf");
        QSignalSpy ok(&conn, &KVWConn::commandSuccessful);
        QSignalSpy failed(&conn, &KVWConn::commandFailure);
        QSignalSpy relogged(&conn, &KVWConn::loginSuccessful);
        QStringList order;
        connect(&conn, &KVWConn::syncCategorieOK, this, [&] { order << "sync"; });
        connect(&conn, &KVWConn::commandSuccessful, this, [&] { order << "ok"; });
        connect(&conn, &KVWConn::retry, &conn, &KVWConn::syncCategorieFromServer);

        // A time-out after one post: signed in again and retried. The login
        // body and the synchronisation are written before the window hears of it.
        QVERIFY(m_service->expireSessions());
        conn.syncCategorieFromServer();
        QVERIFY(waitFor(ok));
        QCOMPARE(status(ok, 0), "5");
        QCOMPARE(relogged.count(), 1);
        QCOMPARE(order, (QStringList{"sync", "sync", "ok"}));
        QCOMPARE(catalogued(m_small) + catalogued(m_large), 2);

        // Any other service failure: its description and code; the counter is reset.
        QVERIFY(m_service->failNext("syncfolder", "42", "Operazione non permessa"));
        conn.syncCategorieFromServer();
        QVERIFY(waitFor(failed));
        QCOMPARE(failed.at(0).at(0).toString(), "Operazione non permessa");
        QCOMPARE(status(failed, 0), "42");
        QCOMPARE(conn.attemptCounter(), 0);

        // Two posts since the reset (the first one superseded): the time-out
        // is reported, no login is sent.
        QVERIFY(m_service->expireSessions());
        conn.syncCategorieFromServer();
        QTest::ignoreMessage(QtDebugMsg, "WARNING *** spurious signal received");
        conn.syncCategorieFromServer();
        QVERIFY(waitFor(failed, 2));
        QCOMPARE(status(failed, 1), "19");
        QCOMPARE(conn.attemptCounter(), 0);
        QVERIFY(!relogged.wait(1000));
        QCOMPARE(relogged.count(), 1);
        QCOMPARE(failed.count(), 2); // the superseded reply is ignored

        // HTTP 404 and no HTTP reply at all are network failures, "-1"; the counter stays.
        for (const QString &url : {m_service->baseUrl() + "/assente", QStringLiteral("http://127.0.0.1:1")}) {
            Setting().saveSetting("url", url);
            KVWConn broken(&m_jar);
            QSignalSpy brokenFailed(&broken, &KVWConn::commandFailure);
            broken.syncCategorieFromServer();
            QVERIFY(waitFor(brokenFailed));
            QCOMPARE(status(brokenFailed, 0), "-1");
            QCOMPARE(broken.attemptCounter(), 1);
        }
        Setting().saveSetting("url", m_service->baseUrl());
    }

    void everyConnectionUsesTheSessionCredentials()
    {
        // With the signed-in user's credentials on the session, a window's own
        // connection signs in again and sends that user's cursor: the small
        // file, preserved before the large one, is not sent again (with "0.0"
        // it would be).
        query(QStringLiteral("DELETE FROM files WHERE hash = '%1'").arg(sha1Hex(m_small)));
        m_jar.setCredentials(kUser, kPassword);
        KVWConn window(&m_jar);
        QSignalSpy ok(&window, &KVWConn::commandSuccessful);
        connect(&window, &KVWConn::retry, &window, &KVWConn::syncCategorieFromServer);
        QVERIFY(m_service->expireSessions());
        window.syncCategorieFromServer();
        QVERIFY(waitFor(ok));
        QCOMPARE(window.savedUsername(), kUser);
        QCOMPARE(catalogued(m_small), 0);
        m_jar.clearCredentials();
    }

    void downloadModeHandsTheFileOver()
    {
        KVWConn conn(&m_jar);
        loginOn(conn);
        QSignalSpy finished(&conn, &KVWConn::downloadFinish);
        QSignalSpy progress(&conn, &KVWConn::avanzamentoDownload);
        QSignalSpy failed(&conn, &KVWConn::commandFailure);
        QByteArray body;
        connect(&conn, &KVWConn::downloadFinish, this, [&](QNetworkReply *reply) {
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            body = reply->readAll();
        });
        const auto restore = [&](const QByteArray &content) {
            conn.setDownloadMode(true);
            post(conn, "ripristina", QStringLiteral("<hash>%1</hash><folderid>21</folderid>").arg(sha1Hex(content)));
        };
        restore(m_small);
        QVERIFY(waitFor(finished));
        QCOMPARE(body, m_small);
        QCOMPARE(progress.count(), 0); // never more than 512 bytes
        restore(m_large);
        QVERIFY(waitFor(finished, 2));
        QCOMPARE(body, m_large);
        QVERIFY(!progress.isEmpty() && progress.last().at(0).toLongLong() == m_large.size());

        // Refused: an HTTP 500 in download mode is read as a service reply.
        restore("mai conservato");
        QVERIFY(waitFor(failed));
        QCOMPARE(status(failed, 0), "18");
        QCOMPARE(finished.count(), 2);

        // Time-out after several downloads: download mode off for the re-login, then retry().
        QSignalSpy retried(&conn, &KVWConn::retry);
        QCOMPARE(conn.attemptCounter(), 0); // every finished exchange resets it
        QVERIFY(m_service->expireSessions());
        restore(m_small);
        QVERIFY(waitFor(retried));
        QVERIFY(!conn.downloadMode());
        restore(m_small);
        QVERIFY(waitFor(finished, 3));
        QCOMPARE(body, m_small);
    }

    void updateDemandWaitsForTheDialog()
    {
        KVWConn conn(&m_jar);
        loginOn(conn);
        QSignalSpy failed(&conn, &KVWConn::commandFailure);
        QSignalSpy finished(&conn, &QNetworkAccessManager::finished);
        QVERIFY(m_service->demandUpdate(true));
        for (int round = 1; round <= 2; ++round) {
            conn.syncCategorieFromServer();
            QVERIFY(waitFor(finished, round));
            DialogUpdate *dialog = conn.updateDialog();
            QVERIFY(dialog->isVisible() && dialog->isModal());
            QVERIFY(dialog->findChild<QLabel *>("lblMessaggio")->text().contains("aggiornare"));
            QCOMPARE(failed.count(), round - 1); // nothing until the dialog ends
            QCOMPARE(conn.attemptCounter(), round);
            dialog->findChild<QPushButton *>("pbAnnulla")->click();
            QCOMPARE(failed.count(), round); // once per demand
            QCOMPARE(failed.last().at(0).toString(), "Aggiornamento annullato");
            QCOMPARE(failed.last().at(1).toString(), "32");
        }
        QVERIFY(m_service->demandUpdate(false));
    }

    void logoutCutsEverythingUntilTheNextUse()
    {
        KVWConn conn(&m_jar);
        loginOn(conn);
        QVERIFY(m_service->delayNext(800));
        conn.syncCategorieFromServer();
        conn.logout();
        QVERIFY(conn.savedUsername().isEmpty() && conn.savedPassword().isEmpty());
        QCOMPARE(conn.attemptCounter(), 0);
        QSignalSpy ok(&conn, &KVWConn::commandSuccessful);
        QSignalSpy synced(&conn, &KVWConn::syncCategorieOK);
        QVERIFY(!ok.wait(1500)); // the request in flight was dropped
        QCOMPARE(synced.count(), 0);

        // Signed in again (as the main window does): reply handling, re-login
        // and retry all work again.
        m_jar.setCredentials(kUser, kPassword);
        conn.setCredentials(kUser, kPassword);
        connect(&conn, &KVWConn::retry, &conn, &KVWConn::syncCategorieFromServer);
        QSignalSpy relogged(&conn, &KVWConn::loginSuccessful);
        QVERIFY(m_service->expireSessions());
        conn.syncCategorieFromServer();
        QVERIFY(waitFor(ok));
        QCOMPARE(status(ok, 0), "5");
        QCOMPARE(relogged.count(), 1);
        QVERIFY(synced.count() >= 2); // the login body and the synchronisation were both applied
        m_jar.clearCredentials();
    }

    void loginBodyIsAppliedLikeTheDomAndTwiceLikeOnce()
    {
        // Reference: the same login reply read whole into a DOM and applied
        // twice, which must equal once.
        rebuildCatalogue(m_service->baseUrl());
        const ReplyDocument whole = ReplyDocument::parse(
            ServiceClient(m_service->baseUrl()).login(kUser, kPassword, "0.0", VERSIONAPP).raw, false);
        QCOMPARE(whole.statusNumber(), "1");
        KVWConn dom(nullptr);
        dom.onSyncFolder(whole.body());
        dom.onSyncFolder(whole.body());
        const QStringList expected = catalogue();
        QVERIFY(expected.contains("metadati:201|21|Numero|2|1|1|0"));
        QVERIFY(expected.filter("files:").size() >= 2);
        QVERIFY(expected.filter("value:201|42|").size() >= 2);

        // A catalogue holding another user's row, then the login dialog's steps:
        // the connection applies the body, the user check empties the tables,
        // and the body is applied again.
        rebuildCatalogue(m_service->baseUrl());
        query("INSERT INTO files (hash, folderid, token, username, tsupdate) VALUES ('altro', 21, 'TX', 'rossi', 99)");
        KVWConn conn(&m_jar);
        QStringList afterFirstApply;
        connect(&conn, &KVWConn::loginSuccessful, this, [&](const QDomElement &body) {
            afterFirstApply = catalogue();
            conn.checkIfChangeUser(conn.savedUsername());
            conn.onSyncFolder(body);
        });
        loginOn(conn);
        QStringList withOther = expected;
        withOther << "files:altro||||TX|21|rossi|99|||";
        withOther.sort();
        QCOMPARE(afterFirstApply, withOther);
        QCOMPARE(catalogue(), expected);
        // The same user again: nothing is removed.
        conn.checkIfChangeUser(kUser);
        QCOMPARE(catalogue(), expected);
    }
};

TAVREL_TEST_MAIN(TestKVWConn)
#include "tst_kvwconn.moc"
