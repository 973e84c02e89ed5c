// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "blobstore.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString hexOf(const unsigned char *digest, unsigned int length)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

bool fsyncDirectory(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

struct BlobStore::Writer::Digests
{
    EVP_MD_CTX *whole = EVP_MD_CTX_new();
    EVP_MD_CTX *first4k = EVP_MD_CTX_new();
    ~Digests()
    {
        EVP_MD_CTX_free(whole);
        EVP_MD_CTX_free(first4k);
    }
};

BlobStore::Writer::~Writer()
{
    discard();
}

void BlobStore::Writer::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_committed && !m_path.isEmpty())
        QFile::remove(m_path);
    m_path.clear();
}

bool BlobStore::Writer::write(const char *data, size_t length)
{
    if (m_fd < 0)
        return false;
    if (m_size < 4096) {
        const size_t head = std::min<size_t>(length, size_t(4096 - m_size));
        EVP_DigestUpdate(m_digests->first4k, data, head);
    }
    EVP_DigestUpdate(m_digests->whole, data, length);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(m_fd, data + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += size_t(n);
    }
    m_size += qint64(length);
    return true;
}

bool BlobStore::Writer::finish()
{
    if (m_fd < 0)
        return false;
    const bool synced = !m_durable || ::fsync(m_fd) == 0;
    ::close(m_fd);
    m_fd = -1;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_digests->whole, digest, &length);
    m_sha1 = hexOf(digest, length);
    EVP_DigestFinal_ex(m_digests->first4k, digest, &length);
    m_sha14k = hexOf(digest, length);
    return synced;
}

BlobStore::BlobStore(const QString &dataDir)
    : m_root(QDir(dataDir).filePath(QStringLiteral("blobs")))
    , m_tmp(QDir(dataDir).filePath(QStringLiteral("tmp")))
{
}

bool BlobStore::prepare(QString *error)
{
    if (!QDir().mkpath(m_root) || !QDir().mkpath(m_tmp)) {
        *error = QStringLiteral("impossibile creare le cartelle dei contenuti in %1").arg(m_root);
        return false;
    }
    // Temporaries belong to uploads that never finished; nothing refers to them.
    const QStringList leftovers = QDir(m_tmp).entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : leftovers)
        QFile::remove(QDir(m_tmp).filePath(name));
    return true;
}

std::unique_ptr<BlobStore::Writer> BlobStore::newWriter() const
{
    QByteArray pattern = QFile::encodeName(QDir(m_tmp).filePath(QStringLiteral("upload-XXXXXX")));
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<Writer> writer(new Writer);
    writer->m_fd = fd;
    writer->m_path = QFile::decodeName(pattern);
    writer->m_digests = std::make_unique<Writer::Digests>();
    EVP_DigestInit_ex(writer->m_digests->whole, EVP_sha1(), nullptr);
    EVP_DigestInit_ex(writer->m_digests->first4k, EVP_sha1(), nullptr);
    return writer;
}

bool BlobStore::commit(Writer &writer, QString *error) const
{
    if (writer.m_sha1.isEmpty() || writer.m_path.isEmpty()) {
        *error = QStringLiteral("contenuto non completato");
        return false;
    }
    const QString target = pathOf(writer.m_sha1);
    const QString dir = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("impossibile creare %1").arg(dir);
        return false;
    }
    // Held until the blob is in place, so that a removal of unused blobs
    // cannot take the address between the check and the use.
    std::lock_guard<std::mutex> guard(m_addressLock);
    if (QFileInfo::exists(target) && QFileInfo(target).size() == writer.m_size) {
        // Same address, same content: keep the blob that is already there,
        // marked as just used so that removeUnused() leaves it alone.
        ::utimensat(AT_FDCWD, QFile::encodeName(target).constData(), nullptr, 0);
        writer.discard();
        writer.m_committed = true;
        return true;
    }
    if (::rename(QFile::encodeName(writer.m_path).constData(), QFile::encodeName(target).constData()) != 0) {
        *error = QStringLiteral("impossibile spostare il contenuto: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    writer.m_committed = true;
    writer.m_path.clear();
    if (writer.m_durable && !fsyncDirectory(dir)) {
        *error = QStringLiteral("impossibile rendere persistente %1").arg(dir);
        return false;
    }
    return true;
}

bool BlobStore::store(const QByteArray &content, QString *sha1, QString *sha14k, QString *error, bool durable) const
{
    std::unique_ptr<Writer> writer = newWriter();
    if (!writer) {
        *error = QStringLiteral("impossibile creare un file temporaneo");
        return false;
    }
    writer->m_durable = durable;
    if (!writer->write(content.constData(), size_t(content.size())) || !writer->finish()) {
        *error = QStringLiteral("scrittura del contenuto non riuscita");
        return false;
    }
    if (!commit(*writer, error))
        return false;
    *sha1 = writer->sha1();
    *sha14k = writer->sha1First4k();
    return true;
}

void BlobStore::syncAll()
{
    ::sync();
}

QString BlobStore::pathOf(const QString &sha1) const
{
    return QDir(m_root).filePath(sha1.left(2) + QLatin1Char('/') + sha1);
}

bool BlobStore::removeUnused(const QString &sha1, qint64 unusedSince) const
{
    if (!isSha1(sha1))
        return false;
    const QByteArray path = QFile::encodeName(pathOf(sha1));
    std::lock_guard<std::mutex> guard(m_addressLock);
    struct stat info;
    if (::stat(path.constData(), &info) != 0 || info.st_mtime >= unusedSince)
        return false;
    return ::unlink(path.constData()) == 0;
}

bool BlobStore::contains(const QString &sha1) const
{
    return isSha1(sha1) && QFileInfo::exists(pathOf(sha1));
}

qint64 BlobStore::sizeOf(const QString &sha1) const
{
    if (!isSha1(sha1))
        return -1;
    QFileInfo info(pathOf(sha1));
    return info.exists() ? info.size() : -1;
}

bool BlobStore::isSha1(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-f]{40}$"));
    return re.match(text).hasMatch();
}
