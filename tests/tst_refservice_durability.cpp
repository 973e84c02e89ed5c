// The reference service's life cycle through real HTTP: session idle time-out,
// the test hooks, the update demand, clean stop, kill -9 in the middle of
// uploads and after acknowledged preservations, and broken uploads.

#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_refservice_client.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QString Seed = QStringLiteral(TAVREL_FIXTURES_DIR "/refservice_seed.json");

RestReply conserveInVarie(ServiceClient &c, const QByteArray &content)
{
    return c.action(QStringLiteral("savevaluemetadati"), {{QStringLiteral("hash"), sha1Hex(content)},
                                                          {QStringLiteral("folderid"), QStringLiteral("13")},
                                                          {QStringLiteral("computername"), QStringLiteral("pc")}},
                    {{QStringLiteral("105"), QStringLiteral("descrizione")}});
}

// Every blob is stored under its own SHA-1; returns the names that are not.
QStringList badBlobs(const QString &dataDir)
{
    QStringList bad;
    QDirIterator it(dataDir + QStringLiteral("/blobs"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly) || sha1Hex(f.readAll()) != it.fileName())
            bad << it.fileName();
    }
    return bad;
}

int filesIn(const QString &dir)
{
    return int(QDir(dir).entryList(QDir::Files | QDir::Hidden).size());
}

QByteArray sessionCookie(ServiceClient &, const RestReply &login)
{
    return login.header("set-cookie").split(';').first();
}

// Sends raw bytes on a fresh connection and returns what comes back before
// the service closes it or `waitMs` pass.
QByteArray rawExchange(int port, const QByteArray &bytes, int waitMs = 5000, bool closeAfterSend = false)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!s.waitForConnected(5000))
        return {};
    s.write(bytes);
    s.waitForBytesWritten(5000);
    if (closeAfterSend) {
        s.disconnectFromHost();
        return {};
    }
    QByteArray reply;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < waitMs && s.state() == QAbstractSocket::ConnectedState) {
        if (s.waitForReadyRead(100)) {
            reply += s.readAll();
            if (reply.contains("</response>"))
                break;
        }
    }
    return reply + s.readAll();
}

QByteArray multipartHead(const QByteArray &cookie, const QByteArray &hash, qint64 fileSize, QByteArray *tail,
                         qint64 *contentLength)
{
    const QByteArray boundary = "----confine0123456789";
    const QByteArray xml = "<?xml version=\"1.0\"?><request><action>uploadfile</action><idfolder>13</idfolder>"
                           "<last_modified>01/01/2026 00:00:00</last_modified><hashfile>" + hash + "</hashfile></request>";
    const QByteArray parts = "--" + boundary + "\r\nContent-Type: text/xml;charset=UTF-8\r\n"
                             "Content-Disposition: form-data; name=\"xml\"\r\n\r\n" + xml + "\r\n--" + boundary
        + "\r\nContent-Type: application/octet-stream\r\nContent-Disposition: form-data; name=\"/home/anna/big.bin\"\r\n\r\n";
    *tail = "\r\n--" + boundary + "--\r\n";
    *contentLength = parts.size() + fileSize + tail->size();
    return "POST /kvshop/RestService HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie
        + "\r\nContent-Type: multipart/form-data;boundary=" + boundary + "\r\nContent-Length: "
        + QByteArray::number(*contentLength) + "\r\n\r\n" + parts;
}

} // namespace

class TestRefServiceDurability : public QObject
{
    Q_OBJECT

private slots:
    void idleSessionsExpire();
    void testHooks();
    void hooksNeedTheSwitch();
    void minimumVersionAndUpdatePackage();
    void crashLosesNothingAcknowledged();
    void brokenUploadsLeaveNothing();
    void cleanStopOnSigterm();
    void neverPreservedUploadsAreForgotten();
    void servesHttpsWithCertificate();
    void badSeedsAreRefused();
};

