// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef BLOBSTORE_H
#define BLOBSTORE_H

#include <QByteArray>
#include <QString>

#include <memory>
#include <mutex>

// Content-addressed storage of preserved files: each blob lives at
// blobs/<first two hex digits>/<40-digit SHA-1>. A blob only ever appears under
// its final name complete and flushed to disk (written to a temporary file,
// fsync'd, renamed, directory fsync'd), so a crash never leaves a partial blob
// where a reader could find it.
class BlobStore
{
public:
    // Streams incoming bytes to a temporary file while computing the SHA-1 of
    // the whole content and of its first 4096 bytes. Never holds the content.
    class Writer
    {
    public:
        ~Writer();
        Writer(const Writer &) = delete;
        Writer &operator=(const Writer &) = delete;

        bool write(const char *data, size_t length);
        // Flushes the file to disk and computes the digests; call once.
        bool finish();
        QString sha1() const { return m_sha1; }
        QString sha1First4k() const { return m_sha14k; }
        qint64 size() const { return m_size; }
        QString tempPath() const { return m_path; }
        // Drops the temporary file (also done by the destructor when the
        // content was not committed to the store).
        void discard();

    private:
        friend class BlobStore;
        Writer() = default;
        int m_fd = -1;
        QString m_path;
        qint64 m_size = 0;
        struct Digests;
        std::unique_ptr<Digests> m_digests;
        QString m_sha1;
        QString m_sha14k;
        bool m_committed = false;
        bool m_durable = true;
    };

    explicit BlobStore(const QString &dataDir);

    // Creates the directories and removes temporaries left by a crash.
    bool prepare(QString *error);

    // A new writer on a fresh temporary file, or null when none can be created.
    std::unique_ptr<Writer> newWriter() const;
    // Moves a finished writer's file to its content address. When a blob with
    // that address exists already the temporary file is dropped instead.
    bool commit(Writer &writer, QString *error) const;
    // Stores an in-memory content (used for seeded documents). With `durable`
    // false the file is not flushed one by one: the caller flushes the whole
    // file system (syncAll) before relying on it.
    bool store(const QByteArray &content, QString *sha1, QString *sha14k, QString *error, bool durable = true) const;
    static void syncAll();

    // Removes the blob when it was neither written nor committed again since
    // `unusedSince` (seconds since the epoch); the caller has established that
    // nothing refers to it. True when it was removed.
    bool removeUnused(const QString &sha1, qint64 unusedSince) const;

    QString pathOf(const QString &sha1) const;
    bool contains(const QString &sha1) const;
    qint64 sizeOf(const QString &sha1) const;

    static bool isSha1(const QString &text);

private:
    QString m_root;
    QString m_tmp;
    mutable std::mutex m_addressLock;
};

#endif // BLOBSTORE_H
