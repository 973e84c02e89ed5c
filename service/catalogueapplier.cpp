// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "service/catalogueapplier.h"

#include "browse/searchindex.h"

#include <QDomNodeList>
#include <QSqlDriver>
#include <QSqlQuery>

#include <sqlite3.h>

namespace {
sqlite3 *handleOf(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

// Rows of a body below which the search index always follows row by row.
const int kMinBulkRows = 1000;
} // namespace

CatalogueApplier::Statement::Statement(sqlite3 *handle, const char *sql)
{
    if (handle && sqlite3_prepare_v2(handle, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

CatalogueApplier::Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

void CatalogueApplier::Statement::text(int column, QStringView value)
{
    if (!m_stmt)
        return;
    // Copied at once: the reader's text lasts only until its next token.
    const void *data = value.isEmpty() ? static_cast<const void *>(u"") : value.utf16();
    sqlite3_bind_text16(m_stmt, column + 1, data, int(value.size() * 2), SQLITE_TRANSIENT);
}

void CatalogueApplier::Statement::integer(int column, QStringView value)
{
    if (m_stmt)
        sqlite3_bind_int(m_stmt, column + 1, value.toInt());
}

void CatalogueApplier::Statement::run()
{
    if (!m_stmt)
        return;
    sqlite3_step(m_stmt); // a failing row (duplicate key, ...) is skipped
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

CatalogueApplier::CatalogueApplier(const QSqlDatabase &db)
    : m_db(db)
    , m_bucket(handleOf(db), "INSERT INTO buckets (idbuckets, description, quota, used, unit, div) VALUES (?, ?, ?, ?, ?, ?)")
    , m_policy(handleOf(db), "INSERT INTO policies (idpolicies, idbuckets, description) VALUES (?, ?, ?)")
    , m_folder(handleOf(db), "INSERT INTO folders (idfolder, name, groups, custom, idbuckets, idpolicies) VALUES (?, ?, ?, ?, ?, ?)")
    , m_index(handleOf(db), "INSERT INTO metadati (idmetadato, idfolder, nome, tipo, visibile, required, custom) VALUES (?, ?, ?, ?, ?, ?, ?)")
    , m_file(handleOf(db), "INSERT OR REPLACE INTO files (hash, hash4k, last_modified, fullpath, token, folderid, username, tsupdate, idbuckets, tsconserve, computer_name) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
    , m_value(handleOf(db), "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, ?, ?)")
{
}

CatalogueApplier::~CatalogueApplier() = default;

void CatalogueApplier::clearReplacedTables()
{
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("DELETE FROM buckets"));
    query.exec(QStringLiteral("DELETE FROM policies"));
    query.exec(QStringLiteral("DELETE FROM folders"));
    query.exec(QStringLiteral("DELETE FROM metadati"));
}

void CatalogueApplier::countBulkRow()
{
    if (m_indexSetAside || m_bulkThreshold == 0 || ++m_bulkRows < kMinBulkRows)
        return;
    if (m_bulkThreshold < 0) {
        // Rebuilding costs about as much as following an eighth of the indexed
        // texts one by one.
        m_bulkThreshold = 0;
        if (SearchIndex::isPresent(m_db)) {
            QSqlQuery count(m_db);
            if (count.exec(QStringLiteral("SELECT count(*) FROM search_text")) && count.next())
                m_bulkThreshold = qMax<qint64>(kMinBulkRows, count.value(0).toLongLong() / 8);
        }
        if (m_bulkThreshold == 0)
            return;
    }
    if (m_bulkRows >= m_bulkThreshold) {
        SearchIndex::drop(m_db);
        m_indexSetAside = true;
    }
}

void CatalogueApplier::finish()
{
    if (m_indexSetAside)
        SearchIndex::ensure(m_db);
    m_indexSetAside = false;
}

void CatalogueApplier::row(ReplyDocument::Row row, const QStringView *f)
{
    using Row = ReplyDocument::Row;
    switch (row) {
    case Row::Value:
        countBulkRow();
        m_value.text(0, f[0]);
        m_value.text(1, f[1]);
        m_value.text(2, f[2]);
        m_value.run();
        break;
    case Row::File:
        countBulkRow();
        for (int col = 0; col < 11; ++col) {
            if (col == 5) // idfolder
                m_file.integer(col, f[col]);
            else
                m_file.text(col, f[col]);
        }
        m_file.run();
        break;
    case Row::Index:
        for (int col = 0; col < 7; ++col) {
            if (col == 2) // name
                m_index.text(col, f[col]);
            else
                m_index.integer(col, f[col]);
        }
        m_index.run();
        break;
    case Row::Folder:
        m_folder.integer(0, f[0]);
        for (int col = 1; col < 6; ++col)
            m_folder.text(col, f[col]);
        m_folder.run();
        break;
    case Row::Policy:
        for (int col = 0; col < 3; ++col)
            m_policy.text(col, f[col]);
        m_policy.run();
        break;
    case Row::Bucket:
        for (int col = 0; col < 6; ++col)
            m_bucket.text(col, f[col]);
        m_bucket.run();
        break;
    }
}

void CatalogueApplier::domRow(ReplyDocument::Row kind, const QDomElement &element)
{
    QString values[16];
    QStringView views[16];
    const QList<QLatin1String> &fields = ReplyDocument::fieldsOf(kind);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        values[i] = element.attribute(fields.at(i));
        views[i] = values[i];
    }
    row(kind, views);
}

void CatalogueApplier::applyDefinitions(const QDomElement &body)
{
    using Row = ReplyDocument::Row;
    if (body.isNull())
        return;
    const QDomNodeList buckets = body.elementsByTagName(QStringLiteral("bucket"));
    for (int i = 0; i < buckets.count(); ++i)
        domRow(Row::Bucket, buckets.at(i).toElement());
    const QDomNodeList policies = body.elementsByTagName(QStringLiteral("policie"));
    for (int i = 0; i < policies.count(); ++i)
        domRow(Row::Policy, policies.at(i).toElement());
    const QDomNodeList folders = body.elementsByTagName(QStringLiteral("folder"));
    for (int i = 0; i < folders.count(); ++i) {
        const QDomElement folder = folders.at(i).toElement();
        domRow(Row::Folder, folder);
        const QDomNodeList indexes = folder.elementsByTagName(QStringLiteral("metadato"));
        for (int j = 0; j < indexes.count(); ++j)
            domRow(Row::Index, indexes.at(j).toElement());
    }
}

void CatalogueApplier::applyFiles(const QDomElement &body)
{
    if (body.isNull())
        return;
    const QDomNodeList files = body.elementsByTagName(QStringLiteral("file"));
    for (int i = 0; i < files.count(); ++i)
        domRow(ReplyDocument::Row::File, files.at(i).toElement());
}

void CatalogueApplier::applyValues(const QDomElement &body)
{
    if (body.isNull())
        return;
    const QDomNodeList values = body.elementsByTagName(QStringLiteral("metadatoValue"));
    for (int i = 0; i < values.count(); ++i)
        domRow(ReplyDocument::Row::Value, values.at(i).toElement());
}

void CatalogueApplier::begin()
{
    clearReplacedTables();
}
