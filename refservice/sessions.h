// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SESSIONS_H
#define SESSIONS_H

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVersionNumber>

#include <optional>

// The signed-in sessions, in memory: random identifiers carried by the
// session cookie, each ending after an idle time. Thread-safe.
class Sessions
{
public:
    static constexpr const char *CookieName = "TAVRELSESSION";

    struct Session {
        QString id, username;
        QVersionNumber version; // of the client that signed in
        qint64 lastSeenMs = 0;
    };

    explicit Sessions(int idleSeconds);

    // A new session for `username`; returns its identifier.
    QString open(const QString &username, const QVersionNumber &clientVersion);
    // The live session of that identifier, marked as used now; nullopt when
    // there is none or it has been idle too long.
    std::optional<Session> use(const QString &id);
    // Ends every session of `username` but `keepId`.
    void endOthers(const QString &username, const QString &keepId);
    void endAll();

    // A random identifier of `bytes` random bytes, in hexadecimal.
    static QString newSecret(int bytes);

private:
    void dropIdle(qint64 now);

    const qint64 m_idleMs;
    QMutex m_mutex;
    QHash<QString, Session> m_sessions;
};

#endif // SESSIONS_H
