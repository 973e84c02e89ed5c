// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// RefStore: uploads waiting to be preserved, and their preservation.

#include "refstore.h"

#include "refstore_p.h"

#include <QDateTime>
#include <QSqlError>
#include <QVariant>

using namespace StoreRows;

namespace {

QVariantList uploadKey(const RefStore::Upload &u)
{
    return {u.username, u.hash, u.idfolder, notNull(u.prevHash)};
}

} // namespace

RefStore::UploadOutcome RefStore::saveUpload(const Upload &upload, qint64 pendingSince, qint64 *pending, QString *error)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    if (!db.transaction()) {
        *error = db.lastError().text();
        return UploadOutcome::Failed;
    }
    QSqlQuery q(db);
    // The profile's quota, its used space, and what the uploads still waiting
    // in it hold (not counting an earlier record of this same upload).
    if (!run(q, QStringLiteral("SELECT b.quota, b.used, (SELECT COALESCE(SUM(u.filesize), 0) FROM uploads u"
                               " JOIN folders uf ON uf.id = u.idfolder WHERE uf.idbucket = b.id AND u.created >= ?"
                               " AND NOT (u.username = ? AND u.hash = ? AND u.idfolder = ? AND u.prevhash = ?))"
                               " FROM folders f JOIN buckets b ON b.id = f.idbucket WHERE f.id = ?"),
             QVariantList{pendingSince} + uploadKey(upload) + QVariantList{upload.idfolder}, error)
        || !q.next()) {
        db.rollback();
        return UploadOutcome::Failed;
    }
    const qint64 quota = q.value(0).toLongLong();
    *pending = q.value(2).toLongLong();
    if (quota > 0 && q.value(1).toLongLong() + *pending + upload.filesize > quota) {
        db.rollback();
        return UploadOutcome::QuotaExceeded;
    }
    if (!run(q, QStringLiteral("INSERT OR REPLACE INTO uploads (username, hash, idfolder, prevhash, hash4k, filename,"
                               " filesize, last_modified, created) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
             uploadKey(upload) + QVariantList{upload.hash4k, upload.filename, upload.filesize, upload.lastModified,
                                              QDateTime::currentSecsSinceEpoch()},
             error)
        || !db.commit()) {
        db.rollback();
        return UploadOutcome::Failed;
    }
    return UploadOutcome::Ok;
}

void RefStore::forgetUpload(const Upload &upload)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    run(q, QStringLiteral("DELETE FROM uploads WHERE username = ? AND hash = ? AND idfolder = ? AND prevhash = ?"),
        uploadKey(upload));
}

QStringList RefStore::expireUploads(qint64 createdBefore)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    if (!db.transaction())
        return {};
    QSqlQuery q(db);
    QStringList hashes;
    if (run(q, QStringLiteral("SELECT DISTINCT hash FROM uploads WHERE created < ?"), {createdBefore})) {
        while (q.next())
            hashes << q.value(0).toString();
    }
    if (hashes.isEmpty() || !run(q, QStringLiteral("DELETE FROM uploads WHERE created < ?"), {createdBefore})) {
        db.rollback();
        return {};
    }
    QStringList unreferenced;
    q.prepare(QStringLiteral("SELECT EXISTS (SELECT 1 FROM files WHERE hash = ?)"
                             " OR EXISTS (SELECT 1 FROM uploads WHERE hash = ?)"));
    for (const QString &hash : std::as_const(hashes)) {
        q.bindValue(0, hash);
        q.bindValue(1, hash);
        if (q.exec() && q.next() && !q.value(0).toBool())
            unreferenced << hash;
    }
    if (!db.commit()) {
        db.rollback();
        return {};
    }
    return unreferenced;
}

std::optional<RefStore::Upload> RefStore::pendingUpload(const QString &username, const QString &hash, int idfolder,
                                                        const QString &prevHash)
{
    Upload u;
    u.username = username;
    u.hash = hash;
    u.idfolder = idfolder;
    u.prevHash = prevHash;
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("SELECT hash4k, filename, filesize, last_modified FROM uploads"
                               " WHERE username = ? AND hash = ? AND idfolder = ? AND prevhash = ?"),
             uploadKey(u))
        || !q.next())
        return std::nullopt;
    u.hash4k = q.value(0).toString();
    u.filename = q.value(1).toString();
    u.filesize = q.value(2).toLongLong();
    u.lastModified = q.value(3).toString();
    return u;
}

