// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/searchindex.h"

#include "browse/filelistquery.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// Layout of the index file; a file of another layout is emptied and rebuilt.
const int kLayout = 1;

// What earlier versions kept inside the catalogue file itself.
const char *const kEarlierTriggers[] = {"search_text_ai",  "search_text_ad",   "search_files_ai",
                                        "search_files_ad", "search_files_au",  "search_values_ai",
                                        "search_values_ad", "search_values_au"};
const char *const kEarlierIndexes[] = {"search_text_key", "search_files_folder", "search_files_time"};
const char *const kEarlierTables[] = {"search_fts", "search_text"};

// The objects of the index file, in the order they are dropped.
const char *const kFileTriggers[] = {"search_text_ai", "search_text_ad"};
const char *const kFileTables[] = {"search_fts", "search_text", "search_files", "search_state"};

// The full-text index follows its content table.
const char kTextInsertTrigger[] = "CREATE TRIGGER search.search_text_ai AFTER INSERT ON search_text BEGIN "
                                  "INSERT INTO search_fts (rowid, value) VALUES (new.id, new.value); END";

const char *const kCreateFile[] = {
    // One row: the state of the catalogue file the index was last known to
    // match, or the mark of the connection that rebuilt it.
    "CREATE TABLE search.search_state (id INTEGER PRIMARY KEY CHECK (id = 1), catalogue text)",
    "CREATE TABLE search.search_text (id INTEGER PRIMARY KEY, hash text, kind int, ref int, value text)",
    "CREATE INDEX search.search_text_key ON search_text (hash, kind, ref)",
    // Rows of `files` by rowid: the list's order, and the files of a class.
    "CREATE TABLE search.search_files (frow INTEGER PRIMARY KEY, hash text, folderid int, ts text)",
    "CREATE INDEX search.search_files_time ON search_files (ts)",
    "CREATE INDEX search.search_files_folder ON search_files (folderid, hash)",
    "CREATE VIRTUAL TABLE search.search_fts USING fts5(value, content='search_text', content_rowid='id', "
    "tokenize='trigram')",
    "CREATE TRIGGER search.search_text_ad AFTER DELETE ON search_text BEGIN "
    "INSERT INTO search_fts (search_fts, rowid, value) VALUES ('delete', old.id, old.value); END",
};

// The triggers that follow this connection's writes to the catalogue. Path and
// computer name are keyed by (hash, class) like the catalogue's rows; INSERT OR
// REPLACE need not fire the delete trigger, so an insert first drops what an
// earlier row of the same key left. A trigger may not name the schema of the
// tables it writes: these names are found in the index file, the only schema
// that has them (earlier objects of the same names are removed from the
// catalogue before the triggers are made).
const char *const kFollowers[] = {"search_files_ai", "search_files_ad", "search_files_au",
                                  "search_values_ai", "search_values_ad", "search_values_au"};

