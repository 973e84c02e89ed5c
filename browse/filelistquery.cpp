// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/filelistquery.h"

#include "browse/searchindex.h"

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

// Newest first; rows of the same time in a fixed order, the one the search
// index's order table gives too.
QString closing()
{
    return QStringLiteral("AND fullpath LIKE ? AND folders.idbuckets = ? ORDER BY ") + QLatin1String(kDate)
        + QStringLiteral(" DESC, files.rowid DESC");
}

// The same columns read in the order of the search index's table of file rows,
// which holds the rebuilt date-time of each row: no sorting.
QString orderedColumns()
{
    return QStringLiteral("SELECT files.hash, fullpath, computer_name, fullpath, name, o.ts as tsconserve, token, "
                          "files.folderid, hash4k FROM search.search_files o CROSS JOIN files ON files.rowid = o.frow "
                          "INNER JOIN folders ON idfolder = files.folderid WHERE token != '' ");
}

QString orderedClosing()
{
    return QStringLiteral("AND fullpath LIKE ? AND folders.idbuckets = ? ORDER BY o.ts DESC, o.frow DESC");
}

// The longest run of characters of `word` that are not LIKE wildcards, and its
// length in characters (code points), which is how the trigram index counts:
// a character outside the Basic Multilingual Plane is two UTF-16 units but one
// character. A word that is not well-formed UTF-16 has no run: the database
// would not read it as the same characters.
struct LiteralRun
{
    QString text;
    int characters = 0;
};

LiteralRun longestLiteralRun(const QString &word)
{
    LiteralRun best, run;
    if (!word.isValidUtf16())
        return best;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const QChar c = word.at(i);
        if (c == QLatin1Char('%') || c == QLatin1Char('_')) {
            run = LiteralRun();
            continue;
        }
        run.text += c;
        if (c.isHighSurrogate())
            run.text += word.at(++i);
        if (++run.characters > best.characters)
            best = run;
    }
    return best;
}

QVariant phrase(const LiteralRun &run)
{
    QString text = run.text;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QVariant(QLatin1Char('"') + text + QLatin1Char('"'));
}

// Hashes with at least one searchable text containing the word: path and
// computer name of any of its rows, any index value whose index is defined,
// and the name of the class of any of its rows. Appends its bound values.
//
// When the word has three literal characters in a row, the trigram index gives
// the candidate texts: every text that contains the word contains that run
// (the index folds case at least as widely as LIKE does), and LIKE on the
// candidates keeps exactly the texts the word matches. Otherwise every text is
// tested.
QString matchesOf(const QString &word, QVariantList &values)
{
    QString texts = QStringLiteral("SELECT s.hash FROM search.search_text s WHERE ");
    const LiteralRun run = longestLiteralRun(word);
    if (run.characters >= 3) {
        texts += QStringLiteral("s.id IN (SELECT rowid FROM search.search_fts WHERE search_fts MATCH ?) AND ");
        values << phrase(run);
    }
    texts += QStringLiteral("s.value LIKE '%' || ? || '%' "
                            "AND (s.kind < 2 OR EXISTS (SELECT 1 FROM metadati m WHERE m.idmetadato = s.ref))");
    values << QVariant(word) << QVariant(word);
    return QStringLiteral("SELECT hash FROM (") + texts
        + QStringLiteral(" UNION SELECT o.hash FROM search.search_files o WHERE o.folderid IN "
                         "(SELECT idfolder FROM folders WHERE name LIKE '%' || ? || '%'))");
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
    return longestLiteralRun(word).characters >= 3;
}

QString FileListQuery::timeExpression(const QString &row)
{
    QString expression = QLatin1String(kDate);
    if (!row.isEmpty())
        expression.replace(QStringLiteral("tsconserve"), row + QStringLiteral(".tsconserve"));
    return expression;
}

int FileListQuery::s_candidateLimit = 5000;

