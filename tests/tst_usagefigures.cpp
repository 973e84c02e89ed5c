// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/usagefigures.h"
#include "support/testenv.h"

class TestUsageFigures : public QObject
{
    Q_OBJECT
private slots:
    // The user name is escaped in the rich line.
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

    // No quota, or a divisor that cannot divide: the plain line and no figures.
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
        const UsageFigures f = UsageFigures::compute(quota, "5", "GB", divisor, "verdi");
        QCOMPARE(f.hasQuota, quota == "100");
        QVERIFY(!f.hasFigures);
        QCOMPARE(f.userLine, QStringLiteral("Sei connesso come: verdi"));
        QCOMPARE(f.lineStyle, QStringLiteral("QLabel {color:black;}"));
    }

};

TAVREL_TEST_MAIN(TestUsageFigures)
#include "tst_usagefigures.moc"
