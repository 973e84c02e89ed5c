// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef PRESERVATIONRECEIPT_H
#define PRESERVATIONRECEIPT_H

#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

// What a receipt of one preserved file states: the file, its fingerprint, where
// and when the service preserved it, the token it gave, the index values, who
// sent it from which computer, and to which service. Texts are kept as the
// service and the catalogue hold them (the date and time as the service sent
// them).
struct PreservationReceipt
{
    QString fileName;
    QString localPath;
    qint64 size = -1; // bytes; -1 when not known
    QString hash;
    QString replacedHash; // a rectification: the fingerprint of the version it replaced
    QString className;
    QString profileName;
    QString preservedAt; // "dd/MM/yyyy hh:mm:ss" as the service sent it
    QString token;
    QList<QPair<QString, QString>> indexValues; // (index name, value), in the class's order
    QString user;
    QString computerName;
    QString serviceUrl;

    // The last component of a path written with either kind of separator (a
    // path recorded on another computer may use backslashes).
    static QString fileNameOf(const QString &path);

    // Everything the catalogue knows of the copy of `hash` preserved in the
    // class `classId`: the "files" row, the class and its profile, the class's
    // indexes with the values of this file, and the service address. The size
    // is left unknown (the catalogue does not keep it). The token is empty
    // when the catalogue holds no preserved copy.
    static PreservationReceipt readCatalogue(const QString &hash, int classId);

    // readCatalogue(), with the size of the local copy when the file is still at
    // its recorded path with the same content (its fingerprint is checked).
    static PreservationReceipt fromCatalogue(const QString &hash, int classId);
};

#endif // PRESERVATIONRECEIPT_H
