// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/emptylistnote.h"

#include <QAbstractItemView>
#include <QEvent>

EmptyListNote::EmptyListNote(QAbstractItemView *view, const QString &objectName)
    : QLabel(view)
    , m_viewport(view->viewport())
{
    // A child of the view beside its viewport, not inside it, so that the
    // view's scrolling never moves it.
    setObjectName(objectName);
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setForegroundRole(QPalette::PlaceholderText);
    setGeometry(m_viewport->geometry());
    m_viewport->installEventFilter(this);
    hide();
}

bool EmptyListNote::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_viewport && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        setGeometry(m_viewport->geometry());
    return QLabel::eventFilter(watched, event);
}
