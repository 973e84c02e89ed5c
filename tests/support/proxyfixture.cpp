// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/proxyfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString findProgram(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}
} // namespace

ProxyFixture::ProxyFixture(const QString &username, const QString &password)
    : m_username(username)
    , m_password(password)
{
}

ProxyFixture::~ProxyFixture()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
}

bool ProxyFixture::start()
{
    const QString squid = findProgram(QStringLiteral("squid"));
    const QString htpasswd = findProgram(QStringLiteral("htpasswd"));
    const QString helper = QStringLiteral("/usr/lib/squid/basic_ncsa_auth");
    if (squid.isEmpty() || htpasswd.isEmpty() || !QFile::exists(helper)) {
        m_error = QStringLiteral("squid, htpasswd or basic_ncsa_auth not installed (scripts/install-deps.sh)");
        return false;
    }

    // Squid drops root privileges to its own user: its directory must be
    // reachable from "/", which the test's private TMPDIR is not.
    QByteArray templ = "/tmp/tavrel-squid-XXXXXX";
    if (!::mkdtemp(templ.data())) {
        m_error = QStringLiteral("cannot create the proxy directory");
        return false;
    }
    m_dir = QString::fromLocal8Bit(templ);
    ::chmod(templ.constData(), 0777);

    const QString passwd = m_dir + QStringLiteral("/passwd");
    QProcess hp;
    hp.start(htpasswd, {QStringLiteral("-b"), QStringLiteral("-c"), passwd, m_username, m_password});
    if (!hp.waitForFinished(10000) || hp.exitCode() != 0) {
        m_error = QStringLiteral("htpasswd failed: ") + QString::fromLocal8Bit(hp.readAllStandardError());
        return false;
    }
    ::chmod(QFile::encodeName(passwd).constData(), 0644);

    m_port = freePort();
    const QString conf = m_dir + QStringLiteral("/squid.conf");
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write squid.conf");
        return false;
    }
    QString text;
    text += QStringLiteral("http_port 127.0.0.1:%1\n").arg(m_port);
    text += QStringLiteral("pid_filename %1/squid.pid\n").arg(m_dir);
    text += QStringLiteral("cache_log %1/cache.log\n").arg(m_dir);
    text += QStringLiteral("access_log stdio:%1/access.log\n").arg(m_dir);
    text += QStringLiteral("coredump_dir %1\n").arg(m_dir);
    text += QStringLiteral("netdb_filename none\n");
    text += QStringLiteral("cache deny all\ncache_mem 8 MB\nshutdown_lifetime 0 seconds\n");
    text += QStringLiteral("auth_param basic program %1 %2\n").arg(helper, passwd);
    text += QStringLiteral("auth_param basic children 2 startup=1 idle=1\n");
    text += QStringLiteral("auth_param basic realm tavrel-test\n");
    text += QStringLiteral("auth_param basic credentialsttl 1 second\n");
    text += QStringLiteral("acl authenticated proxy_auth REQUIRED\n");
    text += QStringLiteral("http_access allow authenticated\nhttp_access deny all\n");
    file.write(text.toUtf8());
    file.close();
    ::chmod(QFile::encodeName(conf).constData(), 0644);

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(squid, {QStringLiteral("-N"), QStringLiteral("-f"), conf});
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("squid did not start: ") + m_process->errorString();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        if (m_process->state() == QProcess::NotRunning) {
            m_error = QStringLiteral("squid stopped: ") + QString::fromLocal8Bit(m_process->readAll());
            QFile log(m_dir + QStringLiteral("/cache.log"));
            if (log.open(QIODevice::ReadOnly))
                m_error += QString::fromLocal8Bit(log.readAll().right(2000));
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(100);
    }
    m_error = QStringLiteral("squid does not accept connections on port %1").arg(m_port);
    return false;
}

QStringList ProxyFixture::accessLog() const
{
    QFile log(m_dir + QStringLiteral("/access.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
