// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Restore against the reference service, driven from the history window: the
// bytes written, an existing file replaced, cancel, refusal, re-login, and the
// paths that cannot take the file.

#include "app/constants.h"
#include "retrieve/dialogdownloadfile.h"
#include "retrieve/historyfile.h"
#include "retrieve/restoreflow.h"
#include "store/setting.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_restore_support.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

class TestRestore : public QObject
{
    Q_OBJECT

    RefServiceFixture service;
    std::unique_ptr<SessionCookieJar> jar;
    std::unique_ptr<PromptRecorder> prompts;
    std::unique_ptr<QTemporaryDir> out;
    QList<PreservedFile> versions; // oldest first

    const QString success = QStringLiteral("information|Ripristino file|File ripristinato");
    const QString cannotSave = QStringLiteral("critical|Ripristino file|Impossibile salvare il file ");

    // A history window of the file, loaded, with version `row` (0 = newest) selected.
    std::unique_ptr<HistoryFile> openHistory(int row)
    {
        return openHistoryAt(jar.get(), versions.last().hash, "201", 3, row);
    }

    // Asks for a restore of the selected version into `target`.
    void restoreTo(HistoryFile &window, const QString &target)
    {
        prompts->answerNext(target);
        QTest::mouseClick(window.findChild<QPushButton *>("btmRipristina"), Qt::LeftButton);
    }

