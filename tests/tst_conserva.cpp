// The preservation dialog against the reference service: class choice, upload,
// index form, conserve request, and every way it can end.

#include "admin/categorie.h"
#include "admin/classlistmodel.h"
#include "admin/metadaticategories.h"
#include "app/prompts.h"
#include "conserve/detaildialog.h"
#include "conserve/dialoguploadfile.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_conserva_support.h"

#include <QDomDocument>
#include <QHostInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlQuery>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>
#include <functional>

using namespace conservetest;

class TestConserva : public QObject
{
    Q_OBJECT

    RefServiceFixture service{QStringLiteral(TAVREL_FIXTURES_DIR "/conserva_seed.json")};
    std::unique_ptr<Session> session;
    std::unique_ptr<PromptRecorder> prompts;
    QList<QPointer<ConservaFileDialog>> dialogs;
    int fileCounter = 0;

    // A file with content no other test uses (the service refuses to preserve
    // the same content twice in one class).
    QString newFile(const QString &name)
    {
        const QString path = TestEnv::instance()->home() + QLatin1Char('/') + name;
        writeFile(path, "documento di prova " + QByteArray::number(++fileCounter) + " "
                            + QByteArray(QTest::currentTestFunction()));
        return path;
    }

    ConservaFileDialog *open(const QString &path)
    {
        auto *dialog = new ConservaFileDialog(path, session->jar.get(), QStringLiteral("P-CARLA"),
                                              QStringLiteral("Archivio di Carla"), QString(), false, nullptr);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialogs << dialog;
        dialog->show();
        return dialog;
    }

    static bool listsReady(ConservaFileDialog *dialog)
    {
        return QTest::qWaitFor([&] { return child<QPushButton>(dialog, "btmStartUpload")->isEnabled(); }, 20000);
    }

    // Opens the dialog on `path` with `className` chosen, ready for "Avanti".
    ConservaFileDialog *withClass(const QString &path, const QString &className = QStringLiteral("Fatture clienti"))
    {
        ConservaFileDialog *dialog = open(path);
        return listsReady(dialog) && selectClass(dialog, className) ? dialog : nullptr;
    }

    // ... and uploads it, up to the index form.
    ConservaFileDialog *toForm(const QString &path, const QString &className = QStringLiteral("Fatture clienti"))
    {
        ConservaFileDialog *dialog = withClass(path, className);
        if (!dialog)
            return nullptr;
        click(dialog, "btmStartUpload");
        return waitPage(dialog, ConservaFileDialog::PageIndexes) ? dialog : nullptr;
    }

    static void focus(QWidget *w)
    {
        if (auto *date = qobject_cast<CalendarWidget *>(w))
            w = date->comboBox();
        QFocusEvent in(QEvent::FocusIn);
        QCoreApplication::sendEvent(w, &in);
    }

    static void fillValid(ConservaFileDialog *dialog, const QString &number)
    {
        setValue(dialog, "2", number);
        setValue(dialog, "9", "1.234,56");
        setValue(dialog, "10", "05/03/2013");
        setValue(dialog, "11", "");
    }

    static QString comboText(ConservaFileDialog *dialog, const QString &key)
    {
        return qobject_cast<QComboBox *>(valueWidget(dialog, key))->currentText();
    }

    QStringList criticals() const
    {
        QStringList out;
        for (const Prompts::Request &r : prompts->calls())
            if (r.kind == Prompts::Kind::Critical)
                out << r.title + QLatin1Char('|') + r.text;
        return out;
    }

