// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CATALOGUEAPPLIER_H
#define CATALOGUEAPPLIER_H

#include "service/replydocument.h"

#include <QDomElement>
#include <QSqlDatabase>
#include <QStringView>

struct sqlite3;
struct sqlite3_stmt;

// Writes the catalogue data of a login or synchronisation body into the open
// catalogue: profiles, policies, classes and index definitions are replaced,
// preserved files and their index values are merged (insert or replace). The
// caller holds the transaction. Each statement is prepared once and executed per
// element; a failing row is skipped and the rest goes on.
//
// Rows come either from a DOM body, in the order buckets, policies, classes
// with their index definitions, files, index values; or, as a sink of the
// streaming reply reader, element by element in document order, so a body of
// tens of megabytes is never held as a DOM. The tables do not depend on each
// other, so both orders leave the same rows.
//
// The statements run on the SQLite handle of the catalogue's connection: a
// first synchronisation writes hundreds of thousands of rows, and binding the
// reader's text directly costs far less than a query object per row.
class CatalogueApplier : public ReplyDocument::CatalogueSink
{
public:
    explicit CatalogueApplier(const QSqlDatabase &db);
    ~CatalogueApplier() override;
    CatalogueApplier(const CatalogueApplier &) = delete;
    CatalogueApplier &operator=(const CatalogueApplier &) = delete;

    // The four DELETE statements, in the order buckets, policies, folders, metadati.
    void clearReplacedTables();
    // Buckets, policies, then classes each followed by its index definitions.
    void applyDefinitions(const QDomElement &body);
    void applyFiles(const QDomElement &body);
    void applyValues(const QDomElement &body);

    // Sink: begin() empties the replaced tables, row() writes one row.
    void begin() override;
    void row(ReplyDocument::Row row, const QStringView *fields) override;

    // To be called before the transaction commits: brings the file list's
    // search index up to date if it was set aside during a large body.
    void finish();

private:
    // The search index follows every file and index value through triggers,
    // which cost far more per row than the rows themselves. When a body brings
    // many rows compared with what the index holds, the index is dropped inside
    // the transaction and rebuilt in one pass by finish().
    void countBulkRow();

    // One prepared statement; a statement that could not be prepared does nothing.
    class Statement
    {
    public:
        Statement(sqlite3 *handle, const char *sql);
        ~Statement();
        Statement(const Statement &) = delete;
        Statement &operator=(const Statement &) = delete;
        // Text as received; a missing value is the empty string, never NULL.
        void text(int column, QStringView value);
        // Decimal integer of the text; anything that is not a number gives 0.
        void integer(int column, QStringView value);
        void run();

    private:
        sqlite3_stmt *m_stmt = nullptr;
    };

    // Writes the row of a DOM element.
    void domRow(ReplyDocument::Row row, const QDomElement &element);

    QSqlDatabase m_db;
    int m_bulkRows = 0;
    qint64 m_bulkThreshold = -1; // -1: not computed yet; 0: no index to set aside
    bool m_indexSetAside = false;
    Statement m_bucket;
    Statement m_policy;
    Statement m_folder;
    Statement m_index;
    Statement m_file;
    Statement m_value;
};

#endif // CATALOGUEAPPLIER_H