    bool waitForOutcome()
    {
        return QTest::qWaitFor([&] { return !boxesOf(*prompts).isEmpty(); }, 30000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        Setting().saveSetting("url", service.baseUrl());
        ServiceClient client(service.baseUrl());
        QCOMPARE(client.login("demo", "Tavrel2026").status, QStringLiteral("1"));
        versions << preserveFile(client, 201, sampleContent(3 * 1024 * 1024 + 17, 'x'), "/home/demo/Scansioni/atto.bin");
        versions << preserveFile(client, 201, sampleContent(700 * 1024, 'y'), "/home/demo/Scansioni/atto.bin",
                                 versions.last().hash);
        versions << preserveFile(client, 201, sampleContent(2 * 1024 * 1024, 'z'), "/home/demo/Scansioni/atto v3.bin",
                                 versions.last().hash);
    }

    void init()
    {
        jar = std::make_unique<SessionCookieJar>();
        QVERIFY(signInOn(*jar, "demo", "Tavrel2026"));
        prompts = std::make_unique<PromptRecorder>();
        out = std::make_unique<QTemporaryDir>();
    }

    void cleanup()
    {
        prompts.reset();
        jar.reset();
        out.reset();
    }

    // A new file gets the version's bytes, even with the progress window closed
    // half-way; an existing longer file is replaced whole, its permissions kept.
    void restoredBytesAreThePreservedVersion()
    {
        auto window = openHistory(2); // the oldest version
        QVERIFY(window);
        const QString target = out->filePath("copia.bin");
        QVERIFY(service.delayNext(800));
        restoreTo(*window, target);

        // Asked where to save, starting at home with the version's file name.
        QCOMPARE(prompts->calls().first().kind, Prompts::Kind::SaveFile);
        QCOMPARE(prompts->calls().first().title, QStringLiteral("Ripristino file"));
        QCOMPARE(prompts->calls().first().dir, QDir::homePath() + "/atto.bin");
        DialogDownloadFile *dialog = window->restore()->dialog();
        QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Ripristina file"));
        QCOMPARE(dialog->findChild<QPushButton *>("btmCancel")->text(), QStringLiteral("Annulla"));
        QVERIFY(window->connection()->downloadMode());
        dialog->close();

        QVERIFY(waitForOutcome());
        QCOMPARE(boxesOf(*prompts), QStringList{success});
        QCOMPARE(sha1Hex(readAll(target)), versions.first().hash);
        QCOMPARE(entriesOf(out->path()), QStringList{"copia.bin"});
        QVERIFY(QFile::permissions(target) & QFile::ReadOther); // not private like a temporary file
        QVERIFY(!window->connection()->downloadMode());

        const QString existing = out->filePath("atto v3.bin");
        QVERIFY(writeAll(existing, QByteArray(10 * 1024 * 1024, 'v')));
        QVERIFY(QFile::setPermissions(existing, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        clickVersion(*window, 0);
        prompts->clear();
        restoreTo(*window, existing);
        QVERIFY(waitForOutcome());
        QCOMPARE(boxesOf(*prompts), QStringList{success});
        QCOMPARE(readAll(existing), versions.last().content);
        QCOMPARE(entriesOf(out->path()), (QStringList{"atto v3.bin", "copia.bin"}));
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(existing) & others, QFile::Permissions(QFile::ReadGroup));
        QTRY_VERIFY(!window->restore()->dialog());
    }

    // A cancelled or refused restore leaves the existing file as it was and no
    // temporary file; the next restore then runs alone: one save, one outcome.
    void failureKeepsTheExistingFile_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("box");
        QTest::newRow("cancelled") << true
                                   << "critical|Ripristino file|Si è verificato un errore durante il download del file";
        QTest::newRow("refused") << false << "critical|Download file|Documento non disponibile";
    }
    void failureKeepsTheExistingFile()
    {
        QFETCH(bool, cancel);
        QFETCH(QString, box);
        auto window = openHistory(0);
        QVERIFY(window);
        const QString target = out->filePath("atto v3.bin");
        QVERIFY(writeAll(target, "versione buona"));
        if (cancel)
            QVERIFY(service.delayNext(3000));
        else
            QVERIFY(service.failNext("ripristina", CODE_RIPRISTINA_KO, "Documento non disponibile"));
        restoreTo(*window, target);
        if (cancel) {
            DialogDownloadFile *dialog = window->restore()->dialog();
            QVERIFY(dialog);
            QTest::mouseClick(dialog->findChild<QPushButton *>("btmCancel"), Qt::LeftButton);
        }
        QVERIFY(waitForOutcome());
        QCOMPARE(boxesOf(*prompts), QStringList{box});
        QCOMPARE(readAll(target), QByteArray("versione buona"));
        QCOMPARE(entriesOf(out->path()), QStringList{"atto v3.bin"});
        QVERIFY(!window->connection()->downloadMode());
        QTRY_VERIFY(!window->restore()->dialog());

        prompts->clear();
        restoreTo(*window, target);
        QVERIFY(waitForOutcome());
        QTest::qWait(200);
        QCOMPARE(boxesOf(*prompts), QStringList{success});
        QCOMPARE(readAll(target), versions.last().content);
    }

    void expiredSessionSignsInAgainAndWritesOnce()
    {
        auto window = openHistory(2);
        QVERIFY(window);
        const QString target = out->filePath("dopo-il-login.bin");
        QVERIFY(service.expireSessions());
        restoreTo(*window, target);
        QVERIFY(waitForOutcome());
        QTest::qWait(300);
        QCOMPARE(prompts->count(), 2); // the save dialog once, the outcome once
        QCOMPARE(boxesOf(*prompts), QStringList{success});
        QCOMPARE(sha1Hex(readAll(target)), versions.first().hash);
        QCOMPARE(entriesOf(out->path()), QStringList{"dopo-il-login.bin"});
    }

    // No path chosen sends nothing; a path under a plain file fails before
    // anything is sent; a folder removed during the transfer fails at the end.
    void pathsThatCannotTakeTheFile()
    {
        auto window = openHistory(0);
        QVERIFY(window);
        restoreTo(*window, QString());
        QCOMPARE(prompts->count(), 1);
        QVERIFY(!window->restore()->dialog());
        QVERIFY(!window->connection()->downloadMode());

        prompts->clear();
        QVERIFY(writeAll(out->filePath("non-una-cartella"), QByteArray()));
        restoreTo(*window, out->filePath("non-una-cartella/atto.bin"));
        QCOMPARE(boxesOf(*prompts).size(), 1);
        QVERIFY2(boxesOf(*prompts).first().startsWith(cannotSave), qPrintable(boxesOf(*prompts).first()));
        QVERIFY(!window->restore()->dialog());
        QVERIFY(!window->connection()->downloadMode());

        prompts->clear();
        QDir(out->path()).mkdir("sparisce");
        const QString target = out->filePath("sparisce/atto.bin");
        QVERIFY(service.delayNext(1000));
        restoreTo(*window, target);
        QVERIFY(QDir(out->filePath("sparisce")).removeRecursively());
        QVERIFY(waitForOutcome());
        QCOMPARE(boxesOf(*prompts).size(), 1);
        QVERIFY2(boxesOf(*prompts).first().startsWith(cannotSave), qPrintable(boxesOf(*prompts).first()));
        QVERIFY(!QFile::exists(target));
    }

    void progressOfLargeFilesStaysInRange()
    {
        DialogDownloadFile dialog(nullptr);
        dialog.initialMessage();
        auto *bar = dialog.findChild<QProgressBar *>("progressBar");
        dialog.onDownloadProgress(600, 1000);
        QCOMPARE(bar->maximum(), 1000);
        QCOMPARE(bar->value(), 600);
        const qint64 total = 6LL * 1024 * 1024 * 1024;
        dialog.onDownloadProgress(total / 2, total);
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum() / 2);
        dialog.onDownloadProgress(100, -1); // size unknown: busy bar
        QCOMPARE(bar->maximum(), 0);
        dialog.initialMessage();
        QCOMPARE(bar->value(), 0);
        QCOMPARE(dialog.findChild<QLabel *>("lblMessaggio")->text(),
                 QStringLiteral("<font color=black>Download file in corso...</font>"));
    }
};

TAVREL_TEST_MAIN(TestRestore)
#include "tst_restore.moc"
