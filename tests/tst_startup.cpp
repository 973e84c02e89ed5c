// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/constants.h"
#include "app/singleapplication.h"
#include "app/singleapplication_p.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QProcess>

#include <csignal>
#include <memory>

namespace {

// A second start must be done well within a second; the bound leaves room for
// the sanitizers and a loaded two-core machine.
constexpr int kHandOverBoundMs = 1500;

QString socketPath()
{
    const QString name = SingleApplicationPrivate::socketNameFor(
        SingleApplicationPrivate::cleanKey(QStringLiteral(APP_GUID)), SingleApplicationPrivate::loginName());
    return QDir::tempPath() + QLatin1Char('/') + name;
}

// The real client, in this test's private environment, logging the messages
// its guard receives.
class Client
{
public:
    Client()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tavrel.guard.debug=true"));
        m_process.setProcessEnvironment(env);
        m_process.setProgram(QStringLiteral(TAVREL_CLIENT_BIN));
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
                       probe.connectToServer(socketPath());
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
        m_log += m_process.readAllStandardError();
        const QByteArray line = "tavrel.guard: message received: \"" + text.toUtf8() + "\"\n";
        return int(m_log.count(line));
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
        Client first;
        QVERIFY(first.waitUntilServing());

        const qint64 elapsed = handOver();
        QVERIFY2(elapsed >= 0 && elapsed < kHandOverBoundMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
        QTRY_COMPARE(first.received(QString()), 1);
        QVERIFY(first.running());

        // The hand-over is acknowledged by the running instance.
        QVERIFY(SingleApplication::sendMessage(QStringLiteral(APP_GUID), QStringLiteral("dal test"), 500));
        QTRY_COMPARE(first.received(QStringLiteral("dal test")), 1);

        first.signal(SIGTERM);
        QVERIFY(first.endsWithZero(20000));
        QVERIFY(!QFileInfo::exists(socketPath()));
    }

    void killedInstanceIsTakenOver()
    {
        {
            Client crashed;
            QVERIFY(crashed.waitUntilServing());
            crashed.process().kill(); // SIGKILL: nothing is cleaned up
            QVERIFY(crashed.process().waitForFinished(5000));
        }
        QVERIFY(QFileInfo::exists(socketPath())); // left behind

        Client next;
        QVERIFY(next.waitUntilServing());
        QVERIFY(!next.process().waitForFinished(500));
        QVERIFY(SingleApplication::sendMessage(QStringLiteral(APP_GUID), QStringLiteral("eccomi"), 500));
        QTRY_COMPARE(next.received(QStringLiteral("eccomi")), 1);

        // And it is now respected like any running instance.
        const qint64 elapsed = handOver();
        QVERIFY2(elapsed >= 0 && elapsed < kHandOverBoundMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
        QTRY_COMPARE(next.received(QString()), 1);

        next.signal(SIGTERM);
        QVERIFY(next.endsWithZero(20000));
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