void TestRefServiceDurability::idleSessionsExpire()
{
    RefServiceFixture service(Seed);
    QVERIFY2(service.start({QStringLiteral("--session-idle"), QStringLiteral("2")}), qPrintable(service.errorString()));
    ServiceClient c(service.baseUrl());
    QCOMPARE(c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026")).status, QStringLiteral("1"));
    // Activity keeps the session alive past the idle time...
    QElapsedTimer alive;
    alive.start();
    while (alive.elapsed() < 2600) {
        QTest::qWait(600);
        QCOMPARE(c.sync(QStringLiteral("0.0")).status, QStringLiteral("5"));
    }
    // ...idleness ends it.
    QTest::qWait(2500);
    const RestReply r = c.sync(QStringLiteral("0.0"));
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("19"));
    QVERIFY(!r.description.isEmpty());
    QCOMPARE(c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026")).status, QStringLiteral("1"));
    QCOMPARE(c.sync(QStringLiteral("0.0")).status, QStringLiteral("5"));
}

void TestRefServiceDurability::testHooks()
{
    RefServiceFixture service(Seed);
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ServiceClient c(service.baseUrl());
    QCOMPARE(c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026")).status, QStringLiteral("1"));

    QVERIFY2(service.expireSessions(), qPrintable(service.errorString()));
    QCOMPARE(c.sync(QStringLiteral("0.0")).status, QStringLiteral("19"));
    QCOMPARE(c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026")).status, QStringLiteral("1"));

    QVERIFY(service.demandUpdate(true));
    RestReply r = c.sync(QStringLiteral("0.0"));
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("31"));
    QVERIFY(r.description.contains(QStringLiteral("aggiornare")));
    QCOMPARE(c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026")).status, QStringLiteral("31"));
    QVERIFY(service.demandUpdate(false));
    QCOMPARE(c.sync(QStringLiteral("0.0")).status, QStringLiteral("5"));

    // fail-next: once, for that action only, and the action is not carried out.
    QVERIFY(service.failNext(QStringLiteral("uploadfile"), QStringLiteral("13"), QStringLiteral("Guasto & simulato")));
    QCOMPARE(c.sync(QStringLiteral("0.0")).status, QStringLiteral("5"));
    const QByteArray content = "caricamento con guasto\n";
    r = c.upload(13, content, QStringLiteral("/home/anna/g.txt"));
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("13"));
    QCOMPARE(r.description, QStringLiteral("Guasto & simulato"));
    QCOMPARE(conserveInVarie(c, content).status, QStringLiteral("16"));
    QCOMPARE(c.upload(13, content, QStringLiteral("/home/anna/g.txt")).status, QStringLiteral("14"));
    QVERIFY(service.failNext(QStringLiteral("savevaluemetadati"), QStringLiteral("20"), QStringLiteral("Indici rifiutati")));
    r = conserveInVarie(c, content);
    QCOMPARE(r.status, QStringLiteral("20"));
    QCOMPARE(r.all(QStringLiteral("validation")).size(), 1);
    QCOMPARE(conserveInVarie(c, content).status, QStringLiteral("15"));

    // delay-next: the next request only.
    QVERIFY(service.delayNext(2500));
    QElapsedTimer t;
    t.start();
    QCOMPARE(c.sync(QStringLiteral("0.0")).status, QStringLiteral("5"));
    QVERIFY2(t.elapsed() >= 2500, qPrintable(QString::number(t.elapsed())));
    t.restart();
    QCOMPARE(c.sync(QStringLiteral("0.0")).status, QStringLiteral("5"));
    QVERIFY2(t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));

    QVERIFY(!service.failNext(QString(), QStringLiteral("13"), QString()));
    QVERIFY(!service.delayNext(-5));
}

void TestRefServiceDurability::hooksNeedTheSwitch()
{
    // Started by hand without --test-hooks: the hooks do not exist.
    QTemporaryDir data;
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(TAVREL_REFSERVICE_BIN), {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                                    QStringLiteral("--data"), data.path(), QStringLiteral("--seed"), Seed});
    QVERIFY(p.waitForReadyRead(30000));
    const QByteArray line = p.readLine().trimmed();
    QVERIFY(line.startsWith("listening on 127.0.0.1:"));
    const int port = line.mid(line.lastIndexOf(':') + 1).toInt();
    const QByteArray reply = rawExchange(port, "POST /kvshop/TestHooks/expire-sessions HTTP/1.1\r\nHost: x\r\n"
                                               "Content-Length: 0\r\nConnection: close\r\n\r\n");
    QVERIFY2(reply.startsWith("HTTP/1.1 404"), reply.constData());
    // A second service on the same data directory refuses to start.
    QProcess second;
    second.start(QStringLiteral(TAVREL_REFSERVICE_BIN), {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                                         QStringLiteral("--data"), data.path()});
    QVERIFY(second.waitForFinished(30000));
    QVERIFY(second.exitCode() != 0);
    QVERIFY(second.readAllStandardOutput().isEmpty());
    QVERIFY(QString::fromLocal8Bit(second.readAllStandardError()).contains(QStringLiteral("già usata")));
    // The first one is untouched.
    QVERIFY(rawExchange(port, "GET /kvshop/Help/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").startsWith("HTTP/1.1 200"));
    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
}

