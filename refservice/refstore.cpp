// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "refstore.h"

#include "blobstore.h"
#include "passwordpolicy.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

namespace {

const char *const Schema[] = {
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT)",
    "CREATE TABLE IF NOT EXISTS users (username TEXT PRIMARY KEY, salt BLOB, pwkey BLOB, iterations INTEGER)",
    "CREATE TABLE IF NOT EXISTS pwhistory (id INTEGER PRIMARY KEY, username TEXT, salt BLOB, pwkey BLOB, iterations INTEGER)",
    "CREATE TABLE IF NOT EXISTS buckets (id TEXT PRIMARY KEY, username TEXT, description TEXT, quota INTEGER,"
    " used INTEGER, unit TEXT, div INTEGER)",
    "CREATE TABLE IF NOT EXISTS policies (id TEXT, idbucket TEXT, description TEXT, PRIMARY KEY (id, idbucket))",
    "CREATE TABLE IF NOT EXISTS folders (id INTEGER PRIMARY KEY, name TEXT, groups TEXT, custom INTEGER,"
    " idbucket TEXT, idpolicy TEXT)",
    "CREATE TABLE IF NOT EXISTS metadati (id INTEGER PRIMARY KEY, idfolder INTEGER, name TEXT, type INTEGER,"
    " visible INTEGER, required INTEGER, custom INTEGER, tooltip TEXT)",
    "CREATE TABLE IF NOT EXISTS uploads (id INTEGER PRIMARY KEY, username TEXT, hash TEXT, hash4k TEXT,"
    " idfolder INTEGER, prevhash TEXT, filename TEXT, filesize INTEGER, last_modified TEXT, created INTEGER,"
    " UNIQUE (username, hash, idfolder, prevhash))",
    "CREATE TABLE IF NOT EXISTS files (id INTEGER PRIMARY KEY, username TEXT, hash TEXT, hash4k TEXT,"
    " idfolder INTEGER, idbucket TEXT, filename TEXT, filesize INTEGER, last_modified TEXT, token TEXT UNIQUE,"
    " tsconserve TEXT, tsupdate INTEGER, computer_name TEXT, prev_id INTEGER, lineage INTEGER, current INTEGER)",
    "CREATE INDEX IF NOT EXISTS files_user ON files (username, current, tsupdate)",
    "CREATE INDEX IF NOT EXISTS files_hash ON files (username, hash, idfolder)",
    "CREATE INDEX IF NOT EXISTS files_lineage ON files (lineage)",
    "CREATE INDEX IF NOT EXISTS files_content ON files (hash)",
    "CREATE TABLE IF NOT EXISTS vals (file_id INTEGER, idmetadato INTEGER, value TEXT, PRIMARY KEY (file_id, idmetadato))",
};

const char *const FileColumns =
    "id, username, hash, hash4k, idfolder, idbucket, filename, filesize, last_modified, token, tsconserve,"
    " tsupdate, computer_name, prev_id, lineage, current";

RefStore::FileVersion readFile(const QSqlQuery &q)
{
    RefStore::FileVersion f;
    f.id = q.value(0).toLongLong();
    f.username = q.value(1).toString();
    f.hash = q.value(2).toString();
    f.hash4k = q.value(3).toString();
    f.idfolder = q.value(4).toInt();
    f.idbucket = q.value(5).toString();
    f.filename = q.value(6).toString();
    f.filesize = q.value(7).toLongLong();
    f.lastModified = q.value(8).toString();
    f.token = q.value(9).toString();
    f.tsconserve = q.value(10).toString();
    f.tsupdate = q.value(11).toLongLong();
    f.computerName = q.value(12).toString();
    f.prevId = q.value(13).toLongLong();
    f.lineage = q.value(14).toLongLong();
    f.current = q.value(15).toInt() != 0;
    return f;
}