void FileListQuery::setCandidateLimit(int texts)
{
    s_candidateLimit = texts;
}

bool FileListQuery::fewCandidates(const QSqlDatabase &db, const QStringList &words)
{
    LiteralRun best;
    for (const QString &word : words) {
        const LiteralRun run = longestLiteralRun(word);
        if (run.characters > best.characters)
            best = run;
    }
    if (best.characters < 3)
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "SELECT count(*) FROM (SELECT 1 FROM search.search_fts WHERE search_fts MATCH ? LIMIT ?)"));
    query.addBindValue(phrase(best));
    query.addBindValue(s_candidateLimit);
    return query.exec() && query.next() && query.value(0).toInt() < s_candidateLimit;
}

QString FileListQuery::listStatement(const QStringList &words, QVariantList *values, bool fewCandidates)
{
    QVariantList ignored;
    QVariantList &bound = values ? *values : ignored;
    if (words.isEmpty())
        return orderedColumns() + orderedClosing();

    QStringList indexed, scanned;
    for (const QString &word : words)
        (indexable(word) ? indexed : scanned) << word;

    QString sub;
    if (indexed.isEmpty() || scanned.isEmpty() || !fewCandidates) {
        // Each word gives its own set of files; a short word scans the texts.
        for (const QString &word : words) {
            if (!sub.isEmpty())
                sub += QStringLiteral(" INTERSECT ");
            sub += matchesOf(word, bound);
        }
    } else {
        // The indexed words give a few candidates; a short word is then only
        // looked for among the texts and classes of each candidate.
        QString candidates;
        for (const QString &word : indexed) {
            if (!candidates.isEmpty())
                candidates += QStringLiteral(" INTERSECT ");
            candidates += matchesOf(word, bound);
        }
        sub = QStringLiteral("SELECT c.hash FROM (") + candidates + QStringLiteral(") c");
        QString separator = QStringLiteral(" WHERE ");
        for (const QString &word : scanned) {
            sub += separator
                + QStringLiteral("(EXISTS (SELECT 1 FROM search.search_text s WHERE s.hash = c.hash "
                                 "AND s.value LIKE '%' || ? || '%' "
                                 "AND (s.kind < 2 OR EXISTS (SELECT 1 FROM metadati m WHERE m.idmetadato = s.ref))) "
                                 "OR EXISTS (SELECT 1 FROM files f JOIN folders d ON d.idfolder = f.folderid "
                                 "WHERE f.hash = c.hash AND d.name LIKE '%' || ? || '%'))");
            bound << QVariant(word) << QVariant(word);
            separator = QStringLiteral(" AND ");
        }
    }
    return selectColumns() + QStringLiteral("AND (files.hash IN (") + sub + QStringLiteral(")) ") + closing();
}

QSqlQuery FileListQuery::list(const QSqlDatabase &db, const QString &pathPattern, const QString &profileId,
                              const QString &text)
{
    QSqlQuery query(db);
    const QStringList found = words(text);
    QSqlDatabase connection = db;
    QVariantList values;
    if (!text.isEmpty() && found.isEmpty()) {
        // Text given but no word in it (only spaces): nothing matches.
        query.prepare(selectColumns() + QStringLiteral("AND 0 ") + closing());
    } else if (!SearchIndex::isPresent(connection)) {
        // No usable index (its file cannot be written): the same rows, found
        // by scanning the catalogue.
        query.prepare(found.isEmpty() ? selectColumns() + closing() : literalStatement(text));
        for (const QString &word : found)
            values << word;
    } else {
        // Only a search that mixes short and indexed words has a choice to make.
        bool shortWords = false, indexedWords = false;
        for (const QString &word : found)
            (indexable(word) ? indexedWords : shortWords) = true;
        const bool few = !(shortWords && indexedWords) || fewCandidates(db, found);
        query.prepare(listStatement(found, &values, few));
    }
    for (const QVariant &value : values)
        query.addBindValue(value);
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