void TestRefServiceDurability::minimumVersionAndUpdatePackage()
{
    QTemporaryDir dir;
    const QString package = dir.filePath(QStringLiteral("tavrellite-9.0.0.zip"));
    QFile f(package);
    QVERIFY(f.open(QIODevice::WriteOnly));
    const QByteArray bytes = "PK\x03\x04 contenuto del pacchetto";
    f.write(bytes);
    f.close();

    RefServiceFixture service(Seed);
    QVERIFY2(service.start({QStringLiteral("--min-version"), QStringLiteral("1.10.0"), QStringLiteral("--update-package"),
                            package}),
             qPrintable(service.errorString()));
    ServiceClient c(service.baseUrl());
    RestReply r = c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"), QStringLiteral("0.0"), QStringLiteral("1.2.1"));
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("31"));
    QVERIFY(r.description.contains(QStringLiteral("1.10.0")));
    QCOMPARE(c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"), QStringLiteral("0.0"), QStringLiteral("1.10.0")).status,
             QStringLiteral("1"));

    r = c.get(QStringLiteral("/kvshop/UpdateService?platform=lin"));
    QCOMPARE(r.http, 200);
    QCOMPARE(r.raw, bytes);
    QCOMPARE(c.get(QStringLiteral("/kvshop/UpdateService?platform=win")).http, 404);

    // Without a package file the service offers a small built-in ZIP archive.
    RefServiceFixture plain(Seed);
    QVERIFY(plain.start());
    r = ServiceClient(plain.baseUrl()).get(QStringLiteral("/kvshop/UpdateService?platform=lin"));
    QCOMPARE(r.http, 200);
    QVERIFY(r.raw.startsWith("PK\x03\x04"));
    QVERIFY(r.raw.contains("LEGGIMI.txt"));
}

void TestRefServiceDurability::crashLosesNothingAcknowledged()
{
    RefServiceFixture service(Seed);
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ServiceClient c(service.baseUrl());
    RestReply r = c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    const QByteArray cookie = sessionCookie(c, r);

    QMap<QString, QByteArray> preserved; // token -> content
    for (int i = 0; i < 5; ++i) {
        const QByteArray content = "documento " + QByteArray::number(i) + ' ' + QByteArray(1000 * (i + 1), char('a' + i));
        QCOMPARE(c.upload(13, content, QStringLiteral("/home/anna/doc%1.txt").arg(i)).status, QStringLiteral("14"));
        r = conserveInVarie(c, content);
        QCOMPARE(r.status, QStringLiteral("15"));
        preserved.insert(r.body.elementsByTagName(QStringLiteral("token")).at(0).toElement().text(), content);
    }
    // One more upload acknowledged but not yet conserved, and one cut in the middle.
    const QByteArray pending = "caricato ma non conservato\n";
    QCOMPARE(c.upload(13, pending, QStringLiteral("/home/anna/pending.txt")).status, QStringLiteral("14"));
    const QByteArray big(2 * 1024 * 1024, 'q');
    QByteArray tail;
    qint64 length = 0;
    QTcpSocket cut;
    cut.connectToHost(QStringLiteral("127.0.0.1"), quint16(service.port()));
    QVERIFY(cut.waitForConnected(5000));
    cut.write(multipartHead(cookie, sha1Hex(big).toLatin1(), big.size(), &tail, &length) + big.left(big.size() / 2));
    QVERIFY(cut.waitForBytesWritten(5000));
    QTest::qWait(300);

    service.kill9();
    QVERIFY2(service.restart(), qPrintable(service.errorString()));
    QCOMPARE(filesIn(service.dataDir() + QStringLiteral("/tmp")), 0);
    QCOMPARE(badBlobs(service.dataDir()), QStringList());

    c.setBase(service.baseUrl());
    r = c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    QCOMPARE(r.status, QStringLiteral("1"));
    QMap<QString, QString> hashByToken;
    for (const QDomElement &f : r.all(QStringLiteral("file")))
        hashByToken.insert(f.attribute(QStringLiteral("token")), f.attribute(QStringLiteral("hash")));
    for (auto it = preserved.begin(); it != preserved.end(); ++it) {
        QVERIFY2(hashByToken.contains(it.key()), qPrintable(it.key()));
        QCOMPARE(hashByToken.value(it.key()), sha1Hex(it.value()));
        r = c.action(QStringLiteral("ripristina"), {{QStringLiteral("hash"), sha1Hex(it.value())},
                                                    {QStringLiteral("folderid"), QStringLiteral("13")}});
        QCOMPARE(r.http, 200);
        QCOMPARE(r.raw, it.value());
    }
    // The acknowledged upload survived too and can still be conserved.
    QCOMPARE(conserveInVarie(c, pending).status, QStringLiteral("15"));
    // The interrupted one never became a blob.
    QVERIFY(!QFile::exists(service.dataDir() + QStringLiteral("/blobs/") + sha1Hex(big).left(2) + QLatin1Char('/') + sha1Hex(big)));
}

