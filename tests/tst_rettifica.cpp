// The main window's side of preservation against the reference service:
// "Conserva", drops and "Rettifica", and the one-preservation-at-a-time guard.

#include "app/prompts.h"
#include "browse/coremain.h"
#include "browse/listfiledelegate.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_conserva_support.h"

#include <QAction>
#include <QDomDocument>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>

using namespace conservetest;

class TestRettifica : public QObject
{
    Q_OBJECT

    RefServiceFixture service{QStringLiteral(TAVREL_FIXTURES_DIR "/conserva_seed.json")};
    std::unique_ptr<PromptRecorder> prompts;

    // Signed in, with the seeded files listed.
    static bool signIn(CoreMain &window)
    {
        return signInThroughDialog(window, "carla", "Registro2026")
               && QTest::qWaitFor([&] { return window.fileListModel() && window.fileListModel()->rowCount() >= 2; },
                                  20000);
    }

    static QString newFile(const QString &name, const QByteArray &content)
    {
        const QString path = TestEnv::instance()->home() + QLatin1Char('/') + name;
        writeFile(path, content);
        return path;
    }

    // Selects the list row of the file named `name`.
    static bool selectListFile(CoreMain &window, const QString &name)
    {
        auto *table = child<QTableView>(&window, "tbwFile");
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            table->selectRow(row);
            if (window.selectedFileData(1) == name)
                return true;
        }
        return false;
    }

    int busyWarnings() const
    {
        int n = 0;
        for (const Prompts::Request &r : prompts->calls())
            n += r.kind == Prompts::Kind::Warning && r.title == QLatin1String("Conservazione file")
                 && r.text == QLatin1String("E' in esecuzione un altro processo di conservazione, per poterne "
                                            "avviare un altro devi prima concludere quello in corso");
        return n;
    }

    static void drop(CoreMain &window, const QList<QUrl> &urls)
    {
        QMimeData data;
        data.setUrls(urls);
        // A drop reaches the window that accepted the drag entering it.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &event);
    }

    // "Rettifica" on the selected list file with the file at `path`.
    ConservaFileDialog *rectify(CoreMain &window, const QString &path)
    {
        prompts->answerNext(path);
        click(&window, "btmSostituisci");
        return window.conserveDialog();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
    }

    void init()
    {
        freshCatalogueFor(service.baseUrl());
        prompts = std::make_unique<PromptRecorder>();
    }

    void cleanup()
    {
        prompts.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // "Conserva", the tray entry and drops start one preservation at a time.
    void conserveFromTheMainWindowOneAtATime()
    {
        CoreMain window;
        QVERIFY(signIn(window));
        const QString path = newFile("nota spese.txt", "nota spese di marzo\n");
        prompts->clear();
        prompts->answerNext(path);
        click(&window, "btmConserva");
        QCOMPARE(prompts->count(), 1);
        QCOMPARE(prompts->last().kind, Prompts::Kind::OpenFile);
        QCOMPARE(prompts->last().title, QStringLiteral("Seleziona un file"));
        QCOMPARE(prompts->last().dir, QDir::homePath());
        QPointer<ConservaFileDialog> dialog = window.conserveDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->parentWidget(), &window);
        QCOMPARE(dialog->filePath(), path);

        // A second start, from the button or the tray, is refused.
        click(&window, "btmConserva");
        for (QAction *a : window.trayMenu()->actions())
            if (a->text() == QLatin1String("Conserva file"))
                a->trigger();
        QCOMPARE(busyWarnings(), 2);
        QCOMPARE(window.conserveDialog(), dialog.data());

        // Through to the token; "Vedi Dettagli" shows the file in the list.
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(dialog, "btmStartUpload")->isEnabled(); }, 20000));
        QVERIFY(selectClass(dialog, "Fatture fornitori"));
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        click(dialog, "btmVediDettagli");
        QVERIFY(!window.conserveDialog());
        QTRY_VERIFY(!dialog);
        QCOMPARE(window.selectedFileData(1), QStringLiteral("nota spese.txt"));
        QCOMPARE(window.selectedFileData(0), sha1("nota spese di marzo\n"));
        QVERIFY(child<QTableView>(&window, "tbwMetadati")->isVisible());

        // Free again: a cancelled file choice starts nothing and refuses nothing,
        // neither the first time nor the next.
        prompts->clear();
        for (int i = 0; i < 2; ++i) {
            prompts->answerNext(QString());
            click(&window, "btmConserva");
            QCOMPARE(busyWarnings(), 0);
            QVERIFY(!window.conserveDialog());
        }

        // Dropped files: the first one only is preserved, in a window of its own.
        const QString first = newFile("primo.txt", "primo file lasciato cadere\n");
        const QString second = newFile("secondo.txt", "secondo file lasciato cadere\n");
        prompts->clear();
        drop(window, {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
        dialog = window.conserveDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->filePath(), first);
        QVERIFY(!dialog->parentWidget());
        QCOMPARE(window.findChildren<ConservaFileDialog *>().size(), 0);

        drop(window, {QUrl::fromLocalFile(second)});
        QCOMPARE(busyWarnings(), 1);
        QCOMPARE(window.conserveDialog(), dialog.data());

        // Cancel to the close question: the dialog stays, but the window has
        // already let it go, so a new preservation may start.
        prompts->answerNext("cancel");
        dialog->close();
        QVERIFY(dialog->isVisible());
        QVERIFY(!window.conserveDialog());
        drop(window, {QUrl::fromLocalFile(second)});
        QCOMPARE(busyWarnings(), 1);
        QVERIFY(window.conserveDialog());
        QCOMPARE(window.conserveDialog()->filePath(), second);
        delete window.conserveDialog();
        delete dialog.data();
    }

    // Rectification with a different file replaces the version in the
    // catalogue; with the same content it keeps the rows. Without a selected
    // file "Rettifica" does nothing.
    void rectification()
    {
        CoreMain window;
        QVERIFY(signIn(window));
        child<QTableView>(&window, "tbwFile")->clearSelection();
        prompts->clear();
        click(&window, "btmSostituisci");
        QCOMPARE(prompts->count(), 0);
        QVERIFY(!window.conserveDialog());

        const QString oldHash = sha1("Contratto d'opera, prima stesura\n");
        const QByteArray content = "Contratto d'opera, seconda stesura firmata\n";
        QVERIFY(selectListFile(window, "contratto.txt"));
        QCOMPARE(window.selectedFileData(0), oldHash);
        QPointer<ConservaFileDialog> dialog = rectify(window, newFile("contratto-v2.txt", content));
        QVERIFY(dialog);
        QVERIFY(dialog->isRectification());
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Rettifica del file contratto.txt con contratto-v2.txt"));
        QCOMPARE(dialog->classId(), 32);
        QSignalSpy completed(dialog.data(), &ConservaFileDialog::sostituizioneCompleted);

        // While the rectification is open, "Conserva" is refused.
        click(&window, "btmConserva");
        QCOMPARE(busyWarnings(), 1);

        // The form comes back with the replaced version's values.
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QCOMPARE(qobject_cast<QComboBox *>(dialog->valueWidgets().value(0))->currentText(),
                 QStringLiteral("Rossi S.r.l."));
        click(dialog, "btmConserva");
        QCOMPARE(prompts->last().title, QStringLiteral("Rettifica file"));
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(child<QLabel>(dialog, "lblTitleSuccess")->text(), QStringLiteral("Documento sostituito correttamente"));
        QCOMPARE(completed.count(), 1);

        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {oldHash}), 0);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ?", {oldHash}), 0);
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND folderid = 32 AND token != ''", {sha1(content)}),
                 1);
        QDomDocument sent;
        QVERIFY(sent.setContent(dialog->requestBody()));
        QCOMPARE(sent.documentElement().firstChildElement("action").text(), QStringLiteral("sostituiscivaluemetadati"));
        QCOMPARE(sent.documentElement().firstChildElement("hashprecedente").text(), oldHash);

        // Closing lets the window forget it.
        click(dialog, "btmClose4");
        QVERIFY(!window.conserveDialog());
        QTRY_VERIFY(!dialog);

        // The same content again: its rows stay.
        const QByteArray same = "Preventivo, prima stesura\n";
        QVERIFY(selectListFile(window, "preventivo.txt"));
        dialog = rectify(window, newFile("preventivo-copia.txt", same));
        QVERIFY(dialog);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND token != ''", {sha1(same)}), 1);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ?", {sha1(same)}), 1);
        dialog->close();
        QVERIFY(!window.conserveDialog());
    }
};

TAVREL_TEST_MAIN(TestRettifica)
#include "tst_rettifica.moc"
