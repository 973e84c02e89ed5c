// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// RefStore: loading accounts, profiles, classes and documents from a JSON seed.

#include "refstore.h"

#include "blobstore.h"
#include "refstore_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QVariant>

using namespace StoreRows;

// Writes one seed into the database, inside the caller's transaction. Each
// load function returns false with `error` set at the first broken rule.
struct RefStore::Seeder
{
    Seeder(QSqlDatabase &database, const BlobStore &store)
        : db(database)
        , blobs(store)
    {
    }

    QSqlDatabase &db;
    const BlobStore &blobs;
    QSqlQuery q{db};
    QString error;
    int nextFolderId = 1;
    int nextIndexId = 1;

    bool fail(const QString &why)
    {
        error = why;
        return false;
    }

    // The id a seed object gives itself, or the next free one.
    static int idOf(const QJsonObject &o, int *next)
    {
        const int id = o.contains(QStringLiteral("id")) ? o.value(QStringLiteral("id")).toInt() : *next;
        *next = qMax(*next, id + 1);
        return id;
    }

    bool loadUser(const QJsonObject &user)
    {
        const QString username = user.value(QStringLiteral("username")).toString();
        const QString password = user.value(QStringLiteral("password")).toString();
        if (username.isEmpty() || password.isEmpty())
            return fail(QStringLiteral("ogni utente ha bisogno di username e password"));
        QString why;
        if (!setPassword(db, username, password, &why))
            return fail(why);
        for (const QJsonValue &bucket : user.value(QStringLiteral("buckets")).toArray()) {
            if (!loadBucket(username, bucket.toObject()))
                return false;
        }
        return true;
    }

    bool loadBucket(const QString &username, const QJsonObject &bucket)
    {
        const QString id = bucket.value(QStringLiteral("id")).toString();
        if (id.isEmpty())
            return fail(QStringLiteral("profilo senza id per %1").arg(username));
        const qint64 div = qMax<qint64>(1, bucket.value(QStringLiteral("div")).toVariant().toLongLong());
        if (!run(q, QStringLiteral("INSERT INTO buckets (id, username, description, quota, used, unit, div)"
                                   " VALUES (?, ?, ?, ?, ?, ?, ?)"),
                 {id, username, bucket.value(QStringLiteral("description")).toString(id),
                  bucket.value(QStringLiteral("quota")).toVariant().toLongLong(),
                  bucket.value(QStringLiteral("used")).toVariant().toLongLong(),
                  bucket.value(QStringLiteral("unit")).toString(QStringLiteral("MB")), div},
                 &error))
            return fail(QStringLiteral("profilo %1: %2").arg(id, error));
        QString firstPolicy;
        for (const QJsonValue &value : bucket.value(QStringLiteral("policies")).toArray()) {
            const QJsonObject policy = value.toObject();
            const QString policyId = policy.value(QStringLiteral("id")).toString();
            if (firstPolicy.isEmpty())
                firstPolicy = policyId;
            if (!run(q, QStringLiteral("INSERT INTO policies (id, idbucket, description) VALUES (?, ?, ?)"),
                     {policyId, id, policy.value(QStringLiteral("description")).toString(policyId)}, &error))
                return fail(QStringLiteral("politica %1: %2").arg(policyId, error));
        }
        for (const QJsonValue &folder : bucket.value(QStringLiteral("folders")).toArray()) {
            if (!loadFolder(id, firstPolicy, folder.toObject()))
                return false;
        }
        return true;
    }

    bool loadFolder(const QString &bucketId, const QString &defaultPolicy, const QJsonObject &folder)
    {
        const int id = idOf(folder, &nextFolderId);
        if (!run(q, QStringLiteral("INSERT INTO folders (id, name, groups, custom, idbucket, idpolicy)"
                                   " VALUES (?, ?, ?, ?, ?, ?)"),
                 {id, folder.value(QStringLiteral("name")).toString(), folder.value(QStringLiteral("groups")).toString(),
                  folder.value(QStringLiteral("custom")).toInt(), bucketId,
                  folder.value(QStringLiteral("policy")).toString(defaultPolicy)},
                 &error))
            return fail(QStringLiteral("classe %1: %2").arg(id).arg(error));
        for (const QJsonValue &value : folder.value(QStringLiteral("indexes")).toArray()) {
            const QJsonObject index = value.toObject();
            const int indexId = idOf(index, &nextIndexId);
            if (!run(q, QStringLiteral("INSERT INTO metadati (id, idfolder, name, type, visible, required, custom,"
                                       " tooltip) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                     {indexId, id, index.value(QStringLiteral("name")).toString(),
                      index.value(QStringLiteral("type")).toInt(1),
                      index.value(QStringLiteral("visible")).toBool(true) ? 1 : 0,
                      index.value(QStringLiteral("required")).toBool(false) ? 1 : 0,
                      index.value(QStringLiteral("custom")).toInt(), index.value(QStringLiteral("tooltip")).toString()},
                     &error))
                return fail(QStringLiteral("indice %1: %2").arg(indexId).arg(error));
        }
        return true;
    }