RefStore::Bucket readBucket(const QSqlQuery &q)
{
    RefStore::Bucket b;
    b.id = q.value(0).toString();
    b.username = q.value(1).toString();
    b.description = q.value(2).toString();
    b.quota = q.value(3).toLongLong();
    b.used = q.value(4).toLongLong();
    b.unit = q.value(5).toString();
    b.div = q.value(6).toLongLong();
    return b;
}

QString newToken()
{
    const quint64 r = QRandomGenerator::system()->generate64();
    return QStringLiteral("%1-%2")
        .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")))
        .arg(QString::number(r, 16).toUpper().rightJustified(16, QLatin1Char('0')));
}

// SQLite keeps NULL and '' apart; a text column compared with '=' must never get NULL.
QString notNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

bool exec(QSqlQuery &q, QString *error)
{
    if (q.exec())
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

// Loads the index definitions of the classes in `folders` in one pass.
void attachIndexes(QSqlDatabase &db, QList<RefStore::Folder> &folders)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id, idfolder, name, type, visible, required, custom, tooltip FROM metadati"
                             " WHERE idfolder = ? ORDER BY rowid"));
    for (RefStore::Folder &f : folders) {
        q.addBindValue(f.id);
        if (!q.exec())
            continue;
        while (q.next()) {
            RefStore::IndexDef d;
            d.id = q.value(0).toInt();
            d.idfolder = q.value(1).toInt();
            d.name = q.value(2).toString();
            d.type = q.value(3).toInt();
            d.visible = q.value(4).toInt();
            d.required = q.value(5).toInt();
            d.custom = q.value(6).toInt();
            d.tooltip = q.value(7).toString();
            f.indexes.append(d);
        }
    }
}

QList<RefStore::Folder> readFolders(QSqlQuery &q)
{
    QList<RefStore::Folder> out;
    while (q.next()) {
        RefStore::Folder f;
        f.id = q.value(0).toInt();
        f.name = q.value(1).toString();
        f.groups = q.value(2).toString();
        f.custom = q.value(3).toInt();
        f.idbucket = q.value(4).toString();
        f.idpolicy = q.value(5).toString();
        out.append(f);
    }
    return out;
}

} // namespace

// Connections belong to the server's worker threads and are closed by Qt at exit.
RefStore::~RefStore() = default;

QSqlDatabase RefStore::connection()
{
    const QString name = m_connectionPrefix
        + QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            return db;
    }
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                    : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (db.open()) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    }
    return db;
}

bool RefStore::open(const QString &dataDir, QString *error)
{
    QMutexLocker lock(&m_mutex);
    m_path = QDir(dataDir).filePath(QStringLiteral("refservice.db"));
    m_connectionPrefix = QStringLiteral("refstore-%1-").arg(reinterpret_cast<quintptr>(this), 0, 16);
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        *error = QStringLiteral("impossibile aprire %1: %2").arg(m_path, db.lastError().text());
        return false;
    }
    return createSchema(db, error);
}

bool RefStore::createSchema(QSqlDatabase &db, QString *error)
{
    QSqlQuery q(db);
    for (const char *statement : Schema) {
        if (!q.exec(QString::fromLatin1(statement))) {
            *error = q.lastError().text();
            return false;
        }
    }
    q.exec(QStringLiteral("INSERT OR IGNORE INTO meta (key, value) VALUES ('tsupdate', '0')"));

    // Data directories made before uploads carried their time: the column is
    // added, and the uploads found there count from now.
    bool hasCreated = false;
    q.exec(QStringLiteral("PRAGMA table_info(uploads)"));
    while (q.next())
        hasCreated = hasCreated || q.value(1).toString() == QLatin1String("created");
    if (!hasCreated && !q.exec(QStringLiteral("ALTER TABLE uploads ADD COLUMN created INTEGER"))) {
        *error = q.lastError().text();
        return false;
    }
    q.prepare(QStringLiteral("UPDATE uploads SET created = ? WHERE created IS NULL"));
    q.addBindValue(QDateTime::currentSecsSinceEpoch());
    q.exec();
    return true;
}

