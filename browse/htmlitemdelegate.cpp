// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/htmlitemdelegate.h"

#include <QApplication>
#include <QPainter>
#include <QTextDocument>

void HTMLItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);

    painter->save();
    QTextDocument document;
    document.setHtml(item.text);
    item.text.clear();

    QStyle *style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    // Column 1 carries the presence icon on its left.
    const int left = item.rect.left() + (index.column() == 1 ? 18 : 0);
    painter->translate(left, item.rect.top() + 2);
    const QRect clip(0, 0, item.rect.width(), item.rect.height());
    document.drawContents(painter, clip);
    painter->restore();
}

QSize HTMLItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QTextDocument document;
    document.setHtml(item.text);
    document.setTextWidth(item.rect.width());
    return QSize(int(document.idealWidth()), int(document.size().height()));
}
