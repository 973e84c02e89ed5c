// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/constants.h"
#include "app/instancelock.h"
#include "app/singleapplication.h"
#include "app/singleapplication_p.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QProcess>
#include <QSharedMemory>

#include <csignal>
#include <memory>
#include <pwd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A second start must be done well within a second; the bound leaves room for
// the sanitizers and a loaded two-core machine.
constexpr int kHandOverBoundMs = 1500;

QString guardName(const QString &login = SingleApplicationPrivate::loginName())
{
    return SingleApplicationPrivate::socketNameFor(SingleApplicationPrivate::cleanKey(QStringLiteral(APP_GUID)),
                                                   login);
}

QString socketPath(const QString &tempDir = QDir::tempPath(), const QString &login = SingleApplicationPrivate::loginName())
{
    return tempDir + QLatin1Char('/') + guardName(login);
}

// The process that created the guard's marker segment, 0 when there is none.
pid_t markerCreator()
{
    const QString keyFile = QSharedMemory(guardName()).nativeKey();
    const int id = ::shmget(::ftok(QFile::encodeName(keyFile).constData(), 'Q'), 0, 0);
    struct shmid_ds info = {};
    return id >= 0 && ::shmctl(id, IPC_STAT, &info) == 0 ? info.shm_cpid : 0;
}

// How the client is started, when not simply as this test.
struct Start
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString workingDirectory;
    QString user; // run as this user (the test must be root)
};

// The real client, in this test's private environment, logging the messages
// its guard receives.
class Client
{
public:
    explicit Client(Start start = {})
    {
        start.env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tavrel.guard.debug=true"));
        m_process.setProcessEnvironment(start.env);
        m_process.setWorkingDirectory(start.workingDirectory);
        if (start.user.isEmpty()) {
            m_process.setProgram(QStringLiteral(TAVREL_CLIENT_BIN));
        } else {
            const struct passwd *user = ::getpwnam(start.user.toLocal8Bit().constData());
            m_process.setProgram(QStringLiteral("setpriv"));
            m_process.setArguments({QStringLiteral("--reuid=%1").arg(user ? user->pw_uid : 0),
                                    QStringLiteral("--regid=%1").arg(user ? user->pw_gid : 0),
                                    QStringLiteral("--clear-groups"), QStringLiteral(TAVREL_CLIENT_BIN)});
        }
        m_serving = socketPath(start.env.value("TMPDIR", QDir::tempPath()),
                               start.user.isEmpty() ? SingleApplicationPrivate::loginName() : start.user);
        m_clock.start();
        m_process.start();
        m_process.waitForStarted(10000);
    }
    ~Client()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGCONT);
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess &process() { return m_process; }
    qint64 sinceStart() const { return m_clock.elapsed(); }
    bool running() const { return m_process.state() == QProcess::Running; }
    void signal(int sig) { ::kill(pid_t(m_process.processId()), sig); }

    // Waits until this client is the running instance and serves its socket:
    // it greets a connection once its event loop runs (the socket exists a
    // little earlier, while the rest of the start-up is still under way).
    bool waitUntilServing()
    {
        const QString key = SingleApplicationPrivate::cleanKey(QStringLiteral(APP_GUID));
        return QTest::qWaitFor(
                   [&] {
                       if (!running())
                           return true;
                       QLocalSocket probe;
                       probe.connectToServer(m_serving);
                       if (!probe.waitForConnected(1000) || !probe.waitForReadyRead(5000))
                           return false;
                       bool greeted = false;
                       return readMessage(&probe, &greeted) == key && greeted;
                   },
                   20000)
               && running();
    }

    // Number of messages its guard has logged with exactly this text.
    int received(const QString &text)
    {
        const QByteArray line = "tavrel.guard: message received: \"" + text.toUtf8() + "\"\n";
        return int(log().count(line));
    }

    // What it wrote to its standard error so far.
    QByteArray log()
    {
        m_log += m_process.readAllStandardError();
        return m_log;
    }

    bool endsWithZero(int ms)
    {
        return m_process.waitForFinished(ms) && m_process.exitStatus() == QProcess::NormalExit
               && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QElapsedTimer m_clock;
    QByteArray m_log;
    QString m_serving; // the guard's socket once it runs
};

