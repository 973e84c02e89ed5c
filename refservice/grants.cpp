// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "grants.h"

#include "sessions.h"

#include <QDateTime>

namespace {

constexpr qint64 ExhibitCodeLifetimeMs = 5 * 60 * 1000;
constexpr qint64 DownloadKeyLifetimeMs = 15 * 60 * 1000;

} // namespace

QString Grants::add(QHash<QString, Grant> &grants, qint64 fileId, int secretBytes, qint64 lifetimeMs)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // The ones whose time is over are forgotten as new ones come.
    grants.removeIf([now](const auto &it) { return it->expiresMs < now; });
    const QString secret = Sessions::newSecret(secretBytes);
    grants.insert(secret, Grant{fileId, now + lifetimeMs});
    return secret;
}

qint64 Grants::valid(const Grant &grant)
{
    return grant.expiresMs >= QDateTime::currentMSecsSinceEpoch() ? grant.fileId : 0;
}

QString Grants::newExhibitCode(qint64 fileId)
{
    QMutexLocker lock(&m_mutex);
    return add(m_exhibitCodes, fileId, 12, ExhibitCodeLifetimeMs);
}

qint64 Grants::takeExhibitCode(const QString &code)
{
    QMutexLocker lock(&m_mutex);
    return code.isEmpty() ? 0 : valid(m_exhibitCodes.take(code));
}

QString Grants::newDownloadKey(qint64 fileId)
{
    QMutexLocker lock(&m_mutex);
    return add(m_downloadKeys, fileId, 16, DownloadKeyLifetimeMs);
}

qint64 Grants::downloadKey(const QString &key)
{
    QMutexLocker lock(&m_mutex);
    return key.isEmpty() ? 0 : valid(m_downloadKeys.value(key));
}
