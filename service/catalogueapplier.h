#ifndef CATALOGUEAPPLIER_H
#define CATALOGUEAPPLIER_H

#include <QByteArray>
#include <QDomElement>
#include <QSqlDatabase>
#include <QSqlQuery>

// Writes the catalogue data of a login or synchronisation body into the open
// catalogue: profiles, policies, classes and index definitions are replaced,
// preserved files and their index values are merged (insert or replace). The
// caller holds the transaction. Each statement is prepared once and executed per
// element; a failing row is skipped and the rest goes on.
//
// Rows come either from a DOM body or, for the bulky "file" and "metadatoValue"
// elements of a large reply, straight from the reply bytes with a streaming
// reader, so a body of tens of megabytes is never held as a DOM.
class CatalogueApplier
{
public:
    explicit CatalogueApplier(const QSqlDatabase &db);

    // The four DELETE statements, in the order buckets, policies, folders, metadati.
    void clearReplacedTables();
    // Buckets, policies, then classes each followed by its index definitions.
    void applyDefinitions(const QDomElement &body);
    void applyFiles(const QDomElement &body);
    void applyValues(const QDomElement &body);
    // The "file" (when `files`) and "metadatoValue" (when `values`) elements below
    // the first "body" of the reply `raw`, in document order. `decode` parses the
    // UTF-8 decoded text instead of the bytes. False when the bytes do not parse.
    bool applyStreamed(const QByteArray &raw, bool decode, bool files, bool values);

private:
    QSqlDatabase m_db;
    QSqlQuery m_bucket;
    QSqlQuery m_policy;
    QSqlQuery m_folder;
    QSqlQuery m_index;
    QSqlQuery m_file;
    QSqlQuery m_value;
};

#endif // CATALOGUEAPPLIER_H
