// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/constants.h"
#include "app/localsocketipcserver.h"
#include "support/testenv.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QDomDocument>
#include <QTemporaryFile>
#include <QtEndian>

namespace {
QByteArray frame(const QString &text)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_0);
    out << text;
    return bytes;
}

// A client that stays connected until the test lets it go.
std::unique_ptr<QLocalSocket> connectClient(const QString &name)
{
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(name);
    if (!socket->waitForConnected(2000))
        return nullptr;
    return socket;
}
} // namespace

class TestLocalSocketIpcServer : public QObject
{
    Q_OBJECT
    const QString name = QStringLiteral(APP_GUID);

private slots:
    void oneWriteGivesExactlyOneMessageEvenInPieces()
    {
        LocalSocketIpcServer server(name, nullptr);
        QVERIFY(server.isListening());
        QSignalSpy spy(&server, &LocalSocketIpcServer::messageReceived);
        // The wire: a Qt 4.0 stream string, byte count then UTF-16 big-endian
        // ("ab"); what follows in the same write is not read.
        auto client = connectClient(name);
        QVERIFY(client);
        client->write(QByteArray::fromHex("000000040061" "0062") + frame("second"));
        client->flush();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), "ab");
        // Once its message is read the connection is closed: whatever else the
        // client sends is neither read nor kept.
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QLocalSocket::UnconnectedState, 2000);
        QCOMPARE(spy.count(), 1);

        // A text split over several writes arrives whole.
        auto split = connectClient(name);
        QVERIFY(split);
        const QByteArray bytes = frame(QStringLiteral("àèì – una parola lunga"));
        for (const QByteArray &piece : {bytes.left(3), bytes.mid(3, 7)}) {
            split->write(piece);
            split->flush();
            QTest::qWait(100);
        }
        QCOMPARE(spy.count(), 1);
        split->write(bytes.mid(10));
        split->flush();
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("àèì – una parola lunga"));
    }

    void silentOrBrokenClientsNeverBlockTheWindow()
    {
        LocalSocketIpcServer server(name, nullptr);
        QSignalSpy spy(&server, &LocalSocketIpcServer::messageReceived);
        // A command longer than any real one is cut at once, not at the time limit.
        auto oversized = connectClient(name);
        QVERIFY(oversized);
        const quint32 tooLong = qToBigEndian(LocalSocketIpcServer::kMaxTextBytes + 2);
        oversized->write(QByteArray(reinterpret_cast<const char *>(&tooLong), 4) + QByteArray(64 * 1024, 'x'));
        oversized->flush();
        QTRY_COMPARE_WITH_TIMEOUT(oversized->state(), QLocalSocket::UnconnectedState, 2000);

        std::vector<std::unique_ptr<QLocalSocket>> silent;
        for (int i = 0; i < LocalSocketIpcServer::kMaxConnections - 1; ++i)
            silent.push_back(connectClient(name));
        auto partial = connectClient(name);
        QVERIFY(silent.back() && partial);
        partial->write(frame("never finished").left(9));
        partial->flush();
        // The event loop keeps running while the others hang around, and past
        // the number of connections served at once more are closed at once.
        QElapsedTimer timer;
        timer.start();
        auto extra = connectClient(name);
        QVERIFY(extra);
        QTRY_COMPARE_WITH_TIMEOUT(extra->state(), QLocalSocket::UnconnectedState, 2000);
        QVERIFY(timer.elapsed() < 2000);
        // Once one goes, a well-behaved client is served.
        silent.pop_back();
        QTest::qWait(100);
        auto good = connectClient(name);
        QVERIFY(good);
        good->write(frame("ok"));
        good->flush();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), "ok");
        // A client that hangs up half-way is simply forgotten.
        partial->disconnectFromServer();
        QTest::qWait(100);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(partial->state(), QLocalSocket::UnconnectedState);
    }

    void aLeftoverSocketIsReplacedButALiveServerIsNot()
    {
        {
            // A live server under the name: the second one must not steal it.
            QLocalServer other;
            QVERIFY(other.listen(name));
            QTest::ignoreMessage(QtDebugMsg, "Not able to start the Server");
            LocalSocketIpcServer server(name, nullptr);
            QVERIFY(!server.isListening());
            QVERIFY(other.isListening());
        }
        // A socket file nobody answers on, as an instance that crashed leaves it.
        const QString path = QDir::tempPath() + "/" + name;
        QVERIFY(!QFile::exists(path));
        QProcess mk;
        mk.start("python3", {"-c", "import socket,sys; s=socket.socket(socket.AF_UNIX); s.bind(sys.argv[1])", path});
        QVERIFY(mk.waitForFinished(5000));
        QVERIFY(QFile::exists(path));
        LocalSocketIpcServer server(name, nullptr);
        QVERIFY(server.isListening());
        QSignalSpy spy(&server, &LocalSocketIpcServer::messageReceived);
        auto client = connectClient(name);
        QVERIFY(client);
        client->write(frame("dopo il crash"));
        client->flush();
        QTRY_COMPARE(spy.count(), 1);
    }

    void sendToolReportsWhetherItWasHeard()
    {
        // Nobody listening: 1 and a message; a command without its argument: 2.
        QProcess send;
        send.start(TAVREL_SEND_BIN, {"esibisci", "tok-1"});
        QVERIFY(send.waitForFinished(10000));
        QCOMPARE(send.exitCode(), 1);
        QVERIFY(QString::fromUtf8(send.readAllStandardError()).contains("non è in esecuzione"));
        send.start(TAVREL_SEND_BIN, {"conserva"});
        QVERIFY(send.waitForFinished(10000));
        QCOMPARE(send.exitCode(), 2);

        // The command in lower case and the path escaped.
        LocalSocketIpcServer server(name, nullptr);
        QSignalSpy spy(&server, &LocalSocketIpcServer::messageReceived);
        QTemporaryFile file(QDir::tempPath() + "/a & b <c>.XXXXXX.pdf");
        QVERIFY(file.open());
        send.start(TAVREL_SEND_BIN, {"CONSERVA", file.fileName()});
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(send.state(), QProcess::NotRunning, 10000);
        QCOMPARE(send.exitCode(), 0);
        QDomDocument doc;
        QVERIFY(doc.setContent(spy.at(0).at(0).toString()));
        QCOMPARE(doc.elementsByTagName("command").at(0).toElement().text(), "conserva");
        QCOMPARE(doc.elementsByTagName("parameter1").at(0).toElement().text(), file.fileName());
    }
};

TAVREL_TEST_MAIN(TestLocalSocketIpcServer)
#include "tst_localsocketipcserver.moc"
