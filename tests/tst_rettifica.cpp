// The main window's side of preservation against the reference service:
// "Conserva", drops and "Rettifica", and the one-preservation-at-a-time guard.

#include "app/prompts.h"
#include "browse/coremain.h"
#include "browse/listfiledelegate.h"
#include "conserve/conservafiledialog.h"
#include "service/kvdialoglogin.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_conserva_support.h"

#include <QAction>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QToolButton>

using namespace conservetest;

class TestRettifica : public QObject
{
    Q_OBJECT

    RefServiceFixture service{QStringLiteral(TAVREL_FIXTURES_DIR "/conserva_seed.json")};
    std::unique_ptr<PromptRecorder> prompts;

    bool signIn(CoreMain &window)
    {
        KvDialogLogin *dialog = window.loginDialog();
        if (!dialog->isVisible())
            window.setVisible(true);
        child<QLineEdit>(dialog, "leUsername")->setText("carla");
        child<QLineEdit>(dialog, "lePassword")->setText("Registro2026");
        child<QCheckBox>(dialog, "ckbSalvaCredenziali")->setChecked(false);
        QTest::mouseClick(child<QPushButton>(dialog, "btmOk"), Qt::LeftButton);
        return QTest::qWaitFor([&] { return window.isVisible() && window.fileListModel()
                                            && window.fileListModel()->rowCount() >= 2; },
                               20000);
    }

    static QString newFile(const QString &name, const QByteArray &content)
    {
        const QString path = TestEnv::instance()->home() + QLatin1Char('/') + name;
        writeFile(path, content);
        return path;
    }

    static QString sha1(const QByteArray &content)
    {
        return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
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

    static bool busyWarning(const Prompts::Request &r)
    {
        return r.kind == Prompts::Kind::Warning && r.title == QLatin1String("Conservazione file")
               && r.text == QLatin1String("E' in esecuzione un altro processo di conservazione, per poterne avviare "
                                          "un altro devi prima concludere quello in corso");
    }

    int busyWarnings() const
    {
        int n = 0;
        for (const Prompts::Request &r : prompts->calls())
            n += busyWarning(r) ? 1 : 0;
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

    static QAction *trayConserva(CoreMain &window)
    {
        for (QAction *a : window.trayMenu()->actions())
            if (a->text() == QLatin1String("Conserva file"))
                return a;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
    }

    void init()
    {
        QDir(Database::dataDirectory()).removeRecursively();
        Setting().saveSetting("url", service.baseUrl());
        prompts = std::make_unique<PromptRecorder>();
    }

    void cleanup()
    {
        prompts.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void conserveFromTheMainWindowOneAtATime()
    {
        CoreMain window;
        QVERIFY(signIn(window));
        const QString path = newFile("nota spese.txt", "nota spese di marzo\n");
        prompts->clear();
        prompts->answerNext(path);
        QTest::mouseClick(child<QToolButton>(&window, "btmConserva"), Qt::LeftButton);
        QCOMPARE(prompts->count(), 1);
        QCOMPARE(prompts->last().kind, Prompts::Kind::OpenFile);
        QCOMPARE(prompts->last().title, QStringLiteral("Seleziona un file"));
        QCOMPARE(prompts->last().dir, QDir::homePath());
        QPointer<ConservaFileDialog> dialog = window.conserveDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->parentWidget(), &window);
        QCOMPARE(dialog->filePath(), path);

        // A second start, from the button or the tray, is refused.
        QTest::mouseClick(child<QToolButton>(&window, "btmConserva"), Qt::LeftButton);
        trayConserva(window)->trigger();
        QCOMPARE(busyWarnings(), 2);
        QCOMPARE(window.conserveDialog(), dialog.data());

        // Through to the token; "Vedi Dettagli" shows the file in the list.
        QVERIFY(QTest::qWaitFor([&] { return child<QPushButton>(dialog, "btmStartUpload")->isEnabled(); }, 20000));
        QVERIFY(selectClass(dialog, "Fatture fornitori"));
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QTest::mouseClick(child<QPushButton>(dialog, "btmConserva"), Qt::LeftButton);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QTest::mouseClick(child<QPushButton>(dialog, "btmVediDettagli"), Qt::LeftButton);
        QVERIFY(!window.conserveDialog());
        QTRY_VERIFY(!dialog);
        QCOMPARE(window.selectedFileData(1), QStringLiteral("nota spese.txt"));
        QCOMPARE(window.selectedFileData(0), sha1("nota spese di marzo\n"));
        QVERIFY(child<QTableView>(&window, "tbwMetadati")->isVisible());
        QCOMPARE(child<QPushButton>(&window, "btmHideDetail")->text(), QStringLiteral("Chiudi Dettagli"));

        // Free again: a cancelled file choice starts nothing and refuses nothing.
        prompts->clear();
        prompts->answerNext(QString());
        QTest::mouseClick(child<QToolButton>(&window, "btmConserva"), Qt::LeftButton);
        QCOMPARE(busyWarnings(), 0);
        QVERIFY(!window.conserveDialog());
        prompts->answerNext(QString());
        QTest::mouseClick(child<QToolButton>(&window, "btmConserva"), Qt::LeftButton);
        QCOMPARE(busyWarnings(), 0);
    }

    void droppingFilesStartsTheFirstOnly()
    {
        CoreMain window;
        QVERIFY(signIn(window));
        const QString first = newFile("primo.txt", "primo file lasciato cadere\n");
        const QString second = newFile("secondo.txt", "secondo file lasciato cadere\n");
        prompts->clear();
        drop(window, {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
        QPointer<ConservaFileDialog> dialog = window.conserveDialog();
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

    void rectificationWithADifferentFile()
    {
        CoreMain window;
        QVERIFY(signIn(window));
        const QString oldHash = sha1("Contratto d'opera, prima stesura\n");
        QVERIFY(selectListFile(window, "contratto.txt"));
        QCOMPARE(window.selectedFileData(0), oldHash);
        const QByteArray content = "Contratto d'opera, seconda stesura firmata\n";
        const QString path = newFile("contratto-v2.txt", content);
        prompts->clear();
        prompts->answerNext(path);
        QTest::mouseClick(child<QPushButton>(&window, "btmSostituisci"), Qt::LeftButton);
        QPointer<ConservaFileDialog> dialog = window.conserveDialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isRectification());
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Rettifica del file contratto.txt con contratto-v2.txt"));
        QCOMPARE(dialog->classId(), 32);
        QSignalSpy completed(dialog.data(), &ConservaFileDialog::sostituizioneCompleted);

        // While the rectification is open, "Conserva" is refused.
        QTest::mouseClick(child<QToolButton>(&window, "btmConserva"), Qt::LeftButton);
        QCOMPARE(busyWarnings(), 1);

        // The form comes back with the replaced version's values.
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QCOMPARE(qobject_cast<QComboBox *>(dialog->valueWidgets().value(0))->currentText(),
                 QStringLiteral("Rossi S.r.l."));
        QTest::mouseClick(child<QPushButton>(dialog, "btmConserva"), Qt::LeftButton);
        QCOMPARE(prompts->last().title, QStringLiteral("Rettifica file"));
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(child<QLabel>(dialog, "lblTitleSuccess")->text(), QStringLiteral("Documento sostituito correttamente"));
        QCOMPARE(completed.count(), 1);

        // The replaced version left the catalogue; the service keeps both.
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {oldHash}), 0);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ?", {oldHash}), 0);
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND folderid = 32 AND token != ''", {sha1(content)}),
                 1);
        QDomDocument sent;
        QVERIFY(sent.setContent(dialog->requestBody()));
        QCOMPARE(sent.documentElement().firstChildElement("action").text(), QStringLiteral("sostituiscivaluemetadati"));
        QCOMPARE(sent.documentElement().firstChildElement("hashprecedente").text(), oldHash);

        KVWConn history(window.cookieJar());
        QByteArray body = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>history</action>"
                                         "<hash>%1</hash><folderid>32</folderid></request>")
                              .arg(sha1(content))
                              .toUtf8();
        history.request().setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("text/xml;charset=UTF-8"));
        QSignalSpy versions(&history, &KVWConn::commandSuccessful);
        history.postSession(&body);
        QVERIFY(versions.wait(20000));
        QCOMPARE(versions.first().at(0).value<QDomElement>().elementsByTagName("file").count(), 2);

