// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uploadreceiver.h"

#include "servicerequest.h"
#include "servicereply.h"

namespace {

constexpr qint64 MaxXml = 4 * 1024 * 1024;
constexpr int MaxFileNameLength = 1024;

// The name the client gave the file, without control characters (nor the
// bytes of invalid UTF-8), and bounded.
QString cleanName(const QByteArray &raw)
{
    const QString name = QString::fromUtf8(raw);
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        if (c.category() != QChar::Other_Control && c != QChar::ReplacementCharacter)
            out.append(c);
    }
    return out.left(MaxFileNameLength);
}

} // namespace

UploadReceiver::UploadReceiver(const BlobStore &blobs, std::optional<Sessions::Session> session,
                               QHash<int, qint64> spaceLeft)
    : m_blobs(blobs)
    , m_spaceLeft(std::move(spaceLeft))
{
    m_received.session = std::move(session);
}

bool UploadReceiver::part(const QByteArray &name, quint64 offset, const char *bytes, size_t size)
{
    Received &r = m_received;
    if (name == "xml") {
        m_inFile = false;
        if (r.xml.size() + qint64(size) > MaxXml)
            r.xmlTooLong = true;
        else
            r.xml.append(bytes, qsizetype(size));
        return true;
    }
    if (offset == 0)
        startFile(name);
    if (m_inFile)
        writeFile(bytes, size);
    return true;
}

void UploadReceiver::startFile(const QByteArray &name)
{
    Received &r = m_received;
    m_inFile = ++r.fileParts == 1;
    if (!m_inFile || !r.session)
        return;
    r.fileName = cleanName(name);
    r.writer = m_blobs.newWriter();
    r.writeFailed = !r.writer;
    // The class is named by the part that came before the file.
    ServiceRequest request;
    QString error;
    int folderId = 0;
    if (request.parse(r.xml, &error) && request.numberField(QStringLiteral("idfolder"), &folderId))
        m_fileSpace = m_spaceLeft.value(folderId, -1);
}

void UploadReceiver::writeFile(const char *bytes, size_t size)
{
    Received &r = m_received;
    if (!r.writer || r.writeFailed || r.overQuota)
        return;
    if (m_fileSpace >= 0 && r.writer->size() + qint64(size) > m_fileSpace) {
        r.overQuota = true;
        r.writer->discard();
        return;
    }
    r.writeFailed = !r.writer->write(bytes, size);
}

void UploadReceiver::end(bool wellFormed)
{
    m_received.complete = wellFormed;
}