RefStore::ConserveOutcome RefStore::conserve(const Upload &upload, const QMap<int, QString> &values,
                                             const QString &computerName, const std::optional<FileVersion> &replaces,
                                             FileVersion *stored, QString *error)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    if (!db.transaction()) {
        *error = db.lastError().text();
        return ConserveOutcome::Failed;
    }
    QSqlQuery q(db);
    ConserveOutcome outcome = ConserveOutcome::Failed;
    FileVersion f;
    f.username = upload.username;
    f.hash = upload.hash;
    f.hash4k = upload.hash4k;
    f.idfolder = upload.idfolder;
    f.filename = upload.filename;
    f.filesize = upload.filesize;
    f.lastModified = upload.lastModified;
    f.computerName = computerName;
    f.tsconserve = timestamp();
    f.tsupdate = nextTsUpdate(db); // given back with the rest if the preservation fails
    f.current = true;
    const bool done = placeInProfile(q, upload, &f, &outcome, error) && retire(q, upload, replaces, &f, &outcome, error)
        && insertVersion(q, &f, error) && insertValues(q, f.id, values, error)
        && run(q, QStringLiteral("UPDATE buckets SET used = used + ? WHERE id = ?"), {f.filesize, f.idbucket}, error)
        && consumeUpload(q, upload, error);
    if (!done || !db.commit()) {
        if (done)
            *error = db.lastError().text();
        db.rollback();
        return outcome;
    }
    *stored = f;
    return ConserveOutcome::Ok;
}

bool RefStore::placeInProfile(QSqlQuery &q, const Upload &upload, FileVersion *f, ConserveOutcome *outcome,
                              QString *error)
{
    if (!run(q, QStringLiteral("SELECT b.id, b.quota, b.used FROM folders f JOIN buckets b ON b.id = f.idbucket"
                               " WHERE f.id = ? AND b.username = ?"),
             {upload.idfolder, upload.username}, error)
        || !q.next()) {
        *error = QStringLiteral("La classe indicata non appartiene al tuo account");
        return false;
    }
    f->idbucket = q.value(0).toString();
    const qint64 quota = q.value(1).toLongLong();
    if (quota > 0 && q.value(2).toLongLong() + upload.filesize > quota) {
        *outcome = ConserveOutcome::QuotaExceeded;
        return false;
    }
    return true;
}

bool RefStore::retire(QSqlQuery &q, const Upload &upload, const std::optional<FileVersion> &replaces, FileVersion *f,
                      ConserveOutcome *outcome, QString *error)
{
    if (!replaces) {
        // The same content preserved again in its class supersedes the current
        // version and joins its chain. Looked up inside the transaction, so
        // that of two conserves racing each other only one stays current.
        const QVariantList key{upload.username, upload.hash, upload.idfolder};
        if (!run(q, QStringLiteral("SELECT id, lineage FROM files WHERE username = ? AND hash = ? AND idfolder = ?"
                                   " AND current = 1 ORDER BY id DESC LIMIT 1"),
                 key, error))
            return false;
        if (!q.next())
            return true;
        f->prevId = q.value(0).toLongLong();
        f->lineage = q.value(1).toLongLong();
        return run(q, QStringLiteral("UPDATE files SET current = 0 WHERE username = ? AND hash = ? AND idfolder = ?"
                                     " AND current = 1"),
                   key, error);
    }
    // The version being replaced must still be the current one: two
    // rectifications of the same version cannot both win.
    if (!run(q, QStringLiteral("UPDATE files SET current = 0 WHERE id = ? AND current = 1"), {replaces->id}, error))
        return false;
    if (q.numRowsAffected() != 1) {
        *outcome = ConserveOutcome::Replaced;
        return false;
    }
    f->prevId = replaces->id;
    f->lineage = replaces->lineage;
    return true;
}

bool RefStore::insertVersion(QSqlQuery &q, FileVersion *f, QString *error)
{
    bool inserted = false;
    for (int attempt = 0; attempt < 5 && !inserted; ++attempt) {
        f->token = newToken(); // a collision of tokens is refused by the UNIQUE column: draw again
        inserted = run(q, QStringLiteral("INSERT INTO files (username, hash, hash4k, idfolder, idbucket, filename,"
                                         " filesize, last_modified, token, tsconserve, tsupdate, computer_name, prev_id,"
                                         " lineage, current) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1)"),
                       {f->username, f->hash, f->hash4k, f->idfolder, f->idbucket, f->filename, f->filesize,
                        f->lastModified, f->token, f->tsconserve, f->tsupdate, f->computerName, f->prevId, f->lineage},
                       error);
    }
    if (!inserted)
        return false;
    f->id = q.lastInsertId().toLongLong();
    if (f->lineage)
        return true;
    // A first version starts its own chain.
    f->lineage = f->id;
    return run(q, QStringLiteral("UPDATE files SET lineage = id WHERE id = ?"), {f->id}, error);
}

bool RefStore::insertValues(QSqlQuery &q, qint64 fileId, const QMap<int, QString> &values, QString *error)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (!run(q, QStringLiteral("INSERT INTO vals (file_id, idmetadato, value) VALUES (?, ?, ?)"),
                 {fileId, it.key(), it.value()}, error))
            return false;
    }
    return true;
}

bool RefStore::consumeUpload(QSqlQuery &q, const Upload &upload, QString *error)
{
    if (!run(q, QStringLiteral("DELETE FROM uploads WHERE username = ? AND hash = ? AND idfolder = ? AND prevhash = ?"),
             uploadKey(upload), error))
        return false;
    if (q.numRowsAffected() == 1)
        return true;
    *error = QStringLiteral("Il caricamento è già stato usato per un'altra conservazione: ripeti il caricamento");
    return false;
}