        // Closing lets the window forget it and list the new version.
        QTest::mouseClick(child<QPushButton>(dialog, "btmClose4"), Qt::LeftButton);
        QVERIFY(!window.conserveDialog());
        QTRY_VERIFY(!dialog);
        QVERIFY(selectListFile(window, "contratto-v2.txt"));
        QVERIFY(!selectListFile(window, "contratto.txt"));
    }

    void rectificationWithTheSameContentKeepsTheRows()
    {
        CoreMain window;
        QVERIFY(signIn(window));
        const QByteArray content = "Preventivo, prima stesura\n";
        const QString hash = sha1(content);
        QVERIFY(selectListFile(window, "preventivo.txt"));
        const QString path = newFile("preventivo-copia.txt", content);
        prompts->answerNext(path);
        QTest::mouseClick(child<QPushButton>(&window, "btmSostituisci"), Qt::LeftButton);
        QPointer<ConservaFileDialog> dialog = window.conserveDialog();
        QVERIFY(dialog);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QTest::mouseClick(child<QPushButton>(dialog, "btmConserva"), Qt::LeftButton);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND token != ''", {hash}), 1);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ?", {hash}), 1);
        dialog->close();
        QVERIFY(!window.conserveDialog());
    }

    void rectificationNeedsASelectedFile()
    {
        CoreMain window;
        QVERIFY(signIn(window));
        child<QTableView>(&window, "tbwFile")->clearSelection();
        prompts->clear();
        QTest::mouseClick(child<QPushButton>(&window, "btmSostituisci"), Qt::LeftButton);
        QCOMPARE(prompts->count(), 0);
        QVERIFY(!window.conserveDialog());
    }
};

TAVREL_TEST_MAIN(TestRettifica)
#include "tst_rettifica.moc"
