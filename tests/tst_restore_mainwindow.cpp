// Retrieval from the main window against the reference service: "Scarica",
// "Esibisci" and "Storia" on the selected row of the preserved-file list, the
// context-menu actions, and the exhibition asked by another program.

#include "app/constants.h"
#include "browse/coremain.h"
#include "retrieve/dialogdownloadfile.h"
#include "retrieve/exhibitor.h"
#include "retrieve/historyfile.h"
#include "service/kvwconn.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"
#include "tst_restore_support.h"

#include <QAction>
#include <QComboBox>
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
    PreservedFile windowsFile;

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
        // A file preserved from another system, its path stored with "\\".
        ServiceClient client(service.baseUrl());
        QCOMPARE(client.login("demo", "Tavrel2026").status, QStringLiteral("1"));
        windowsFile = preserveFile(client, 201, "ricevuta scansionata", "C:\\Documenti\\Ricevute\\ricevuta.txt");
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

    void nothingHappensWithoutASelection()
    {
        table->clearSelection();
        QVERIFY(window->selectedFileData(0).isEmpty());
        window->onRipristinaClick();
        window->onEsibisciClick();
        window->onStoriaClick();
        QCOMPARE(prompts->count(), 0);
        QVERIFY(!window->exhibitorWindow()->isVisible());
        QVERIFY(!window->downloadDialog());
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<HistoryFile *>(w));
    }

    // "Scarica" writes the preserved copy.
    void scaricaWritesThePreservedCopy()
    {
        table->selectRow(0);
        const QString name = window->selectedFileData(1);
        const QString hash = window->selectedFileData(0);
        const QString target = out->filePath(name);
        restoreSelectionTo(target);
        QCOMPARE(prompts->calls().first().kind, Prompts::Kind::SaveFile);
        QCOMPARE(prompts->calls().first().title, QStringLiteral("Scarica file"));
        QCOMPARE(prompts->calls().first().dir, QDir::homePath() + "/" + name);
        QVERIFY(window->downloadDialog());
        QCOMPARE(window->downloadDialog()->windowTitle(), QStringLiteral("Rispristino file"));
        QVERIFY(waitForBoxes(1));
        QCOMPARE(boxesOf(*prompts), QStringList{downloaded});
        QCOMPARE(sha1Hex(readAll(target)), hash);
        QVERIFY(!window->connection()->downloadMode());

        // The context menu's "Scarica" asks the same; no path, no transfer.
        prompts->clear();
        prompts->answerNext(QString());
        fileAction("Scarica")->trigger();
        QCOMPARE(prompts->count(), 1);
        QCOMPARE(prompts->last().title, QStringLiteral("Scarica file"));
        QVERIFY(!window->downloadDialog());
    }

    void refusedRestoreLeavesTheConnectionUsable()
    {
        table->selectRow(1);
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
    }

    void expiredSessionRestoresOnceToTheSamePath()
    {
        table->selectRow(1);
        const QString hash = window->selectedFileData(0);
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

    // "Esibisci", its menu entry, and the exhibition by token asked by another
    // program (no selection needed, nothing without a token).
    void esibisciOpensThePageOfTheToken()
    {
        table->selectRow(0);
        const QString token = window->selectedFileData(6);
        QVERIFY(!token.isEmpty());
        click("btmEsibisci");
        QVERIFY(window->exhibitorWindow()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(pages->opened.size(), 1, 20000);
        QVERIFY(!window->exhibitorWindow()->isVisible());
        QCOMPARE(window->currentExhibitToken(), token);
        QCOMPARE(pages->opened.first().toString(QUrl::RemoveQuery), service.baseUrl() + "/kvshop/Exhibitor");
        QVERIFY(lastPageShows(token));

        fileAction("Esibisci")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(pages->opened.size(), 2, 20000);
        QCOMPARE(prompts->count(), 0);

        table->selectRow(1);
        const QString other = window->selectedFileData(6);
        table->clearSelection();
        window->setExhibitToken(QString());
        window->esibisciFile();
        QTest::qWait(200);
        QCOMPARE(pages->opened.size(), 2);
        window->setExhibitToken(other);
        window->esibisciFile();
        QTRY_COMPARE_WITH_TIMEOUT(pages->opened.size(), 3, 20000);
        QVERIFY(lastPageShows(other));
    }

    // Unreachable service: the exhibition's own box, then the network error's.
    void exhibitionWithTheServiceUnreachable()
    {
        table->selectRow(0);
        QVERIFY(service.stop());
        click("btmEsibisci");
        QVERIFY(waitForBoxes(2));
        QTest::qWait(200);
        QCOMPARE(prompts->count(), 2);
        const QString error = prompts->calls().at(1).text;
        QVERIFY(!error.isEmpty());
        QCOMPARE(boxesOf(*prompts),
                 (QStringList{"critical|Esibisci file|Si è verificato un errore durante l'esibizione del file: " + error,
                              "critical|Errore|" + error}));
        QVERIFY(!window->exhibitorWindow()->isVisible());
        QVERIFY(pages->opened.isEmpty());
        QVERIFY(service.restart());
    }

    void storiaOpensTheHistoryOfTheSelectedFile()
    {
        table->selectRow(0);
        const QString hash = window->selectedFileData(0);
        fileAction("Storia")->trigger();
        HistoryFile *history = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *h = qobject_cast<HistoryFile *>(w))
                history = h;
        QVERIFY(history);
        QVERIFY(history->isVisible() && history->isModal());
        auto *list = child<QTableWidget>(history, "tbwListHistory");
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 1, 20000);
        QCOMPARE(list->item(0, 0)->text(), hash);
        // Closed, it goes.
        QPointer<HistoryFile> watched(history);
        QTest::mouseClick(child<QPushButton>(history, "btmClose"), Qt::LeftButton);
        QTRY_VERIFY(!watched);
    }

    // Last, as it leaves the other profile chosen.
    void pathStoredWithBackslashesSuggestsItsLastComponent()
    {
        auto *profiles = child<QComboBox>(window, "cbBuckets");
        profiles->setCurrentIndex(profiles->findData("PRF-PERSONALE"));
        QVERIFY(QTest::qWaitFor([&] {
            for (int r = 0; table->model() && r < table->model()->rowCount(); ++r) {
                table->selectRow(r);
                if (window->selectedFileData(0) == windowsFile.hash)
                    return true;
            }
            return false;
        }, 20000));
        prompts->answerNext(QString());
        click("btmRipristina");
        QCOMPARE(prompts->count(), 1);
        QCOMPARE(prompts->last().dir, QDir::homePath() + "/ricevuta.txt");
    }
};

TAVREL_TEST_MAIN(TestRestoreMainWindow)
#include "tst_restore_mainwindow.moc"
