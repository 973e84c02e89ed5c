// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/fingerprint.h"

#include <QCoreApplication>
#include <QFile>

#include <openssl/evp.h>

#include <memory>
#include <vector>

namespace {

constexpr qint64 BlockSize = 1024 * 1024;
constexpr qint64 ShortSize = 4096;

struct MdCtxFree
{
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

MdCtx startSha1()
{
    MdCtx ctx(EVP_MD_CTX_new());
    if (ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr) != 1)
        ctx.reset();
    return ctx;
}

QString finishHex(EVP_MD_CTX *ctx)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx, digest, &length) != 1)
        return QString();
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

QString hashFile(const QString &path, const std::function<void(qint64, qint64)> &progress,
                 bool runEvents)
{
    std::vector<char> buffer(static_cast<size_t>(BlockSize));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();

    MdCtx ctx = startSha1();
    if (!ctx)
        return QString();

    qint64 offset = 0;
    for (;;) {
        const qint64 got = file.read(buffer.data(), BlockSize);
        if (got <= 0)
            break;
        EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(got));
        if (progress)
            progress(file.size(), offset);
        // Keep the caller's window responsive (repaints, Cancel, replies of
        // other connections) between blocks of a large file.
        if (runEvents)
            QCoreApplication::processEvents();
        offset += BlockSize;
    }
    file.close();
    return finishHex(ctx.get());
}

} // namespace

QString Fingerprint::getHash(const QString &path,
                             const std::function<void(qint64, qint64)> &progress)
{
    return hashFile(path, progress, true);
}

QString Fingerprint::getHashQuiet(const QString &path)
{
    return hashFile(path, {}, false);
}

QString Fingerprint::getHash4k(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    char buffer[ShortSize];
    const qint64 got = file.read(buffer, ShortSize);
    file.close();
    if (got <= 0)
        return QString();
    return hashOf(QByteArray::fromRawData(buffer, int(got)));
}

QString Fingerprint::hashOf(const QByteArray &bytes)
{
    MdCtx ctx = startSha1();
    if (!ctx)
        return QString();
    EVP_DigestUpdate(ctx.get(), bytes.constData(), static_cast<size_t>(bytes.size()));
    return finishHex(ctx.get());
}
