// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef HTMLITEMDELEGATE_H
#define HTMLITEMDELEGATE_H

#include <QStyledItemDelegate>

// Draws an item's display text as rich text (the file list's highlighted
// search matches), keeping the style's background, selection and icon.
class HTMLItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

#endif // HTMLITEMDELEGATE_H
