// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CONSERVEREQUEST_H
#define CONSERVEREQUEST_H

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

class QHttpMultiPart;
class QIODevice;

// The request documents of one preservation. Every value goes into the
// document through the XML library, so any text the user typed reaches the
// service as typed.
class ConserveRequest
{
public:
    // The "uploadfile" (or, for a rectification, "sostituiscifile") document
    // that travels in the "xml" part of the upload.
    static QByteArray uploadXml(bool rectification, int classId, const QDateTime &lastModified,
                                const QString &hash, const QString &previousHash);

    // The "savevaluemetadati" (or "sostituiscivaluemetadati") document with one
    // "metadato" element per value, in the order of the map (index ids
    // compared as text).
    static QByteArray conserveXml(bool rectification, const QString &hash, const QString &previousHash,
                                  int classId, const QString &computerName,
                                  const QMap<QString, QString> &values);

    // Content-Disposition of the file part: named with the full local path.
    static QByteArray fileDisposition(const QString &path);

    // The two-part upload body: the XML part, then the file part streamed from
    // `file`, which the returned body takes over.
    static QHttpMultiPart *multipart(const QByteArray &xml, const QString &path, QIODevice *file);
};

#endif // CONSERVEREQUEST_H
