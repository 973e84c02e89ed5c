#include "browse/filelistquery.h"

namespace {

// The catalogue keeps the preservation time as "dd/MM/yyyy hh:mm:ss"; the list
// shows and sorts it as a date-time rebuilt from those character positions.
const char kDate[] =
    "datetime(substr(tsconserve,7,4)||'-'||substr(tsconserve,4,2)||'-'||substr(tsconserve,1,2)||' '||"
    "substr(tsconserve,12,2)||':'||substr(tsconserve,15,2)||':'||substr(tsconserve,18,2))";

QString selectColumns()
{
    return QStringLiteral("SELECT hash, fullpath, computer_name, fullpath, name, ") + QLatin1String(kDate)
        + QStringLiteral(" as tsconserve, token, files.folderid, hash4k "
                         "FROM files INNER JOIN folders ON idfolder = folderid WHERE token != '' ");
}

QString closing()
{
    return QStringLiteral("AND fullpath LIKE ? AND folders.idbuckets = ? ORDER BY ") + QLatin1String(kDate)
        + QStringLiteral(" DESC");
}

// Hashes with at least one searchable text containing the word: path and
// computer name of any of its rows, any index value whose index is defined,
// and the name of the class of any of its rows. Three bound copies of the word.
QString matchesOf(const QString &word)
{
    QString texts = QStringLiteral("SELECT s.hash FROM search_text s WHERE ");
    if (FileListQuery::indexable(word))
        texts += QStringLiteral("s.id IN (SELECT rowid FROM search_fts WHERE search_fts.value LIKE '%' || ? || '%') AND ");
    else
        texts += QStringLiteral("? IS NOT NULL AND ");
    texts += QStringLiteral("s.value LIKE '%' || ? || '%' "
                            "AND (s.kind < 2 OR EXISTS (SELECT 1 FROM metadati m WHERE m.idmetadato = s.ref))");
    return QStringLiteral("SELECT hash FROM (") + texts
        + QStringLiteral(" UNION SELECT f.hash FROM folders d JOIN files f ON f.folderid = d.idfolder "
                         "WHERE d.name LIKE '%' || ? || '%')");
}

} // namespace

QStringList FileListQuery::words(const QString &text)
{
    QStringList out;
    const QStringList pieces = text.split(QLatin1Char(' '));
    for (const QString &piece : pieces)
        if (!piece.isEmpty())
            out << piece;
    return out;
}

bool FileListQuery::indexable(const QString &word)
{
    int run = 0;
    for (const QChar c : word) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_')) {
            run = 0;
        } else if (++run >= 3) {
            return true;
        }
    }
    return false;
}

QString FileListQuery::listStatement(const QStringList &words)
{
    if (words.isEmpty())
        return selectColumns() + closing();
    QString sub;
    for (const QString &word : words) {
        if (!sub.isEmpty())
            sub += QStringLiteral(" INTERSECT ");
        sub += matchesOf(word);
    }
    return selectColumns() + QStringLiteral("AND (files.hash IN (") + sub + QStringLiteral(")) ") + closing();
}

QSqlQuery FileListQuery::list(const QSqlDatabase &db, const QString &pathPattern, const QString &profileId,
                              const QString &text)
{
    QSqlQuery query(db);
    const QStringList found = words(text);
    // Text given but no word in it (only spaces): nothing matches.
    if (!text.isEmpty() && found.isEmpty()) {
        query.prepare(selectColumns() + QStringLiteral("AND 0 ") + closing());
    } else {
        query.prepare(listStatement(found));
        for (const QString &word : found) {
            query.addBindValue(word);
            query.addBindValue(word);
            query.addBindValue(word);
        }
    }
    query.addBindValue(pathPattern);
    query.addBindValue(profileId);
    return query;
}

QString FileListQuery::literalStatement(const QString &text)
{
    QString sub;
    const QStringList pieces = text.split(QLatin1Char(' '));
    for (int i = 0; i < pieces.size(); ++i) {
        if (pieces.at(i).isEmpty())
            continue;
        if (sub.isEmpty()) {
            sub = QStringLiteral("SELECT t0.hash FROM (SELECT hash FROM metadati_values_complete "
                                 "WHERE value LIKE '%' || ? || '%') t0 ");
        } else {
            const QString alias = QStringLiteral("t") + QString::number(i);
            sub += QStringLiteral(" JOIN (SELECT hash FROM metadati_values_complete WHERE value LIKE '%' || ? || '%') ")
                + alias + QStringLiteral(" ON t0.hash = ") + alias + QStringLiteral(".hash ");
        }
    }
    return selectColumns() + QStringLiteral("AND (files.hash IN (") + sub + QStringLiteral(")) ") + closing();
}

QSqlQuery FileListQuery::literalSearch(const QSqlDatabase &db, const QString &pathPattern,
                                       const QString &profileId, const QString &text)
{
    QSqlQuery query(db);
    query.prepare(literalStatement(text));
    for (const QString &word : words(text))
        query.addBindValue(word);
    query.addBindValue(pathPattern);
    query.addBindValue(profileId);
    return query;
}

QSqlQuery FileListQuery::details(const QSqlDatabase &db, const QString &hash)
{
    static const char *const fixedRows[][2] = {{"-5", "'Token' as key, token"},
                                               {"-4", "'Conservato da' as key, username"},
                                               {"-3", "'Conservato il' as key, tsconserve"},
                                               {"-2", "'Computer name' as key, computer_name"},
                                               {"-1", "'Ultima modifica' as key, last_modified"}};
    QString sql = QStringLiteral("SELECT idmetadata, key, value, hash FROM (");
    for (const auto &row : fixedRows)
        sql += QStringLiteral("SELECT ") + QLatin1String(row[0]) + QStringLiteral(" as idmetadata, ")
            + QLatin1String(row[1]) + QStringLiteral(" as value, hash from files where hash=? AND token != '' UNION ");
    sql += QStringLiteral("SELECT  idmetadata, nome as key, value, hash FROM metadati_values INNER JOIN metadati "
                          "ON metadati.idmetadato = metadati_values.idmetadata WHERE metadati_values.hash = ?"
                          ") ORDER BY idmetadata ASC");
    QSqlQuery query(db);
    query.prepare(sql);
    for (int i = 0; i < 6; ++i)
        query.addBindValue(hash);
    return query;
}
