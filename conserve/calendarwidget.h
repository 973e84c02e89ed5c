// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CALENDARWIDGET_H
#define CALENDARWIDGET_H

#include <QDate>
#include <QString>
#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;

// A date field of the index form: an editable box the user may type into,
// a button that opens a calendar, and a button that clears the date. The
// value is the text of the line edit; no format is enforced while typing,
// the service checks it.
class CalendarWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CalendarWidget(QWidget *parent = nullptr);

    QComboBox *comboBox() const { return m_combo; }
    QLineEdit *lineEdit() const { return m_lineEdit; }
    QPushButton *calendarButton() const { return m_button; }
    QPushButton *clearButton() const { return m_buttonCancel; }
    // Shows or hides the clear button (hidden for required dates).
    void setClearButtonVisible(bool visible);

    // The text written for a date picked in the calendar: day and month on two
    // digits, the year as a plain number ("05/03/2013").
    static QString dateText(const QDate &date);

public slots:
    void onClickButton();
    void onClickButtonCancel();

private:
    QComboBox *m_combo = nullptr;
    QLineEdit *m_lineEdit = nullptr;
    QPushButton *m_button = nullptr;
    QPushButton *m_buttonCancel = nullptr;
};

#endif // CALENDARWIDGET_H
