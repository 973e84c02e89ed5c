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

#include <QCryptographicHash>
#include <QFile>
#include <QHttpMultiPart>
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

QString sha1(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}

QString request(const QString &action, const QString &fields)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>%1</action>%2</request>")
        .arg(action, fields);
}

QStringList catalogue()
{
    Database database;
    database.openDB();
    QStringList out;
    {
        QSqlQuery q(database.db);
        for (const char *table : {"buckets", "policies", "folders", "metadati", "files"}) {
            q.exec(QStringLiteral("SELECT * FROM ") + QLatin1String(table));
            while (q.next()) {
                QStringList cols;
                for (int i = 0; i < q.record().count(); ++i)
                    cols << q.value(i).toString();
                out << QLatin1String(table) + QLatin1Char(':') + cols.join(QLatin1Char('|'));
            }
        }
        q.exec(QStringLiteral("SELECT idmetadata, value, hash FROM metadati_values"));
        while (q.next())
            out << QStringLiteral("value:%1|%2|%3").arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString());
    }
    database.closeDB();
    out.sort();
    return out;
}

void execSql(const QString &sql)
{
    Database database;
    database.openDB();
    {
        QSqlQuery q(database.db);
        q.exec(sql);
    }
    database.closeDB();
}

void rebuildCatalogue(const QString &url)
{
    Database database;
    database.openDB();
    database.createDb();
    database.closeDB();
    Setting().saveSetting(QStringLiteral("url"), url);
}
} // namespace

// The functions run in order on one service and build on each other's
// preserved files (the small one first, then the large one).
class TestKVWConn : public QObject
{
    Q_OBJECT

public:
    TestKVWConn() = default;

private:
    QString m_seedPath;
    std::unique_ptr<RefServiceFixture> m_service;
    SessionCookieJar m_jar;
    QByteArray m_small = QByteArray(300, 's');
    QByteArray m_large = QByteArray(4000, 'L');
    QByteArray m_bytes;

    // Waits for `spy` to hold `count` signals.
    static bool waitFor(QSignalSpy &spy, int count = 1, int ms = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (spy.count() < count && timer.elapsed() < ms)
            spy.wait(qMax<int>(1, ms - int(timer.elapsed())));
        return spy.count() >= count;
    }

    void loginOn(KVWConn &conn)
    {
        QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
        conn.login(kUser, kPassword, true);
        QVERIFY(waitFor(ok));
    }

    // The two-part upload followed by the conserve request with the value `number`.
    void preserve(KVWConn &conn, const QByteArray &content, const QString &name)
    {
        auto *multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart xml;
        xml.setHeader(QNetworkRequest::ContentDispositionHeader, QStringLiteral("form-data; name=\"xml\""));
        xml.setBody(request(QStringLiteral("uploadfile"),
                            QStringLiteral("<idfolder>21</idfolder><hashfile>%1</hashfile>").arg(sha1(content)))
                        .toUtf8());
        QHttpPart file;
        file.setRawHeader("Content-Disposition", "form-data; name=\"" + name.toUtf8() + "\"");
        file.setBody(content);
        multi->append(xml);
        multi->append(file);
        QSignalSpy done(&conn, &KVWConn::commandSuccessful);
        QSignalSpy progress(&conn, &KVWConn::avanzamentoUpload);
        conn.postSession(multi);
        QVERIFY(waitFor(done));
        QCOMPARE(done.at(0).at(1).toString(), QStringLiteral("14"));
        QVERIFY(progress.count() >= 1);

        m_bytes = request(QStringLiteral("savevaluemetadati"),
                          QStringLiteral("<hash>%1</hash><folderid>21</folderid><computername>pc</computername>"
                                         "<metadato key=\"201\" value=\"42\"/>").arg(sha1(content)))
                      .toUtf8();
        conn.request().setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
        conn.postSession(&m_bytes);
        QVERIFY(waitFor(done, 2));
        QCOMPARE(done.at(1).at(1).toString(), QStringLiteral("15"));
        QVERIFY(!done.at(1).at(0).value<QDomElement>().firstChildElement(QStringLiteral("token")).text().isEmpty());
    }

private slots:
    void initTestCase()
    {
        m_seedPath = TestEnv::instance()->tmpDir() + QStringLiteral("/seed.json");
        QFile seed(m_seedPath);
        QVERIFY(seed.open(QIODevice::WriteOnly));
        seed.write(kSeed);
        seed.close();
        m_service = std::make_unique<RefServiceFixture>(m_seedPath);
        QVERIFY2(m_service->start(), qPrintable(m_service->errorString()));
        rebuildCatalogue(m_service->baseUrl());
    }

