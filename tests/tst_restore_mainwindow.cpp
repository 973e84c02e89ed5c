// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Retrieval from the main window against the reference service: "Scarica"
// and "Esibisci" on the selected row of the preserved-file list, refused, with
// an expired session or without a reachable service.

#include "app/constants.h"
#include "browse/coremain.h"
#include "retrieve/exhibitor.h"
#include "service/kvwconn.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"
#include "tst_restore_support.h"

#include <QAction>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

class TestRestoreMainWindow : public QObject
{
    Q_OBJECT

    RefServiceFixture service;
    std::unique_ptr<PromptRecorder> prompts;
    std::unique_ptr<UrlCatcher> pages;
    std::unique_ptr<QTemporaryDir> out;
    CoreMain *window = nullptr;
    QTableView *table = nullptr;

    const QString downloaded = QStringLiteral("information|Scarica file|File scaricato");

    QAction *fileAction(const QString &text)
    {
        for (QAction *action : window->findChildren<QAction *>(Qt::FindDirectChildrenOnly))
            if (action->text() == text)
                return action;
        qFatal("no action %s", qPrintable(text));
        return nullptr;
    }

    void click(const char *button) { QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton); }

    void restoreSelectionTo(const QString &target)
    {
        prompts->answerNext(target);
        click("btmRipristina");
    }

    bool waitForBoxes(int n)
    {
        return QTest::qWaitFor([&] { return boxesOf(*prompts).size() >= n; }, 30000);
    }

    // The page opened last shows `token`.
    bool lastPageShows(const QString &token)
    {
        ServiceClient browser(service.baseUrl());
        const RestReply shown = browser.get(pages->opened.last().toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
        return shown.http == 200 && shown.raw.contains(token.toUtf8());
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        freshCatalogueFor(service.baseUrl());
        prompts = std::make_unique<PromptRecorder>();
        window = new CoreMain;
        table = child<QTableView>(window, "tbwFile");
        QVERIFY(signInThroughDialog(*window, "demo", "Tavrel2026"));
        QVERIFY(table->model() && table->model()->rowCount() >= 2);
    }

    void cleanupTestCase()
    {
        delete window;
        prompts.reset();
    }

    void init()
    {
        prompts->clear();
        pages = std::make_unique<UrlCatcher>();
        out = std::make_unique<QTemporaryDir>();
    }

    void cleanup()
    {
        pages.reset();
        out.reset();
    }

    // "Scarica" writes the preserved copy; the context menu's entry asks the
    // same, and no path chosen means no transfer.
    void scaricaWritesThePreservedCopy()
    {
        table->selectRow(0);
        const QString name = window->selectedFileData(1);
        const QString hash = window->selectedFileData(0);
        const QString target = out->filePath(name);
        restoreSelectionTo(target);
        QCOMPARE(prompts->describe().first(), QStringLiteral("save|Scarica file|"));
        QCOMPARE(prompts->calls().first().dir, QDir::homePath() + "/" + name);
        QVERIFY(window->downloadDialog());
        QVERIFY(waitForBoxes(1));
        QCOMPARE(boxesOf(*prompts), QStringList{downloaded});
        QCOMPARE(sha1Hex(readAll(target)), hash);
        QVERIFY(!window->connection()->downloadMode());

        prompts->clear();
        prompts->answerNext(QString());
        fileAction("Scarica")->trigger();
        QCOMPARE(prompts->describe(), QStringList{"save|Scarica file|"});
        QVERIFY(!window->downloadDialog());
    }

    // A refused restore writes nothing and leaves the connection usable for
    // the next request (here "Esibisci", whose page shows the selected file's
    // token); an expired session then signs in again and writes once, to the
    // path chosen before.
    void refusedThenExpiredRestore()
    {
        table->selectRow(1);
        const QString hash = window->selectedFileData(0);
        QVERIFY(service.failNext("ripristina", CODE_RIPRISTINA_KO, "Copia non disponibile"));
        restoreSelectionTo(out->filePath("rifiutato.txt"));
        QVERIFY(waitForBoxes(1));
        QCOMPARE(boxesOf(*prompts), QStringList{"critical|Download file|Copia non disponibile"});
        QCOMPARE(entriesOf(out->path()), QStringList());
        QVERIFY(!window->connection()->downloadMode());
        prompts->clear();
        click("btmEsibisci");
        QTRY_COMPARE_WITH_TIMEOUT(pages->opened.size(), 1, 20000);
        QCOMPARE(prompts->count(), 0);
        QVERIFY(lastPageShows(window->selectedFileData(6)));

        const QString target = out->filePath("dopo-il-login.txt");
        QVERIFY(service.expireSessions());
        restoreSelectionTo(target);
        QVERIFY(waitForBoxes(1));
        QTest::qWait(300);
        QCOMPARE(prompts->count(), 2);
        QCOMPARE(boxesOf(*prompts), QStringList{downloaded});
        QCOMPARE(sha1Hex(readAll(target)), hash);
        QCOMPARE(entriesOf(out->path()), QStringList{"dopo-il-login.txt"});
    }

    // Unreachable service: the exhibition's own box, then the network error's.
    // Last, as it stops the service.
    void exhibitionWithTheServiceUnreachable()
    {
        table->selectRow(0);
        QVERIFY(service.stop());
        click("btmEsibisci");
        QVERIFY(waitForBoxes(2));
        QTest::qWait(200);
        const QString error = prompts->calls().value(1).text;
        QVERIFY(!error.isEmpty());
        QCOMPARE(boxesOf(*prompts),
                 (QStringList{"critical|Esibisci file|Si è verificato un errore durante l'esibizione del file: " + error,
                              "critical|Errore|" + error}));
        QVERIFY(!window->exhibitorWindow()->isVisible() && pages->opened.isEmpty());
    }
};

TAVREL_TEST_MAIN(TestRestoreMainWindow)
#include "tst_restore_mainwindow.moc"
