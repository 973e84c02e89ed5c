// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/usagefigures.h"
#include "support/testenv.h"

#include <QtCharts/QChart>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>

#include <memory>

class TestUsageFigures : public QObject
{
    Q_OBJECT
private slots:
    // The user name is escaped in the rich line. The chart shows free space
    // in green and used space in red, the slices apart.
    void workedExample()
    {
        const UsageFigures f = UsageFigures::compute("900", "450", "GB", "3", "<b>demo</b>");
        QVERIFY(f.hasQuota);
        QVERIFY(f.hasFigures);
        QCOMPARE(f.freeLabel, QStringLiteral("Libero: 150 GB"));
        QCOMPARE(f.usedLabel, QStringLiteral("Utilizzato: 150 GB"));
        QCOMPARE(f.userLine,
                 QStringLiteral("<html><head/><body><p>Sei connesso come: &lt;b&gt;demo&lt;/b&gt; (150 di 300 GB) "
                                "<a href=\"#buyquota\"><span style=\" font-weight: normal; "
                                "text-decoration: underline; color:#0000ff;\">(Acquista spazio)</span></a></p></body></html>"));

        const std::unique_ptr<QChart> chart(f.makeChart());
        QCOMPARE(chart->series().size(), 1);
        QStringList slices;
        for (QPieSlice *slice : static_cast<QPieSeries *>(chart->series().first())->slices())
            slices << QStringLiteral("%1=%2 %3%4%5").arg(slice->label()).arg(slice->value()).arg(slice->color().name(),
                          slice->isExploded() ? " apart" : "", slice->isLabelVisible() ? " labelled" : "");
        QCOMPARE(slices, (QStringList{"Libero: 150 GB=150 #13e837 apart labelled",
                                      "Utilizzato: 150 GB=150 #ff0000 apart labelled"}));
        QVERIFY(chart->legend()->isVisible());
    }

    // Figures in the profile's units; the line turns red from 80 % used.
    void figuresAndColour_data()
    {
        QTest::addColumn<QString>("quota");
        QTest::addColumn<QString>("used");
        QTest::addColumn<QString>("divisor");
        QTest::addColumn<QString>("free");
        QTest::addColumn<bool>("red");
        QTest::newRow("79%") << "100" << "79" << "1" << "Libero: 21 MB" << false;
        QTest::newRow("80%") << "100" << "80" << "1" << "Libero: 20 MB" << true;
        QTest::newRow("over quota") << "100" << "130" << "1" << "Libero: -30 MB" << true;
        // 10 GB in bytes, shown in MB.
        QTest::newRow("beyond 32 bits") << "10737418240" << "8589934592" << "1048576" << "Libero: 2048 MB" << true;
    }
    void figuresAndColour()
    {
        QFETCH(QString, quota);
        QFETCH(QString, used);
        QFETCH(QString, divisor);
        QFETCH(QString, free);
        QFETCH(bool, red);
        const UsageFigures f = UsageFigures::compute(quota, used, "MB", divisor, "demo");
        QCOMPARE(f.freeLabel, free);
        QCOMPARE(f.lineStyle, red ? QStringLiteral("QLabel {color:red;}") : QStringLiteral("QLabel {color:black;}"));
    }

    // No quota, or a divisor that cannot divide: the plain line (the user name
    // escaped), no figures and an empty chart.
    void plainLine_data()
    {
        QTest::addColumn<QString>("quota");
        QTest::addColumn<QString>("divisor");
        QTest::newRow("quota zero") << "0" << "1";
        QTest::newRow("quota empty") << "" << "1";
        QTest::newRow("divisor zero") << "100" << "0";
        QTest::newRow("divisor empty") << "100" << "";
        QTest::newRow("divisor not a number") << "100" << "abc";
        QTest::newRow("divisor negative") << "100" << "-4";
    }
    void plainLine()
    {
        QFETCH(QString, quota);
        QFETCH(QString, divisor);
        const UsageFigures f = UsageFigures::compute(quota, "5", "GB", divisor, "<i>verdi</i>");
        QCOMPARE(f.hasQuota, quota == "100");
        QVERIFY(!f.hasFigures);
        QCOMPARE(f.userLine, QStringLiteral("Sei connesso come: &lt;i&gt;verdi&lt;/i&gt;"));
        QCOMPARE(f.lineStyle, QStringLiteral("QLabel {color:black;}"));
        QVERIFY(std::unique_ptr<QChart>(f.makeChart())->series().isEmpty());
    }

};

TAVREL_TEST_MAIN(TestUsageFigures)
#include "tst_usagefigures.moc"