void TestRefServiceDurability::neverPreservedUploadsAreForgotten()
{
    RefServiceFixture service(Seed);
    QVERIFY2(service.start({QStringLiteral("--upload-keep"), QStringLiteral("2")}), qPrintable(service.errorString()));
    ServiceClient c(service.baseUrl());
    QCOMPARE(c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026")).status, QStringLiteral("1"));
    const auto blobExists = [&](const QByteArray &content) {
        const QString hash = sha1Hex(content);
        return QFileInfo::exists(service.dataDir() + "/blobs/" + hash.left(2) + "/" + hash);
    };
    const QByteArray abandoned("lasciato a metà"), preserved("conservato davvero"), resumed("ripreso più tardi");
    QCOMPARE(c.upload(13, abandoned, QStringLiteral("/home/anna/a.txt")).status, QStringLiteral("14"));
    QCOMPARE(c.upload(13, resumed, QStringLiteral("/home/anna/r.txt")).status, QStringLiteral("14"));
    QCOMPARE(c.upload(13, preserved, QStringLiteral("/home/anna/p.txt")).status, QStringLiteral("14"));
    QCOMPARE(conserveInVarie(c, preserved).status, QStringLiteral("15"));
    QTest::qWait(1500);
    // Sending the same content again counts as a fresh upload.
    QCOMPARE(c.upload(13, resumed, QStringLiteral("/home/anna/r.txt")).status, QStringLiteral("14"));
    QTest::qWait(1700);
    // The next upload finds the abandoned one past its time.
    QCOMPARE(c.upload(13, QByteArray("nuovo"), QStringLiteral("/home/anna/n.txt")).status, QStringLiteral("14"));
    QVERIFY(!blobExists(abandoned));
    QVERIFY(blobExists(resumed) && blobExists(preserved));
    QCOMPARE(conserveInVarie(c, abandoned).status, QStringLiteral("16"));
    QCOMPARE(conserveInVarie(c, resumed).status, QStringLiteral("15"));
    QCOMPARE(c.action(QStringLiteral("ripristina"), {{QStringLiteral("hash"), sha1Hex(preserved)},
                                                     {QStringLiteral("folderid"), QStringLiteral("13")}})
                 .raw,
             preserved);
    // Uploaded again, the abandoned file can be preserved.
    QCOMPARE(c.upload(13, abandoned, QStringLiteral("/home/anna/a.txt")).status, QStringLiteral("14"));
    QCOMPARE(conserveInVarie(c, abandoned).status, QStringLiteral("15"));
}

void TestRefServiceDurability::brokenUploadsLeaveNothing()
{
    RefServiceFixture service(Seed);
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ServiceClient c(service.baseUrl());
    const QByteArray cookie = sessionCookie(c, c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026")));
    const QByteArray content(300000, 'k');
    QByteArray tail;
    qint64 length = 0;
    const QByteArray head = multipartHead(cookie, sha1Hex(content).toLatin1(), content.size(), &tail, &length);

    // The closing boundary is missing although the declared length is honoured.
    QByteArray reply = rawExchange(service.port(), head + content + QByteArray(tail.size(), 'x'));
    QVERIFY2(reply.contains("<statusnumber>13</statusnumber>"), reply.left(400).constData());
    // The client goes away in the middle of the file.
    rawExchange(service.port(), head + content.left(1000), 0, true);
    QTest::qWait(300);
    // A session cookie that is not a session.
    const QByteArray forged = head;
    reply = rawExchange(service.port(), QByteArray(forged).replace(cookie, "TAVRELSESSION=0123456789abcdef") + content + tail);
    QVERIFY2(reply.contains("<statusnumber>19</statusnumber>"), reply.left(400).constData());

    QCOMPARE(filesIn(service.dataDir() + QStringLiteral("/tmp")), 0);
    QVERIFY(!QFile::exists(service.dataDir() + QStringLiteral("/blobs/") + sha1Hex(content).left(2) + QLatin1Char('/')
                           + sha1Hex(content)));
    // The same upload done properly still works afterwards.
    reply = rawExchange(service.port(), head + content + tail);
    QVERIFY2(reply.contains("<statusnumber>14</statusnumber>"), reply.left(400).constData());
    QCOMPARE(badBlobs(service.dataDir()), QStringList());
}

void TestRefServiceDurability::cleanStopOnSigterm()
{
    RefServiceFixture service(Seed);
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    const int port = service.port();
    QVERIFY(service.stop()); // exit code 0 after SIGTERM
    QVERIFY(service.restart());
    QCOMPARE(service.port(), port);
    QCOMPARE(ServiceClient(service.baseUrl()).get(QStringLiteral("/kvshop/Help/")).http, 200);
}

void TestRefServiceDurability::servesHttpsWithCertificate()
{
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                                              QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), key,
                                              QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("1"),
                                              QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")});
    if (!openssl.waitForStarted(5000))
        QSKIP("the openssl command is not installed (scripts/install-deps.sh installs it)");
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);

    RefServiceFixture service(Seed);
    QVERIFY2(service.start({QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), key}),
             qPrintable(service.errorString()));
    ServiceClient c(QStringLiteral("https://127.0.0.1:%1").arg(service.port()));
    c.acceptAnyCertificate();
    QCOMPARE(c.get(QStringLiteral("/kvshop/Help/")).http, 200);
    const RestReply r = c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    QCOMPARE(r.status, QStringLiteral("1"));
    QVERIFY(r.header("set-cookie").contains("Secure"));
    QCOMPARE(c.sync(QStringLiteral("0.0")).status, QStringLiteral("5"));
    // Plain HTTP gets no service on a TLS port.
    QVERIFY(ServiceClient(service.baseUrl()).get(QStringLiteral("/kvshop/Help/")).http != 200);
    // A certificate without its key is refused at start.
    RefServiceFixture broken(Seed);
    QVERIFY(!broken.start({QStringLiteral("--tls-cert"), cert}));
}