bool RefStore::hasUsers()
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    return q.exec(QStringLiteral("SELECT 1 FROM users LIMIT 1")) && q.next();
}

qint64 RefStore::nextTsUpdate(QSqlDatabase &db)
{
    // A plain counter: strictly increasing, an exact integer in a double and in text.
    QSqlQuery q(db);
    q.exec(QStringLiteral("UPDATE meta SET value = CAST(value AS INTEGER) + 1 WHERE key = 'tsupdate'"));
    q.exec(QStringLiteral("SELECT CAST(value AS INTEGER) FROM meta WHERE key = 'tsupdate'"));
    return q.next() ? q.value(0).toLongLong() : 0;
}

bool RefStore::setPassword(QSqlDatabase &db, const QString &username, const QString &password, QString *error)
{
    const QByteArray salt = PasswordPolicy::newSalt();
    const int iterations = PasswordPolicy::DefaultIterations;
    const QByteArray key = PasswordPolicy::derive(password, salt, iterations);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO users (username, salt, pwkey, iterations) VALUES (?, ?, ?, ?)"));
    q.addBindValue(username);
    q.addBindValue(salt);
    q.addBindValue(key);
    q.addBindValue(iterations);
    if (!exec(q, error))
        return false;
    q.prepare(QStringLiteral("INSERT INTO pwhistory (username, salt, pwkey, iterations) VALUES (?, ?, ?, ?)"));
    q.addBindValue(username);
    q.addBindValue(salt);
    q.addBindValue(key);
    q.addBindValue(iterations);
    return exec(q, error);
}

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
    auto fail = [&](const QString &why) {
        db.rollback();
        *error = QStringLiteral("seed non valido: %1").arg(why);
        return false;
    };
    int nextFolderId = 1;
    int nextIndexId = 1;
    QSqlQuery q(db);
    const QJsonArray users = doc.object().value(QStringLiteral("users")).toArray();
    if (users.isEmpty())
        return fail(QStringLiteral("nessun utente"));
    for (const QJsonValue &userValue : users) {
        const QJsonObject user = userValue.toObject();
        const QString username = user.value(QStringLiteral("username")).toString();
        const QString password = user.value(QStringLiteral("password")).toString();
        if (username.isEmpty() || password.isEmpty())
            return fail(QStringLiteral("ogni utente ha bisogno di username e password"));
        QString why;
        if (!setPassword(db, username, password, &why))
            return fail(why);
        const QJsonArray buckets = user.value(QStringLiteral("buckets")).toArray();
        for (const QJsonValue &bucketValue : buckets) {
            const QJsonObject bucket = bucketValue.toObject();
            const QString bucketId = bucket.value(QStringLiteral("id")).toString();
            if (bucketId.isEmpty())
                return fail(QStringLiteral("profilo senza id per %1").arg(username));
            const qint64 div = qMax<qint64>(1, bucket.value(QStringLiteral("div")).toVariant().toLongLong());
            q.prepare(QStringLiteral("INSERT INTO buckets (id, username, description, quota, used, unit, div)"
                                     " VALUES (?, ?, ?, ?, ?, ?, ?)"));
            q.addBindValue(bucketId);
            q.addBindValue(username);
            q.addBindValue(bucket.value(QStringLiteral("description")).toString(bucketId));
            q.addBindValue(bucket.value(QStringLiteral("quota")).toVariant().toLongLong());
            q.addBindValue(bucket.value(QStringLiteral("used")).toVariant().toLongLong());
            q.addBindValue(bucket.value(QStringLiteral("unit")).toString(QStringLiteral("MB")));
            q.addBindValue(div);
            if (!exec(q, &why))
                return fail(QStringLiteral("profilo %1: %2").arg(bucketId, why));
            QString firstPolicy;
            for (const QJsonValue &policyValue : bucket.value(QStringLiteral("policies")).toArray()) {
                const QJsonObject policy = policyValue.toObject();
                const QString policyId = policy.value(QStringLiteral("id")).toString();
                if (firstPolicy.isEmpty())
                    firstPolicy = policyId;
                q.prepare(QStringLiteral("INSERT INTO policies (id, idbucket, description) VALUES (?, ?, ?)"));
                q.addBindValue(policyId);
                q.addBindValue(bucketId);
                q.addBindValue(policy.value(QStringLiteral("description")).toString(policyId));
                if (!exec(q, &why))
                    return fail(QStringLiteral("politica %1: %2").arg(policyId, why));
            }
            for (const QJsonValue &folderValue : bucket.value(QStringLiteral("folders")).toArray()) {
                const QJsonObject folder = folderValue.toObject();
                const int folderId = folder.contains(QStringLiteral("id")) ? folder.value(QStringLiteral("id")).toInt()
                                                                            : nextFolderId;
                nextFolderId = qMax(nextFolderId, folderId + 1);
                q.prepare(QStringLiteral("INSERT INTO folders (id, name, groups, custom, idbucket, idpolicy)"
                                         " VALUES (?, ?, ?, ?, ?, ?)"));
                q.addBindValue(folderId);
                q.addBindValue(folder.value(QStringLiteral("name")).toString());
                q.addBindValue(folder.value(QStringLiteral("groups")).toString());
                q.addBindValue(folder.value(QStringLiteral("custom")).toInt());
                q.addBindValue(bucketId);
                q.addBindValue(folder.value(QStringLiteral("policy")).toString(firstPolicy));
                if (!exec(q, &why))
                    return fail(QStringLiteral("classe %1: %2").arg(folderId).arg(why));
                for (const QJsonValue &indexValue : folder.value(QStringLiteral("indexes")).toArray()) {
                    const QJsonObject index = indexValue.toObject();
                    const int indexId = index.contains(QStringLiteral("id")) ? index.value(QStringLiteral("id")).toInt()
                                                                             : nextIndexId;
                    nextIndexId = qMax(nextIndexId, indexId + 1);
                    q.prepare(QStringLiteral("INSERT INTO metadati (id, idfolder, name, type, visible, required,"
                                             " custom, tooltip) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
                    q.addBindValue(indexId);
                    q.addBindValue(folderId);
                    q.addBindValue(index.value(QStringLiteral("name")).toString());
                    q.addBindValue(index.value(QStringLiteral("type")).toInt(1));
                    q.addBindValue(index.value(QStringLiteral("visible")).toBool(true) ? 1 : 0);
                    q.addBindValue(index.value(QStringLiteral("required")).toBool(false) ? 1 : 0);
                    q.addBindValue(index.value(QStringLiteral("custom")).toInt());
                    q.addBindValue(index.value(QStringLiteral("tooltip")).toString());
                    if (!exec(q, &why))
                        return fail(QStringLiteral("indice %1: %2").arg(indexId).arg(why));
                }
            }
        }
    }
    // Documents are preserved after every account exists, as if uploaded and
    // conserved one by one, so they get tokens, update stamps and used space.
    for (const QJsonValue &userValue : users) {
        const QJsonObject user = userValue.toObject();
        const QString username = user.value(QStringLiteral("username")).toString();
        for (const QJsonValue &docValue : user.value(QStringLiteral("documents")).toArray()) {
            const QJsonObject document = docValue.toObject();
            const int folderId = document.value(QStringLiteral("folder")).toInt();
            q.prepare(QStringLiteral("SELECT f.idbucket FROM folders f JOIN buckets b ON b.id = f.idbucket"
                                     " WHERE f.id = ? AND b.username = ?"));
            q.addBindValue(folderId);
            q.addBindValue(username);
            if (!q.exec() || !q.next())
                return fail(QStringLiteral("documento in una classe (%1) che non è di %2").arg(folderId).arg(username));
            const QString bucketId = q.value(0).toString();
            const QByteArray content = document.value(QStringLiteral("content")).toString().toUtf8();
            QString sha1, sha14k, why;
            if (!blobs.store(content, &sha1, &sha14k, &why, false))
                return fail(why);
            const QString now = QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
            q.prepare(QStringLiteral("INSERT INTO files (username, hash, hash4k, idfolder, idbucket, filename, filesize,"
                                     " last_modified, token, tsconserve, tsupdate, computer_name, prev_id, lineage,"
                                     " current) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0, 0, 1)"));
            q.addBindValue(username);
            q.addBindValue(sha1);
            q.addBindValue(sha14k);
            q.addBindValue(folderId);
            q.addBindValue(bucketId);
            q.addBindValue(document.value(QStringLiteral("filename")).toString());
            q.addBindValue(qint64(content.size()));
            q.addBindValue(document.value(QStringLiteral("last_modified")).toString(now));
            q.addBindValue(newToken());
            q.addBindValue(document.value(QStringLiteral("tsconserve")).toString(now));
            q.addBindValue(nextTsUpdate(db));
            q.addBindValue(document.value(QStringLiteral("computer_name")).toString(QStringLiteral("postazione-demo")));
            if (!exec(q, &why))
                return fail(QStringLiteral("documento %1: %2").arg(sha1, why));
            const qint64 fileId = q.lastInsertId().toLongLong();
            QSqlQuery u(db);
            u.prepare(QStringLiteral("UPDATE files SET lineage = id WHERE id = ?"));
            u.addBindValue(fileId);
            u.exec();
            u.prepare(QStringLiteral("UPDATE buckets SET used = used + ? WHERE id = ?"));
            u.addBindValue(qint64(content.size()));
            u.addBindValue(bucketId);
            u.exec();
            const QJsonObject values = document.value(QStringLiteral("values")).toObject();
            for (auto it = values.begin(); it != values.end(); ++it) {
                u.prepare(QStringLiteral("INSERT INTO vals (file_id, idmetadato, value) VALUES (?, ?, ?)"));
                u.addBindValue(fileId);
                u.addBindValue(it.key().toInt());
                u.addBindValue(it.value().toString());
                if (!exec(u, &why))
                    return fail(why);
            }
        }
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

bool RefStore::verifyPassword(const QString &username, const QString &password)
{
    QByteArray salt, key;
    int iterations = 0;
    {
        QMutexLocker lock(&m_mutex);
        QSqlDatabase db = connection();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT salt, pwkey, iterations FROM users WHERE username = ?"));
        q.addBindValue(username);
        if (!q.exec() || !q.next())
            return false;
        salt = q.value(0).toByteArray();
        key = q.value(1).toByteArray();
        iterations = q.value(2).toInt();
    }
    // The key derivation is slow on purpose; it runs outside the lock.
    return PasswordPolicy::sameKey(PasswordPolicy::derive(password, salt, iterations), key);
}

QString RefStore::changePassword(const QString &username, const QString &oldPassword, const QString &newPassword)
{
    if (!verifyPassword(username, oldPassword))
        return QStringLiteral("La vecchia password non è corretta");
    const QString rule = PasswordPolicy::brokenRule(newPassword, username);
    if (!rule.isEmpty())
        return rule;
    struct Old {
        QByteArray salt, key;
        int iterations;
    };
    QList<Old> recent;
    {
        QMutexLocker lock(&m_mutex);
        QSqlDatabase db = connection();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT salt, pwkey, iterations FROM pwhistory WHERE username = ? ORDER BY id DESC LIMIT ?"));
        q.addBindValue(username);
        q.addBindValue(PasswordPolicy::HistoryDepth);
        if (q.exec()) {
            while (q.next())
                recent.append({q.value(0).toByteArray(), q.value(1).toByteArray(), q.value(2).toInt()});
        }
    }
    for (const Old &old : recent) {
        if (PasswordPolicy::sameKey(PasswordPolicy::derive(newPassword, old.salt, old.iterations), old.key))
            return QStringLiteral("La nuova password deve essere diversa dalle ultime 3 utilizzate in precedenza");
    }
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QString error;
    db.transaction();
    if (!setPassword(db, username, newPassword, &error) || !db.commit()) {
        db.rollback();
        return QStringLiteral("Impossibile salvare la nuova password: %1").arg(error);
    }
    return QString();
}

RefStore::Catalogue RefStore::catalogue(const QString &username, qint64 cursor)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    Catalogue c;
    // One read transaction, so the reply is a consistent snapshot.
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id, username, description, quota, used, unit, div FROM buckets WHERE username = ?"
                             " ORDER BY rowid"));
    q.addBindValue(username);
    if (q.exec()) {
        while (q.next())
            c.buckets.append(readBucket(q));
    }
    q.prepare(QStringLiteral("SELECT p.id, p.idbucket, p.description FROM policies p JOIN buckets b ON b.id = p.idbucket"
                             " WHERE b.username = ? ORDER BY p.rowid"));
    q.addBindValue(username);
    if (q.exec()) {
        while (q.next())
            c.policies.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
    }
    q.prepare(QStringLiteral("SELECT f.id, f.name, f.groups, f.custom, f.idbucket, f.idpolicy FROM folders f"
                             " JOIN buckets b ON b.id = f.idbucket WHERE b.username = ? ORDER BY f.id"));
    q.addBindValue(username);
    if (q.exec())
        c.folders = readFolders(q);
    attachIndexes(db, c.folders);
    q.prepare(QStringLiteral("SELECT %1 FROM files WHERE username = ? AND current = 1 AND tsupdate > ?"
                             " ORDER BY tsupdate").arg(QLatin1String(FileColumns)));
    q.addBindValue(username);
    q.addBindValue(cursor);
    if (q.exec()) {
        while (q.next())
            c.files.append(readFile(q));
    }
    q.prepare(QStringLiteral("SELECT v.idmetadato, v.value, f.hash FROM vals v JOIN files f ON f.id = v.file_id"
                             " WHERE f.username = ? AND f.current = 1 AND f.tsupdate > ? ORDER BY f.tsupdate, v.idmetadato"));
    q.addBindValue(username);
    q.addBindValue(cursor);
    if (q.exec()) {
        while (q.next())
            c.values.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString()});
    }
    db.commit();
    return c;
}

