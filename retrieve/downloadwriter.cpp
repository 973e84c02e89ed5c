// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "retrieve/downloadwriter.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

DownloadWriter::DownloadWriter(const QString &target, QObject *parent)
    : QObject(parent)
    , m_target(target)
{
}

DownloadWriter::~DownloadWriter()
{
    discard();
}

bool DownloadWriter::open()
{
    const QFileInfo info(m_target);
    if (m_target.isEmpty() || info.isDir()) {
        m_error = tr("il percorso non indica un file");
        m_failed = true;
        return false;
    }
    // Replacing a file is refused where writing to it would be.
    if (info.exists() && !info.isWritable()) {
        m_error = tr("il file esistente non è scrivibile");
        m_failed = true;
        return false;
    }
    // In the target's folder, so the final rename never crosses file systems.
    m_file.setFileTemplate(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                           + QStringLiteral(".XXXXXX.part"));
    m_file.setAutoRemove(true);
    if (!m_file.open()) {
        m_error = m_file.errorString();
        m_failed = true;
        return false;
    }
    return true;
}

void DownloadWriter::attach(QNetworkReply *reply)
{
    if (!reply)
        return;
    m_reply = reply;
    reply->setReadBufferSize(ReadBufferSize);
    connect(reply, &QNetworkReply::metaDataChanged, this, &DownloadWriter::onMetaDataChanged);
    connect(reply, &QNetworkReply::readyRead, this, &DownloadWriter::onReadyRead);
    // A reply dropped without an end (a newer request, a sign-out) ends the
    // transfer too: nothing is written.
    connect(reply, &QObject::destroyed, this, [this] {
        if (!m_done)
            discard();
    });
}

bool DownloadWriter::carriesFile() const
{
    return m_reply && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
}

void DownloadWriter::onMetaDataChanged()
{
    // An error document is small and the connection reads it whole at the end:
    // it must not be held back by the streaming limit. A file gets the limit
    // again now that the transfer runs: the network layer's reading thread only
    // learns of a limit set once the request has started.
    if (!m_reply)
        return;
    if (!carriesFile())
        m_reply->setReadBufferSize(0);
    else
        m_reply->setReadBufferSize(ReadBufferSize);
}

void DownloadWriter::onReadyRead()
{
    if (carriesFile())
        drain();
}

void DownloadWriter::drain()
{
    while (m_reply && m_reply->bytesAvailable() > 0) {
        // What the reply holds is bounded by its read buffer.
        const QByteArray block = m_reply->readAll();
        if (block.isEmpty())
            break;
        if (m_failed || m_done)
            continue; // keep the socket moving until the abort lands
        if (m_file.write(block) != block.size()) {
            fail(m_file.errorString());
            // No point in fetching what cannot be stored; abort once this
            // handler has returned.
            QTimer::singleShot(0, m_reply.data(), &QNetworkReply::abort);
            continue;
        }
        m_written += block.size();
    }
}

void DownloadWriter::fail(const QString &error)
{
    if (!m_failed)
        m_error = error;
    m_failed = true;
}

DownloadWriter::Outcome DownloadWriter::finish(QNetworkReply *reply)
{
    if (reply && reply != m_reply)
        m_reply = reply;
    if (m_failed) {
        discard();
        return Outcome::WriteError;
    }
    if (!reply || reply->error() != QNetworkReply::NoError) {
        discard();
        return Outcome::NetworkError;
    }
    drain();
    if (!m_failed && !m_file.flush())
        fail(m_file.errorString());
    if (m_failed) {
        discard();
        return Outcome::WriteError;
    }
    m_done = true;

    // The replaced file's permissions carry over; a new file gets the usual
    // ones for this user rather than the temporary file's private ones.
    struct stat existing;
    mode_t mode;
    if (::stat(QFile::encodeName(m_target).constData(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(m_file.handle(), mode);

    if (::rename(QFile::encodeName(m_file.fileName()).constData(), QFile::encodeName(m_target).constData()) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        m_failed = true;
        discard();
        return Outcome::WriteError;
    }
    m_file.setAutoRemove(false);
    m_file.close();
    return Outcome::Written;
}

void DownloadWriter::discard()
{
    m_done = true;
    if (m_file.isOpen() && m_file.autoRemove()) {
        m_file.close();
        m_file.remove();
    }
}