QStringList followerStatements()
{
    const QString newFile = QStringLiteral(
        "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 0, new.folderid, new.fullpath "
        "WHERE new.fullpath IS NOT NULL; "
        "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 1, new.folderid, new.computer_name "
        "WHERE new.computer_name IS NOT NULL; "
        "INSERT OR REPLACE INTO search_files (frow, hash, folderid, ts) "
        "VALUES (new.rowid, new.hash, new.folderid, %1); ")
                                .arg(FileListQuery::timeExpression(QStringLiteral("new")));
    const QString oldFile = QStringLiteral(
        "DELETE FROM search_text WHERE hash = old.hash AND kind IN (0, 1) AND ref = old.folderid; "
        "DELETE FROM search_files WHERE frow = old.rowid; ");
    const QString newValue = QStringLiteral(
        "DELETE FROM search_text WHERE hash = new.hash AND kind = 2 AND ref = new.idmetadata; "
        "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 2, new.idmetadata, new.value "
        "WHERE new.value IS NOT NULL; ");
    const QString oldValue =
        QStringLiteral("DELETE FROM search_text WHERE hash = old.hash AND kind = 2 AND ref = old.idmetadata; ");
    return {
        QStringLiteral("CREATE TEMP TRIGGER search_files_ai AFTER INSERT ON main.files BEGIN "
                       "DELETE FROM search_text WHERE hash = new.hash AND kind IN (0, 1) AND ref = new.folderid; "
                       "DELETE FROM search_files WHERE folderid = new.folderid AND hash = new.hash; ")
            + newFile + QStringLiteral("END"),
        QStringLiteral("CREATE TEMP TRIGGER search_files_ad AFTER DELETE ON main.files BEGIN ") + oldFile
            + QStringLiteral("END"),
        // Any column may have changed, the rowid too: the row is followed anew.
        QStringLiteral("CREATE TEMP TRIGGER search_files_au AFTER UPDATE ON main.files BEGIN ") + oldFile
            + QStringLiteral(
                "DELETE FROM search_text WHERE hash = new.hash AND kind IN (0, 1) AND ref = new.folderid; ")
            + newFile + QStringLiteral("END"),
        // Index values: one per (index, file), the catalogue's own unique key.
        QStringLiteral("CREATE TEMP TRIGGER search_values_ai AFTER INSERT ON main.metadati_values BEGIN ") + newValue
            + QStringLiteral("END"),
        QStringLiteral("CREATE TEMP TRIGGER search_values_ad AFTER DELETE ON main.metadati_values BEGIN ") + oldValue
            + QStringLiteral("END"),
        QStringLiteral("CREATE TEMP TRIGGER search_values_au AFTER UPDATE OF idmetadata, value, hash "
                       "ON main.metadati_values BEGIN ")
            + oldValue + newValue + QStringLiteral("END"),
    };
}

// Filling from the catalogue: the content first, the full-text index in one pass.
QStringList fillStatements()
{
    return {
        QStringLiteral("INSERT INTO search.search_text (hash, kind, ref, value) SELECT hash, 0, folderid, fullpath "
                       "FROM main.files WHERE fullpath IS NOT NULL"),
        QStringLiteral("INSERT INTO search.search_text (hash, kind, ref, value) SELECT hash, 1, folderid, "
                       "computer_name FROM main.files WHERE computer_name IS NOT NULL"),
        QStringLiteral("INSERT INTO search.search_text (hash, kind, ref, value) SELECT hash, 2, idmetadata, value "
                       "FROM main.metadati_values WHERE value IS NOT NULL"),
        QStringLiteral("INSERT INTO search.search_files (frow, hash, folderid, ts) SELECT rowid, hash, folderid, ")
            + FileListQuery::timeExpression(QString()) + QStringLiteral(" FROM main.files"),
        QStringLiteral("INSERT INTO search.search_fts (search_fts) VALUES ('rebuild')"),
    };
}

// What this process knows of the index on the catalogue connection. The
// connection is opened and closed around every group of statements, and
// attach() starts afresh on each.
struct Link
{
    sqlite3 *handle = nullptr;
    // The value of the index file's state row that means "in step" on this
    // connection: the catalogue's state when attach() found it noted, or the
    // mark written by a rebuild. Empty: not in step. The row is written in the
    // same transactions as the index, so a rolled-back rebuild or setting
    // aside leaves a row that no longer matches.
    QString inStepMark;
    // The catalogue's data version when the index was last known in step: it
    // changes when another connection commits.
    qint64 dataVersion = -1;
};
Link g_link;

