// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sessions.h"

#include <QDateTime>

#include <openssl/rand.h>

Sessions::Sessions(int idleSeconds)
    : m_idleMs(qint64(idleSeconds) * 1000)
{
}

QString Sessions::newSecret(int bytes)
{
    QByteArray raw(bytes, '\0');
    RAND_bytes(reinterpret_cast<unsigned char *>(raw.data()), int(raw.size()));
    return QString::fromLatin1(raw.toHex());
}

QString Sessions::open(const QString &username, const QVersionNumber &clientVersion)
{
    const QString id = newSecret(24);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QMutexLocker lock(&m_mutex);
    // Sessions left idle are forgotten here, so the table does not grow forever.
    dropIdle(now);
    m_sessions.insert(id, Session{id, username, clientVersion, now});
    return id;
}

std::optional<Sessions::Session> Sessions::use(const QString &id)
{
    if (id.isEmpty())
        return std::nullopt;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QMutexLocker lock(&m_mutex);
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return std::nullopt;
    if (now - it->lastSeenMs > m_idleMs) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    it->lastSeenMs = now;
    return it.value();
}

void Sessions::endOthers(const QString &username, const QString &keepId)
{
    QMutexLocker lock(&m_mutex);
    m_sessions.removeIf([&](const auto &it) { return it->username == username && it.key() != keepId; });
}

void Sessions::endAll()
{
    QMutexLocker lock(&m_mutex);
    m_sessions.clear();
}

void Sessions::dropIdle(qint64 now)
{
    m_sessions.removeIf([&](const auto &it) { return now - it->lastSeenMs > m_idleMs; });
}
