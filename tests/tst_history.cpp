// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The history window against the reference service: the versions of a file
// rectified twice, the action buttons, failures and the re-login while loading.

#include "app/constants.h"
#include "retrieve/historyfile.h"
#include "store/setting.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_restore_support.h"

#include <QLabel>
#include <QPushButton>

class TestHistory : public QObject
{
    Q_OBJECT

    RefServiceFixture service;
    std::unique_ptr<SessionCookieJar> jar;
    std::unique_ptr<PromptRecorder> prompts;
    QList<PreservedFile> versions; // oldest first

    static QTableWidget *table(HistoryFile &w) { return w.findChild<QTableWidget *>("tbwListHistory"); }
    static QPushButton *button(HistoryFile &w, const char *name) { return w.findChild<QPushButton *>(name); }
    static bool loaded(HistoryFile &w) { return w.findChild<QLabel *>("lblLoading")->isHidden(); }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        Setting().saveSetting("url", service.baseUrl());
        ServiceClient client(service.baseUrl());
        QCOMPARE(client.login("demo", "Tavrel2026").status, QStringLiteral("1"));
        versions << preserveFile(client, 201, sampleContent(1500, 'a'), "/home/demo/Documenti/Relazioni/relazione.txt");
        versions << preserveFile(client, 201, sampleContent(2500, 'b'), "/home/demo/Documenti/Relazioni/relazione.txt",
                                 versions.last().hash);
        versions << preserveFile(client, 201, sampleContent(123456, 'c'), "/home/demo/Bozze/relazione finale.txt",
                                 versions.last().hash);
    }

    void init()
    {
        jar = std::make_unique<SessionCookieJar>();
        QVERIFY(signInOn(*jar, "demo", "Tavrel2026"));
        prompts = std::make_unique<PromptRecorder>();
    }

    void cleanup()
    {
        prompts.reset();
        jar.reset();
    }

    // Newest first, each version with its own hash, token, name, folder, size
    // and date as the service sent them; the buttons come with the first click.
    void listsEveryVersionOfAFileRectifiedTwice()
    {
        HistoryFile window(jar.get(), versions.last().hash, "201");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Storia del file"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(window), 20000);
        QCOMPARE(prompts->describe(), QStringList());

        QTableWidget *t = table(window);
        QStringList headers;
        for (int c = 0; c < t->columnCount(); ++c)
            headers << t->horizontalHeaderItem(c)->text();
        QCOMPARE(headers, (QStringList{"Hash", "token", "File", "Percorso", "Dimensione", "Data", "IDFolders"}));
        for (int c = 0; c < t->columnCount(); ++c)
            QCOMPARE(t->isColumnHidden(c), c == 0 || c == 1 || c == 6);
        QCOMPARE(t->rowCount(), 3);
        for (int row = 0; row < 3; ++row) {
            const PreservedFile &v = versions.at(2 - row);
            QCOMPARE(t->item(row, 0)->text(), v.hash);
            QCOMPARE(t->item(row, 1)->text(), v.token);
            QCOMPARE(t->item(row, 4)->text(), QString::number(v.content.size()));
            QCOMPARE(t->item(row, 5)->text(), v.tsconserve);
            QCOMPARE(t->item(row, 6)->text(), QStringLiteral("201"));
            QCOMPARE(t->item(row, 2)->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        }
        QCOMPARE(t->item(0, 2)->text(), QStringLiteral("relazione finale.txt"));
        QCOMPARE(t->item(0, 3)->text(), QStringLiteral("/home/demo/Bozze"));
        QCOMPARE(t->item(2, 2)->text(), QStringLiteral("relazione.txt"));
        QCOMPARE(t->item(2, 3)->text(), QStringLiteral("/home/demo/Documenti/Relazioni"));

        QVERIFY(!button(window, "btmRipristina")->isVisible());
        QVERIFY(!button(window, "btmEsibisci")->isVisible());
        QCOMPARE(button(window, "btmRipristina")->text(), QStringLiteral("Scarica"));
        clickVersion(window, 1);
        QCOMPARE(t->currentRow(), 1);
        QVERIFY(button(window, "btmRipristina")->isVisible());
        QVERIFY(button(window, "btmEsibisci")->isVisible());
        QTest::mouseClick(button(window, "btmClose"), Qt::LeftButton);
        QVERIFY(!window.isVisible());
    }

    // The oldest version leads to the same chain, after signing in again.
    void expiredSessionSignsInAgainAndLoads()
    {
        QVERIFY(service.expireSessions());
        HistoryFile window(jar.get(), versions.first().hash, "201");
        QTRY_VERIFY_WITH_TIMEOUT(loaded(window), 20000);
        QCOMPARE(table(window)->rowCount(), 3);
        QCOMPARE(table(window)->item(0, 0)->text(), versions.last().hash);
        QCOMPARE(prompts->count(), 0);
    }

    void refusedHistoryShowsTheServiceDescription()
    {
        QVERIFY(service.failNext("history", "30", "Storia non disponibile"));
        HistoryFile window(jar.get(), versions.last().hash, "201");
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(prompts->count(), 1, 20000);
        QCOMPARE(prompts->describe(), QStringList{"critical|Errore|Storia non disponibile"});
        QVERIFY(loaded(window));
        QCOMPARE(table(window)->rowCount(), 0);
        QVERIFY(window.isVisible());
        QVERIFY(!button(window, "btmRipristina")->isVisible());
    }

    void storedNamesSplitIntoFileAndFolder()
    {
        using P = QPair<QString, QString>;
        QCOMPARE(HistoryFile::splitStoredName("/home/demo/atto.pdf"), P("atto.pdf", "/home/demo"));
        QCOMPARE(HistoryFile::splitStoredName("C:\\dati\\atto.pdf"), P("atto.pdf", "C:/dati"));
        const P relative = HistoryFile::splitStoredName("pratiche/2026/atto.pdf");
        QCOMPARE(relative.first, QStringLiteral("atto.pdf"));
        QVERIFY(QDir::isAbsolutePath(relative.second));
        QVERIFY(relative.second.endsWith("/pratiche/2026"));
    }
};

TAVREL_TEST_MAIN(TestHistory)
#include "tst_history.moc"
