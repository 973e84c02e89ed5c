// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "refservicefixture.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

#ifndef TAVREL_REFSERVICE_BIN
#define TAVREL_REFSERVICE_BIN ""
#endif

RefServiceFixture::RefServiceFixture(const QString &seedFile)
    : m_seedFile(seedFile)
{
}

RefServiceFixture::~RefServiceFixture()
{
    stop();
}

bool RefServiceFixture::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString RefServiceFixture::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

qint64 RefServiceFixture::processId() const
{
    return isRunning() ? m_process->processId() : 0;
}

QString RefServiceFixture::dataDir() const
{
    return m_data ? m_data->path() : QString();
}

bool RefServiceFixture::start(const QStringList &extraArgs)
{
    m_extraArgs = extraArgs;
    if (!m_data) {
        m_data = std::make_unique<QTemporaryDir>();
        if (!m_data->isValid()) {
            m_error = QStringLiteral("cannot create a temporary data directory");
            return false;
        }
    }
    return launch(0);
}

bool RefServiceFixture::launch(int port)
{
    const QString binary = QStringLiteral(TAVREL_REFSERVICE_BIN);
    if (binary.isEmpty()) {
        m_error = QStringLiteral("the build has no tavrel-refservice target");
        return false;
    }
    QStringList args = {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port),
                        QStringLiteral("--data"), m_data->path()};
    if (m_testHooks)
        args << QStringLiteral("--test-hooks");
    if (!m_seedFile.isEmpty())
        args << QStringLiteral("--seed") << m_seedFile;
    args << m_extraArgs;

    m_process = std::make_unique<QProcess>();
    // A test that crashes never runs this fixture's destructor: the service
    // then goes with it instead of lingering on its port.
    const pid_t testPid = ::getpid();
    m_process->setChildProcessModifier([testPid] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != testPid)
            ::_exit(1);
    });
    m_diagnostics.clear();
    QObject::connect(m_process.get(), &QProcess::readyReadStandardError, m_process.get(),
                     [this] { forwardDiagnostics(); });
    m_process->start(binary, args);
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(binary, m_process->errorString());
        return false;
    }
    // Under the sanitizers a cold start takes a few seconds.
    QDeadlineTimer deadline(30000);
    QByteArray output;
    while (!deadline.hasExpired()) {
        if (!m_process->canReadLine() && !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process->state() != QProcess::Running)
                break;
            continue;
        }
        while (m_process->canReadLine()) {
            const QByteArray line = m_process->readLine().trimmed();
            output += line + '\n';
            if (line.startsWith("listening on ")) {
                const int colon = line.lastIndexOf(':');
                m_port = line.mid(colon + 1).toInt();
                return m_port > 0;
            }
        }
    }
    m_process->kill();
    m_process->waitForFinished(5000);
    forwardDiagnostics();
    m_error = QStringLiteral("tavrel-refservice did not start listening (exit code %1): %2%3")
                  .arg(m_process->exitCode())
                  .arg(QString::fromLocal8Bit(output), QString::fromLocal8Bit(m_diagnostics));
    return false;
}

void RefServiceFixture::forwardDiagnostics()
{
    const QByteArray bytes = m_process->readAllStandardError();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    if (m_diagnostics.size() < 65536)
        m_diagnostics += bytes;
}

bool RefServiceFixture::stop()
{
    if (!m_process)
        return true;
    bool clean = true;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(15000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
            clean = false;
        }
    }
    clean = clean && m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
    forwardDiagnostics();
    m_process.reset();
    return clean;
}

void RefServiceFixture::kill9()
{
    if (!m_process)
        return;
    m_process->kill();
    m_process->waitForFinished(5000);
    forwardDiagnostics();
    m_process.reset();
}

bool RefServiceFixture::restart()
{
    if (!m_data) {
        m_error = QStringLiteral("restart() before start()");
        return false;
    }
    stop();
    const int previous = m_port;
    if (previous > 0 && launch(previous))
        return true;
    return launch(0);
}

bool RefServiceFixture::hook(const QString &name, const QList<QPair<QString, QString>> &query)
{
    QByteArray target = "/kvshop/TestHooks/" + name.toLatin1();
    for (int i = 0; i < query.size(); ++i) {
        target += (i == 0 ? '?' : '&') + QUrl::toPercentEncoding(query.at(i).first) + '='
            + QUrl::toPercentEncoding(query.at(i).second);
    }
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
    if (!socket.waitForConnected(5000)) {
        m_error = QStringLiteral("test hook %1: %2").arg(name, socket.errorString());
        return false;
    }
    socket.write("POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket.waitForBytesWritten(5000);
    QByteArray reply;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        if (socket.waitForReadyRead(100))
            reply += socket.readAll();
    }
    reply += socket.readAll();
    if (!reply.startsWith("HTTP/1.1 200")) {
        m_error = QStringLiteral("test hook %1 answered: %2").arg(name, QString::fromLatin1(reply.left(200)));
        return false;
    }
    return true;
}

bool RefServiceFixture::expireSessions()
{
    return hook(QStringLiteral("expire-sessions"), {});
}

bool RefServiceFixture::demandUpdate(bool on)
{
    return hook(QStringLiteral("demand-update"), {{QStringLiteral("on"), on ? QStringLiteral("1") : QStringLiteral("0")}});
}

bool RefServiceFixture::failNext(const QString &action, const QString &code, const QString &description)
{
    return hook(QStringLiteral("fail-next"), {{QStringLiteral("action"), action},
                                              {QStringLiteral("code"), code},
                                              {QStringLiteral("description"), description}});
}

bool RefServiceFixture::delayNext(int ms)
{
    return hook(QStringLiteral("delay-next"), {{QStringLiteral("ms"), QString::number(ms)}});
}
