// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SERVICECONTEXT_H
#define SERVICECONTEXT_H

#include "blobstore.h"
#include "grants.h"
#include "httpexchange.h"
#include "refstore.h"
#include "servicereply.h"
#include "serviceoptions.h"
#include "sessions.h"
#include "testhooks.h"

#include <QVersionNumber>

#include <atomic>
#include <optional>

// What the service's handlers share: the options, the storage, the sessions,
// the one-time grants and the test hooks. Thread-safe, like its parts.
class ServiceContext
{
public:
    explicit ServiceContext(const ServiceOptions &options);

    const ServiceOptions options;
    RefStore store;
    BlobStore blobs;
    Sessions sessions;
    Grants grants;
    TestHooks hooks;

    // The live session of the request's cookie, refreshed.
    std::optional<Sessions::Session> session(const HttpRequest &request);
    // "31" when a client of that version must be updated before use.
    std::optional<ServiceReply> updateDemand(const QVersionNumber &clientVersion) const;

    // Uploads made before this time (seconds since the epoch) and never
    // preserved are forgotten.
    qint64 uploadCutoff() const;
    // Forgets those uploads and removes the contents nothing else refers to.
    void sweepUploads();
    // The same, at most every quarter of the keeping time.
    void sweepUploadsWhenDue();

private:
    const QVersionNumber m_minVersion;
    std::atomic<qint64> m_lastSweepMs{0};
};

#endif // SERVICECONTEXT_H
