// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef DATEPOPUP_H
#define DATEPOPUP_H

#include <QDate>
#include <QDialog>

class QCalendarWidget;
class QDialogButtonBox;

// The calendar that a date field opens: a month view with OK and Cancel,
// shown as a popup. OK accepts it with the day picked in the calendar.
class DatePopup : public QDialog
{
    Q_OBJECT
public:
    explicit DatePopup(QWidget *parent = nullptr);

    QDate selectedDate() const;
    QCalendarWidget *calendar() const { return m_calendar; }
    QDialogButtonBox *buttonBox() const { return m_buttons; }

private:
    QCalendarWidget *m_calendar = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
};

#endif // DATEPOPUP_H
