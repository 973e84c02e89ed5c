// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/htmlitemdelegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

namespace {
// The rich text of an item, in the item's font. A search match keeps its
// black text on the yellow mark whatever the row's colours.
void load(QTextDocument &document, const QStyleOptionViewItem &item)
{
    document.setDefaultFont(item.font);
    document.setDefaultStyleSheet(QStringLiteral("span { color: #000000; }"));
    document.setHtml(item.text);
}

// Cuts the one-line `document` so that it fits `width`, ending it with an
// ellipsis; the search marks before the cut stay.
void elide(QTextDocument &document, qreal width)
{
    if (document.idealWidth() <= width)
        return;
    const QString ellipsis(QChar(0x2026));
    const QTextBlock block = document.firstBlock();
    const QTextLine line = block.layout()->lineAt(0);
    if (!line.isValid())
        return;
    const qreal room = width - QFontMetricsF(document.defaultFont()).horizontalAdvance(ellipsis);
    QTextCursor cursor(&document);
    cursor.setPosition(block.position() + line.xToCursor(qMax<qreal>(0, room), QTextLine::CursorOnCharacter));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.insertText(ellipsis);
}
} // namespace

void HTMLItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QStyle *style = item.widget ? item.widget->style() : QApplication::style();

    QTextDocument document;
    document.setDocumentMargin(0);
    QTextOption oneLine = document.defaultTextOption();
    oneLine.setWrapMode(QTextOption::NoWrap);
    document.setDefaultTextOption(oneLine);
    load(document, item);

    // The text goes where, and in the colour, the style would write plain
    // text: after the icon, within the style's margin, centred vertically as
    // the other columns are, in the highlighted-text colour on a selected row.
    QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, item.widget) + 1;
    textRect.adjust(margin, 0, -margin, 0);
    elide(document, textRect.width());
    QPalette::ColorGroup group = QPalette::Normal;
    if (!(item.state & QStyle::State_Enabled))
        group = QPalette::Disabled;
    else if (!(item.state & QStyle::State_Active))
        group = QPalette::Inactive;
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text,
                             item.palette.color(group, item.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                                           : QPalette::Text));

    // Background, selection and icon, without the text.
    item.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    painter->save();
    const int top = textRect.top() + (textRect.height() - qRound(document.size().height())) / 2;
    painter->translate(textRect.left(), top);
    context.clip = QRectF(0, textRect.top() - top, textRect.width(), textRect.height());
    painter->setClipRect(context.clip);
    document.documentLayout()->draw(painter, context);
    painter->restore();
}

QSize HTMLItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QTextDocument document;
    load(document, item);
    document.setTextWidth(item.rect.width());
    return QSize(int(document.idealWidth()), int(document.size().height()));
}
