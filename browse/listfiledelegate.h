// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef LISTFILEDELEGATE_H
#define LISTFILEDELEGATE_H

#include <QSqlQueryModel>
#include <QString>

// The model of the preserved-file list (a query model, despite its name): the
// rows of the list statement, with the path shown as file name and folder,
// the search text highlighted in yellow, and an icon telling whether the file
// is also on this computer unchanged.
//
// Display texts of the shown columns 1 to 4 are rich text: HTML-escaped, then
// highlighted. PlainRole gives every column's text as the user reads it (used
// for sorting and by the file actions).
class ListFileDelegate : public QSqlQueryModel
{
    Q_OBJECT
public:
    enum Roles { PlainRole = Qt::UserRole + 1 };

    explicit ListFileDelegate(QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Fingerprint of the local file at `path` ("" when it cannot be read),
    // remembered until the file changes.
    QString getHash(const QString &path) const;

    QString searchText() const { return m_search; }
    void setSearchText(const QString &text) { m_search = text; }

    // The text of `index` without markup.
    QString plainText(const QModelIndex &index) const;

    // Path helpers. `normalise` turns "/" and "\" into the platform separator.
    static QString normalise(const QString &storedPath);
    // The stored path without its final component (trailing separator kept).
    static QString folderPart(const QString &storedPath);
    // `text` HTML-escaped, with every occurrence of `search` (ignoring case)
    // wrapped in a yellow span showing the first occurrence as written.
    static QString highlighted(const QString &text, const QString &search);

private:
    QString m_search;
};

#endif // LISTFILEDELEGATE_H