std::optional<RefStore::Folder> RefStore::folderOfUser(const QString &username, int idfolder)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT f.id, f.name, f.groups, f.custom, f.idbucket, f.idpolicy FROM folders f"
                             " JOIN buckets b ON b.id = f.idbucket WHERE b.username = ? AND f.id = ?"));
    q.addBindValue(username);
    q.addBindValue(idfolder);
    if (!q.exec())
        return std::nullopt;
    QList<Folder> folders = readFolders(q);
    if (folders.isEmpty())
        return std::nullopt;
    attachIndexes(db, folders);
    return folders.first();
}

std::optional<RefStore::Folder> RefStore::folderById(int idfolder)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id, name, groups, custom, idbucket, idpolicy FROM folders WHERE id = ?"));
    q.addBindValue(idfolder);
    if (!q.exec())
        return std::nullopt;
    QList<Folder> folders = readFolders(q);
    if (folders.isEmpty())
        return std::nullopt;
    attachIndexes(db, folders);
    return folders.first();
}

std::optional<RefStore::Bucket> RefStore::bucket(const QString &id)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id, username, description, quota, used, unit, div FROM buckets WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return readBucket(q);
}

std::optional<RefStore::FileVersion> RefStore::oneFile(const QString &condition, const QVariantList &values)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT %1 FROM files WHERE %2").arg(QLatin1String(FileColumns), condition));
    for (const QVariant &value : values)
        q.addBindValue(value);
    if (!q.exec() || !q.next())
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
    q.prepare(QStringLiteral("SELECT %1 FROM files WHERE lineage = ? ORDER BY id DESC").arg(QLatin1String(FileColumns)));
    q.addBindValue(lineage);
    QList<FileVersion> out;
    if (q.exec()) {
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
    q.prepare(QStringLiteral("SELECT idmetadato, value FROM vals WHERE file_id = ?"));
    q.addBindValue(fileId);
    QMap<int, QString> out;
    if (q.exec()) {
        while (q.next())
            out.insert(q.value(0).toInt(), q.value(1).toString());
    }
    return out;
}

