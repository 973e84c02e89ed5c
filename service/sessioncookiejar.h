// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SESSIONCOOKIEJAR_H
#define SESSIONCOOKIEJAR_H

#include <QNetworkCookieJar>
#include <QString>

// The cookie jar that every service connection of the process shares: it holds
// the service's session cookies and, while a user is signed in, that user's
// credentials. Each connection built on the jar signs in again with them when the
// session times out, and computes its synchronisation cursor for that user, so a
// window's own connection needs no credentials of its own. The main window sets
// them at sign-in and clears them at sign-out; it owns the jar.
class SessionCookieJar : public QNetworkCookieJar
{
    Q_OBJECT
public:
    explicit SessionCookieJar(QObject *parent = nullptr);

    void setCredentials(const QString &username, const QString &password);
    void clearCredentials();
    bool hasCredentials() const;
    QString username() const { return m_username; }
    QString password() const { return m_password; }

private:
    QString m_username;
    QString m_password;
};

#endif // SESSIONCOOKIEJAR_H
