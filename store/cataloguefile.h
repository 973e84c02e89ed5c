// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CATALOGUEFILE_H
#define CATALOGUEFILE_H

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QString>

// The catalogue's folder and file as the file system sees them.
//
// The catalogue holds the saved password and the proxy password, so its folder
// is kept 0700 and the file 0600 (SQLite gives its journal the file's mode).
// The file is checked for damage when this process meets it: at the first open,
// and whenever another file (by device and inode) has taken its place. Not at
// every open: the check reads all of its pages.
// When the catalogue cannot be used, problem() says why in Italian, naming the
// path, so the window can tell the user.
class CatalogueFile
{
    Q_DECLARE_TR_FUNCTIONS(CatalogueFile)
public:
    CatalogueFile(const QString &directory, const QString &path);

    // Creates the folder and an empty catalogue when they are missing, both
    // private. When the file is met (see above), tightens an existing folder
    // and catalogue too, and returns true.
    bool prepare() const;

    // False when the open catalogue is not a usable database: its first page is
    // not one, or (when `thorough`) a table of the catalogue fails SQLite's
    // quick check.
    static bool looksIntact(const QSqlDatabase &db, bool thorough);

    // Renames the file (and its journal) to "<file>.unreadable-<time>", never
    // deleting it; false when it cannot be moved.
    bool setAside() const;

    // Why the catalogue cannot be used, or can be read but not written, as an
    // Italian sentence naming the path; "" when it works. `openError` is the
    // driver's text when opening failed.
    QString problem(bool opened, const QString &openError) const;

private:
    QString m_directory;
    QString m_path;
};

#endif // CATALOGUEFILE_H
