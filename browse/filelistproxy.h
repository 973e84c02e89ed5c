// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef FILELISTPROXY_H
#define FILELISTPROXY_H

#include <QSortFilterProxyModel>

// The sort proxy of the file list. Texts sort as read (without highlighting
// markup). The list statements already give the rows newest first, so the
// preservation-time column sorts on the row order itself instead of reading
// and comparing thousands of date texts at every search.
class FileListProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit FileListProxy(QObject *parent = nullptr);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
};

#endif // FILELISTPROXY_H
