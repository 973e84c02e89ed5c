// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "admin/listmetadatadelegate.h"

#include <QPixmap>

ListMetadataDelegate::ListMetadataDelegate(QObject *parent, QSqlDatabase db)
    : QSqlRelationalTableModel(parent, db)
    , m_checkMark(QPixmap(QStringLiteral(":/images/check.png"))
                      .scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
{
}

QVariant ListMetadataDelegate::data(const QModelIndex &index, int role) const
{
    const int column = index.column();
    if (column != ColVisibile && column != ColRequired)
        return QSqlRelationalTableModel::data(index, role);

    switch (role) {
    case Qt::DisplayRole:
        return QString();
    case Qt::DecorationRole: {
        bool isNumber = false;
        const int value = QSqlRelationalTableModel::data(index, Qt::DisplayRole).toInt(&isNumber);
        if (isNumber && value == 1)
            return m_checkMark;
        return QVariant();
    }
    case Qt::TextAlignmentRole:
        if (column == ColRequired)
            return int(Qt::AlignCenter);
        return QSqlRelationalTableModel::data(index, role);
    default:
        return QSqlRelationalTableModel::data(index, role);
    }
}
