// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/calendarwidget.h"

#include "conserve/datepopup.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

CalendarWidget::CalendarWidget(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_combo = new QComboBox(this);
    m_combo->setEditable(true);
    m_combo->setSizePolicy(QSizePolicy::Expanding, m_combo->sizePolicy().verticalPolicy());
    m_combo->setMinimumWidth(100);
    m_lineEdit = new QLineEdit(this);
    m_lineEdit->setReadOnly(false);
    m_combo->setLineEdit(m_lineEdit);
    layout->addWidget(m_combo);

    m_button = new QPushButton(this);
    m_button->setFlat(true);
    m_button->setIcon(QIcon(QStringLiteral(":/images/calendar.gif")));
    m_button->setToolTip(tr("Scegli la data dal calendario"));
    layout->addWidget(m_button);

    m_buttonCancel = new QPushButton(this);
    m_buttonCancel->setFlat(true);
    m_buttonCancel->setIcon(QIcon(QStringLiteral(":/images/cancel.png")));
    m_buttonCancel->setToolTip(tr("Cancella la data"));
    layout->addWidget(m_buttonCancel);

    connect(m_button, &QAbstractButton::clicked, this, &CalendarWidget::onClickButton);
    connect(m_buttonCancel, &QAbstractButton::clicked, this, &CalendarWidget::onClickButtonCancel);
}

void CalendarWidget::setClearButtonVisible(bool visible)
{
    m_buttonCancel->setVisible(visible);
}

QString CalendarWidget::dateText(const QDate &date)
{
    const auto twoDigits = [](int n) {
        return n < 10 ? QStringLiteral("0%1").arg(n) : QStringLiteral("%1").arg(n);
    };
    return QStringLiteral("%1/%2/%3").arg(twoDigits(date.day()), twoDigits(date.month())).arg(date.year());
}

void CalendarWidget::onClickButton()
{
    DatePopup popup(this);
    popup.move(mapToGlobal(QPoint(0, height())));
    if (popup.exec() != QDialog::Accepted)
        return;
    m_lineEdit->clear();
    m_lineEdit->setText(dateText(popup.selectedDate()));
}

void CalendarWidget::onClickButtonCancel()
{
    m_lineEdit->clear();
}
