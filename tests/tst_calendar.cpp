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
    void pickedDayIsWrittenDayMonthYear()
    {
        CalendarWidget field;
        field.show();
        field.lineEdit()->setText("testo scritto a mano");
        whenPopupOpens([](DatePopup *popup) {
            QVERIFY(!popup->isSizeGripEnabled());
            popup->calendar()->setSelectedDate(QDate(2013, 3, 5));
            popup->buttonBox()->button(QDialogButtonBox::Ok)->click();
        });
        QTest::mouseClick(field.calendarButton(), Qt::LeftButton);
        QCOMPARE(field.lineEdit()->text(), QStringLiteral("05/03/2013"));

        // Cancel leaves the value alone.
        whenPopupOpens([](DatePopup *popup) {
            popup->calendar()->setSelectedDate(QDate(2020, 12, 25));
            popup->buttonBox()->button(QDialogButtonBox::Cancel)->click();
        });
        QTest::mouseClick(field.calendarButton(), Qt::LeftButton);
        QCOMPARE(field.lineEdit()->text(), QStringLiteral("05/03/2013"));

        QTest::mouseClick(field.clearButton(), Qt::LeftButton);
        QCOMPARE(field.lineEdit()->text(), QString());
    }

    void dateTextPadsDayAndMonthOnly()
    {
        QCOMPARE(CalendarWidget::dateText(QDate(2013, 3, 5)), QStringLiteral("05/03/2013"));
        QCOMPARE(CalendarWidget::dateText(QDate(1999, 12, 31)), QStringLiteral("31/12/1999"));
        QCOMPARE(CalendarWidget::dateText(QDate(2024, 10, 9)), QStringLiteral("09/10/2024"));
        QCOMPARE(CalendarWidget::dateText(QDate(812, 1, 10)), QStringLiteral("10/01/812"));
    }

    void theValueIsTheTypedText()
    {
        CalendarWidget field;
        QVERIFY(field.comboBox()->isEditable());
        QCOMPARE(field.comboBox()->lineEdit(), field.lineEdit());
        QVERIFY(field.comboBox()->minimumWidth() >= 100);
        QTest::keyClicks(field.lineEdit(), "non una data");
        QCOMPARE(field.lineEdit()->text(), QStringLiteral("non una data"));
        field.setClearButtonVisible(false);
        QVERIFY(field.clearButton()->isHidden());
    }
};

TAVREL_TEST_MAIN(TestCalendar)
#include "tst_calendar.moc"
