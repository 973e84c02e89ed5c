// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef FINGERPRINT_H
#define FINGERPRINT_H

#include <QString>
#include <QtGlobal>

#include <functional>

// Content fingerprints of a local file, as 40 lower-case hexadecimal digits:
// the SHA-1 of the whole file (the file version's identity in the catalogue and
// in every request about it) and the SHA-1 of its first 4096 bytes. An empty
// string means that no fingerprint could be computed.
class Fingerprint
{
public:
    // SHA-1 of the whole file, read in 1 MiB blocks. After each block it reports
    // (file size, offset at which the block began) to `progress` and lets the
    // event loop process pending events once, so the caller's window stays
    // alive. "" when the file cannot be opened; a read error part-way through
    // ends the read and gives the digest of the bytes read so far.
    static QString getHash(const QString &path,
                           const std::function<void(qint64 maximum, qint64 value)> &progress = {});

    // The same digest as getHash, read without reporting progress and without
    // running the event loop: safe to call from inside a paint or a model read.
    static QString getHashQuiet(const QString &path);

    // SHA-1 of the first 4096 bytes (fewer for a short file), read once.
    // "" when the file cannot be opened or is empty.
    static QString getHash4k(const QString &path);

    // SHA-1 of a byte block, in the same text form.
    static QString hashOf(const QByteArray &bytes);
};

#endif // FINGERPRINT_H
