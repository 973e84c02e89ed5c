// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/searchindex.h"

#include <QSqlQuery>
#include <QStringList>

namespace {

const char *const kIndexes[] = {"search_text_key", "search_files_folder", "search_files_time"};

const char *const kTriggers[] = {"search_text_ai",  "search_text_ad",  "search_files_ai",
                                 "search_files_ad", "search_files_au", "search_values_ai",
                                 "search_values_ad", "search_values_au"};

// The full-text index follows its content table.
const char kTextInsertTrigger[] = "CREATE TRIGGER search_text_ai AFTER INSERT ON search_text BEGIN "
                                  "INSERT INTO search_fts (rowid, value) VALUES (new.id, new.value); END";

const char *const kCreate[] = {
    "CREATE TABLE search_text (id INTEGER PRIMARY KEY, hash text, kind int, ref int, value text)",
    "CREATE INDEX search_text_key ON search_text (hash, kind, ref)",
    // The files of the classes whose name matches a word.
    "CREATE INDEX search_files_folder ON files (folderid)",
    // The lists come newest first: read in this order, they need no sorting.
    "CREATE INDEX search_files_time ON files (datetime(substr(tsconserve,7,4)||'-'||substr(tsconserve,4,2)||'-'||"
    "substr(tsconserve,1,2)||' '||substr(tsconserve,12,2)||':'||substr(tsconserve,15,2)||':'||"
    "substr(tsconserve,18,2)))",
    "CREATE VIRTUAL TABLE search_fts USING fts5(value, content='search_text', content_rowid='id', "
    "tokenize='trigram')",

    kTextInsertTrigger,
    "CREATE TRIGGER search_text_ad AFTER DELETE ON search_text BEGIN "
    "INSERT INTO search_fts (search_fts, rowid, value) VALUES ('delete', old.id, old.value); END",

    // Files: path and computer name. INSERT OR REPLACE does not fire the delete
    // trigger, so an insert first drops what an earlier row of the same key left.
    "CREATE TRIGGER search_files_ai AFTER INSERT ON files BEGIN "
    "DELETE FROM search_text WHERE hash = new.hash AND kind IN (0, 1) AND ref = new.folderid; "
    "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 0, new.folderid, new.fullpath "
    "WHERE new.fullpath IS NOT NULL; "
    "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 1, new.folderid, new.computer_name "
    "WHERE new.computer_name IS NOT NULL; END",
    "CREATE TRIGGER search_files_ad AFTER DELETE ON files BEGIN "
    "DELETE FROM search_text WHERE hash = old.hash AND kind IN (0, 1) AND ref = old.folderid; END",
    "CREATE TRIGGER search_files_au AFTER UPDATE OF hash, folderid, fullpath, computer_name ON files BEGIN "
    "DELETE FROM search_text WHERE hash = old.hash AND kind IN (0, 1) AND ref = old.folderid; "
    "DELETE FROM search_text WHERE hash = new.hash AND kind IN (0, 1) AND ref = new.folderid; "
    "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 0, new.folderid, new.fullpath "
    "WHERE new.fullpath IS NOT NULL; "
    "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 1, new.folderid, new.computer_name "
    "WHERE new.computer_name IS NOT NULL; END",

    // Index values: one per (index, file), the catalogue's own unique key.
    "CREATE TRIGGER search_values_ai AFTER INSERT ON metadati_values BEGIN "
    "DELETE FROM search_text WHERE hash = new.hash AND kind = 2 AND ref = new.idmetadata; "
    "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 2, new.idmetadata, new.value "
    "WHERE new.value IS NOT NULL; END",
    "CREATE TRIGGER search_values_ad AFTER DELETE ON metadati_values BEGIN "
    "DELETE FROM search_text WHERE hash = old.hash AND kind = 2 AND ref = old.idmetadata; END",
    "CREATE TRIGGER search_values_au AFTER UPDATE OF idmetadata, value, hash ON metadati_values BEGIN "
    "DELETE FROM search_text WHERE hash = old.hash AND kind = 2 AND ref = old.idmetadata; "
    "DELETE FROM search_text WHERE hash = new.hash AND kind = 2 AND ref = new.idmetadata; "
    "INSERT INTO search_text (hash, kind, ref, value) SELECT new.hash, 2, new.idmetadata, new.value "
    "WHERE new.value IS NOT NULL; END",
};

// Filling from the catalogue: the content first, the full-text index in one pass.
const char *const kFill[] = {
    "DROP TRIGGER IF EXISTS search_text_ai",
    "INSERT INTO search_text (hash, kind, ref, value) SELECT hash, 0, folderid, fullpath FROM files "
    "WHERE fullpath IS NOT NULL",
    "INSERT INTO search_text (hash, kind, ref, value) SELECT hash, 1, folderid, computer_name FROM files "
    "WHERE computer_name IS NOT NULL",
    "INSERT INTO search_text (hash, kind, ref, value) SELECT hash, 2, idmetadata, value FROM metadati_values "
    "WHERE value IS NOT NULL",
    "INSERT INTO search_fts (search_fts) VALUES ('rebuild')",
};

bool run(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    return query.exec(sql);
}

} // namespace

bool SearchIndex::isPresent(QSqlDatabase &db)
{
    QStringList names;
    for (const char *name : kTriggers)
        names << QLatin1String(name);
    for (const char *name : kIndexes)
        names << QLatin1String(name);
    names << QStringLiteral("search_text") << QStringLiteral("search_fts");

    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (%1)")
                      .arg(QStringList(QList<QString>(names.size(), QStringLiteral("?"))).join(QLatin1Char(','))));
    for (const QString &name : names)
        query.addBindValue(name);
    return query.exec() && query.next() && query.value(0).toInt() == names.size();
}

void SearchIndex::drop(QSqlDatabase &db)
{
    for (const char *name : kTriggers)
        run(db, QStringLiteral("DROP TRIGGER IF EXISTS ") + QLatin1String(name));
    run(db, QStringLiteral("DROP INDEX IF EXISTS search_files_folder"));
    run(db, QStringLiteral("DROP INDEX IF EXISTS search_files_time"));
    run(db, QStringLiteral("DROP TABLE IF EXISTS search_fts"));
    run(db, QStringLiteral("DROP TABLE IF EXISTS search_text"));
}

bool SearchIndex::ensure(QSqlDatabase &db)
{
    if (!db.isOpen())
        return false;
    // The catalogue is reopened for every use, so its page cache always starts
    // empty: reading through a memory map avoids copying every page a search
    // touches out of the system's file cache.
    run(db, QStringLiteral("PRAGMA mmap_size = 268435456"));
    if (isPresent(db))
        return true;

    // A catalogue rebuilt since the index was made keeps a stale index whose
    // triggers went with the old tables: start again from nothing.
    const bool ownTransaction = db.transaction();
    drop(db);
    bool ok = true;
    for (const char *sql : kCreate)
        ok = run(db, QLatin1String(sql)) && ok;
    for (const char *sql : kFill)
        ok = run(db, QLatin1String(sql)) && ok;
    ok = run(db, QLatin1String(kTextInsertTrigger)) && ok; // back after the bulk fill
    if (!ok) {
        if (ownTransaction)
            db.rollback();
        else
            drop(db);
        return false;
    }
    if (ownTransaction)
        db.commit();
    return isPresent(db);
}