bool RefStore::saveUpload(const Upload &upload, QString *error)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO uploads (username, hash, hash4k, idfolder, prevhash, filename,"
                             " filesize, last_modified, created) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(upload.username);
    q.addBindValue(upload.hash);
    q.addBindValue(upload.hash4k);
    q.addBindValue(upload.idfolder);
    q.addBindValue(notNull(upload.prevHash));
    q.addBindValue(upload.filename);
    q.addBindValue(upload.filesize);
    q.addBindValue(upload.lastModified);
    q.addBindValue(QDateTime::currentSecsSinceEpoch());
    return exec(q, error);
}

QStringList RefStore::expireUploads(qint64 createdBefore)
{
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    if (!db.transaction())
        return {};
    QSqlQuery q(db);
    QStringList hashes;
    q.prepare(QStringLiteral("SELECT DISTINCT hash FROM uploads WHERE created < ?"));
    q.addBindValue(createdBefore);
    if (q.exec()) {
        while (q.next())
            hashes << q.value(0).toString();
    }
    q.prepare(QStringLiteral("DELETE FROM uploads WHERE created < ?"));
    q.addBindValue(createdBefore);
    if (hashes.isEmpty() || !q.exec()) {
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
    QMutexLocker lock(&m_mutex);
    QSqlDatabase db = connection();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT hash4k, filename, filesize, last_modified FROM uploads"
                             " WHERE username = ? AND hash = ? AND idfolder = ? AND prevhash = ?"));
    q.addBindValue(username);
    q.addBindValue(hash);
    q.addBindValue(idfolder);
    q.addBindValue(notNull(prevHash));
    if (!q.exec() || !q.next())
        return std::nullopt;
    Upload u;
    u.username = username;
    u.hash = hash;
    u.idfolder = idfolder;
    u.prevHash = prevHash;
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
    auto failed = [&](const QString &why) {
        db.rollback();
        *error = why;
        return ConserveOutcome::Failed;
    };
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT b.id, b.quota, b.used FROM folders f JOIN buckets b ON b.id = f.idbucket"
                             " WHERE f.id = ? AND b.username = ?"));
    q.addBindValue(upload.idfolder);
    q.addBindValue(upload.username);
    if (!q.exec() || !q.next())
        return failed(QStringLiteral("La classe indicata non appartiene al tuo account"));
    const QString bucketId = q.value(0).toString();
    const qint64 quota = q.value(1).toLongLong();
    const qint64 used = q.value(2).toLongLong();
    if (quota > 0 && used + upload.filesize > quota) {
        db.rollback();
        return ConserveOutcome::QuotaExceeded;
    }
    qint64 prevId = 0;
    qint64 lineage = 0;
    if (!replaces) {
        // Checked again inside the transaction: two conserves of the same
        // upload racing each other must not both create a current version.
        q.prepare(QStringLiteral("SELECT 1 FROM files WHERE username = ? AND hash = ? AND idfolder = ? AND current = 1"));
        q.addBindValue(upload.username);
        q.addBindValue(upload.hash);
        q.addBindValue(upload.idfolder);
        if (!q.exec())
            return failed(q.lastError().text());
        if (q.next())
            return failed(QStringLiteral("Il documento è già conservato in questa classe"));
    }
    if (replaces) {
        // The version being replaced must still be the current one: two
        // rectifications of the same version cannot both win.
        q.prepare(QStringLiteral("UPDATE files SET current = 0 WHERE id = ? AND current = 1"));
        q.addBindValue(replaces->id);
        if (!q.exec())
            return failed(q.lastError().text());
        if (q.numRowsAffected() != 1) {
            db.rollback();
            return ConserveOutcome::Replaced;
        }
        prevId = replaces->id;
        lineage = replaces->lineage;
    }
    FileVersion f;
    f.username = upload.username;
    f.hash = upload.hash;
    f.hash4k = upload.hash4k;
    f.idfolder = upload.idfolder;
    f.idbucket = bucketId;
    f.filename = upload.filename;
    f.filesize = upload.filesize;
    f.lastModified = upload.lastModified;
    f.tsconserve = QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    f.tsupdate = nextTsUpdate(db);
    f.computerName = computerName;
    f.prevId = prevId;
    f.current = true;
    bool inserted = false;
    for (int attempt = 0; attempt < 5 && !inserted; ++attempt) {
        f.token = newToken();
        q.prepare(QStringLiteral("INSERT INTO files (username, hash, hash4k, idfolder, idbucket, filename, filesize,"
                                 " last_modified, token, tsconserve, tsupdate, computer_name, prev_id, lineage, current)"
                                 " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1)"));
        q.addBindValue(f.username);
        q.addBindValue(f.hash);
        q.addBindValue(f.hash4k);
        q.addBindValue(f.idfolder);
        q.addBindValue(f.idbucket);
        q.addBindValue(f.filename);
        q.addBindValue(f.filesize);
        q.addBindValue(f.lastModified);
        q.addBindValue(f.token);
        q.addBindValue(f.tsconserve);
        q.addBindValue(f.tsupdate);
        q.addBindValue(f.computerName);
        q.addBindValue(f.prevId);
        q.addBindValue(lineage);
        inserted = q.exec();
    }
    if (!inserted)
        return failed(q.lastError().text());
    f.id = q.lastInsertId().toLongLong();
    f.lineage = lineage ? lineage : f.id;
    if (!lineage) {
        q.prepare(QStringLiteral("UPDATE files SET lineage = id WHERE id = ?"));
        q.addBindValue(f.id);
        if (!q.exec())
            return failed(q.lastError().text());
    }
    for (auto it = values.begin(); it != values.end(); ++it) {
        q.prepare(QStringLiteral("INSERT INTO vals (file_id, idmetadato, value) VALUES (?, ?, ?)"));
        q.addBindValue(f.id);
        q.addBindValue(it.key());
        q.addBindValue(it.value());
        if (!q.exec())
            return failed(q.lastError().text());
    }
    q.prepare(QStringLiteral("UPDATE buckets SET used = used + ? WHERE id = ?"));
    q.addBindValue(f.filesize);
    q.addBindValue(bucketId);
    if (!q.exec())
        return failed(q.lastError().text());
    q.prepare(QStringLiteral("DELETE FROM uploads WHERE username = ? AND hash = ? AND idfolder = ? AND prevhash = ?"));
    q.addBindValue(upload.username);
    q.addBindValue(upload.hash);
    q.addBindValue(upload.idfolder);
    q.addBindValue(notNull(upload.prevHash));
    if (!q.exec())
        return failed(q.lastError().text());
    if (q.numRowsAffected() != 1)
        return failed(QStringLiteral("Il caricamento è già stato usato per un'altra conservazione: ripeti il caricamento"));
    if (!db.commit())
        return failed(db.lastError().text());
    *stored = f;
    return ConserveOutcome::Ok;
}
