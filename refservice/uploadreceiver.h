// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef UPLOADRECEIVER_H
#define UPLOADRECEIVER_H

#include "blobstore.h"
#include "httpexchange.h"
#include "sessions.h"

#include <QHash>

#include <memory>
#include <optional>

// Receives a two-part upload as it arrives: the part "xml" (the request
// document, at most 4 MiB kept) and one file part named with the file's full
// local path, streamed to a temporary file of the blob store while its SHA-1
// is computed; the file is never held in memory. It is written only for a
// live session, and no longer once it exceeds the space its class's profile
// has left (the rest is read and dropped).
class UploadReceiver : public BodySink
{
public:
    struct Received {
        std::optional<Sessions::Session> session;
        bool complete = false; // the form ended with its closing boundary
        QByteArray xml;
        bool xmlTooLong = false;
        int fileParts = 0;
        QString fileName; // the first file part's name, cleaned
        std::unique_ptr<BlobStore::Writer> writer;
        bool writeFailed = false;
        bool overQuota = false;
    };

    // `spaceLeft`: bytes each class of the user can still take (absent or
    // -1: no limit).
    UploadReceiver(const BlobStore &blobs, std::optional<Sessions::Session> session, QHash<int, qint64> spaceLeft);

    bool multipart() const override { return true; }
    bool part(const QByteArray &name, quint64 offset, const char *bytes, size_t size) override;
    void end(bool wellFormed) override;

    Received &received() { return m_received; }

private:
    void startFile(const QByteArray &name);
    void writeFile(const char *bytes, size_t size);

    const BlobStore &m_blobs;
    const QHash<int, qint64> m_spaceLeft;
    Received m_received;
    bool m_inFile = false;
    qint64 m_fileSpace = -1;
};

#endif // UPLOADRECEIVER_H