    // A document is preserved as if uploaded and conserved, so it gets a
    // token, an update stamp and its place in the profile's used space.
    bool loadDocument(const QString &username, const QJsonObject &document)
    {
        const int folderId = document.value(QStringLiteral("folder")).toInt();
        if (!run(q, QStringLiteral("SELECT f.idbucket FROM folders f JOIN buckets b ON b.id = f.idbucket"
                                   " WHERE f.id = ? AND b.username = ?"),
                 {folderId, username})
            || !q.next())
            return fail(QStringLiteral("documento in una classe (%1) che non è di %2").arg(folderId).arg(username));
        const QString bucketId = q.value(0).toString();
        const QByteArray content = document.value(QStringLiteral("content")).toString().toUtf8();
        QString sha1, sha14k;
        if (!blobs.store(content, &sha1, &sha14k, &error, false))
            return false;
        const QString time = timestamp();
        const auto text = [&document](const char *key, const QString &fallback) {
            return document.value(QLatin1String(key)).toString(fallback);
        };
        if (!run(q, QStringLiteral("INSERT INTO files (username, hash, hash4k, idfolder, idbucket, filename, filesize,"
                                   " last_modified, token, tsconserve, tsupdate, computer_name, prev_id, lineage,"
                                   " current) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0, 0, 1)"),
                 {username, sha1, sha14k, folderId, bucketId, text("filename", QString()), qint64(content.size()),
                  text("last_modified", time), newToken(), text("tsconserve", time), nextTsUpdate(db),
                  text("computer_name", QStringLiteral("postazione-demo"))},
                 &error))
            return fail(QStringLiteral("documento %1: %2").arg(sha1, error));
        const qint64 fileId = q.lastInsertId().toLongLong();
        run(q, QStringLiteral("UPDATE files SET lineage = id WHERE id = ?"), {fileId});
        run(q, QStringLiteral("UPDATE buckets SET used = used + ? WHERE id = ?"), {qint64(content.size()), bucketId});
        const QJsonObject values = document.value(QStringLiteral("values")).toObject();
        for (auto it = values.begin(); it != values.end(); ++it) {
            if (!run(q, QStringLiteral("INSERT INTO vals (file_id, idmetadato, value) VALUES (?, ?, ?)"),
                     {fileId, it.key().toInt(), it.value().toString()}, &error))
                return false;
        }
        return true;
    }

    bool load(const QJsonArray &users)
    {
        if (users.isEmpty())
            return fail(QStringLiteral("nessun utente"));
        for (const QJsonValue &user : users) {
            if (!loadUser(user.toObject()))
                return false;
        }
        // Documents come after every account exists.
        for (const QJsonValue &user : users) {
            const QString username = user.toObject().value(QStringLiteral("username")).toString();
            for (const QJsonValue &document : user.toObject().value(QStringLiteral("documents")).toArray()) {
                if (!loadDocument(username, document.toObject()))
                    return false;
            }
        }
        return true;
    }
};

bool RefStore::loadSeed(const QByteArray &json, const BlobStore &blobs, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull() || !doc.isObject()) {
        *error = QStringLiteral("seed non valido: %1 (posizione %2)").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    Seeder seeder(db, blobs);
    if (!seeder.load(doc.object().value(QStringLiteral("users")).toArray())) {
        db.rollback();
        *error = QStringLiteral("seed non valido: %1").arg(seeder.error);
        return false;
    }
    // The seeded contents were written without a flush each: flush them all
    // before the records that point at them are committed.
    BlobStore::syncAll();
    if (!db.commit()) {
        *error = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}