void TestRefServiceDurability::badSeedsAreRefused()
{
    QTemporaryDir dir;
    const QList<QPair<const char *, QByteArray>> seeds = {
        {"not json", "{ \"users\": ["},
        {"no users", "{ \"users\": [] }"},
        {"no password", "{ \"users\": [ { \"username\": \"x\" } ] }"},
        {"document in another user's class",
         "{ \"users\": [ { \"username\": \"a\", \"password\": \"p\", \"buckets\": [ { \"id\": \"A\", \"folders\": "
         "[ { \"id\": 1, \"name\": \"C\" } ] } ] }, { \"username\": \"b\", \"password\": \"p\", \"documents\": "
         "[ { \"folder\": 1, \"filename\": \"f\", \"content\": \"x\" } ] } ] }"},
    };
    for (const auto &seed : seeds) {
        const QString path = dir.filePath(QString::fromLatin1(seed.first).replace(QLatin1Char(' '), QLatin1Char('_')));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(seed.second);
        f.close();
        QTemporaryDir data;
        QProcess p;
        p.start(QStringLiteral(TAVREL_REFSERVICE_BIN), {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                                        QStringLiteral("--data"), data.path(), QStringLiteral("--seed"), path});
        QVERIFY(p.waitForFinished(30000));
        QVERIFY2(p.exitCode() != 0, seed.first);
        QVERIFY2(p.readAllStandardOutput().isEmpty(), seed.first); // never said it was listening
        const QString error = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(error.contains(QStringLiteral("seed")), qPrintable(error));
    }
}

TAVREL_TEST_MAIN(TestRefServiceDurability)
#include "tst_refservice_durability.moc"