sqlite3 *handleOf(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

bool run(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    return query.exec(sql);
}

QVariant valueOf(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (query.exec(sql) && query.next())
        return query.value(0);
    return {};
}

bool isAttached(sqlite3 *handle)
{
    return sqlite3_db_filename(handle, "search") != nullptr;
}

qint64 dataVersion(QSqlDatabase &db)
{
    const QVariant version = valueOf(db, QStringLiteral("PRAGMA main.data_version"));
    return version.isValid() ? version.toLongLong() : -1;
}

QString stateRow(QSqlDatabase &db)
{
    return valueOf(db, QStringLiteral("SELECT catalogue FROM search.search_state WHERE id = 1")).toString();
}

// The state of the catalogue file: its identity, size and modification time,
// and the change counter that SQLite increments in the file's header at every
// commit by any connection. To be read while the catalogue is read-locked (in
// a transaction that has read it), so that no commit can come in between.
// Empty when it cannot be told: a catalogue in write-ahead-log mode commits
// without touching its header, and such a file is never trusted.
QString catalogueState(sqlite3 *handle)
{
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(handle, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file
        || !file->pMethods)
        return {};
    // Read through SQLite's own descriptor: opening and closing another one on
    // the file would drop the process's locks on it.
    unsigned char header[100] = {};
    if (file->pMethods->xRead(file, header, int(sizeof header), 0) != SQLITE_OK)
        return {};
    if (header[18] != 1 || header[19] != 1)
        return {};
    const char *path = sqlite3_db_filename(handle, "main");
    struct stat info;
    if (!path || !*path || ::stat(path, &info) != 0)
        return {};
    const quint32 counter = quint32(header[24]) << 24 | quint32(header[25]) << 16 | quint32(header[26]) << 8
        | quint32(header[27]);
    return QStringLiteral("%1 %2:%3 %4 %5.%6 %7")
        .arg(kLayout)
        .arg(quint64(info.st_dev))
        .arg(quint64(info.st_ino))
        .arg(qint64(info.st_size))
        .arg(qint64(info.st_mtim.tv_sec))
        .arg(qint64(info.st_mtim.tv_nsec), 9, 10, QLatin1Char('0'))
        .arg(counter);
}

// The names of `names`, quoted and separated by commas, for an IN list.
template <size_t N>
QString quotedList(const char *const (&names)[N])
{
    QStringList quoted;
    for (const char *name : names)
        quoted << QLatin1Char('\'') + QLatin1String(name) + QLatin1Char('\'');
    return quoted.join(QLatin1Char(','));
}

bool followersPresent(QSqlDatabase &db)
{
    static const QString count =
        QStringLiteral("SELECT count(*) FROM temp.sqlite_master WHERE type = 'trigger' AND name IN (%1)")
            .arg(quotedList(kFollowers));
    return valueOf(db, count).toInt() == int(std::size(kFollowers));
}

void dropFollowers(QSqlDatabase &db)
{
    for (const char *name : kFollowers)
        run(db, QStringLiteral("DROP TRIGGER IF EXISTS temp.") + QLatin1String(name));
}

bool createFollowers(QSqlDatabase &db)
{
    bool ok = true;
    for (const QString &sql : followerStatements())
        ok = run(db, sql) && ok;
    return ok;
}

void dropFileObjects(QSqlDatabase &db)
{
    dropFollowers(db);
    for (const char *name : kFileTriggers)
        run(db, QStringLiteral("DROP TRIGGER IF EXISTS search.") + QLatin1String(name));
    for (const char *name : kFileTables)
        run(db, QStringLiteral("DROP TABLE IF EXISTS search.") + QLatin1String(name));
}

// Earlier versions kept the index inside the catalogue: its triggers would fire
// for every program that writes the catalogue. Removed at the first open.
bool hasEarlierObjects(QSqlDatabase &db)
{
    static const QString count = QStringLiteral("SELECT count(*) FROM main.sqlite_master WHERE name IN (%1, %2, %3)")
                                     .arg(quotedList(kEarlierTriggers), quotedList(kEarlierIndexes),
                                          quotedList(kEarlierTables));
    return valueOf(db, count).toInt() > 0;
}

void removeEarlierObjects(QSqlDatabase &db)
{
    const bool own = db.transaction();
    for (const char *name : kEarlierTriggers)
        run(db, QStringLiteral("DROP TRIGGER IF EXISTS main.") + QLatin1String(name));
    for (const char *name : kEarlierIndexes)
        run(db, QStringLiteral("DROP INDEX IF EXISTS main.") + QLatin1String(name));
    for (const char *name : kEarlierTables)
        run(db, QStringLiteral("DROP TABLE IF EXISTS main.") + QLatin1String(name));
    if (own)
        db.commit();
}

void removeFile(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

// Attaches the index file, made only readable by its owner like the catalogue.
// A file that is not a database is only a lost index: it is removed and made
// anew. Not possible inside a transaction.
bool attachFile(QSqlDatabase &db, sqlite3 *handle)
{
    const char *catalogue = sqlite3_db_filename(handle, "main");
    if (!catalogue || !*catalogue || !sqlite3_get_autocommit(handle))
        return false;
    const QString path = SearchIndex::filePath(QString::fromUtf8(catalogue));
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!QFile::exists(path)) {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.close();
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        QSqlQuery attach(db);
        attach.prepare(QStringLiteral("ATTACH DATABASE ? AS search"));
        attach.addBindValue(path);
        if (attach.exec())
            return true;
        const QString code = attach.lastError().nativeErrorCode();
        if (code != QLatin1String("26") /* SQLITE_NOTADB */ && code != QLatin1String("11") /* SQLITE_CORRUPT */)
            return false;
        removeFile(path);
    }
    return false;
}

// The index file keeps a write-ahead log, so a write of this client to the
// catalogue and the index needs no commit protocol across the two files: the
// catalogue commits as before, the index adds no file synchronisation to it.
// After a crash between the two commits, the index file's note of the
// catalogue no longer matches the catalogue (a rolled-back catalogue has been
// rewritten), and the index is rebuilt; the log is recovered as a whole prefix
// of its commits, so a note that survives implies that every index change
// before it did. The log file is kept (empty) between connections, which
// saves creating and removing it at every use. The index is a copy of what
// the catalogue holds: freed pages need no wiping.
void tuneConnection(QSqlDatabase &db)
{
    if (sqlite3 *handle = handleOf(db)) {
        int persist = 1;
        sqlite3_file_control(handle, "search", SQLITE_FCNTL_PERSIST_WAL, &persist);
    }
    run(db, QStringLiteral("PRAGMA search.journal_mode = WAL"));
    run(db, QStringLiteral("PRAGMA search.journal_size_limit = 0"));
    run(db, QStringLiteral("PRAGMA search.synchronous = NORMAL"));
    run(db, QStringLiteral("PRAGMA search.secure_delete = 0"));
}

bool inStep(QSqlDatabase &db, sqlite3 *handle)
{
    return handle == g_link.handle && !g_link.inStepMark.isEmpty() && isAttached(handle)
        && stateRow(db) == g_link.inStepMark && followersPresent(db) && dataVersion(db) == g_link.dataVersion;
}

bool rebuild(QSqlDatabase &db)
{
    // The triggers name the index's tables without their schema: tables of an
    // earlier version left in the catalogue would take their writes.
    if (hasEarlierObjects(db)) {
        removeEarlierObjects(db);
        if (hasEarlierObjects(db))
            return false;
    }
    const bool own = db.transaction();
    // A larger page cache while the index is built: the catalogue keeps its
    // own, which a synchronisation has just filled.
    run(db, QStringLiteral("PRAGMA search.cache_size = -32768"));
    dropFileObjects(db);
    bool ok = true;
    for (const char *sql : kCreateFile)
        ok = ok && run(db, QLatin1String(sql));
    for (const QString &sql : fillStatements())
        ok = ok && run(db, sql);
    ok = ok && run(db, QLatin1String(kTextInsertTrigger)) && createFollowers(db);
    const QString mark = QStringLiteral("rebuilt %1").arg(QRandomGenerator::system()->generate64(), 16, 16,
                                                          QLatin1Char('0'));
    QSqlQuery state(db);
    state.prepare(QStringLiteral("INSERT INTO search.search_state (id, catalogue) VALUES (1, ?)"));
    state.addBindValue(mark);
    ok = ok && state.exec();
    // Read inside the transaction, which has read the catalogue: the index
    // holds the catalogue as of this version (and this connection's writes).
    const qint64 version = dataVersion(db);
    run(db, QStringLiteral("PRAGMA search.cache_size = -2000"));
    if (!ok) {
        if (own)
            db.rollback();
        else
            dropFileObjects(db);
        return false;
    }
    if (own && !db.commit())
        return false;
    g_link.inStepMark = mark;
    g_link.dataVersion = version;
    return true;
}

} // namespace

