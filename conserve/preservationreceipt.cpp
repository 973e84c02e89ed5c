// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/preservationreceipt.h"

#include "browse/fingerprintcache.h"
#include "store/database.h"
#include "store/setting.h"

#include <QFileInfo>
#include <QSqlQuery>

QString PreservationReceipt::fileNameOf(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

namespace {

// The receipt, and the fingerprint of the file's head recorded with it.
PreservationReceipt read(const QString &hash, int classId, QString *head)
{
    PreservationReceipt receipt;
    Database database;
    database.openDB();
    {
        QSqlQuery query(database.db);
        query.prepare(QStringLiteral("SELECT fullpath, token, tsconserve, username, computer_name, hash4k FROM files "
                                     "WHERE hash = ? AND folderid = ? AND token != ''"));
        query.addBindValue(hash);
        query.addBindValue(classId);
        if (query.exec() && query.next()) {
            receipt.hash = hash;
            receipt.localPath = query.value(0).toString();
            receipt.fileName = PreservationReceipt::fileNameOf(receipt.localPath);
            receipt.token = query.value(1).toString();
            receipt.preservedAt = query.value(2).toString();
            receipt.user = query.value(3).toString();
            receipt.computerName = query.value(4).toString();
            *head = query.value(5).toString();
        }

        query.prepare(QStringLiteral("SELECT folders.name, buckets.description FROM folders "
                                     "LEFT JOIN buckets ON buckets.idbuckets = folders.idbuckets "
                                     "WHERE folders.idfolder = ?"));
        query.addBindValue(classId);
        if (query.exec() && query.next()) {
            receipt.className = query.value(0).toString();
            receipt.profileName = query.value(1).toString();
        }

        // Every index of the class, in its order, with this file's value (an
        // index left empty is listed too).
        query.prepare(QStringLiteral("SELECT metadati.nome, metadati_values.value FROM metadati "
                                     "LEFT JOIN metadati_values ON metadati_values.idmetadata = metadati.idmetadato "
                                     "AND metadati_values.hash = ? WHERE metadati.idfolder = ? "
                                     "ORDER BY metadati.idmetadato"));
        query.addBindValue(hash);
        query.addBindValue(classId);
        if (query.exec()) {
            while (query.next())
                receipt.indexValues.append({query.value(0).toString(), query.value(1).toString()});
        }
    }
    database.closeDB();
    receipt.serviceUrl = Setting().getSetting(QStringLiteral("url"));
    return receipt;
}

} // namespace

PreservationReceipt PreservationReceipt::readCatalogue(const QString &hash, int classId)
{
    QString head;
    return read(hash, classId, &head);
}

PreservationReceipt PreservationReceipt::fromCatalogue(const QString &hash, int classId)
{
    QString head;
    PreservationReceipt receipt = read(hash, classId, &head);
    // The file list's cache: a copy it has already checked is not read again,
    // and one whose head differs is never read whole.
    if (!receipt.token.isEmpty() && FingerprintCache::instance().matches(receipt.localPath, hash, head))
        receipt.size = QFileInfo(receipt.localPath).size();
    return receipt;
}
