#include "service/catalogueapplier.h"

#include <QDomNodeList>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QXmlStreamReader>

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

// Attribute access, the same for a DOM element and a streaming reader's element.
struct DomAttributes {
    const QDomElement &e;
    QString operator()(const char *name) const { return e.attribute(QLatin1String(name)); }
};

struct StreamAttributes {
    const QXmlStreamAttributes &a;
    QStringView operator()(const char *name) const { return a.value(QLatin1String(name)); }
};

const char *const kFileAttributes[] = {"hash", "hash4k", "last_modified", "filename", "token",
                                       "idfolder", "username", "tsupdate", "idbuckets",
                                       "tsconserve", "computer_name"};
const int kFileFolderColumn = 5;
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

template <typename Attributes>
void CatalogueApplier::bucket(const Attributes &a)
{
    int col = 0;
    for (const char *name : {"id", "description", "quota", "used", "unit", "div"})
        m_bucket.text(col++, a(name));
    m_bucket.run();
}

template <typename Attributes>
void CatalogueApplier::policy(const Attributes &a)
{
    int col = 0;
    for (const char *name : {"policie", "idbucket", "description"})
        m_policy.text(col++, a(name));
    m_policy.run();
}

template <typename Attributes>
void CatalogueApplier::folder(const Attributes &a)
{
    m_folder.integer(0, a("id"));
    int col = 1;
    for (const char *name : {"name", "groups", "custom", "idbuckets", "idpolicies"})
        m_folder.text(col++, a(name));
    m_folder.run();
}

template <typename Attributes>
void CatalogueApplier::index(const Attributes &a)
{
    m_index.integer(0, a("idmetadato"));
    m_index.integer(1, a("idfolder"));
    m_index.text(2, a("name"));
    m_index.integer(3, a("type"));
    m_index.integer(4, a("visible"));
    m_index.integer(5, a("required"));
    m_index.integer(6, a("custom"));
    m_index.run();
}

template <typename Attributes>
void CatalogueApplier::file(const Attributes &a)
{
    for (int col = 0; col < int(std::size(kFileAttributes)); ++col) {
        if (col == kFileFolderColumn)
            m_file.integer(col, a(kFileAttributes[col]));
        else
            m_file.text(col, a(kFileAttributes[col]));
    }
    m_file.run();
}

template <typename Attributes>
void CatalogueApplier::value(const Attributes &a)
{
    m_value.text(0, a("key"));
    m_value.text(1, a("value"));
    m_value.text(2, a("hash"));
    m_value.run();
}

void CatalogueApplier::applyDefinitions(const QDomElement &body)
{
    if (body.isNull())
        return;
    const QDomNodeList buckets = body.elementsByTagName(QStringLiteral("bucket"));
    for (int i = 0; i < buckets.count(); ++i)
        bucket(DomAttributes{buckets.at(i).toElement()});
    const QDomNodeList policies = body.elementsByTagName(QStringLiteral("policie"));
    for (int i = 0; i < policies.count(); ++i)
        policy(DomAttributes{policies.at(i).toElement()});
    const QDomNodeList folders = body.elementsByTagName(QStringLiteral("folder"));
    for (int i = 0; i < folders.count(); ++i) {
        const QDomElement f = folders.at(i).toElement();
        folder(DomAttributes{f});
        const QDomNodeList indexes = f.elementsByTagName(QStringLiteral("metadato"));
        for (int j = 0; j < indexes.count(); ++j)
            index(DomAttributes{indexes.at(j).toElement()});
    }
}

void CatalogueApplier::applyFiles(const QDomElement &body)
{
    if (body.isNull())
        return;
    const QDomNodeList files = body.elementsByTagName(QStringLiteral("file"));
    for (int i = 0; i < files.count(); ++i)
        file(DomAttributes{files.at(i).toElement()});
}

void CatalogueApplier::applyValues(const QDomElement &body)
{
    if (body.isNull())
        return;
    const QDomNodeList values = body.elementsByTagName(QStringLiteral("metadatoValue"));
    for (int i = 0; i < values.count(); ++i)
        value(DomAttributes{values.at(i).toElement()});
}

void CatalogueApplier::begin()
{
    clearReplacedTables();
}

void CatalogueApplier::element(QStringView name, const QXmlStreamAttributes &attributes)
{
    const StreamAttributes a{attributes};
    if (name == QLatin1String("metadatoValue"))
        value(a);
    else if (name == QLatin1String("file"))
        file(a);
    else if (name == QLatin1String("metadato"))
        index(a);
    else if (name == QLatin1String("folder"))
        folder(a);
    else if (name == QLatin1String("policie"))
        policy(a);
    else if (name == QLatin1String("bucket"))
        bucket(a);
}