QString SearchIndex::filePath(const QString &cataloguePath)
{
    const QFileInfo catalogue(cataloguePath);
    return catalogue.absolutePath() + QLatin1Char('/') + catalogue.completeBaseName() + QStringLiteral("-search.db");
}

void SearchIndex::attach(QSqlDatabase &db)
{
    g_link = Link();
    sqlite3 *handle = handleOf(db);
    if (!handle)
        return;
    const bool attached = isAttached(handle) || attachFile(db, handle);
    if (attached) {
        g_link.handle = handle;
        tuneConnection(db);
    }

    // What the catalogue and the index file hold, read under one lock; when
    // the index is in step, it is followed from here on.
    const bool own = db.transaction();
    const bool earlierObjects = hasEarlierObjects(db);
    const bool layout = attached && valueOf(db, QStringLiteral("PRAGMA search.user_version")).toInt() == kLayout;
    const qint64 version = dataVersion(db);
    const QString state = attached ? catalogueState(handle) : QString();
    const QString noted = layout ? stateRow(db) : QString();
    const bool followed = !earlierObjects && !state.isEmpty() && state == noted && createFollowers(db);
    if (own)
        db.commit();
    if (earlierObjects)
        removeEarlierObjects(db);
    if (attached && !layout) {
        dropFileObjects(db);
        run(db, QStringLiteral("PRAGMA search.user_version = %1").arg(kLayout));
    }
    g_link.dataVersion = version;
    if (followed)
        g_link.inStepMark = noted;
}

