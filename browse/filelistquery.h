// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef FILELISTQUERY_H
#define FILELISTQUERY_H

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

// The statements of the preserved-file list: the whole list of a profile, its
// word search and the details of one file. Every value (path pattern, profile
// id, search words, hash) is bound, never pasted into the statement.
//
// Result columns of the list statements: 0 hash, 1 path (shown as the file
// name), 2 computer name, 3 path (shown as the folder), 4 class name,
// 5 preservation time as "yyyy-MM-dd hh:mm:ss", 6 token, 7 class id, 8 hash4k.
// Newest first.
class FileListQuery
{
public:
    enum Column { Hash, FileName, ComputerName, Path, ClassName, Preserved, Token, ClassId, Hash4k };

    // The search words of a text: the pieces between single spaces, empty
    // pieces skipped. A text made only of spaces has none.
    static QStringList words(const QString &text);

    // Whole list (text empty) or search of `text`, ready to execute. Answered
    // through the search index when it is usable (SearchIndex::ensure()), by
    // scanning the catalogue otherwise.
    static QSqlQuery list(const QSqlDatabase &db, const QString &pathPattern, const QString &profileId,
                          const QString &text = QString());

    // The same search answered straight from the catalogue's searchable-value
    // view, one scan of it per word: the reference the indexed search must
    // agree with (tests and measurements).
    static QSqlQuery literalSearch(const QSqlDatabase &db, const QString &pathPattern,
                                   const QString &profileId, const QString &text);

    // Details of the file with fingerprint `hash`: five fixed rows (token,
    // user, preservation time, computer, last modification), then its index
    // values by index id. Columns: idmetadata, key, value, hash.
    static QSqlQuery details(const QSqlDatabase &db, const QString &hash);

    // True when `word` has three consecutive characters (code points) that
    // are not LIKE wildcards, so the trigram index can answer it.
    static bool indexable(const QString &word);

    // The preservation time of a row of `files` as the list shows and sorts it
    // (a date-time text rebuilt from "dd/MM/yyyy hh:mm:ss"); `row` qualifies
    // the column ("new" in a trigger), empty for none.
    static QString timeExpression(const QString &row);

    // Statement texts, for tests; they need the search index.
    // `fewCandidates`: the words of the index find few enough texts that the
    // short words are best looked for file by file among them.
    static QString listStatement(const QStringList &words, QVariantList *values = nullptr,
                                 bool fewCandidates = true);

    // True when the longest literal run of `words` occurs in fewer texts than
    // the candidate limit (default 5000). Either way the rows are the same;
    // only the work differs.
    static bool fewCandidates(const QSqlDatabase &db, const QStringList &words);
    static void setCandidateLimit(int texts);

private:
    static int s_candidateLimit;
    static QString literalStatement(const QString &text);
};

#endif // FILELISTQUERY_H
