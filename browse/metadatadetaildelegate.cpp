// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/metadatadetaildelegate.h"

#include <QColor>

MetaDataDetailDelegate::MetaDataDetailDelegate(QObject *parent)
    : QSqlQueryModel(parent)
{
}

QVariant MetaDataDetailDelegate::data(const QModelIndex &index, int role) const
{
    if (index.isValid() && role == Qt::BackgroundRole && !m_search.isEmpty() && index.column() == 2
        && QSqlQueryModel::data(index, Qt::DisplayRole).toString().contains(m_search, Qt::CaseInsensitive))
        return QColor(Qt::yellow);
    return QSqlQueryModel::data(index, role);
}
