// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/fingerprintcache.h"

#include "conserve/fingerprint.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
// Enough for any list on screen many times over; beyond it the cache starts again.
constexpr int kMaxEntries = 20000;
} // namespace

FingerprintCache &FingerprintCache::instance()
{
    static FingerprintCache cache;
    return cache;
}

void FingerprintCache::clear()
{
    m_entries.clear();
}

FingerprintCache::Entry *FingerprintCache::entryFor(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        m_entries.remove(path);
        return nullptr;
    }
    const qint64 size = info.size();
    const qint64 modified = info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
    const qint64 changed = info.fileTime(QFileDevice::FileMetadataChangeTime).toMSecsSinceEpoch();

    auto it = m_entries.find(path);
    if (it == m_entries.end()) {
        if (m_entries.size() >= kMaxEntries)
            m_entries.clear();
        it = m_entries.insert(path, Entry());
    }
    Entry &entry = it.value();
    if (entry.size != size || entry.modified != modified || entry.changed != changed) {
        entry = Entry();
        entry.size = size;
        entry.modified = modified;
        entry.changed = changed;
    }
    return &entry;
}

QString FingerprintCache::hashOf(const QString &path)
{
    Entry *entry = entryFor(path);
    if (!entry)
        return Fingerprint::getHashQuiet(path);
    if (!entry->hasHash) {
        ++m_fullReads;
        entry->hash = Fingerprint::getHashQuiet(path);
        // An unreadable file is tried again next time.
        entry->hasHash = !entry->hash.isEmpty();
    }
    return entry->hash;
}

QString FingerprintCache::head4kOf(const QString &path)
{
    Entry *entry = entryFor(path);
    if (!entry)
        return Fingerprint::getHash4k(path);
    if (!entry->hasHead) {
        ++m_headReads;
        entry->hash4k = Fingerprint::getHash4k(path);
        entry->hasHead = !entry->hash4k.isEmpty() || entry->size == 0;
    }
    return entry->hash4k;
}

bool FingerprintCache::matches(const QString &path, const QString &hash, const QString &hash4k)
{
    if (hash.isEmpty() || !QFileInfo(path).isFile())
        return false;
    // The head is only a shortcut when the catalogue holds a well-formed one;
    // otherwise the whole file decides, as it would without the shortcut.
    static const QRegularExpression wellFormed(QStringLiteral("^[0-9a-fA-F]{40}$"));
    if (wellFormed.match(hash4k).hasMatch()
        && head4kOf(path).compare(hash4k, Qt::CaseInsensitive) != 0)
        return false;
    return hashOf(path).compare(hash, Qt::CaseInsensitive) == 0;
}