// Runs xdotool on the test's X server; what it printed, "" after 10 s.
QString xdotool(const QStringList &arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished();
        return QString();
    }
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

// Starts the client a second time; returns how long it took to hand over and
// end with 0, or -1 if it did not.
qint64 handOver()
{
    Client second;
    const bool ended = second.endsWithZero(20000);
    qInfo("second start ended after %lld ms", second.sinceStart());
    return ended ? second.sinceStart() : -1;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void secondStartHandsOverAndEnds()
    {
        // Started where a folder holds plug-in directories: Qt must not look
        // for plug-ins there.
        Start start;
        start.workingDirectory = QDir::tempPath() + "/cartella di lavoro";
        for (const char *kind : {"sqldrivers", "imageformats", "platforms", "iconengines", "styles"})
            QVERIFY(QDir().mkpath(start.workingDirectory + "/" + kind));
        start.env.insert("QT_DEBUG_PLUGINS", "1");
        Client first(start);
        QVERIFY(first.waitUntilServing());
        QVERIFY(first.log().contains("checking directory path"));
        QVERIFY(!first.log().contains(QFile::encodeName(start.workingDirectory)));

        const qint64 elapsed = handOver();
        QVERIFY2(elapsed >= 0 && elapsed < kHandOverBoundMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
        QTRY_COMPARE(first.received(QString()), 1);
        QVERIFY(first.running());

        // The hand-over is acknowledged by the running instance.
        QVERIFY(SingleApplication::sendMessage(QStringLiteral(APP_GUID), QStringLiteral("dal test"), 500));
        QTRY_COMPARE(first.received(QStringLiteral("dal test")), 1);

        // A running instance that holds no lock (an older build, during an
        // upgrade) is found through its socket and keeps it.
        QVERIFY(QFile::remove(InstanceLock::lockFilePath(guardName())));
        const qint64 withoutLock = handOver();
        QVERIFY2(withoutLock >= 0 && withoutLock < kHandOverBoundMs, qPrintable(QStringLiteral("%1 ms").arg(withoutLock)));
        QTRY_COMPARE(first.received(QString()), 2);
        QVERIFY(SingleApplication::sendMessage(QStringLiteral(APP_GUID), QStringLiteral("ancora"), 500));
        QTRY_COMPARE(first.received(QStringLiteral("ancora")), 1);

        first.signal(SIGTERM);
        QVERIFY(first.endsWithZero(20000));
        QVERIFY(!QFileInfo::exists(socketPath()));
    }

    void killedInstanceIsTakenOver()
    {
        qint64 crashedPid = 0;
        {
            Client crashed;
            QVERIFY(crashed.waitUntilServing());
            crashedPid = crashed.process().processId();
            crashed.process().kill(); // SIGKILL: nothing is cleaned up
            QVERIFY(crashed.process().waitForFinished(5000));
        }
        // Left behind: its socket file and its marker.
        QVERIFY(QFileInfo::exists(socketPath()));
        QCOMPARE(markerCreator(), pid_t(crashedPid));

        // Taken over: both are removed and made anew.
        Client next;
        QVERIFY(next.waitUntilServing());
        QVERIFY(!next.process().waitForFinished(500));
        QCOMPARE(markerCreator(), pid_t(next.process().processId()));
        QVERIFY(SingleApplication::sendMessage(QStringLiteral(APP_GUID), QStringLiteral("eccomi"), 500));
        QTRY_COMPARE(next.received(QStringLiteral("eccomi")), 1);

        // And it is now respected like any running instance.
        const qint64 elapsed = handOver();
        QVERIFY2(elapsed >= 0 && elapsed < kHandOverBoundMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
        QTRY_COMPARE(next.received(QString()), 1);

        next.signal(SIGTERM);
        QVERIFY(next.endsWithZero(20000));
        QCOMPARE(markerCreator(), pid_t(0));
        QVERIFY(!QFileInfo::exists(socketPath()));
    }

    void unresponsiveInstanceIsStillRespected()
    {
        Client first;
        QVERIFY(first.waitUntilServing());
        first.signal(SIGSTOP);

        const qint64 elapsed = handOver();
        QVERIFY2(elapsed >= 0 && elapsed < kHandOverBoundMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));

        first.signal(SIGCONT);
        QVERIFY(!first.process().waitForFinished(300));
        QVERIFY(SingleApplication::sendMessage(QStringLiteral(APP_GUID), QStringLiteral("sveglia"), 500));
        QTRY_COMPARE(first.received(QStringLiteral("sveglia")), 1);

        // SIGINT ends it in order too, taking the guard's socket away.
        first.signal(SIGINT);
        QVERIFY(first.endsWithZero(20000));
        QVERIFY(!QFileInfo::exists(socketPath()));
    }

    void catalogueOfAnotherUserDoesNotStopTheClient()
    {
        // As after running the client once with sudo: the catalogue belongs to
        // root and is closed to its user. The client, started as another user,
        // says so and runs on.
        if (::getuid() != 0)
            QSKIP("a file of another user can only be made by root");
        const struct passwd *nobody = ::getpwnam("nobody");
        QVERIFY(nobody);
        const QString root = TestEnv::instance()->root();
        const QString home = root + "/nobody";
        QCOMPARE(::chmod(QFile::encodeName(root).constData(), 0711), 0);
        Start start;
        for (const char *dir : {"", "/.config", "/.config/TavrelLite", "/.local/share", "/.cache", "/run", "/tmp"}) {
            QVERIFY(QDir().mkpath(home + dir));
            QCOMPARE(::chown(QFile::encodeName(home + dir).constData(), nobody->pw_uid, nobody->pw_gid), 0);
            QCOMPARE(::chmod(QFile::encodeName(home + dir).constData(), 0700), 0);
        }
        for (const auto &[name, dir] : {std::pair{"HOME", ""}, {"XDG_CONFIG_HOME", "/.config"},
                                        {"XDG_DATA_HOME", "/.local/share"}, {"XDG_CACHE_HOME", "/.cache"},
                                        {"XDG_RUNTIME_DIR", "/run"}, {"TMPDIR", "/tmp"}})
            start.env.insert(name, home + dir);
        const QString catalogue = home + "/.config/TavrelLite/tavrellite.db";
        QFile file(catalogue);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("di root") == 7);
        file.close();
        QCOMPARE(::chmod(QFile::encodeName(catalogue).constData(), 0600), 0);

        start.user = "nobody";
        Client client(start);
        QVERIFY(client.waitUntilServing());
        QTRY_VERIFY2(client.log().contains(QFile::encodeName("Il file\n" + catalogue
                                                             + "\nappartiene a un altro utente (root)")),
                     client.log().right(2000).constData());
        QCOMPARE(QFileInfo(catalogue).ownerId(), 0u);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("di root"));
        client.signal(SIGTERM);
        QVERIFY(client.endsWithZero(20000));
    }

    // On a desktop without a tray, the no-tray warning and the login dialog
    // are both up, and Escape pressed in the login dialog ends the client in
    // order: nothing would bring it back otherwise.
    void closingTheLoginDialogEndsTheClient()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server of its own: run as tst_startup_xvfb");
        Client client;
        QVERIFY(client.waitUntilServing());
        QVERIFY(!xdotool({"search", "--sync", "--onlyvisible", "--name", "^Errore$"}).isEmpty());
        const QString login = xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tavrel Lite$"});
        QVERIFY(!login.isEmpty() && !login.contains('\n'));
        xdotool({"windowfocus", "--sync", login});
        xdotool({"key", "Escape"});
        QVERIFY(client.endsWithZero(20000));
        QVERIFY(!QFileInfo::exists(socketPath()));
    }
};

TAVREL_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
