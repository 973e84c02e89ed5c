// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Date fields of the index form: the calendar popup, the clear button and the
// text written for a picked day.

#include "conserve/calendarwidget.h"
#include "conserve/datepopup.h"
#include "support/testenv.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

class TestCalendar : public QObject
{
    Q_OBJECT

    // Runs `act` on the calendar popup once it is open (it runs modally).
    static void whenPopupOpens(const std::function<void(DatePopup *)> &act)
    {
        auto *timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, act] {
            auto *popup = qobject_cast<DatePopup *>(QApplication::activeModalWidget());
            if (!popup)
                popup = qobject_cast<DatePopup *>(QApplication::activePopupWidget());
            if (!popup)
                return;
            timer->stop();
            timer->deleteLater();
            act(popup);
        });
        timer->start();
    }

private slots:
    // The field's value is whatever was typed; the popup writes a picked day
    // as dd/MM/yyyy over it, Cancel leaves it, the clear button empties it.
    void typedOrPickedValue()
    {
        CalendarWidget field;
        field.show();
        QCOMPARE(field.comboBox()->lineEdit(), field.lineEdit());
        QTest::keyClicks(field.lineEdit(), "non una data");
        QCOMPARE(field.lineEdit()->text(), QStringLiteral("non una data"));
        whenPopupOpens([](DatePopup *popup) {
            QVERIFY(!popup->isSizeGripEnabled());
            popup->calendar()->setSelectedDate(QDate(2013, 3, 5));
            popup->buttonBox()->button(QDialogButtonBox::Ok)->click();
        });
        QTest::mouseClick(field.calendarButton(), Qt::LeftButton);
        QCOMPARE(field.lineEdit()->text(), QStringLiteral("05/03/2013"));

        whenPopupOpens([](DatePopup *popup) {
            popup->calendar()->setSelectedDate(QDate(2020, 12, 25));
            popup->buttonBox()->button(QDialogButtonBox::Cancel)->click();
        });
        QTest::mouseClick(field.calendarButton(), Qt::LeftButton);
        QCOMPARE(field.lineEdit()->text(), QStringLiteral("05/03/2013"));

        QTest::mouseClick(field.clearButton(), Qt::LeftButton);
        QCOMPARE(field.lineEdit()->text(), QString());

        // Day and month are padded, the year is not.
        QCOMPARE(CalendarWidget::dateText(QDate(1999, 12, 31)), QStringLiteral("31/12/1999"));
        QCOMPARE(CalendarWidget::dateText(QDate(812, 1, 10)), QStringLiteral("10/01/812"));
    }
};

TAVREL_TEST_MAIN(TestCalendar)
#include "tst_calendar.moc"
