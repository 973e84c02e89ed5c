// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CLASSLISTMODEL_H
#define CLASSLISTMODEL_H

#include "store/database.h"

#include <QSqlTableModel>
#include <QString>

class QTableView;

// The classes (catalogue table "folders") of one storage profile, optionally
// narrowed to the names that contain a text typed by the user. Shared by the
// classes tab of the main window and by the Categorie window.
//
// The catalogue is opened only around each load; every row is fetched before
// it is closed again, so the list stays complete and readable afterwards.
class ClassListModel : public QSqlTableModel
{
    Q_OBJECT
public:
    enum Column { ColId = 0, ColName, ColGroups, ColCustom, ColIdBuckets, ColIdPolicies };

    explicit ClassListModel(QObject *parent = nullptr);

    // Profile whose classes are listed. Takes effect at the next reload().
    void setProfile(const QString &profileId);
    QString profile() const { return m_profileId; }

    // Narrows the list to the classes whose name contains `text` (any case,
    // anywhere in the name) and reloads at once. An empty text lists every
    // class of the profile. Quotes and the wildcards "%" and "_" match themselves.
    void setNameFilter(const QString &text);
    QString nameFilter() const { return m_nameFilter; }

    // Reads the rows again from the catalogue with the current profile and name filter.
    void reload();

    // Shows the model in `view`: only the class name, as wide as the view, read-only.
    void attachTo(QTableView *view);

    int classIdAt(int row) const;
    QString classNameAt(int row) const;

    // The SQL condition selecting the classes of `profileId` whose name contains `text`.
    static QString filterClause(const QString &profileId, const QString &text);
    // `value` as an SQL string literal.
    static QString sqlLiteral(const QString &value);

private:
    void applyFilter();

    Database m_database;
    QString m_profileId;
    QString m_nameFilter;
};

#endif // CLASSLISTMODEL_H
