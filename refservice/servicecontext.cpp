// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "servicecontext.h"

#include <QDateTime>

#include <cstdio>

ServiceContext::ServiceContext(const ServiceOptions &options)
    : options(options)
    , blobs(options.dataDir)
    , sessions(options.sessionIdleSeconds)
    , hooks(sessions)
    , m_minVersion(QVersionNumber::fromString(options.minVersion))
{
}

std::optional<Sessions::Session> ServiceContext::session(const HttpRequest &request)
{
    return sessions.use(QString::fromLatin1(request.cookie(Sessions::CookieName)));
}

std::optional<ServiceReply> ServiceContext::updateDemand(const QVersionNumber &clientVersion) const
{
    const bool outdated = !m_minVersion.isNull() && QVersionNumber::compare(clientVersion, m_minVersion) < 0;
    if (!hooks.updateDemanded() && !outdated)
        return std::nullopt;
    const QString wanted = m_minVersion.isNull() ? QStringLiteral("più recente") : m_minVersion.toString();
    return ServiceReply::failure(
        QString::fromLatin1(Status::ToUpdate),
        QStringLiteral("È disponibile una nuova versione di Tavrel Lite (%1). Per continuare a usare il servizio "
                       "è necessario aggiornare l'applicazione: premi \"Procedi\" per scaricare l'aggiornamento.")
            .arg(wanted));
}

qint64 ServiceContext::uploadCutoff() const
{
    return QDateTime::currentSecsSinceEpoch() - options.uploadKeepSeconds;
}

void ServiceContext::sweepUploads()
{
    m_lastSweepMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 cutoff = uploadCutoff();
    int removed = 0;
    for (const QString &hash : store.expireUploads(cutoff))
        removed += blobs.removeUnused(hash, cutoff) ? 1 : 0;
    if (removed > 0)
        std::fprintf(stderr, "tavrel-refservice: removed %d uploaded file(s) never preserved\n", removed);
}

void ServiceContext::sweepUploadsWhenDue()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 last = m_lastSweepMs.load();
    const qint64 interval = std::max<qint64>(1000, options.uploadKeepSeconds * 1000 / 4);
    if (now - last >= interval && m_lastSweepMs.compare_exchange_strong(last, now))
        sweepUploads();
}
