// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef DOWNLOADWRITER_H
#define DOWNLOADWRITER_H

#include <QObject>
#include <QPointer>
#include <QTemporaryFile>
#include <QString>

class QNetworkReply;

// Writes a restored file to the path the user chose, without ever putting a
// good file at risk: the bytes go, as they arrive, to a hidden temporary file
// beside the target, and only a complete transfer that was written in full
// replaces the target, by one rename. A failed, refused or cancelled transfer
// leaves the target as it was and removes the temporary file. The file is not
// forced to disk before the rename: the replacement is atomic for every
// program, and the file system orders the data before a replacing rename.
//
// Only a reply with HTTP status 200 carries the file; any other reply is left
// unread for the connection, which parses an error document from it.
class DownloadWriter : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Written, NetworkError, WriteError };

    // The reply's read buffer while streaming: the network layer stops reading
    // from the socket while this much is waiting, so memory stays bounded
    // whatever the file's size.
    static constexpr qint64 ReadBufferSize = 2 * 1024 * 1024;

    explicit DownloadWriter(const QString &target, QObject *parent = nullptr);
    ~DownloadWriter() override;

    QString target() const { return m_target; }
    // Creates the temporary file; false (see errorString()) when the target's
    // folder cannot take it.
    bool open();
    // Streams the reply's body to the temporary file as it arrives.
    void attach(QNetworkReply *reply);
    // Ends the transfer of `reply`: on success the rest of the body is written
    // and the target replaced; otherwise nothing is written.
    Outcome finish(QNetworkReply *reply);
    // Drops the temporary file; the target is left untouched.
    void discard();

    QString errorString() const { return m_error; }
    qint64 bytesWritten() const { return m_written; }

private slots:
    void onMetaDataChanged();
    void onReadyRead();

private:
    bool carriesFile() const;
    void drain();
    void fail(const QString &error);

    QString m_target;
    QTemporaryFile m_file;
    QPointer<QNetworkReply> m_reply;
    qint64 m_written = 0;
    bool m_failed = false;
    bool m_done = false;
    QString m_error;
};

#endif // DOWNLOADWRITER_H
