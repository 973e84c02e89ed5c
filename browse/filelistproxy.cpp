// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/filelistproxy.h"

#include "browse/filelistquery.h"
#include "browse/listfiledelegate.h"

FileListProxy::FileListProxy(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(ListFileDelegate::PlainRole);
}

bool FileListProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    // A later row is an earlier (or the same) preservation time.
    if (left.column() == FileListQuery::Preserved && right.column() == FileListQuery::Preserved)
        return left.row() > right.row();
    return QSortFilterProxyModel::lessThan(left, right);
}
