// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SEARCHINDEX_H
#define SEARCHINDEX_H

#include <QSqlDatabase>

// Word index of the searchable texts of the catalogue, so that a search of the
// file list does not scan every path, computer name and index value at every
// keystroke.
//
// `search_text` holds one row per searchable text of a file: its path and its
// computer name (kind 0 and 1, `ref` = the file's class id) and each index value
// (kind 2, `ref` = the index id). `search_fts` is a trigram full-text index over
// those texts, which answers LIKE '%word%' for words with at least three
// consecutive literal characters. Triggers on `files` and `metadati_values`
// keep both in step with the catalogue inside the writer's own transaction.
// Class names and the existence of the index definition are not copied: the
// search joins them live, so replacing the classes or the index definitions at
// every synchronisation costs nothing here.
class SearchIndex
{
public:
    // Builds the index and its triggers when they are missing (first use, or a
    // catalogue rebuilt since), filling it from the catalogue in one
    // transaction. The catalogue must be open. Returns true when the index is
    // usable.
    static bool ensure(QSqlDatabase &db);

    // True when the triggers and tables are all present.
    static bool isPresent(QSqlDatabase &db);

    // Drops the index and its triggers (the next ensure() rebuilds it).
    static void drop(QSqlDatabase &db);
};

#endif // SEARCHINDEX_H
