// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/cleanexit.h"
#include "support/testenv.h"

#include <QFile>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// True once the process has installed a handler for `sig` (from /proc).
bool catches(qint64 pid, int sig)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            return mask & (quint64(1) << (sig - 1));
        }
    }
    return false;
}

// Waits for a forked child; returns its wait status, or -1 if it is still
// running after `ms` milliseconds (then it is killed).
int reap(pid_t child, int ms)
{
    for (int waited = 0; waited < ms; waited += 10) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child)
            return status;
        ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}
} // namespace

class TestCleanExit : public QObject
{
    Q_OBJECT
private slots:
    void terminationSignalsEndTheClientWithZero_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGSEGV sent by another process") << int(SIGSEGV);
    }
    void terminationSignalsEndTheClientWithZero()
    {
        QFETCH(int, sig);
        QProcess client;
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(QStringLiteral(TAVREL_CLIENT_BIN), {});
        QVERIFY(client.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(catches(client.processId(), sig), 20000);
        // Still running with its handlers installed: nothing ends it by itself.
        QVERIFY(!client.waitForFinished(300));
        ::kill(pid_t(client.processId()), sig);
        QVERIFY(client.waitForFinished(20000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
    }

    void signalsAreDeliveredToTheEventLoop()
    {
        CleanExit cleanExit;
        cleanExit.attach();
        // A SIGTERM sent to ourselves while the loop runs ends that loop with 0.
        QTimer::singleShot(50, [] { ::kill(::getpid(), SIGTERM); });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    void brokenPipeDoesNotEndTheClient()
    {
        CleanExit cleanExit;
        cleanExit.attach();
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        ::close(fds[0]);
        const char byte = 'x';
        QCOMPARE(::write(fds[1], &byte, 1), ssize_t(-1));
        QCOMPARE(errno, EPIPE);
        ::close(fds[1]);
        QTimer::singleShot(300, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 7);
    }

    void realFaultIsNotResumed()
    {
        // A child with the handlers installed that really faults must die from
        // the fault, not spin re-executing the faulting instruction.
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            CleanExit cleanExit;
            ::raise(SIGFPE); // raised by the process itself: a fault
            ::_exit(0);
        }
        const int status = reap(child, 10000);
        QVERIFY2(status != -1, "the faulting child never ended");
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), int(SIGFPE));
    }
};

TAVREL_TEST_MAIN(TestCleanExit)
#include "tst_cleanexit.moc"