    // Starts the upload of a dialog with its class chosen and presses "Annulla"
    // in the progress window as soon as `when` holds for it; true once the
    // dialog has gone after that click.
    bool cancelWhen(ConservaFileDialog *dialog, const std::function<bool(DialogUploadFile *)> &when)
    {
        QPointer<ConservaFileDialog> alive(dialog);
        bool clicked = false;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, [&] {
            DialogUploadFile *window = alive ? alive->uploadWindow() : nullptr;
            if (clicked || !window || !when(window))
                return;
            clicked = true;
            click(window, "btmCancelUpload");
        });
        poll.start();
        click(dialog, "btmStartUpload");
        return QTest::qWaitFor([&] { return !alive; }, 20000) && clicked;
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
        session = std::make_unique<Session>();
        QVERIFY(session->signIn("carla", "Registro2026"));
    }

    void cleanup()
    {
        for (const QPointer<ConservaFileDialog> &d : std::as_const(dialogs))
            delete d.data();
        dialogs.clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        session.reset();
        prompts.reset();
    }

    // One preservation end to end: class, upload and provisional row, the form,
    // a first try rejected field by field, the close question, the corrected
    // request and its token.
    void wholePreservationFromClassToToken()
    {
        const QString path = newFile(QStringLiteral("fattura 1 #bis.txt"));
        ConservaFileDialog *dialog = open(path);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Conservazione del file fattura 1 #bis.txt (Archivio di Carla)"));
        QVERIFY(!child<QPushButton>(dialog, "btmStartUpload")->isEnabled());
        QVERIFY(listsReady(dialog));
        QCOMPARE(column(child<QTableView>(dialog, "tbwListGroup")->model(), 0),
                 (QStringList{"Tutti", "Amministrazione", "Legale"}));
        QVERIFY(selectClass(dialog, "Fatture clienti"));
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));

        // The provisional row: the file's fingerprints, an empty token, the signed-in user.
        const QString hash = fileSha1(path);
        QCOMPARE(dialog->hash(), hash);
        QCOMPARE(catalogueValue("SELECT username || '|' || hash4k || '|' || fullpath FROM files "
                                "WHERE hash = ? AND folderid = 31 AND token = ''", {hash}).toString(),
                 "carla|" + hash + "|" + path);

        // The form follows the index definitions; an unsupported kind keeps only its name.
        QCOMPARE(dialog->indexLabel("2")->text(), QStringLiteral("* Numero"));
        QCOMPARE(dialog->indexLabel("11")->text(), QStringLiteral("Scadenza"));
        QCOMPARE(dialog->indexLabel("12")->text(), QStringLiteral("Firma digitale"));
        QCOMPARE(dialog->valueWidgets().size(), 4);
        QVERIFY(!valueWidget(dialog, "12"));
        auto *number = qobject_cast<QComboBox *>(valueWidget(dialog, "9"));
        QVERIFY(number && number->isEditable());
        QCOMPARE(number->inputMethodHints(), Qt::ImhFormattedNumbersOnly);
        QVERIFY(number->toolTip().contains("Totale in euro"));
        QVERIFY(qobject_cast<CalendarWidget *>(valueWidget(dialog, "10"))->clearButton()->isHidden());
        QVERIFY(!qobject_cast<CalendarWidget *>(valueWidget(dialog, "11"))->clearButton()->isHidden());

        // "Vedi Documento" opens the file itself, whatever its name holds.
        {
            UrlCatcher catcher({QStringLiteral("file")});
            click(dialog, "btmVisionaFile2");
            QCOMPARE(catcher.opened.size(), 1);
            QCOMPARE(catcher.opened.first().toLocalFile(), path);
        }

        // First try: the service rejects two values; the labels say which.
        const QString value9 = "SELECT value FROM metadati_values WHERE hash = ? AND idmetadata = 9";
        setValue(dialog, "2", "F-1 & <bis>");
        setValue(dialog, "9", "dodici");
        setValue(dialog, "10", "31/02/2013");
        prompts->clear();
        click(dialog, "btmConserva");
        QCOMPARE(prompts->describe().value(0),
                 QStringLiteral("confirm|Conservazione file|Sei veramente sicuro di voler conservare il documento "
                                "selezionato?"));
        QVERIFY(!child<QPushButton>(dialog, "btmConserva")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!criticals().isEmpty(), 20000);
        QCOMPARE(criticals(), QStringList{"Conservazione file|La validazione degli indici non è riuscita"});
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageIndexes));
        QCOMPARE(dialog->indexLabel("9")->styleSheet(), QStringLiteral("color:red;"));
        QCOMPARE(dialog->indexLabel("10")->styleSheet(), QStringLiteral("color:red;"));
        QCOMPARE(dialog->indexLabel("2")->styleSheet(), QStringLiteral("color:black;"));
        QCOMPARE(dialog->errorTexts().keys(), (QStringList{"10", "9"}));
        QVERIFY(child<QPushButton>(dialog, "btmConserva")->isEnabled());
        // Values were stored before sending; the row stays for the next try.
        QCOMPARE(catalogueValue(value9, {hash}).toString(), QStringLiteral("dodici"));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {hash}), 1);

        // The help panel: the error box first, then the suggestions; a field
        // without error shows its suggestion only, one without suggestion nothing.
        auto *help = child<QTextBrowser>(dialog, "tbHelp");
        focus(valueWidget(dialog, "9"));
        const QString text = help->toPlainText();
        QVERIFY2(text.contains("deve contenere un numero"), qPrintable(text));
        QVERIFY(text.indexOf("Errore") >= 0 && text.indexOf("Errore") < text.indexOf("Suggerimenti"));
        focus(valueWidget(dialog, "2"));
        QVERIFY(help->toPlainText().contains("Il numero della fattura"));
        QVERIFY(!help->toPlainText().contains("Errore"));
        focus(valueWidget(dialog, "11"));
        QCOMPARE(help->toPlainText(), QString());

        // Escape asks first; Cancel keeps the dialog and what was typed.
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        prompts->clear();
        prompts->answerNext("cancel");
        QTest::keyClick(dialog, Qt::Key_Escape);
        QCOMPARE(prompts->describe(),
                 QStringList{"confirm|" + dialog->windowTitle()
                             + "|Sei veramente sicuro di voler annullare la conservazione del file?"});
        QCOMPARE(closing.count(), 1);
        QVERIFY(dialog->isVisible());
        QCOMPARE(comboText(dialog, "9"), QStringLiteral("dodici"));

        // Corrected: labels black again before the new request, values replaced.
        setValue(dialog, "9", "1.234,56");
        setValue(dialog, "10", "05/03/2013");
        click(dialog, "btmConserva");
        QCOMPARE(dialog->indexLabel("9")->styleSheet(), QStringLiteral("color:black;"));
        QCOMPARE(dialog->indexLabel("10")->styleSheet(), QStringLiteral("color:black;"));
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(child<QLabel>(dialog, "lblTitleSuccess")->text(), QStringLiteral("Documento conservato correttamente"));
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ? AND idmetadata = 9", {hash}), 1);
        QCOMPARE(catalogueValue(value9, {hash}).toString(), QStringLiteral("1.234,56"));

        // The request: values in index-id order compared as text, as typed.
        QDomDocument sent;
        QVERIFY(sent.setContent(dialog->requestBody()));
        const QDomElement request = sent.documentElement();
        QCOMPARE(request.firstChildElement("action").text(), QStringLiteral("savevaluemetadati"));
        QCOMPARE(request.firstChildElement("hash").text(), hash);
        QCOMPARE(request.firstChildElement("folderid").text(), QStringLiteral("31"));
        QCOMPARE(request.firstChildElement("computername").text(), QHostInfo::localHostName());
        QStringList values;
        for (QDomElement m = request.firstChildElement("metadato"); !m.isNull(); m = m.nextSiblingElement("metadato"))
            values << m.attribute("key") + "=" + m.attribute("value");
        QCOMPARE(values, (QStringList{"10=05/03/2013", "11=", "2=F-1 & <bis>", "9=1.234,56"}));

        // Token stored; the synchronisation then brings the service's row.
        QVERIFY(!catalogueValue("SELECT token FROM files WHERE hash = ? AND folderid = 31", {hash}).toString().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            !catalogueValue("SELECT tsconserve FROM files WHERE hash = ? AND folderid = 31", {hash}).toString().isEmpty(),
            20000);
        QCOMPARE(catalogueValue("SELECT value FROM metadati_values WHERE hash = ? AND idmetadata = 2", {hash}).toString(),
                 QStringLiteral("F-1 & <bis>"));

        // "Chiudi" on the success page closes without a question.
        prompts->clear();
        QPointer<ConservaFileDialog> alive(dialog);
        click(dialog, "btmClose4");
        QCOMPARE(closing.count(), 2);
        QCOMPARE(prompts->count(), 0);
        QTRY_VERIFY(!alive);
    }

    // A conserve failure other than validation removes the rows and offers
    // "Indietro" to the form as it was; the next try meets an expired session,
    // which one sign-in repairs without a word.
    void otherConserveFailureThenExpiredSession()
    {
        ConservaFileDialog *dialog = toForm(newFile(QStringLiteral("fattura-guasto.txt")));
        QVERIFY(dialog);
        const QString hash = dialog->hash();
        fillValid(dialog, "F-3");
        QVERIFY(service.failNext("savevaluemetadati", "16", "Servizio in manutenzione"));
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageFailure));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {hash}), 0);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ?", {hash}), 0);
        QCOMPARE(child<QLabel>(dialog, "lblTitleFailure")->text(),
                 QStringLiteral("Conservazione del documento non riuscita<br/>Servizio in manutenzione"));
        QVERIFY(child<QPushButton>(dialog, "btmShowDetailError")->isHidden());
        QVERIFY(!child<QPushButton>(dialog, "btmIndietroFailure")->isHidden());

        click(dialog, "btmIndietroFailure");
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageIndexes));
        QCOMPARE(comboText(dialog, "2"), QStringLiteral("F-3"));
        QVERIFY(service.expireSessions());
        prompts->clear();
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(criticals(), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(count("SELECT count(*) FROM files WHERE hash = ? AND token != ''", {hash}), 1, 20000);
        QCOMPARE(serviceVersions(session->jar.get(), hash, 31), 1);
    }

    void failureMessageUnderTitleOrBehindDetails_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("underTitle");
        QTest::newRow("39 characters") << QString(39, QLatin1Char('x')) << true;
        QTest::newRow("40 characters") << QString(40, QLatin1Char('y')) << false;
        QTest::newRow("lines, < and &") << QStringLiteral("Prima riga <tag>\nSeconda riga & ultima, abbastanza lunga")
                                        << false;
    }
    void failureMessageUnderTitleOrBehindDetails()
    {
        QFETCH(QString, message);
        QFETCH(bool, underTitle);
        ConservaFileDialog *dialog = withClass(newFile(QStringLiteral("fattura-messaggio.txt")));
        QVERIFY(dialog);
        QVERIFY(service.failNext("uploadfile", "13", message));
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageFailure));
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->uploadWindow() || !dialog->uploadWindow()->isVisible());
        QVERIFY(child<QPushButton>(dialog, "btmIndietroFailure")->isHidden());
        // An upload failure leaves its row until the next attempt replaces it.
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {dialog->hash()}), 1);
        auto *title = child<QLabel>(dialog, "lblTitleFailure");
        auto *details = child<QPushButton>(dialog, "btmShowDetailError");
        if (underTitle) {
            QCOMPARE(title->text(), QStringLiteral("Upload del file non riuscito<br/>") + message);
            QVERIFY(details->isHidden());
            return;
        }
        QCOMPARE(title->text(), QStringLiteral("Upload del file non riuscito"));
        QVERIFY(!details->isHidden());
        QTest::mouseClick(details, Qt::LeftButton);
        auto *window = dialog->findChild<DetailDialog *>();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Dettaglio errore"));
        QCOMPARE(child<QTextEdit>(window, "teDescription")->toPlainText(), message);
    }

    void unreadableFileEndsTheDialog()
    {
        const QString path = newFile(QStringLiteral("sparito.txt"));
        ConservaFileDialog *dialog = withClass(path);
        QVERIFY(dialog);
        QVERIFY(QFile::remove(path));
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        QPointer<ConservaFileDialog> alive(dialog);
        prompts->clear();
        click(dialog, "btmStartUpload");
        QCOMPARE(prompts->describe(),
                 QStringList{"critical|Errore|Errore durante il calcolo dell'impronta si prega di riprovare"});
        QCOMPARE(closing.count(), 1);
        QTRY_VERIFY(!alive);
        QCOMPARE(count("SELECT count(*) FROM files"), count("SELECT count(*) FROM files WHERE token != ''"));
    }

    void emptyFileIsPreserved()
    {
        const QString path = TestEnv::instance()->home() + QStringLiteral("/vuoto.txt");
        writeFile(path, QByteArray());
        ConservaFileDialog *dialog = toForm(path, QStringLiteral("Fatture fornitori"));
        QVERIFY(dialog);
        QVERIFY(dialog->valueWidgets().isEmpty());
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QDomDocument sent;
        QVERIFY(sent.setContent(dialog->requestBody()));
        QVERIFY(sent.documentElement().firstChildElement("metadato").isNull());
    }

    // "Annulla" in the progress window while the file is read or while it is
    // sent: one question, then the dialog goes, with no error box for the
    // abandoned request.
    void cancelWhileHashingOrUploading_data()
    {
        QTest::addColumn<bool>("hashing");
        QTest::newRow("hashing") << true;
        QTest::newRow("uploading") << false;
    }
    void cancelWhileHashingOrUploading()
    {
        QFETCH(bool, hashing);
        const qint64 size = 48 * 1024 * 1024;
        const QString path = newFile(hashing ? QStringLiteral("grande.bin") : QStringLiteral("annullato.txt"));
        if (hashing)
            QVERIFY(QFile(path).resize(size));
        ConservaFileDialog *dialog = withClass(path);
        QVERIFY(dialog);
        if (!hashing)
            QVERIFY(service.delayNext(3000));
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        QString message;
        prompts->clear();
        QVERIFY(cancelWhen(dialog, [&](DialogUploadFile *window) {
            message = child<QLabel>(window, "lblMessageOperation")->text();
            // While hashing, the bar has the file's size as maximum.
            return hashing ? child<QProgressBar>(window, "pgProgressUpload")->maximum() == int(size)
                           : message == QStringLiteral("Upload file in corso ...");
        }));
        if (hashing)
            QCOMPARE(message, QStringLiteral("Calcolo impronta in corso ..."));
        QTest::qWait(200);
        QCOMPARE(closing.count(), 1);
        QCOMPARE(prompts->describe(),
                 QStringList{"confirm|Upload file in corso ...|Sei veramente sicuro di voler annullare l'operazione "
                             "corrente?"});
        if (hashing)
            QCOMPARE(count("SELECT count(*) FROM files WHERE token = '' OR token IS NULL"), 0);
    }

    // An expired session met by the upload: one sign-in repairs it without a
    // word, and the file is uploaded and preserved once.
    void sessionTimeOutDuringUploadIsRepairedOnce()
    {
        ConservaFileDialog *dialog = withClass(newFile(QStringLiteral("scaduta.txt")));
        QVERIFY(dialog);
        QVERIFY(service.expireSessions());
        prompts->clear();
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QCOMPARE(dialog->valueWidgets().size(), 4);
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {dialog->hash()}), 1);
        fillValid(dialog, "F-4");
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(criticals(), QStringList());
        QCOMPARE(serviceVersions(session->jar.get(), dialog->hash(), 31), 1);
    }

    void networkErrorWhileClassesLoadEndsTheDialog()
    {
        Setting().saveSetting("url", "http://127.0.0.1:1");
        prompts->clear();
        QPointer<ConservaFileDialog> alive(open(newFile(QStringLiteral("rete.txt"))));
        QTRY_VERIFY_WITH_TIMEOUT(!alive, 20000);
        QCOMPARE(prompts->count(), 2);
        QCOMPARE(prompts->calls().at(0).title, QStringLiteral("Errore"));
        QCOMPARE(prompts->calls().at(1).title, QStringLiteral("Sincronizzazione classi"));
    }

    void classListsFilterByGroupAndName()
    {
        ConservaFileDialog *dialog = open(newFile(QStringLiteral("filtri.txt")));
        QVERIFY(listsReady(dialog));
        auto *groups = child<QTableView>(dialog, "tbwListGroup");
        auto *classes = child<QTableView>(dialog, "twListCateg");
        auto *search = child<QLineEdit>(dialog, "leSearch");
        const auto names = [&] { return column(classes->model(), 1); };
        QCOMPARE(groups->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Filtra per gruppi"));
        QCOMPARE(classes->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Seleziona una classe"));
        QVERIFY(classes->isColumnHidden(0));

        // Before a group is chosen the search spans every profile; quotes and
        // wildcards match themselves.
        search->setText("Fatture");
        QCOMPARE(names().size(), 3);
        QVERIFY(names().contains("Fatture utenze"));
        search->setText("d'opera");
        QCOMPARE(names(), QStringList{"Contratti d'opera"});
        search->setText("100%");
        QCOMPARE(names(), QStringList());

        groups->selectRow(0); // "Tutti"
        QCOMPARE(search->text(), QString());
        QCOMPARE(names().size(), 3);
        search->setText("Fatture");
        QCOMPARE(names().size(), 2);

        groups->selectRow(1); // "Amministrazione"
        QCOMPARE(search->text(), QString());
        QCOMPARE(names(), (QStringList{"Fatture clienti", "Fatture fornitori"}));
        search->setText("client");
        QCOMPARE(names(), QStringList{"Fatture clienti"});

        // "Avanti" without a class.
        classes->clearSelection();
        prompts->clear();
        click(dialog, "btmStartUpload");
        QCOMPARE(prompts->describe(), QStringList{"critical|Campo obbligatorio|Devi selezionare una classe"});
        QVERIFY(child<QPushButton>(dialog, "btmStartUpload")->isEnabled());
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageClass));
    }

    void manageClassesHidesTheDialogUntilTheClassesWindowCloses()
    {
        ConservaFileDialog *dialog = open(newFile(QStringLiteral("classi.txt")));
        QVERIFY(listsReady(dialog));
        click(dialog, "btmOpenCateg");
        QVERIFY(!dialog->isVisible());
        Categorie *classes = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *c = qobject_cast<Categorie *>(w); c && c->isVisible())
                classes = c;
        QVERIFY(classes);
        QCOMPARE(classes->model()->profile(), QStringLiteral("P-CARLA"));
        QSignalSpy synced(classes->connection(), &KVWConn::syncCategorieOK);
        QVERIFY(synced.wait(20000));
        // Meanwhile a class appears in the catalogue: the lists are read again.
        Database database;
        database.openDB();
        QSqlQuery(database.db).exec("INSERT INTO folders (idfolder, name, groups, idbuckets) "
                                    "VALUES (99, 'Nuova classe', 'Legale', 'P-CARLA')");
        database.closeDB();
        click(classes, "btmClose");
        QVERIFY(dialog->isVisible());
        QVERIFY(column(child<QTableView>(dialog, "twListCateg")->model(), 1).contains("Nuova classe"));
    }
};

TAVREL_TEST_MAIN(TestConserva)
#include "tst_conserva.moc"