void SearchIndex::leave(QSqlDatabase &db)
{
    sqlite3 *handle = handleOf(db);
    if (!handle || handle != g_link.handle || g_link.inStepMark.isEmpty())
        return;
    // Outside any transaction (the connection has just committed): the check,
    // the catalogue's state and the note are then one transaction.
    if (db.transaction()) {
        if (inStep(db, handle)) {
            const QString state = catalogueState(handle);
            if (state != g_link.inStepMark) {
                QSqlQuery note(db);
                note.prepare(QStringLiteral("UPDATE search.search_state SET catalogue = ? WHERE id = 1"));
                note.addBindValue(state.isEmpty() ? QVariant() : QVariant(state));
                note.exec();
            }
        }
        db.commit();
    }
    g_link = Link();
}

bool SearchIndex::isPresent(QSqlDatabase &db)
{
    sqlite3 *handle = handleOf(db);
    return handle && inStep(db, handle);
}

void SearchIndex::drop(QSqlDatabase &db)
{
    sqlite3 *handle = handleOf(db);
    if (!handle || !isAttached(handle))
        return;
    dropFileObjects(db);
    if (handle == g_link.handle)
        g_link.inStepMark.clear();
}

bool SearchIndex::ensure(QSqlDatabase &db)
{
    sqlite3 *handle = handleOf(db);
    if (!handle)
        return false;
    if (handle != g_link.handle || !isAttached(handle))
        attach(db);
    if (!isAttached(handle))
        return false;
    // The catalogue is reopened for every use, so its page cache always starts
    // empty: reading through a memory map avoids copying every page a search
    // touches out of the system's file cache.
    run(db, QStringLiteral("PRAGMA main.mmap_size = 268435456"));
    run(db, QStringLiteral("PRAGMA search.mmap_size = 268435456"));
    if (inStep(db, handle))
        return true;
    if (rebuild(db))
        return inStep(db, handle);
    // An index file that cannot be rebuilt (damaged inside) is replaced by a
    // new one, when no transaction holds it.
    if (!sqlite3_get_autocommit(handle) || hasEarlierObjects(db))
        return false;
    dropFollowers(db);
    run(db, QStringLiteral("DETACH DATABASE search"));
    if (isAttached(handle))
        return false;
    removeFile(filePath(QString::fromUtf8(sqlite3_db_filename(handle, "main"))));
    attach(db);
    return isAttached(handle) && rebuild(db) && inStep(db, handle);
}
