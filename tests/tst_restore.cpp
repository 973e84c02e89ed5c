// Restore against the reference service, driven from the history window: the
// bytes written, an existing file replaced, cancel, refusal, re-login, and the
// paths that cannot take the file.

#include "app/constants.h"
#include "retrieve/dialogdownloadfile.h"
#include "retrieve/historyfile.h"
#include "retrieve/restoreflow.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_restore_support.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
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
    const QString failure = QStringLiteral("critical|Ripristino file|Si è verificato un errore durante il download del file");

    // A history window of the file, loaded, with version `row` (0 = newest) selected.
    std::unique_ptr<HistoryFile> openHistory(int row)
    {
        return openHistoryAt(jar.get(), versions.last().hash, "201", 3, row);
    }

    static void clickRestore(HistoryFile &window)
    {
        QTest::mouseClick(window.findChild<QPushButton *>("btmRipristina"), Qt::LeftButton);
    }

    bool waitForOutcome(int prompts_ = 1)
    {
        return QTest::qWaitFor([&] {
            int boxes = 0;
            for (const Prompts::Request &r : prompts->calls())
                boxes += r.kind != Prompts::Kind::SaveFile;
            return boxes >= prompts_;
        }, 30000);
    }

    QStringList boxes() const
    {
        QStringList out;
        for (const QString &d : prompts->describe())
            if (!d.startsWith("save|"))
                out << d;
        return out;
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

    void restoredBytesAreThePreservedVersion()
    {
        auto window = openHistory(2); // the oldest version
        QVERIFY(window);
        const QString target = out->filePath("copia.bin");
        prompts->answerNext(target);
        clickRestore(*window);

        // Asked where to save, starting at home with the version's file name.
        QCOMPARE(prompts->calls().first().kind, Prompts::Kind::SaveFile);
        QCOMPARE(prompts->calls().first().title, QStringLiteral("Ripristino file"));
        QCOMPARE(prompts->calls().first().dir, QDir::homePath() + "/atto.bin");
        DialogDownloadFile *dialog = window->restore()->dialog();
        QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Ripristina file"));
        QCOMPARE(dialog->findChild<QPushButton *>("btmCancel")->text(), QStringLiteral("Annulla"));
        QVERIFY(window->connection()->downloadMode());

        QVERIFY(waitForOutcome());
        QCOMPARE(boxes(), QStringList{success});
        QCOMPARE(sha1Hex(readAll(target)), versions.first().hash);
        QCOMPARE(entriesOf(out->path()), QStringList{"copia.bin"});
        QVERIFY(QFile::permissions(target) & QFile::ReadOther); // not private like a temporary file
        QVERIFY(!window->connection()->downloadMode());
        QTRY_VERIFY(!window->restore()->dialog());
    }

    void existingFileIsReplaced()
    {
        auto window = openHistory(0);
        QVERIFY(window);
        const QString target = out->filePath("atto v3.bin");
        QFile existing(target);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write(QByteArray(10 * 1024 * 1024, 'v')); // longer than the version
        existing.close();
        const QFile::Permissions kept = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(target, kept));
        prompts->answerNext(target);
        clickRestore(*window);
        QVERIFY(waitForOutcome());
        QCOMPARE(boxes(), QStringList{success});
        QCOMPARE(readAll(target), versions.last().content);
        QCOMPARE(entriesOf(out->path()), QStringList{"atto v3.bin"});
        // The owner's choice survives: group may read, others may not.
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(target) & others, QFile::Permissions(QFile::ReadGroup));
    }

    void cancelWritesNothingAndKeepsTheExistingFile()
    {
        auto window = openHistory(1);
        QVERIFY(window);
        const QString target = out->filePath("atto.bin");
        QFile existing(target);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("versione buona");
        existing.close();

        QVERIFY(service.delayNext(3000));
        prompts->answerNext(target);
        clickRestore(*window);
        DialogDownloadFile *dialog = window->restore()->dialog();
        QVERIFY(dialog);
        QTest::mouseClick(dialog->findChild<QPushButton *>("btmCancel"), Qt::LeftButton);
        QVERIFY(waitForOutcome());
        QCOMPARE(boxes(), QStringList{failure});
        QCOMPARE(readAll(target), QByteArray("versione buona"));
        QCOMPARE(entriesOf(out->path()), QStringList{"atto.bin"});
        QVERIFY(!window->connection()->downloadMode());
        QTRY_VERIFY(!window->restore()->dialog());
    }

    void closingTheProgressWindowLetsTheTransferFinish()
    {
        auto window = openHistory(1);
        QVERIFY(window);
        const QString target = out->filePath("atto.bin");
        QVERIFY(service.delayNext(800));
        prompts->answerNext(target);
        clickRestore(*window);
        window->restore()->dialog()->close();
        QVERIFY(waitForOutcome());
        QCOMPARE(boxes(), QStringList{success});
        QCOMPARE(readAll(target), versions.at(1).content);
    }

    void refusalShowsTheDescriptionAndEndsTheRestore()
    {
        auto window = openHistory(0);
        QVERIFY(window);
        const QString target = out->filePath("atto v3.bin");
        QFile existing(target);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("da non toccare");
        existing.close();

        QVERIFY(service.failNext("ripristina", CODE_RIPRISTINA_KO, "Documento non disponibile"));
        prompts->answerNext(target);
        clickRestore(*window);
        QVERIFY(waitForOutcome());
        QCOMPARE(boxes(), QStringList{"critical|Download file|Documento non disponibile"});
        QCOMPARE(readAll(target), QByteArray("da non toccare"));
        QCOMPARE(entriesOf(out->path()), QStringList{"atto v3.bin"});
        QVERIFY(!window->connection()->downloadMode());

        // The next restore runs alone: one save, one outcome.
        prompts->clear();
        prompts->answerNext(target);
        clickRestore(*window);
        QVERIFY(waitForOutcome());
        QTest::qWait(200);
        QCOMPARE(boxes(), QStringList{success});
        QCOMPARE(readAll(target), versions.last().content);
    }

    void expiredSessionSignsInAgainAndWritesOnce()
    {
        auto window = openHistory(2);
        QVERIFY(window);
        const QString target = out->filePath("dopo-il-login.bin");
        QVERIFY(service.expireSessions());
        prompts->answerNext(target);
        clickRestore(*window);
        QVERIFY(waitForOutcome());
        QTest::qWait(300);
        QCOMPARE(prompts->count(), 2); // the save dialog once, the outcome once
        QCOMPARE(boxes(), QStringList{success});
        QCOMPARE(sha1Hex(readAll(target)), versions.first().hash);
        QCOMPARE(entriesOf(out->path()), QStringList{"dopo-il-login.bin"});
    }

    void pathThatCannotTakeTheFileIsReported()
    {
        auto window = openHistory(0);
        QVERIFY(window);
        // A "folder" that is a plain file.
        QFile plain(out->filePath("non-una-cartella"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        prompts->answerNext(out->filePath("non-una-cartella/atto.bin"));
        clickRestore(*window);
        QCOMPARE(boxes().size(), 1);
        QVERIFY2(boxes().first().startsWith("critical|Ripristino file|Impossibile salvare il file "),
                 qPrintable(boxes().first()));
        QVERIFY(!window->restore()->dialog());
        QVERIFY(!window->connection()->downloadMode());
    }

    void folderRemovedDuringTheTransferIsReported()
    {
        auto window = openHistory(0);
        QVERIFY(window);
        QDir(out->path()).mkdir("sparisce");
        const QString target = out->filePath("sparisce/atto.bin");
        QVERIFY(service.delayNext(1000));
        prompts->answerNext(target);
        clickRestore(*window);
        QVERIFY(QDir(out->filePath("sparisce")).removeRecursively());
        QVERIFY(waitForOutcome());
        QCOMPARE(boxes().size(), 1);
        QVERIFY2(boxes().first().startsWith("critical|Ripristino file|Impossibile salvare il file "),
                 qPrintable(boxes().first()));
        QVERIFY(!QFile::exists(target));
    }

    void cancelledSaveDialogSendsNothing()
    {
        auto window = openHistory(0);
        QVERIFY(window);
        prompts->answerNext(QString());
        clickRestore(*window);
        QCOMPARE(prompts->count(), 1);
        QVERIFY(!window->restore()->dialog());
        QVERIFY(window->restore()->savePath().isEmpty());
        QVERIFY(!window->connection()->downloadMode());
    }

    void progressOfLargeFilesStaysInRange()
    {
        DialogDownloadFile dialog(nullptr);
        dialog.initialMessage();
        auto *bar = dialog.findChild<QProgressBar *>("progressBar");
        QCOMPARE(bar->value(), 0);
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
