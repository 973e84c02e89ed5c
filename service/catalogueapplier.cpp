#include "service/catalogueapplier.h"

#include <QDomNodeList>
#include <QXmlStreamReader>

namespace {
// A missing attribute is stored as the empty string, never as NULL.
QString textOf(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

QString textOf(QStringView value)
{
    return value.isNull() ? QStringLiteral("") : value.toString();
}

// Decimal integer of an attribute; anything that is not a number gives 0.
int intOf(const QString &value)
{
    return value.toInt();
}

int intOf(QStringView value)
{
    return value.toInt();
}

const char *const kFileAttributes[] = {"hash", "hash4k", "last_modified", "filename", "token",
                                       "idfolder", "username", "tsupdate", "idbuckets",
                                       "tsconserve", "computer_name"};
const int kFileFolderColumn = 5;
} // namespace

CatalogueApplier::CatalogueApplier(const QSqlDatabase &db)
    : m_db(db)
    , m_bucket(db)
    , m_policy(db)
    , m_folder(db)
    , m_index(db)
    , m_file(db)
    , m_value(db)
{
    m_bucket.prepare(QStringLiteral(
        "INSERT INTO buckets (idbuckets, description, quota, used, unit, div) VALUES (?, ?, ?, ?, ?, ?)"));
    m_policy.prepare(QStringLiteral(
        "INSERT INTO policies (idpolicies, idbuckets, description) VALUES (?, ?, ?)"));
    m_folder.prepare(QStringLiteral(
        "INSERT INTO folders (idfolder, name, groups, custom, idbuckets, idpolicies) VALUES (?, ?, ?, ?, ?, ?)"));
    m_index.prepare(QStringLiteral(
        "INSERT INTO metadati (idmetadato, idfolder, nome, tipo, visibile, required, custom) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    m_file.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO files (hash, hash4k, last_modified, fullpath, token, folderid, username, tsupdate, idbuckets, tsconserve, computer_name) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    m_value.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, ?, ?)"));
}

void CatalogueApplier::clearReplacedTables()
{
    QSqlQuery query(m_db);
    query.exec(QStringLiteral("DELETE FROM buckets"));
    query.exec(QStringLiteral("DELETE FROM policies"));
    query.exec(QStringLiteral("DELETE FROM folders"));
    query.exec(QStringLiteral("DELETE FROM metadati"));
}

void CatalogueApplier::applyDefinitions(const QDomElement &body)
{
    if (body.isNull())
        return;
    const QDomNodeList buckets = body.elementsByTagName(QStringLiteral("bucket"));
    for (int i = 0; i < buckets.count(); ++i) {
        const QDomElement e = buckets.at(i).toElement();
        int col = 0;
        for (const char *name : {"id", "description", "quota", "used", "unit", "div"})
            m_bucket.bindValue(col++, textOf(e.attribute(QLatin1String(name))));
        m_bucket.exec();
    }
    const QDomNodeList policies = body.elementsByTagName(QStringLiteral("policie"));
    for (int i = 0; i < policies.count(); ++i) {
        const QDomElement e = policies.at(i).toElement();
        int col = 0;
        for (const char *name : {"policie", "idbucket", "description"})
            m_policy.bindValue(col++, textOf(e.attribute(QLatin1String(name))));
        m_policy.exec();
    }
    const QDomNodeList folders = body.elementsByTagName(QStringLiteral("folder"));
    for (int i = 0; i < folders.count(); ++i) {
        const QDomElement folder = folders.at(i).toElement();
        m_folder.bindValue(0, intOf(folder.attribute(QStringLiteral("id"))));
        int col = 1;
        for (const char *name : {"name", "groups", "custom", "idbuckets", "idpolicies"})
            m_folder.bindValue(col++, textOf(folder.attribute(QLatin1String(name))));
        m_folder.exec();

        const QDomNodeList indexes = folder.elementsByTagName(QStringLiteral("metadato"));
        for (int j = 0; j < indexes.count(); ++j) {
            const QDomElement e = indexes.at(j).toElement();
            m_index.bindValue(0, intOf(e.attribute(QStringLiteral("idmetadato"))));
            m_index.bindValue(1, intOf(e.attribute(QStringLiteral("idfolder"))));
            m_index.bindValue(2, textOf(e.attribute(QStringLiteral("name"))));
            m_index.bindValue(3, intOf(e.attribute(QStringLiteral("type"))));
            m_index.bindValue(4, intOf(e.attribute(QStringLiteral("visible"))));
            m_index.bindValue(5, intOf(e.attribute(QStringLiteral("required"))));
            m_index.bindValue(6, intOf(e.attribute(QStringLiteral("custom"))));
            m_index.exec();
        }
    }
}

void CatalogueApplier::applyFiles(const QDomElement &body)
{
    if (body.isNull())
        return;
    const QDomNodeList files = body.elementsByTagName(QStringLiteral("file"));
    for (int i = 0; i < files.count(); ++i) {
        const QDomElement e = files.at(i).toElement();
        for (int col = 0; col < int(std::size(kFileAttributes)); ++col) {
            const QString value = e.attribute(QLatin1String(kFileAttributes[col]));
            if (col == kFileFolderColumn)
                m_file.bindValue(col, intOf(value));
            else
                m_file.bindValue(col, textOf(value));
        }
        m_file.exec();
    }
}

void CatalogueApplier::applyValues(const QDomElement &body)
{
    if (body.isNull())
        return;
    const QDomNodeList values = body.elementsByTagName(QStringLiteral("metadatoValue"));
    for (int i = 0; i < values.count(); ++i) {
        const QDomElement e = values.at(i).toElement();
        m_value.bindValue(0, textOf(e.attribute(QStringLiteral("key"))));
        m_value.bindValue(1, textOf(e.attribute(QStringLiteral("value"))));
        m_value.bindValue(2, textOf(e.attribute(QStringLiteral("hash"))));
        m_value.exec();
    }
}

bool CatalogueApplier::applyStreamed(const QByteArray &raw, bool decode, bool files, bool values)
{
    QXmlStreamReader reader;
    reader.setNamespaceProcessing(false);
    if (decode)
        reader.addData(QString::fromUtf8(raw));
    else
        reader.addData(raw);

    int depth = 0;
    int bodyDepth = -1;
    bool bodySeen = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (depth == bodyDepth)
                break; // nothing after the first body is read
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const QStringView name = reader.qualifiedName();
        if (bodyDepth < 0) {
            if (!bodySeen && name == QLatin1String("body")) {
                bodySeen = true;
                bodyDepth = depth;
            }
            continue;
        }
        if (files && name == QLatin1String("file")) {
            const QXmlStreamAttributes attributes = reader.attributes();
            for (int col = 0; col < int(std::size(kFileAttributes)); ++col) {
                const QStringView value = attributes.value(QLatin1String(kFileAttributes[col]));
                if (col == kFileFolderColumn)
                    m_file.bindValue(col, intOf(value));
                else
                    m_file.bindValue(col, textOf(value));
            }
            m_file.exec();
        } else if (values && name == QLatin1String("metadatoValue")) {
            const QXmlStreamAttributes attributes = reader.attributes();
            m_value.bindValue(0, textOf(attributes.value(QLatin1String("key"))));
            m_value.bindValue(1, textOf(attributes.value(QLatin1String("value"))));
            m_value.bindValue(2, textOf(attributes.value(QLatin1String("hash"))));
            m_value.exec();
        }
    }
    return !reader.hasError();
}
