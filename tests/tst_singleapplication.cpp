// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The single-instance guard: its names, the byte frames between instances,
// the running instance's server, later starts, and what a dead or foreign
// instance may leave in the way. (Real second starts of the client, and a
// killed or a stopped running instance: tst_startup.)

#include "app/instancelock.h"
#include "app/singleapplication.h"
#include "app/singleapplication_p.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMutex>
#include <QSharedMemory>
#include <QtEndian>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>

#include <pwd.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray be32(quint32 value)
{
    value = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&value), 4);
}

// The frame of `text`, spelled out byte by byte: the length of what follows,
// then the string as the UTF-16 byte count (0xFFFFFFFF for null) and big-endian units.
QByteArray frameOf(const QString &text)
{
    QByteArray body = be32(text.isNull() ? 0xFFFFFFFFu : quint32(text.size() * 2));
    for (QChar c : text)
        body += be32(c.unicode()).right(2);
    return be32(quint32(body.size())) + body;
}

// A connected pair of local sockets: `socket` for the code under test, `peer`
// for the test.
struct SocketPair
{
    QLocalSocket socket, peer;

    SocketPair()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            qFatal("socketpair failed");
        socket.setSocketDescriptor(fds[0]);
        peer.setSocketDescriptor(fds[1]);
    }
    void send(const QByteArray &bytes)
    {
        peer.write(bytes);
        QVERIFY(peer.flush());
    }
};

QString socketNameOf(const QString &key)
{
    return SingleApplicationPrivate::socketNameFor(SingleApplicationPrivate::cleanKey(key),
                                                  SingleApplicationPrivate::loginName());
}

ThreadedLocalServer *serverOf(const QString &key)
{
    return SingleApplicationPrivate::serverFor(socketNameOf(key));
}

// Connects to the guard served in this process and consumes its greeting. The
// server accepts in this thread's event loop, so every wait here spins it.
bool connectAndGreet(QLocalSocket &client, const QString &key)
{
    client.connectToServer(socketNameOf(key));
    const QByteArray greeting = frameOf(SingleApplicationPrivate::cleanKey(key));
    if (!QTest::qWaitFor([&] { return client.bytesAvailable() >= greeting.size(); }, 3000))
        return false;
    return client.read(greeting.size()) == greeting;
}

// A guard's server run in a thread of its own, standing in for the running
// instance of another process, so that this thread can play the later start.
class ServerThread : public QThread
{
public:
    ServerThread(const QString &key, const QString &name) : m_key(key), m_name(name) {}
    ~ServerThread() override { quit(); wait(); }
    bool startListening()
    {
        start();
        return m_ready.tryAcquire(1, 5000) && m_listening;
    }
    QStringList messages()
    {
        QMutexLocker locker(&m_mutex);
        return m_messages;
    }

protected:
    void run() override
    {
        ThreadedLocalServer server(m_key, nullptr);
        QObject::connect(&server, &ThreadedLocalServer::messageReceived, &server,
                         [this](const QString &message) {
                             QMutexLocker locker(&m_mutex);
                             m_messages << message;
                         });
        m_listening = server.listen(m_name);
        m_ready.release();
        exec();
    }

private:
    QString m_key, m_name;
    QSemaphore m_ready;
    bool m_listening = false;
    QMutex m_mutex;
    QStringList m_messages;
};

// Holds the instance lock of `name` as a live instance would.
struct HeldLock
{
    int fd;
    explicit HeldLock(const QString &name)
        : fd(::open(QFile::encodeName(InstanceLock::lockFilePath(name)).constData(),
                    O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
            qFatal("cannot hold the instance lock");
    }
    ~HeldLock() { ::close(fd); }
};

// A System V segment attached by "another program" under the key the marker of
// `guardKey` will use. The guard key is made of this test's own name and a
// number, tried until one whose System V key is free on this machine, so the
// test never meets what other programs left.
struct CollidingSegment
{
    QString guardKey;
    int id = -1;
    void *address = nullptr;

