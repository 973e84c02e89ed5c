// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef PROXYFIXTURE_H
#define PROXYFIXTURE_H

#include <QProcess>
#include <QString>
#include <memory>

// Runs squid on 127.0.0.1 (an ephemeral port) as an HTTP proxy that requires
// Basic authentication with one user name and password. Squid answers missing
// or wrong credentials with 407, so the client's proxy-authentication path runs
// for real. The configuration, password file and logs live in a directory of
// their own (readable by squid's unprivileged user when the test runs as root).
class ProxyFixture
{
public:
    ProxyFixture(const QString &username, const QString &password);
    ~ProxyFixture();
    ProxyFixture(const ProxyFixture &) = delete;
    ProxyFixture &operator=(const ProxyFixture &) = delete;

    // False (with errorString()) when squid or htpasswd is missing or squid
    // does not accept connections within a few seconds.
    bool start();
    QString errorString() const { return m_error; }
    int port() const { return m_port; }
    // Lines of squid's access log so far (one per request it handled).
    QStringList accessLog() const;

private:
    QString m_username;
    QString m_password;
    QString m_dir;
    int m_port = 0;
    std::unique_ptr<QProcess> m_process;
    QString m_error;
};

#endif // PROXYFIXTURE_H
