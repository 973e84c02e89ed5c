// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// RefStore: the connection, the schema, the update stamps and the accounts.

#include "refstore.h"

#include "passwordpolicy.h"
#include "refstore_p.h"

#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QSqlError>
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

} // namespace

namespace StoreRows {

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

bool run(QSqlQuery &q, const QString &sql, const QVariantList &values, QString *error)
{
    q.prepare(sql);
    for (const QVariant &value : values)
        q.addBindValue(value);
    if (q.exec())
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

QString notNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QString newToken()
{
    const quint64 r = QRandomGenerator::system()->generate64();
    return QStringLiteral("%1-%2")
        .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")))
        .arg(QString::number(r, 16).toUpper().rightJustified(16, QLatin1Char('0')));
}

QString timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

} // namespace StoreRows

using namespace StoreRows;

QString RefStore::Bucket::usageText() const
{
    const qint64 d = div > 0 ? div : 1;
    return QStringLiteral("%1 %2 su %3 %2").arg(used / d).arg(unit).arg(quota / d);
}

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
    return run(q, QStringLiteral("UPDATE uploads SET created = ? WHERE created IS NULL"),
               {QDateTime::currentSecsSinceEpoch()}, error);
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
    // Callers hold the store's lock and a write transaction, so stamps are
    // strictly increasing across the whole service.
    QSqlQuery q(db);
    q.exec(QStringLiteral("SELECT CAST(value AS INTEGER) FROM meta WHERE key = 'tsupdate'"));
    const qint64 last = q.next() ? q.value(0).toLongLong() : 0;
    const qint64 stamp = qMax(QDateTime::currentMSecsSinceEpoch(), last + 1);
    run(q, QStringLiteral("UPDATE meta SET value = ? WHERE key = 'tsupdate'"), {QString::number(stamp)});
    return stamp;
}

bool RefStore::setPassword(QSqlDatabase &db, const QString &username, const QString &password, QString *error)
{
    const QByteArray salt = PasswordPolicy::newSalt();
    const int iterations = PasswordPolicy::DefaultIterations;
    const QByteArray key = PasswordPolicy::derive(password, salt, iterations);
    QSqlQuery q(db);
    const QVariantList row = {username, salt, key, iterations};
    return run(q, QStringLiteral("INSERT OR REPLACE INTO users (username, salt, pwkey, iterations) VALUES (?, ?, ?, ?)"),
               row, error)
        && run(q, QStringLiteral("INSERT INTO pwhistory (username, salt, pwkey, iterations) VALUES (?, ?, ?, ?)"), row,
               error);
}

bool RefStore::verifyPassword(const QString &username, const QString &password)
{
    QByteArray salt, key;
    int iterations = 0;
    {
        QMutexLocker lock(&m_mutex);
        QSqlDatabase db = connection();
        QSqlQuery q(db);
        if (!run(q, QStringLiteral("SELECT salt, pwkey, iterations FROM users WHERE username = ?"), {username})
            || !q.next())
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
        if (run(q, QStringLiteral("SELECT salt, pwkey, iterations FROM pwhistory WHERE username = ? ORDER BY id DESC"
                                  " LIMIT ?"),
                {username, PasswordPolicy::HistoryDepth})) {
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