    CollidingSegment()
    {
        for (int attempt = 0; attempt < 100 && id < 0; ++attempt) {
            guardKey = QStringLiteral("Intralcio%1x%2").arg(::getpid()).arg(attempt);
            // The marker's key comes from its key file, as the guard will make it.
            const QString keyFile = QSharedMemory(socketNameOf(guardKey)).nativeKey();
            QFile touch(keyFile);
            if (!touch.open(QIODevice::WriteOnly))
                continue;
            const key_t key = ::ftok(QFile::encodeName(keyFile).constData(), 'Q');
            id = ::shmget(key, 1, IPC_CREAT | IPC_EXCL | 0600);
        }
        if (id >= 0)
            address = ::shmat(id, nullptr, SHM_RDONLY);
    }
    ~CollidingSegment()
    {
        if (address && address != reinterpret_cast<void *>(-1))
            ::shmdt(address);
        if (id >= 0)
            ::shmctl(id, IPC_RMID, nullptr);
    }
};

} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT
private slots:
    void namesAreStable()
    {
        // Instances of every version meet under these names: the key keeps only
        // A-Z, a-z and 0-9, and the socket name adds the login name, hexed
        // through its UTF-8 bytes.
        QCOMPARE(SingleApplicationPrivate::cleanKey("5B1D07C4-3F2A-11E1-9C61-2E4A8D90B3F7"),
                 "5B1D07C43F2A11E19C612E4A8D90B3F7");
        QCOMPARE(SingleApplicationPrivate::cleanKey(QString::fromUtf8("Città_d'Ùrbino 2")), "Cittdrbino2");
        QCOMPARE(SingleApplicationPrivate::cleanKey("-{.}; !_"), "SADEFAULTKEY");
        QCOMPARE(SingleApplicationPrivate::socketNameFor("ABC", "root"), "_sa_ABC_726f6f74");
        QCOMPARE(SingleApplicationPrivate::socketNameFor("K", QString::fromLatin1("jos\xe9")), "_sa_K_6a6f73c3a9");
        QCOMPARE(SingleApplicationPrivate::socketNameFor("K", QString()), "_sa_K_");
        const struct passwd *me = ::getpwuid(::getuid());
        QVERIFY(me && SingleApplicationPrivate::loginName() == QString::fromLatin1(me->pw_name));
    }

    void everyUserGetsAnInstanceOfTheirOwn()
    {
        const QString savedLogin = SingleApplicationPrivate::loginName();
        const auto restore = qScopeGuard([&] { SingleApplicationPrivate::setLoginName(savedLogin); });
        SingleApplicationPrivate::setLoginName("anna");
        SingleApplication anna("Utenti");
        const QString annaName = socketNameOf("Utenti");
        SingleApplicationPrivate::setLoginName("bruno");
        SingleApplication bruno("Utenti");
        QVERIFY(!anna.isRunning() && !bruno.isRunning());
        // Each user has a server and a marker segment of their own.
        ThreadedLocalServer *annaServer = SingleApplicationPrivate::serverFor(annaName);
        QVERIFY(annaServer && serverOf("Utenti") && annaServer != serverOf("Utenti"));
        QVERIFY(annaServer->isListening() && serverOf("Utenti")->isListening());
        QSharedMemory annaMarker(annaName), brunoMarker(socketNameOf("Utenti"));
        QVERIFY(annaMarker.attach(QSharedMemory::ReadOnly) && brunoMarker.attach(QSharedMemory::ReadOnly));
    }

    void wireFramesAreExact_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QStringLiteral("") << QByteArray::fromHex("0000000400000000");
        QTest::newRow("null") << QString() << QByteArray::fromHex("00000004ffffffff");
        QTest::newRow("text") << QStringLiteral("ok") << QByteArray::fromHex("0000000800000004006f006b");
        QTest::newRow("non-ASCII and surrogate pair")
            << QString::fromUtf8("è€\xF0\x9F\x98\x80") << QByteArray::fromHex("0000000c0000000800e820acd83dde00");
    }
    void wireFramesAreExact()
    {
        QFETCH(QString, message);
        QFETCH(QByteArray, bytes);
        SocketPair pair;
        QVERIFY(writeMessage(&pair.socket, message, 500));
        QVERIFY(pair.peer.waitForReadyRead(500));
        QCOMPARE(pair.peer.readAll(), bytes);

        // And the same bytes read back give the same string, null included.
        pair.send(bytes);
        bool ok = false;
        const QString read = readMessage(&pair.socket, &ok);
        QVERIFY(ok);
        QCOMPARE(read, message);
        QCOMPARE(read.isNull(), message.isNull());

        // Also when they arrive in pieces, each within a read slice, the
        // whole frame taking longer than one.
        const int raw = int(pair.peer.socketDescriptor());
        std::thread writer([&] {
            for (int i = 0; i < bytes.size(); i += 4) {
                ::usleep(100 * 1000);
                if (::write(raw, bytes.constData() + i, size_t(qMin(4, int(bytes.size()) - i))) <= 0)
                    return;
            }
        });
        const QString pieced = readMessage(&pair.socket, &ok);
        writer.join();
        QVERIFY(ok);
        QCOMPARE(pieced, message);
    }

    void brokenFramesAreNotAccepted_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("minMs");
        QTest::newRow("three bytes") << QByteArray::fromHex("000000") << 240;
        QTest::newRow("body shorter than announced") << QByteArray::fromHex("0000000c00000008006100") << 240;
        QTest::newRow("negative length") << QByteArray::fromHex("ffffffff00000000") << 0;
        QTest::newRow("absurd length") << QByteArray::fromHex("7fffffff00000000") << 0;
        QTest::newRow("string longer than its frame") << QByteArray::fromHex("0000000600000008006f") << 0;
    }
    void brokenFramesAreNotAccepted()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, minMs);
        SocketPair pair;
        pair.send(bytes);
        QElapsedTimer clock;
        clock.start();
        bool ok = true;
        readMessage(&pair.socket, &ok);
        QVERIFY(!ok);
        QVERIFY2(clock.elapsed() >= minMs && clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    }

    void serverIsSharedPrivateAndOutlivesItsGuard()
    {
        // Two guards of one key in one application share its one server, which
        // belongs to the application: it outlives the guard that made it. Its
        // socket is in this user's temporary directory, closed to everyone else.
        // (Greeting and acknowledgement between two processes: tst_startup.)
        auto first = std::make_unique<SingleApplication>("Saluto-1");
        SingleApplication second("Saluto-1");
        QVERIFY(!first->isRunning() && !second.isRunning());
        const QFileInfo info(serverOf("Saluto-1")->fullServerName());
        QCOMPARE(info.absolutePath(), QDir(QDir::tempPath()).absolutePath());
        QCOMPARE(info.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                       | QFile::WriteOther | QFile::ExeOther),
                 QFile::Permissions());

        QSignalSpy firstSpy(first.get(), &SingleApplication::messageReceived);
        QSignalSpy spy(&second, &SingleApplication::messageReceived);
        QLocalSocket client;
        QVERIFY(connectAndGreet(client, "Saluto-1"));
        client.write(QByteArray::fromHex("0000000400000000"));
        QTRY_COMPARE(spy.count(), 1);
        QTRY_COMPARE(firstSpy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), "");

        // The connection stays open for more messages.
        first.reset();
        client.write(frameOf("ancora") + frameOf("e poi"));
        QTRY_COMPARE(spy.count(), 3);
        QCOMPARE(spy.at(2).at(0).toString(), "e poi");
    }

    void brokenSilentAndClosedConnectionsEnd()
    {
        // A frame cut short (40 bytes announced, 10 sent) is dropped without
        // acknowledgement or message; a client that says nothing does not hold
        // a thread past the idle limit; the server goes on serving.
        const int saved = LocalThread::idleTimeout();
        LocalThread::setIdleTimeout(300);
        SingleApplication guard("Silenzio");
        QSignalSpy spy(&guard, &SingleApplication::messageReceived);
        QLocalSocket partial, silent;
        const bool greeted = connectAndGreet(partial, "Silenzio") && connectAndGreet(silent, "Silenzio");
        LocalThread::setIdleTimeout(saved);
        QVERIFY(greeted);
        partial.write(QByteArray::fromHex("00000028000000240061006200630064"));
        QCOMPARE(serverOf("Silenzio")->findChildren<LocalThread *>().size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(partial.state(), QLocalSocket::UnconnectedState, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 3000);
        QTRY_VERIFY(serverOf("Silenzio")->findChildren<LocalThread *>().isEmpty());
        QCOMPARE(partial.bytesAvailable(), qint64(0));
        QCOMPARE(spy.count(), 0);
        QLocalSocket next;
        QVERIFY(connectAndGreet(next, "Silenzio"));
        next.write(frameOf("intero"));
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), "intero");

        // Each connection costs a thread: past the cap, one is closed at once,
        // ungreeted, and served again once a place is free.
        std::vector<std::unique_ptr<QLocalSocket>> held;
        while (int(held.size()) + 1 < ThreadedLocalServer::kMaxConnections) {
            held.push_back(std::make_unique<QLocalSocket>());
            QVERIFY(connectAndGreet(*held.back(), "Silenzio"));
        }
        QLocalSocket refused;
        refused.connectToServer(socketNameOf("Silenzio"));
        QTRY_COMPARE_WITH_TIMEOUT(refused.state(), QLocalSocket::UnconnectedState, 1000);
        QCOMPARE(refused.bytesAvailable(), qint64(0));
        QCOMPARE(serverOf("Silenzio")->findChildren<LocalThread *>().size(), ThreadedLocalServer::kMaxConnections);
        next.disconnectFromServer();
        QTRY_COMPARE(serverOf("Silenzio")->findChildren<LocalThread *>().size(), ThreadedLocalServer::kMaxConnections - 1);
        QLocalSocket later;
        QVERIFY(connectAndGreet(later, "Silenzio"));

        // Closing a server ends its connections, without destroying a running thread.
        auto server = std::make_unique<ThreadedLocalServer>("Chiusura", nullptr);
        QVERIFY(server->listen("chiusura"));
        QLocalSocket client;
        client.connectToServer("chiusura");
        QTRY_COMPARE(client.bytesAvailable(), qint64(frameOf("Chiusura").size()));
        QCOMPARE(server->findChildren<LocalThread *>().size(), 1);
        QElapsedTimer clock;
        clock.start();
        server.reset();
        QVERIFY(clock.elapsed() < 2500);
        QTRY_COMPARE(client.state(), QLocalSocket::UnconnectedState);
    }

    void laterStartWhileAnotherInstanceHoldsTheLock()
    {
        const QString name = socketNameOf("Cliente");
        const int savedIdle = LocalThread::idleTimeout();
        {
            HeldLock lock(name);
            {
                // Its server not up yet, or too busy to answer: this start is
                // the second one, and its send gives up within the time-outs.
                SingleApplication guard("Cliente");
                QVERIFY(guard.isRunning());
                QVERIFY(!SingleApplicationPrivate::serverFor(name));
                QElapsedTimer clock;
                clock.start();
                QVERIFY(!guard.sendMessage(QString()));
                QVERIFY(clock.elapsed() < 2500);
            }
            {
                ServerThread running("Cliente", name);
                QVERIFY(running.startListening());
                SingleApplication guard("Cliente");
                QVERIFY(guard.isRunning());
                LocalThread::setIdleTimeout(300);
                const bool first = guard.sendMessage("uno", 500);
                LocalThread::setIdleTimeout(savedIdle);
                QVERIFY(first);
                QTRY_COMPARE(running.messages(), QStringList{"uno"});

                // The running instance has meanwhile closed the idle connection
                // this guard kept (unnoticed: no event loop ran meanwhile). The
                // next send goes through on a new one.
                QThread::msleep(800);
                QVERIFY(guard.sendMessage("due", 500));
                QTRY_COMPARE(running.messages(), (QStringList{"uno", "due"}));
            }
            // Another program listening under the name greets with another key.
            ServerThread impostor("Altro", name);
            QVERIFY(impostor.startListening());
            QElapsedTimer clock;
            clock.start();
            QVERIFY(!SingleApplication::sendMessage("Cliente", "quattro", 500));
            QVERIFY(clock.elapsed() < 2500);
            QTest::qWait(100);
            QVERIFY(impostor.messages().isEmpty());
        }
        // Once the holder is gone the next start is the instance.
        SingleApplication guard("Cliente");
        QVERIFY(!guard.isRunning());
        QVERIFY(SingleApplicationPrivate::serverFor(name));
    }

    void segmentInTheWayDoesNotLockTheUserOut()
    {
        // A segment under the marker's key that no instance of ours holds (a
        // colliding key of another program, still attached): with the lock
        // free this start is the instance, and it serves without a marker.
        // (A socket file and a marker left by a killed instance: tst_startup.)
        CollidingSegment other;
        QVERIFY(other.address && other.address != reinterpret_cast<void *>(-1));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("continuing without the marker"));
        SingleApplication guard(other.guardKey);
        QVERIFY(!guard.isRunning());
        QVERIFY(serverOf(other.guardKey) && serverOf(other.guardKey)->isListening());
        QLocalSocket client;
        QVERIFY(connectAndGreet(client, other.guardKey));
    }
};

TAVREL_TEST_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