    void loginEscapesCredentialsAndFillsTheCatalogue()
    {
        KVWConn conn(&m_jar);
        QStringList order;
        connect(&conn, &KVWConn::syncCategorieOK, this, [&] { order << QStringLiteral("sync"); });
        connect(&conn, &KVWConn::loginSuccessful, this, [&] { order << QStringLiteral("login"); });
        connect(&conn, &KVWConn::retry, this, [&] { order << QStringLiteral("retry"); });
        QSignalSpy refused(&conn, &KVWConn::loginFailure);
        QSignalSpy finished(&conn, &QNetworkAccessManager::finished);

        // Nothing to sign in with: refused at once, nothing sent.
        conn.login(QString(), QString(), true);
        QCOMPARE(refused.count(), 1);
        QVERIFY(!finished.wait(300));

        conn.login(kUser, QStringLiteral("A&b<c>'\"8"), true);
        QVERIFY(waitFor(refused, 2));
        QVERIFY(order.isEmpty());

        // "&", "<", quotes in the password reach the service as typed.
        conn.login(kUser, kPassword, true);
        QVERIFY(waitFor(finished, 2));
        QCOMPARE(order, QStringList({QStringLiteral("sync"), QStringLiteral("login"), QStringLiteral("retry")}));
        QCOMPARE(conn.savedUsername(), kUser);
        QCOMPARE(conn.savedPassword(), kPassword);
        QVERIFY(catalogue().contains(QStringLiteral("buckets:P-L|Archivio di Lucia|0|0|KB|1000")));
        QVERIFY(catalogue().contains(QStringLiteral("metadati:201|21|Numero|2|1|1|0")));
    }

    void classifiesTheServiceReplies()
    {
        KVWConn conn(&m_jar);
        loginOn(conn);
        preserve(conn, m_small, QStringLiteral("piccolo.pdf"));
        QCOMPARE(conn.attemptCounter(), 0);

        QSignalSpy ok(&conn, &KVWConn::commandSuccessful);
        QSignalSpy failed(&conn, &KVWConn::commandFailure);
        QStringList order;
        connect(&conn, &KVWConn::syncCategorieOK, this, [&] { order << QStringLiteral("sync"); });
        connect(&conn, &KVWConn::commandSuccessful, this, [&] { order << QStringLiteral("ok"); });

        // Validation refused: the whole element, indented by 4.
        const QByteArray big = m_large;
        m_bytes = request(QStringLiteral("savevaluemetadati"),
                          QStringLiteral("<hash>%1</hash><folderid>21</folderid><metadato key=\"201\" value=\"abc\"/>")
                              .arg(sha1(big)))
                      .toUtf8();
        preserveUploadOnly(conn, big);
        ok.clear();
        order.clear();
        conn.postSession(&m_bytes);
        QVERIFY(waitFor(failed));
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("20"));
        const QString validation = failed.at(0).at(0).toString();
        QVERIFY2(validation.startsWith(QStringLiteral("    <validation>\n        <field ")), qPrintable(validation));
        QVERIFY(validation.contains(QStringLiteral("key=\"201\"")));
        QCOMPARE(conn.attemptCounter(), 0);

        // Synchronisation: the catalogue is written before the window hears of it.
        conn.syncCategorieFromServer();
        QVERIFY(waitFor(ok));
        QCOMPARE(ok.at(0).at(1).toString(), QStringLiteral("5"));
        QCOMPARE(order, QStringList({QStringLiteral("sync"), QStringLiteral("ok")}));
        QVERIFY(catalogue().filter(QStringLiteral("files:") + sha1(m_small)).size() == 1);
        QVERIFY(conn.getCodeSync(kUser) != QStringLiteral("0.0"));

