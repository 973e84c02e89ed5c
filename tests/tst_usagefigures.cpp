#include "browse/usagefigures.h"
#include "support/testenv.h"

class TestUsageFigures : public QObject
{
    Q_OBJECT
private slots:
    void workedExample()
    {
        const UsageFigures f = UsageFigures::compute("900", "450", "GB", "3", "demo");
        QVERIFY(f.hasQuota);
        QVERIFY(f.hasFigures);
        QCOMPARE(f.usedUnits, qint64(150));
        QCOMPARE(f.quotaUnits, qint64(300));
        QCOMPARE(f.freeUnits, qint64(150));
        QCOMPARE(f.freeLabel, QStringLiteral("Libero: 150 GB"));
        QCOMPARE(f.usedLabel, QStringLiteral("Utilizzato: 150 GB"));
        QCOMPARE(f.userLine,
                 QStringLiteral("<html><head/><body><p>Sei connesso come: demo (150 di 300 GB) "
                                "<a href=\"#buyquota\"><span style=\" font-weight: normal; "
                                "text-decoration: underline; color:#0000ff;\">(Acquista spazio)</span></a></p></body></html>"));
        QCOMPARE(f.lineStyle, QStringLiteral("QLabel {color:black;}"));
    }

    void lineTurnsRedFromEightyPercent_data()
    {
        QTest::addColumn<QString>("used");
        QTest::addColumn<bool>("red");
        QTest::newRow("79%") << "79" << false;
        QTest::newRow("80%") << "80" << true;
        QTest::newRow("over quota") << "130" << true;
    }
    void lineTurnsRedFromEightyPercent()
    {
        QFETCH(QString, used);
        QFETCH(bool, red);
        const UsageFigures f = UsageFigures::compute("100", used, "MB", "1", "demo");
        QCOMPARE(f.lineStyle, red ? QStringLiteral("QLabel {color:red;}") : QStringLiteral("QLabel {color:black;}"));
    }

    void overQuotaGivesNegativeFreeSpace()
    {
        const UsageFigures f = UsageFigures::compute("100", "130", "MB", "1", "demo");
        QCOMPARE(f.freeUnits, qint64(-30));
        QCOMPARE(f.freeLabel, QStringLiteral("Libero: -30 MB"));
    }

    void noQuotaGivesThePlainLine_data()
    {
        QTest::addColumn<QString>("quota");
        QTest::newRow("zero") << "0";
        QTest::newRow("empty") << "";
    }
    void noQuotaGivesThePlainLine()
    {
        QFETCH(QString, quota);
        const UsageFigures f = UsageFigures::compute(quota, "5", "GB", "1", "verdi");
        QVERIFY(!f.hasQuota);
        QVERIFY(!f.hasFigures);
        QCOMPARE(f.userLine, QStringLiteral("Sei connesso come: verdi"));
        QCOMPARE(f.lineStyle, QStringLiteral("QLabel {color:black;}"));
    }

    void unusableDivisorNeverDivides_data()
    {
        QTest::addColumn<QString>("divisor");
        QTest::newRow("zero") << "0";
        QTest::newRow("empty") << "";
        QTest::newRow("not a number") << "abc";
        QTest::newRow("negative") << "-4";
    }
    void unusableDivisorNeverDivides()
    {
        QFETCH(QString, divisor);
        const UsageFigures f = UsageFigures::compute("100", "10", "GB", divisor, "demo");
        QVERIFY(f.hasQuota);
        QVERIFY(!f.hasFigures);
        QCOMPARE(f.userLine, QStringLiteral("Sei connesso come: demo"));
    }

    void quotasBeyondThirtyTwoBits()
    {
        // 10 GB in bytes, shown in MB.
        const UsageFigures f = UsageFigures::compute("10737418240", "8589934592", "MB", "1048576", "demo");
        QCOMPARE(f.quotaUnits, qint64(10240));
        QCOMPARE(f.usedUnits, qint64(8192));
        QCOMPARE(f.lineStyle, QStringLiteral("QLabel {color:red;}"));
    }

    void userNameIsEscapedInTheRichLine()
    {
        const UsageFigures f = UsageFigures::compute("10", "1", "GB", "1", "<b>x</b>");
        QVERIFY(f.userLine.contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt;")));
        QVERIFY(!f.userLine.contains(QStringLiteral("<b>x")));
    }
};

TAVREL_TEST_MAIN(TestUsageFigures)
#include "tst_usagefigures.moc"
