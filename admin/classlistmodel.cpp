// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "admin/classlistmodel.h"

#include <QHeaderView>
#include <QSqlQuery>
#include <QTableView>

namespace {
// The catalogue must be open while the model learns the table's columns.
QSqlDatabase openedCatalogue()
{
    Database database;
    database.openDB();
    return database.db;
}

// `text` as a LIKE pattern matching any name that contains it; "\" escapes
// the user's own "%", "_" and "\" (see the ESCAPE clause of filterClause).
QString containsPattern(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 2);
    escaped += QLatin1Char('%');
    for (const QChar c : text) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    escaped += QLatin1Char('%');
    return escaped;
}
} // namespace

ClassListModel::ClassListModel(QObject *parent)
    : QSqlTableModel(parent, openedCatalogue())
{
    setTable(QStringLiteral("folders"));
    setEditStrategy(QSqlTableModel::OnManualSubmit);
    setHeaderData(ColId, Qt::Horizontal, tr("ID"));
    setHeaderData(ColName, Qt::Horizontal, tr("Classe"));
    setHeaderData(ColGroups, Qt::Horizontal, tr("Gruppi"));
    setHeaderData(ColCustom, Qt::Horizontal, tr("Custom"));
    setHeaderData(ColIdBuckets, Qt::Horizontal, tr("IDBuckets"));
    setHeaderData(ColIdPolicies, Qt::Horizontal, tr("IDPolicies"));
    QSqlTableModel::setFilter(filterClause(m_profileId, m_nameFilter));
    m_database.db = database();
    m_database.closeDB();
}

QString ClassListModel::sqlLiteral(const QString &value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString ClassListModel::filterClause(const QString &profileId, const QString &text)
{
    QString clause = QStringLiteral("idbuckets=") + sqlLiteral(profileId);
    if (!text.isEmpty())
        clause += QStringLiteral(" AND name like ") + sqlLiteral(containsPattern(text))
                + QStringLiteral(" ESCAPE '\\'");
    return clause;
}

void ClassListModel::setProfile(const QString &profileId)
{
    m_profileId = profileId;
}

void ClassListModel::setNameFilter(const QString &text)
{
    m_nameFilter = text;
    reload();
}

void ClassListModel::applyFilter()
{
    // Setting the filter of a model that holds rows reloads it by itself.
    QSqlTableModel::setFilter(filterClause(m_profileId, m_nameFilter));
    if (!query().isActive() || query().lastQuery() != selectStatement())
        select();
    while (canFetchMore())
        fetchMore();
}

void ClassListModel::reload()
{
    m_database.openDB();
    applyFilter();
    m_database.closeDB();
}

void ClassListModel::attachTo(QTableView *view)
{
    view->setModel(this);
    for (int column : {ColId, ColGroups, ColCustom, ColIdBuckets, ColIdPolicies})
        view->hideColumn(column);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->horizontalHeader()->setStretchLastSection(false);
    // A catalogue that cannot be opened gives a model without columns.
    if (columnCount() > ColName)
        view->horizontalHeader()->setSectionResizeMode(ColName, QHeaderView::Stretch);
}

int ClassListModel::classIdAt(int row) const
{
    return data(index(row, ColId)).toInt();
}

QString ClassListModel::classNameAt(int row) const
{
    return data(index(row, ColName)).toString();
}