        // Any other service failure: its description and code; the counter is reset.
        QVERIFY(m_service->failNext(QStringLiteral("syncfolder"), QStringLiteral("42"),
                                    QStringLiteral("Operazione non permessa")));
        conn.syncCategorieFromServer();
        QVERIFY(waitFor(failed, 2));
        QCOMPARE(failed.at(1).at(0).toString(), QStringLiteral("Operazione non permessa"));
        QCOMPARE(failed.at(1).at(1).toString(), QStringLiteral("42"));
        QCOMPARE(conn.attemptCounter(), 0);

        // HTTP 404 and no HTTP reply at all are network failures, "-1"; the counter stays.
        Setting setting;
        for (const QString &url : {m_service->baseUrl() + QStringLiteral("/assente"),
                                   QStringLiteral("http://127.0.0.1:1")}) {
            setting.saveSetting(QStringLiteral("url"), url);
            KVWConn broken(&m_jar);
            QSignalSpy brokenFailed(&broken, &KVWConn::commandFailure);
            broken.syncCategorieFromServer();
            QVERIFY(waitFor(brokenFailed));
            QCOMPARE(brokenFailed.at(0).at(1).toString(), QStringLiteral("-1"));
            QVERIFY(!brokenFailed.at(0).at(0).toString().isEmpty());
            QCOMPARE(broken.attemptCounter(), 1);
        }
        setting.saveSetting(QStringLiteral("url"), m_service->baseUrl());
    }

    void supersededReplyIsIgnored()
    {
        KVWConn conn(&m_jar);
        loginOn(conn);
        QSignalSpy ok(&conn, &KVWConn::commandSuccessful);
        QVERIFY(m_service->delayNext(1500));
        conn.syncCategorieFromServer();
        QTest::ignoreMessage(QtDebugMsg, "WARNING *** spurious signal received");
        conn.syncCategorieFromServer();
        QCOMPARE(conn.attemptCounter(), 2);
        QVERIFY(waitFor(ok));
        QVERIFY(!ok.wait(2500));
        QCOMPARE(ok.count(), 1);
        QCOMPARE(conn.attemptCounter(), 0);
    }

    void sessionTimeOutIsRepairedOnlyWithinTheAttemptLimit()
    {
        KVWConn conn(&m_jar);
        loginOn(conn);
        QSignalSpy ok(&conn, &KVWConn::commandSuccessful);
        QSignalSpy failed(&conn, &KVWConn::commandFailure);
        QSignalSpy relogged(&conn, &KVWConn::loginSuccessful);
        QSignalSpy retried(&conn, &KVWConn::retry);
        connect(&conn, &KVWConn::retry, &conn, &KVWConn::syncCategorieFromServer);

        QVERIFY(m_service->expireSessions());
        conn.syncCategorieFromServer();
        QVERIFY(waitFor(ok));
        QCOMPARE(ok.at(0).at(1).toString(), QStringLiteral("5"));
        QCOMPARE(relogged.count(), 1);
        QCOMPARE(retried.count(), 1);
        QCOMPARE(failed.count(), 0);

        // Two posts since the last reset: the time-out is reported, no login is sent.
        disconnect(&conn, &KVWConn::retry, &conn, &KVWConn::syncCategorieFromServer);
        QVERIFY(m_service->expireSessions());
        conn.syncCategorieFromServer();
        QTest::ignoreMessage(QtDebugMsg, "WARNING *** spurious signal received");
        conn.syncCategorieFromServer();
        QVERIFY(waitFor(failed));
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("19"));
        QVERIFY(!failed.at(0).at(0).toString().isEmpty());
        QCOMPARE(conn.attemptCounter(), 0);
        QVERIFY(!relogged.wait(1000));
        QCOMPARE(relogged.count(), 1);
    }

    void everyConnectionUsesTheSessionCredentials()
    {
        KVWConn main(&m_jar);
        loginOn(main);
        preserve(main, m_large, QStringLiteral("grande.pdf"));
        main.syncCategorieFromServer();
        QSignalSpy synced(&main, &KVWConn::commandSuccessful);
        QVERIFY(waitFor(synced));
        const QString older = sha1(m_small);
        QCOMPARE(catalogue().filter(QStringLiteral("files:") + older).size(), 1);

        // No credentials anywhere: the time-out cannot be repaired, nothing is sent.
        m_jar.clearCredentials();
        {
            KVWConn window(&m_jar);
            QSignalSpy refused(&window, &KVWConn::loginFailure);
            QSignalSpy finished(&window, &QNetworkAccessManager::finished);
            QVERIFY(m_service->expireSessions());
            window.syncCategorieFromServer();
            QVERIFY(waitFor(refused));
            QCOMPARE(finished.count(), 1);
            QVERIFY(!finished.wait(500));
        }

        // With the signed-in user's credentials on the session, a window's own
        // connection signs in again and sends that user's cursor: a preserved row
        // older than the cursor is not sent again.
        m_jar.setCredentials(kUser, kPassword);
        execSql(QStringLiteral("DELETE FROM files WHERE hash = '%1'").arg(older));
        {
            KVWConn window(&m_jar);
            QSignalSpy ok(&window, &KVWConn::commandSuccessful);
            connect(&window, &KVWConn::retry, &window, &KVWConn::syncCategorieFromServer);
            window.syncCategorieFromServer();
            QVERIFY(waitFor(ok));
            QCOMPARE(ok.at(0).at(1).toString(), QStringLiteral("5"));
            QCOMPARE(window.savedUsername(), kUser);
            QCOMPARE(catalogue().filter(QStringLiteral("files:") + older).size(), 0);
        }
        // Without them the cursor is "0.0" and the whole account comes back.
        m_jar.clearCredentials();
        {
            KVWConn window(&m_jar);
            QSignalSpy ok(&window, &KVWConn::commandSuccessful);
            window.syncCategorieFromServer();
            QVERIFY(waitFor(ok));
            QVERIFY(catalogue().filter(QStringLiteral("files:") + older).size() == 1);
        }
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
            m_bytes = request(QStringLiteral("ripristina"),
                              QStringLiteral("<hash>%1</hash><folderid>21</folderid>").arg(sha1(content)))
                          .toUtf8();
            conn.request().setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
            conn.setDownloadMode(true);
            conn.postSession(&m_bytes);
        };
        restore(m_small);
        QVERIFY(waitFor(finished));
        QCOMPARE(body, m_small);
        QCOMPARE(progress.count(), 0); // never more than 512 bytes
        restore(m_large);
        QVERIFY(waitFor(finished, 2));
        QCOMPARE(body, m_large);
        QVERIFY(progress.count() >= 1);
        QCOMPARE(progress.last().at(0).toLongLong(), qint64(m_large.size()));

        // The boundary itself.
        progress.clear();
        QMetaObject::invokeMethod(&conn, "onProgressDownload", Q_ARG(qint64, 512), Q_ARG(qint64, 2000));
        QCOMPARE(progress.count(), 0);
        QMetaObject::invokeMethod(&conn, "onProgressDownload", Q_ARG(qint64, 513), Q_ARG(qint64, -1));
        QCOMPARE(progress.count(), 1);

        // Refused: an HTTP 500 in download mode is read as a service reply.
        restore(QByteArray("mai conservato"));
        QVERIFY(waitFor(failed));
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("18"));
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
        QSignalSpy ok(&conn, &KVWConn::commandSuccessful);
        QSignalSpy finished(&conn, &QNetworkAccessManager::finished);
        QVERIFY(m_service->demandUpdate(true));
        for (int round = 1; round <= 2; ++round) {
            conn.syncCategorieFromServer();
            QVERIFY(waitFor(finished, round));
            DialogUpdate *dialog = conn.updateDialog();
            QVERIFY(dialog->isVisible());
            QVERIFY(dialog->isModal());
            QVERIFY(dialog->findChild<QLabel *>(QStringLiteral("lblMessaggio"))->text().contains(QStringLiteral("aggiornare")));
            QCOMPARE(failed.count(), round - 1); // nothing until the dialog ends
            QCOMPARE(conn.attemptCounter(), round);
            dialog->findChild<QPushButton *>(QStringLiteral("pbAnnulla"))->click();
            QCOMPARE(failed.count(), round); // once per demand
            QCOMPARE(failed.last().at(0).toString(), QStringLiteral("Aggiornamento annullato"));
            QCOMPARE(failed.last().at(1).toString(), QStringLiteral("32"));
            QVERIFY(!dialog->isVisible());
        }
        QVERIFY(m_service->demandUpdate(false));
        QCOMPARE(ok.count(), 0);
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
        QCOMPARE(ok.at(0).at(1).toString(), QStringLiteral("5"));
        QCOMPARE(relogged.count(), 1);
        QVERIFY(synced.count() >= 2); // the login body and the synchronisation were both applied
        m_jar.clearCredentials();
    }

    void loginBodyIsAppliedLikeTheDomAndTwiceLikeOnce()
    {
        // Reference: the same login reply read whole into a DOM and applied.
        rebuildCatalogue(m_service->baseUrl());
        QNetworkAccessManager plain;
        QNetworkRequest req(QUrl(m_service->baseUrl() + QStringLiteral("/kvshop/RestService")));
        req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
        QNetworkReply *reply = plain.post(req, request(QStringLiteral("login"),
                                                       QStringLiteral("<username>lucia</username><password>%1</password>"
                                                                      "<codesync>0.0</codesync><version>" VERSIONAPP
                                                                      "</version><platform>lin</platform>")
                                                           .arg(kPassword.toHtmlEscaped())).toUtf8());
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(waitFor(done));
        const ReplyDocument whole = ReplyDocument::parse(reply->readAll(), false);
        QCOMPARE(whole.statusNumber(), QStringLiteral("1"));
        QVERIFY(whole.body().elementsByTagName(QStringLiteral("file")).count() >= 2);
        reply->deleteLater();
        {
            KVWConn conn(nullptr);
            conn.onSyncFolder(whole.body());
        }
        const QStringList expected = catalogue();
        QVERIFY(expected.filter(QStringLiteral("files:")).size() >= 2);
        QVERIFY(expected.filter(QStringLiteral("value:201|42|")).size() >= 2);

        // A catalogue holding another user's row, then the login dialog's steps:
        // the connection applies the body, the user check empties the tables,
        // and the body is applied again.
        rebuildCatalogue(m_service->baseUrl());
        execSql(QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) "
                               "VALUES ('altro', 21, 'TX', 'rossi', 99)"));
        KVWConn conn(&m_jar);
        QStringList afterFirstApply;
        connect(&conn, &KVWConn::loginSuccessful, this, [&](const QDomElement &body) {
            afterFirstApply = catalogue();
            conn.checkIfChangeUser(conn.savedUsername());
            conn.onSyncFolder(body);
        });
        loginOn(conn);
        QStringList withOther = expected;
        withOther << QStringLiteral("files:altro||||TX|21|rossi|99|||");
        withOther.sort();
        QCOMPARE(afterFirstApply, withOther);
        QCOMPARE(catalogue(), expected);
    }

private:
    void preserveUploadOnly(KVWConn &conn, const QByteArray &content)
    {
        auto *multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart xml;
        xml.setHeader(QNetworkRequest::ContentDispositionHeader, QStringLiteral("form-data; name=\"xml\""));
        xml.setBody(request(QStringLiteral("uploadfile"),
                            QStringLiteral("<idfolder>21</idfolder><hashfile>%1</hashfile>").arg(sha1(content)))
                        .toUtf8());
        QHttpPart file;
        file.setRawHeader("Content-Disposition", "form-data; name=\"grande.pdf\"");
        file.setBody(content);
        multi->append(xml);
        multi->append(file);
        QSignalSpy done(&conn, &KVWConn::commandSuccessful);
        conn.postSession(multi);
        QVERIFY(waitFor(done));
        conn.request().setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
    }
};

TAVREL_TEST_MAIN(TestKVWConn)
#include "tst_kvwconn.moc"
