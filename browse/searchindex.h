// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SEARCHINDEX_H
#define SEARCHINDEX_H

#include <QSqlDatabase>
#include <QString>

// Word index of the searchable texts of the catalogue, so that a search of the
// file list does not scan every path, computer name and index value at every
// keystroke.
//
// The index lives in a file of its own beside the catalogue
// ("tavrellite-search.db"), attached to the catalogue's connection as the
// schema "search"; the catalogue file holds only its own tables, so any other
// program that writes it (an older client, a database shell) meets nothing it
// does not know.
//
// `search_text` holds one row per searchable text of a file: its path and its
// computer name (kind 0 and 1, `ref` = the file's class id) and each index value
// (kind 2, `ref` = the index id). `search_fts` is a trigram full-text index over
// those texts, which answers LIKE '%word%' for words with at least three
// consecutive literal characters. `search_files` holds one row per catalogue
// file row (`frow` = its rowid) with its preservation time as the list sorts it,
// so the whole list comes newest first without sorting.
//
// Triggers created on every connection (TEMP, so they live and die with it)
// keep the index in step with the catalogue inside the writer's own
// transaction. Class names and the existence of the index definition are not
// copied: the search joins them live, so replacing the classes or the index
// definitions at every synchronisation costs nothing here.
//
// Writers that are not this client do not fire those triggers. When a
// connection leaves the catalogue with the index in step, the index file keeps
// a note of the catalogue file's state (its change counter, which SQLite
// increments at every commit by anyone, and the file's identity, size and
// modification time); the next connection trusts the index only if the
// catalogue is still in that state, and otherwise rebuilds it when a search
// needs it. A commit by another connection while this one is open is noticed
// through SQLite's data version.
class SearchIndex
{
public:
    // Called for every newly opened catalogue connection: removes the index
    // objects that earlier versions kept inside the catalogue file, attaches
    // the index file and, when the index is still in step with the catalogue,
    // creates the triggers that keep it so. Builds nothing.
    static void attach(QSqlDatabase &db);

    // Called just before the catalogue connection closes (after its commit):
    // when the index is in step, notes the catalogue's state for the next
    // connection.
    static void leave(QSqlDatabase &db);

    // Makes the index usable: attaches it if needed and, when it is missing or
    // not in step with the catalogue, rebuilds it from the catalogue in one
    // transaction (the caller's, when one is open). Returns true when usable.
    static bool ensure(QSqlDatabase &db);

    // True when the index is attached, in step with the catalogue and followed
    // by its triggers on this connection.
    static bool isPresent(QSqlDatabase &db);

    // Sets the index aside (the next ensure() rebuilds it): used before many
    // rows are written at once, where one rebuild costs less than following
    // every row.
    static void drop(QSqlDatabase &db);

    // The index file that belongs to the catalogue at `cataloguePath`.
    static QString filePath(const QString &cataloguePath);
};

#endif // SEARCHINDEX_H
