// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef FINGERPRINTCACHE_H
#define FINGERPRINTCACHE_H

#include <QHash>
#include <QString>
#include <QtGlobal>

// Fingerprints of local files, remembered per path for as long as the file's
// size, modification time and status-change time stay the same, so that a
// list repainted many times reads each local file once. The file list asks it
// whether a preserved file is still on this computer unchanged.
class FingerprintCache
{
public:
    static FingerprintCache &instance();

    // SHA-1 of the whole file ("" when it cannot be read).
    QString hashOf(const QString &path);
    // SHA-1 of the first 4096 bytes ("" when unreadable or empty).
    QString head4kOf(const QString &path);

    // True when `path` is a file whose content has fingerprint `hash`. When
    // `hash4k` is given and the file's first 4096 bytes do not have it, the
    // answer is false at once, without reading the rest of the file.
    bool matches(const QString &path, const QString &hash, const QString &hash4k = QString());

    void clear();
    // How many times a whole file / a file head was actually read (for tests).
    int fullReads() const { return m_fullReads; }
    int headReads() const { return m_headReads; }

private:
    struct Entry
    {
        qint64 size = -1;
        qint64 modified = 0;
        qint64 changed = 0;
        QString hash;
        QString hash4k;
        bool hasHash = false;
        bool hasHead = false;
    };
    // The entry of `path`, reset when the file changed since it was made;
    // nullptr when there is no file at `path`.
    Entry *entryFor(const QString &path);

    QHash<QString, Entry> m_entries;
    int m_fullReads = 0;
    int m_headReads = 0;
};

#endif // FINGERPRINTCACHE_H
