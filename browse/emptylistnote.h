// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef EMPTYLISTNOTE_H
#define EMPTYLISTNOTE_H

#include <QLabel>

class QAbstractItemView;

// A short line shown in the middle of an item view's visible area, for
// example while the view has no rows to show. It covers the view's viewport,
// follows its size, and lets mouse events through to the view.
class EmptyListNote : public QLabel
{
    Q_OBJECT
public:
    EmptyListNote(QAbstractItemView *view, const QString &objectName);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_viewport;
};

#endif // EMPTYLISTNOTE_H
