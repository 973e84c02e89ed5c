// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's side of preservation against the reference service:
// "Conserva", drops and "Rettifica", and the one-preservation-at-a-time guard.

#include "app/prompts.h"
#include "browse/coremain.h"
#include "browse/filelistquery.h"
#include "browse/listfiledelegate.h"
#include "conserve/dialoguploadfile.h"
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
        return int(prompts->describe().count(
            QStringLiteral("warning|Conservazione file|E' in esecuzione un altro processo di conservazione, per "
                           "poterne avviare un altro devi prima concludere quello in corso")));
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
        QCOMPARE(prompts->describe(), QStringList{"open|Seleziona un file|"});
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

        // "Annulla" after its question ends it, and the window lets it go.
        click(dialog, "btmClose1");
        QVERIFY(!window.conserveDialog());
        QTRY_VERIFY(!dialog);

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
        QVERIFY(dialog && !dialog->parentWidget());
        QCOMPARE(dialog->filePath(), first);
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

    // The same content preserved in a second class from "Conserva"; "Vedi
    // Dettagli" shows that copy once the window's synchronisation has rebuilt
    // the list. "Rettifica" replaces the copy of the selected row, in sight
    // behind its upload window, and leaves the copy in the other class, its
    // token and its values alone. A rectification with the same content keeps
    // the rows; while one is open, "Conserva" is refused.
    void rectification()
    {
        CoreMain window;
        QVERIFY(signIn(window));
        const QByteArray same = "Preventivo, prima stesura\n";
        prompts->answerNext(newFile("preventivo-ufficio.txt", same));
        click(&window, "btmConserva");
        QPointer<ConservaFileDialog> dialog = window.conserveDialog();
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(dialog, "btmStartUpload")->isEnabled(); }, 20000));
        QVERIFY(selectClass(dialog, "Fatture fornitori"));
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QSignalSpy synced(window.connection(), &KVWConn::commandSuccessful);
        click(dialog, "btmVediDettagli");
        QVERIFY(!window.conserveDialog());
        QVERIFY(synced.wait(20000));
        QTRY_COMPARE(window.selectedFileData(FileListQuery::FileName), QStringLiteral("preventivo-ufficio.txt"));
        QCOMPARE(window.selectedFileData(FileListQuery::ClassId), QStringLiteral("33"));
        QVERIFY(child<QTableView>(&window, "tbwMetadati")->isVisible());
        QVERIFY(child<QTableView>(&window, "tbwMetadati")->model()->rowCount() > 0);

        // Replacing that copy: the service's follow-up synchronisation fails,
        // so the catalogue shows what the dialog itself did.
        const QByteArray second = "Preventivo, seconda stesura\n";
        prompts->answerNext(newFile("preventivo-2.txt", second));
        QVERIFY(service.delayNext(1500));
        click(&window, "btmSostituisci");
        dialog = window.conserveDialog();
        QVERIFY(dialog && dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Rettifica del file preventivo-ufficio.txt con preventivo-2.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<DialogUploadFile *>()
                                     && dialog->findChild<DialogUploadFile *>()->isVisible(), 20000);
        QVERIFY(dialog->isVisible());
        QVERIFY(conserveWithoutFollowUpSync(service, dialog));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND folderid = 33", {sha1(same)}), 0);
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND folderid = 32 AND token != ''", {sha1(same)}), 1);
        QCOMPARE(catalogueValue("SELECT value FROM metadati_values WHERE hash = ?", {sha1(same)}).toString(),
                 QStringLiteral("Bianchi S.p.A."));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND folderid = 33 AND token != ''", {sha1(second)}), 1);
        QCOMPARE(serviceVersions(window.cookieJar(), sha1(second), 33), 2);
        click(dialog, "btmClose4");
        QVERIFY(!window.conserveDialog());
        QTRY_VERIFY(!dialog);

        // The same content again, over the copy in the seeded class.
        QVERIFY(selectListFile(window, "preventivo.txt"));
        prompts->answerNext(newFile("preventivo-copia.txt", same));
        click(&window, "btmSostituisci");
        dialog = window.conserveDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Rettifica del file preventivo.txt con preventivo-copia.txt"));
        QSignalSpy completed(dialog.data(), &ConservaFileDialog::sostituizioneCompleted);
        prompts->clear();
        click(&window, "btmConserva");
        QCOMPARE(busyWarnings(), 1);

        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QCOMPARE(qobject_cast<QComboBox *>(dialog->valueWidgets().value(0))->currentText(),
                 QStringLiteral("Bianchi S.p.A."));
        click(dialog, "btmConserva");
        QCOMPARE(prompts->last().title, QStringLiteral("Rettifica file"));
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(child<QLabel>(dialog, "lblTitleSuccess")->text(), QStringLiteral("Documento sostituito correttamente"));
        QCOMPARE(completed.count(), 1);
        QDomDocument sent;
        QVERIFY(sent.setContent(dialog->requestBody()));
        QCOMPARE(sent.documentElement().firstChildElement("action").text(), QStringLiteral("sostituiscivaluemetadati"));
        QCOMPARE(sent.documentElement().firstChildElement("hashprecedente").text(), sha1(same));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND token != ''", {sha1(same)}), 1);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ?", {sha1(same)}), 1);
        QCOMPARE(serviceVersions(window.cookieJar(), sha1(same), 32), 2);

        // Closing lets the window forget it.
        click(dialog, "btmClose4");
        QVERIFY(!window.conserveDialog());
        QTRY_VERIFY(!dialog);
    }
};

TAVREL_TEST_MAIN(TestRettifica)
#include "tst_rettifica.moc"
