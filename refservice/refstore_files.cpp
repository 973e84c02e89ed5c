// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// RefStore: reading the catalogue, the classes, the profiles and the versions.

#include "refstore.h"

#include "refstore_p.h"

#include <QVariant>

using namespace StoreRows;

RefStore::Catalogue RefStore::catalogue(const QString &username, qint64 cursor)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    Catalogue c;
    // One read transaction, so the reply is a consistent snapshot.
    db.transaction();
    QSqlQuery q(db);
    if (run(q, QStringLiteral("SELECT id, username, description, quota, used, unit, div FROM buckets"
                              " WHERE username = ? ORDER BY rowid"),
            {username})) {
        while (q.next())
            c.buckets.append(readBucket(q));
    }
    if (run(q, QStringLiteral("SELECT p.id, p.idbucket, p.description FROM policies p JOIN buckets b"
                              " ON b.id = p.idbucket WHERE b.username = ? ORDER BY p.rowid"),
            {username})) {
        while (q.next())
            c.policies.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
    }
    if (run(q, QStringLiteral("SELECT f.id, f.name, f.groups, f.custom, f.idbucket, f.idpolicy FROM folders f"
                              " JOIN buckets b ON b.id = f.idbucket WHERE b.username = ? ORDER BY f.id"),
            {username}))
        c.folders = readFolders(q);
    attachIndexes(db, c.folders);
    if (run(q, QStringLiteral("SELECT %1 FROM files WHERE username = ? AND current = 1 AND tsupdate > ?"
                              " ORDER BY tsupdate").arg(QLatin1String(FileColumns)),
            {username, cursor})) {
        while (q.next())
            c.files.append(readFile(q));
    }
    if (run(q, QStringLiteral("SELECT v.idmetadato, v.value, f.hash FROM vals v JOIN files f ON f.id = v.file_id"
                              " WHERE f.username = ? AND f.current = 1 AND f.tsupdate > ?"
                              " ORDER BY f.tsupdate, v.idmetadato"),
            {username, cursor})) {
        while (q.next())
            c.values.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString()});
    }
    db.commit();
    return c;
}

std::optional<RefStore::Folder> RefStore::oneFolder(const QString &condition, const QVariantList &values)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("SELECT f.id, f.name, f.groups, f.custom, f.idbucket, f.idpolicy FROM folders f"
                               " JOIN buckets b ON b.id = f.idbucket WHERE %1").arg(condition),
             values))
        return std::nullopt;
    QList<Folder> folders = readFolders(q);
    if (folders.isEmpty())
        return std::nullopt;
    attachIndexes(db, folders);
    return folders.first();
}

std::optional<RefStore::Folder> RefStore::folderOfUser(const QString &username, int idfolder)
{
    return oneFolder(QStringLiteral("b.username = ? AND f.id = ?"), {username, idfolder});
}

std::optional<RefStore::Folder> RefStore::folderById(int idfolder)
{
    return oneFolder(QStringLiteral("f.id = ?"), {idfolder});
}

std::optional<RefStore::Bucket> RefStore::bucket(const QString &id)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("SELECT id, username, description, quota, used, unit, div FROM buckets WHERE id = ?"),
             {id})
        || !q.next())
        return std::nullopt;
    return readBucket(q);
}

QHash<int, qint64> RefStore::spaceLeftByFolder(const QString &username)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    QHash<int, qint64> space;
    if (run(q, QStringLiteral("SELECT f.id, b.quota, b.used FROM folders f JOIN buckets b ON b.id = f.idbucket"
                              " WHERE b.username = ?"),
            {username})) {
        while (q.next()) {
            const qint64 quota = q.value(1).toLongLong();
            space.insert(q.value(0).toInt(), quota > 0 ? qMax<qint64>(0, quota - q.value(2).toLongLong()) : -1);
        }
    }
    return space;
}

std::optional<RefStore::FileVersion> RefStore::oneFile(const QString &condition, const QVariantList &values)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("SELECT %1 FROM files WHERE %2").arg(QLatin1String(FileColumns), condition), values)
        || !q.next())
        return std::nullopt;
    return readFile(q);
}

std::optional<RefStore::FileVersion> RefStore::currentVersion(const QString &username, const QString &hash, int idfolder)
{
    return oneFile(QStringLiteral("username = ? AND hash = ? AND idfolder = ? AND current = 1"), {username, hash, idfolder});
}

std::optional<RefStore::FileVersion> RefStore::anyVersion(const QString &username, const QString &hash, int idfolder)
{
    return oneFile(QStringLiteral("username = ? AND hash = ? AND idfolder = ? ORDER BY current DESC, id DESC LIMIT 1"),
                   {username, hash, idfolder});
}

std::optional<RefStore::FileVersion> RefStore::versionById(qint64 id)
{
    return oneFile(QStringLiteral("id = ?"), {id});
}

std::optional<RefStore::FileVersion> RefStore::versionByToken(const QString &token)
{
    return oneFile(QStringLiteral("token = ?"), {token});
}

QList<RefStore::FileVersion> RefStore::history(qint64 lineage)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    QList<FileVersion> out;
    if (run(q, QStringLiteral("SELECT %1 FROM files WHERE lineage = ? ORDER BY id DESC").arg(QLatin1String(FileColumns)),
            {lineage})) {
        while (q.next())
            out.append(readFile(q));
    }
    return out;
}

QMap<int, QString> RefStore::values(qint64 fileId)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    QMap<int, QString> out;
    if (run(q, QStringLiteral("SELECT idmetadato, value FROM vals WHERE file_id = ?"), {fileId})) {
        while (q.next())
            out.insert(q.value(0).toInt(), q.value(1).toString());
    }
    return out;
}
