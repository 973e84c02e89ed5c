// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The preservation dialog against the reference service: class choice, upload,
// index form, conserve request, and every way it can end.

#include "admin/categorie.h"
#include "admin/classlistmodel.h"
#include "admin/metadaticategories.h"
#include "app/prompts.h"
#include "conserve/detaildialog.h"
#include "conserve/dialoguploadfile.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_conserva_support.h"

#include <QClipboard>
#include <QDomDocument>
#include <QHostInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>

#include <csignal>

using namespace conservetest;

class TestConserva : public QObject
{
    Q_OBJECT

    RefServiceFixture service{QStringLiteral(TAVREL_FIXTURES_DIR "/conserva_seed.json")};
    std::unique_ptr<Session> session;
    std::unique_ptr<PromptRecorder> prompts;
    QList<QPointer<ConservaFileDialog>> dialogs;
    int fileCounter = 0;

    // A file with content no other test uses (a content already preserved in
    // the class makes the dialog ask before sending it again).
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

    static void focus(QWidget *w)
    {
        if (auto *date = qobject_cast<CalendarWidget *>(w))
            w = date->comboBox();
        QFocusEvent in(QEvent::FocusIn);
        QCoreApplication::sendEvent(w, &in);
    }

    // The style of the labels of indexes 2, 9 and 10: red marks a rejected value.
    static QStringList labelStyles(ConservaFileDialog *dialog)
    {
        QStringList out;
        for (const char *key : {"2", "9", "10"})
            out << dialog->indexLabel(QString::fromLatin1(key))->styleSheet();
        return out;
    }

    QStringList criticals() const
    {
        return prompts->describe().filter(QRegularExpression(QStringLiteral("^critical\\|")));
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
        ConservaFileDialog *dialog = withClass(path);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Conservazione del file fattura 1 #bis.txt (Archivio di Carla)"));
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
        QCOMPARE(dialog->indexLabel("12")->text(), QStringLiteral("Firma digitale"));
        QVERIFY(!valueWidget(dialog, "12"));
        QVERIFY(qobject_cast<CalendarWidget *>(valueWidget(dialog, "10"))->clearButton()->isHidden());
        QVERIFY(!qobject_cast<CalendarWidget *>(valueWidget(dialog, "11"))->clearButton()->isHidden());

        // "Vedi Documento" opens the file itself, whatever its name holds.
        {
            UrlCatcher catcher({QStringLiteral("file")});
            click(dialog, "btmVisionaFile2");
            QCOMPARE(catcher.opened, QList<QUrl>{QUrl::fromLocalFile(path)});
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
        QCOMPARE(criticals(), QStringList{"critical|Conservazione file|La validazione degli indici non è riuscita"});
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageIndexes));
        QCOMPARE(labelStyles(dialog), (QStringList{"color:black;", "color:red;", "color:red;"}));
        QVERIFY(child<QPushButton>(dialog, "btmConserva")->isEnabled());
        // Values were stored before sending; the row stays for the next try.
        QCOMPARE(catalogueValue(value9, {hash}).toString(), QStringLiteral("dodici"));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {hash}), 1);

        // The help panel of a rejected field: the service's reason, then the suggestions.
        focus(valueWidget(dialog, "9"));
        const QString text = child<QTextBrowser>(dialog, "tbHelp")->toPlainText();
        QVERIFY2(text.contains("deve contenere un numero"), qPrintable(text));
        QVERIFY(text.indexOf("Errore") >= 0 && text.indexOf("Errore") < text.indexOf("Suggerimenti"));

        // Escape asks first; Cancel keeps the dialog and what was typed.
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        prompts->clear();
        prompts->answerNext("cancel");
        QTest::keyClick(dialog, Qt::Key_Escape);
        QCOMPARE(prompts->describe(),
                 QStringList{"confirm|" + dialog->windowTitle()
                             + "|Sei veramente sicuro di voler annullare la conservazione del file?"});
        QVERIFY(dialog->isVisible());
        QCOMPARE(qobject_cast<QComboBox *>(valueWidget(dialog, "9"))->currentText(), QStringLiteral("dodici"));

        // Corrected: labels black again before the new request, values replaced.
        setValue(dialog, "9", "1.234,56");
        setValue(dialog, "10", "05/03/2013");
        click(dialog, "btmConserva");
        QCOMPARE(labelStyles(dialog), (QStringList{"color:black;", "color:black;", "color:black;"}));
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ? AND idmetadata = 9", {hash}), 1);
        QCOMPARE(catalogueValue(value9, {hash}).toString(), QStringLiteral("1.234,56"));
        QVERIFY(!catalogueValue("SELECT token FROM files WHERE hash = ? AND folderid = 31", {hash}).toString().isEmpty());

        // The request: values in index-id order compared as text, as typed.
        QDomDocument sent;
        QVERIFY(sent.setContent(dialog->requestBody()));
        const QDomElement request = sent.documentElement();
        QCOMPARE(request.firstChildElement("hash").text() + "|" + request.firstChildElement("folderid").text() + "|"
                     + request.firstChildElement("computername").text(),
                 hash + "|31|" + QHostInfo::localHostName());
        QStringList values;
        for (QDomElement m = request.firstChildElement("metadato"); !m.isNull(); m = m.nextSiblingElement("metadato"))
            values << m.attribute("key") + "=" + m.attribute("value");
        QCOMPARE(values, (QStringList{"10=05/03/2013", "11=", "2=F-1 & <bis>", "9=1.234,56"}));

        // The success page: the token to copy, and a receipt stating what was
        // preserved, where, when and by whom, offered in the documents folder.
        const QString token = catalogueValue("SELECT token FROM files WHERE hash = ? AND folderid = 31", {hash}).toString();
        const QString preservedAt =
            catalogueValue("SELECT tsconserve FROM files WHERE hash = ? AND folderid = 31", {hash}).toString();
        const QDateTime when = QDateTime::fromString(preservedAt, QStringLiteral("dd/MM/yyyy hh:mm:ss"));
        QVERIFY2(when.isValid(), qPrintable(preservedAt));
        QCOMPARE(child<QLineEdit>(dialog, "leToken")->text(), token);
        QVERIFY(child<QLineEdit>(dialog, "leToken")->isReadOnly());
        click(dialog, "btmCopiaToken");
        QCOMPARE(QGuiApplication::clipboard()->text(), token);
        const QString receipt = TestEnv::instance()->home() + QStringLiteral("/ricevuta fattura");
        prompts->clear();
        prompts->answerNext(receipt);
        click(dialog, "btmSalvaRicevuta");
        QCOMPARE(prompts->describe(), QStringList{"save|Salva ricevuta|"});
        QCOMPARE(prompts->last().dir, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                                          + "/ricevuta-fattura 1 #bis.txt-" + when.toString("yyyy-MM-dd") + ".pdf");
        QCOMPARE(child<QLabel>(dialog, "lblEsitoAzione")->text(), "Ricevuta salvata in " + receipt + ".pdf");
        QCOMPARE(missingFields(pdfText(receipt + ".pdf"),
                               {{"Nome file", "fattura 1 #bis.txt"},
                                {"Percorso locale", path},
                                {"Dimensione", QString::number(QFileInfo(path).size()) + " byte"},
                                {"Impronta SHA-1", hash},
                                {"Classe", "Fatture clienti"},
                                {"Profilo", "Archivio di Carla"},
                                {"Data e ora di conservazione", preservedAt},
                                {"Token di conservazione", token},
                                {"Utente", "carla"},
                                {"Computer", QHostInfo::localHostName()},
                                {"Servizio", service.baseUrl()},
                                {"Numero", "F-1 & <bis>"},
                                {"Importo", "1.234,56"},
                                {"Data documento", "05/03/2013"},
                                {"Scadenza", "—"},
                                {"Firma digitale", "—"}}),
                 QStringList());

        // "Chiudi" on the success page closes without a question.
        prompts->clear();
        QPointer<ConservaFileDialog> alive(dialog);
        click(dialog, "btmClose4");
        QCOMPARE(closing.count(), 2);
        QCOMPARE(prompts->count(), 0);
        QTRY_VERIFY(!alive);
    }

    // A content the catalogue lists as preserved in the chosen class is sent
    // only when the user says so. No goes back to the class choice with
    // nothing sent (the next upload the service receives is another class's,
    // not asked about) and no row written. Sì preserves it again: the form
    // starts from the values preserved last time, the catalogue gets the new
    // token and the service keeps both versions.
    void contentAlreadyPreservedInTheClass()
    {
        const QString path = TestEnv::instance()->home() + QStringLiteral("/contratto copia.txt");
        writeFile(path, "Contratto d'opera, prima stesura\n"); // preserved in the seed
        const QString hash = fileSha1(path);
        ConservaFileDialog *dialog = withClass(path, QStringLiteral("Contratti d'opera"));
        QVERIFY(dialog);
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {hash}), 1);
        QVERIFY(service.failNext("uploadfile", "13", "Caricamento di controllo"));
        prompts->clear();
        prompts->answerNext("no");
        click(dialog, "btmStartUpload");
        QCOMPARE(prompts->describe(),
                 QStringList{"question|Conservazione file|Questo file è già conservato nella classe Contratti d'opera "
                             "(conservato il 02/02/2026 11:00:00). Vuoi conservarlo di nuovo?"});
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageClass));
        QVERIFY(dialog->isVisible());
        QVERIFY(child<QPushButton>(dialog, "btmStartUpload")->isEnabled());
        QTRY_VERIFY(!dialog->uploadWindow());
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {hash}), 1);

        QVERIFY(selectClass(dialog, QStringLiteral("Fatture fornitori")));
        prompts->clear();
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageFailure));
        QCOMPARE(prompts->describe(), QStringList());
        QCOMPARE(child<QLabel>(dialog, "lblTitleFailure")->text(),
                 QStringLiteral("Upload del file non riuscito<br/>Caricamento di controllo"));
        click(dialog, "btmClose5");

        // Sì, for a file preserved here once: its second preservation starts
        // from the value of the first.
        const QString again = newFile(QStringLiteral("contratto-bis.txt"));
        const QString againHash = fileSha1(again);
        QStringList tokens;
        for (const QString &value : {QStringLiteral("Verdi & figli"), QStringLiteral("Verdi S.r.l.")}) {
            const QString preservedAt =
                catalogueValue("SELECT tsconserve FROM files WHERE hash = ? AND folderid = 32", {againHash}).toString();
            dialog = withClass(again, QStringLiteral("Contratti d'opera"));
            QVERIFY(dialog);
            prompts->clear();
            if (!tokens.isEmpty())
                prompts->answerNext("yes");
            click(dialog, "btmStartUpload");
            QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
            QCOMPARE(prompts->describe(),
                     tokens.isEmpty() ? QStringList()
                                      : QStringList{"question|Conservazione file|Questo file è già conservato nella "
                                                    "classe Contratti d'opera (conservato il " + preservedAt
                                                    + "). Vuoi conservarlo di nuovo?"});
            QCOMPARE(qobject_cast<QComboBox *>(valueWidget(dialog, "20"))->currentText(),
                     tokens.isEmpty() ? QString() : QStringLiteral("Verdi & figli"));
            setValue(dialog, "20", value);
            click(dialog, "btmConserva");
            QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
            tokens << child<QLineEdit>(dialog, "leToken")->text();
            click(dialog, "btmClose4");
        }
        QVERIFY(!tokens.at(1).isEmpty() && tokens.at(1) != tokens.at(0));
        QCOMPARE(catalogueValue("SELECT token FROM files WHERE hash = ? AND folderid = 32", {againHash}).toString(),
                 tokens.at(1));
        QCOMPARE(serviceVersions(session->jar.get(), againHash, 32), 2);
    }

    // The progress window shows the speed and the time left of a real upload,
    // here one held up by a service that stops reading for a while.
    void uploadWindowShowsTheSpeed()
    {
        const QString path = newFile(QStringLiteral("grande-lento.bin"));
        // More than the network buffers take while the service does not read.
        QVERIFY(QFile(path).resize(8 * 1024 * 1024));
        ConservaFileDialog *dialog = withClass(path, QStringLiteral("Fatture fornitori"));
        QVERIFY(dialog);
        const pid_t pid = pid_t(service.processId());
        QCOMPARE(::kill(pid, SIGSTOP), 0);
        auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
        click(dialog, "btmStartUpload");
        QVERIFY(dialog->uploadWindow());
        QCOMPARE(child<QLabel>(dialog->uploadWindow(), "lblMessageOperation")->text(),
                 QStringLiteral("Upload file in corso ..."));
        auto *speed = child<QLabel>(dialog->uploadWindow(), "lblVelocita");
        QTRY_VERIFY_WITH_TIMEOUT(!speed->text().isEmpty(), 10000);
        const QRegularExpression shown(QStringLiteral("^\\d+(,\\d)? (B|kB|MB|GB)/s · circa \\d+ (s|min|h)( \\d+ min)? "
                                                      "rimanent[ei]$"));
        QVERIFY2(shown.match(speed->text()).hasMatch(), qPrintable(speed->text()));
        resume.dismiss();
        QCOMPARE(::kill(pid, SIGCONT), 0);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes, 60000));
    }

    // An expired session met by the upload, and again by the conserve request:
    // each time one sign-in repairs it without a word, and the file is
    // preserved once. In between, a conserve failure other than validation
    // removes the rows and offers "Indietro" to the form as it was.
    void expiredSessionsAroundAnotherConserveFailure()
    {
        ConservaFileDialog *dialog = withClass(newFile(QStringLiteral("fattura-guasto.txt")));
        QVERIFY(dialog);
        QVERIFY(service.expireSessions());
        prompts->clear();
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QCOMPARE(criticals(), QStringList());
        QCOMPARE(dialog->valueWidgets().size(), 4);
        const QString hash = dialog->hash();
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {hash}), 1);

        setValue(dialog, "2", "F-3");
        setValue(dialog, "9", "1.234,56");
        setValue(dialog, "10", "05/03/2013");
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
        QCOMPARE(qobject_cast<QComboBox *>(valueWidget(dialog, "2"))->currentText(), QStringLiteral("F-3"));

        QVERIFY(service.expireSessions());
        prompts->clear();
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(criticals(), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(count("SELECT count(*) FROM files WHERE hash = ? AND token != ''", {hash}), 1, 20000);
        QCOMPARE(serviceVersions(session->jar.get(), hash, 31), 1);
    }

    // An upload refusal keeps its row until the next attempt replaces it. Its
    // message, kept as plain text, goes under the title when it is shorter
    // than 40 characters once made safe for HTML, behind "Vedi Dettagli"
    // otherwise.
    void uploadRefusalMessage_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("underTheTitle");
        QTest::newRow("39 characters") << QStringLiteral("Quota del profilo superata").leftJustified(39, '.') << true;
        QTest::newRow("40 characters") << QStringLiteral("Quota del profilo superata").leftJustified(40, '.') << false;
        QTest::newRow("36 characters, 40 made safe") << QStringLiteral("Quota & spazio superati").leftJustified(36, '.')
                                                     << false;
        QTest::newRow("two lines") << QStringLiteral("Prima riga <tag>\nSeconda riga & ultima") << false;
    }
    void uploadRefusalMessage()
    {
        QFETCH(QString, message);
        QFETCH(bool, underTheTitle);
        ConservaFileDialog *dialog = withClass(newFile(QStringLiteral("fattura-messaggio.txt")));
        QVERIFY(dialog);
        QVERIFY(service.failNext("uploadfile", "13", message));
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageFailure));
        QVERIFY(!dialog->uploadWindow() || !dialog->uploadWindow()->isVisible());
        QVERIFY(child<QPushButton>(dialog, "btmIndietroFailure")->isHidden());
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {dialog->hash()}), 1);
        const QString title = QStringLiteral("Upload del file non riuscito");
        auto *details = child<QPushButton>(dialog, "btmShowDetailError");
        if (underTheTitle) {
            QCOMPARE(child<QLabel>(dialog, "lblTitleFailure")->text(), title + "<br/>" + message);
            QVERIFY(details->isHidden());
            return;
        }
        QCOMPARE(child<QLabel>(dialog, "lblTitleFailure")->text(), title);
        QVERIFY(!details->isHidden());
        click(dialog, "btmShowDetailError");
        auto *window = dialog->findChild<DetailDialog *>();
        QVERIFY(window && window->isVisible());
        QCOMPARE(child<QTextEdit>(window, "teDescription")->toPlainText(), message);
    }

    // The same content preserved in two classes: each copy keeps its token and
    // its index values whatever happens to the other (a failed attempt, a
    // success whose synchronisation does not come to repair the catalogue).
    void sameContentInTwoClasses()
    {
        const QString path = newFile(QStringLiteral("fattura doppia.txt"));
        ConservaFileDialog *dialog = withClass(path);
        QVERIFY(dialog);
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        setValue(dialog, "2", "F-7");
        setValue(dialog, "9", "10,00");
        setValue(dialog, "10", "05/03/2013");
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        const QString hash = dialog->hash();
        click(dialog, "btmClose4");

        const QString tokenOf = "SELECT token FROM files WHERE hash = ? AND folderid = ?";
        const QString values = "SELECT group_concat(idmetadata || '=' || value, ' ') FROM "
                               "(SELECT * FROM metadati_values WHERE hash = ? ORDER BY idmetadata)";
        const QString ofFirstClass = QStringLiteral("2=F-7 9=10,00 10=05/03/2013 11=");

        // A second class, whose follow-up synchronisation fails.
        dialog = withClass(path, QStringLiteral("Fatture fornitori"));
        QVERIFY(dialog);
        const QString first = catalogueValue(tokenOf, {hash, 31}).toString();
        QVERIFY(!first.isEmpty());
        QCOMPARE(catalogueValue(values, {hash}).toString(), ofFirstClass);
        click(dialog, "btmStartUpload");
        QVERIFY(conserveWithoutFollowUpSync(service, dialog));
        const QString second = catalogueValue(tokenOf, {hash, 33}).toString();
        QVERIFY2(!second.isEmpty() && second != first, qPrintable(first + " / " + second));
        QCOMPARE(catalogueValue(tokenOf, {hash, 31}).toString(), first);
        QCOMPARE(catalogueValue(values, {hash}).toString(), ofFirstClass);
        click(dialog, "btmClose4");

        // A third class, whose conserve request fails.
        dialog = withClass(path, QStringLiteral("Contratti d'opera"));
        QVERIFY(dialog);
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        setValue(dialog, "20", "Verdi");
        QVERIFY(service.failNext("savevaluemetadati", "16", "Servizio in manutenzione"));
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageFailure));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND folderid = 32", {hash}), 0);
        QCOMPARE(catalogueValue(tokenOf, {hash, 31}).toString(), first);
        QCOMPARE(catalogueValue(tokenOf, {hash, 33}).toString(), second);
        QCOMPARE(catalogueValue(values, {hash}).toString(), ofFirstClass);
    }

    // A file gone before "Avanti" ends the dialog with no row left behind; an
    // empty file (no head fingerprint) is preserved like any other.
    void unreadableAndEmptyFiles()
    {
        const QString gone = newFile(QStringLiteral("sparito.txt"));
        ConservaFileDialog *dialog = withClass(gone);
        QVERIFY(dialog);
        QVERIFY(QFile::remove(gone));
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        QPointer<ConservaFileDialog> alive(dialog);
        prompts->clear();
        click(dialog, "btmStartUpload");
        QCOMPARE(prompts->describe(),
                 QStringList{"critical|Errore|Errore durante il calcolo dell'impronta si prega di riprovare"});
        QCOMPARE(closing.count(), 1);
        QTRY_VERIFY(!alive);
        QCOMPARE(count("SELECT count(*) FROM files"), count("SELECT count(*) FROM files WHERE token != ''"));

        const QString empty = TestEnv::instance()->home() + QStringLiteral("/vuoto.txt");
        writeFile(empty, QByteArray());
        dialog = withClass(empty, QStringLiteral("Fatture fornitori"));
        QVERIFY(dialog);
        click(dialog, "btmStartUpload");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QVERIFY(dialog->valueWidgets().isEmpty());
        click(dialog, "btmConserva");
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
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
        QPointer<ConservaFileDialog> dialog = withClass(path);
        QVERIFY(dialog);
        if (!hashing)
            QVERIFY(service.delayNext(3000));
        QSignalSpy closing(dialog.data(), &ConservaFileDialog::closewindow);
        prompts->clear();

        // Polls the progress window and presses "Annulla" once it shows the step.
        QString message;
        bool clicked = false;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, [&] {
            DialogUploadFile *window = dialog ? dialog->uploadWindow() : nullptr;
            if (clicked || !window)
                return;
            message = child<QLabel>(window, "lblMessageOperation")->text();
            // While hashing, the bar has the file's size as maximum.
            if (hashing ? child<QProgressBar>(window, "pgProgressUpload")->maximum() == int(size)
                        : message == QStringLiteral("Upload file in corso ...")) {
                clicked = true;
                click(window, "btmCancelUpload");
            }
        });
        poll.start();
        click(dialog, "btmStartUpload");
        QVERIFY(QTest::qWaitFor([&] { return !dialog; }, 20000) && clicked);
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

    // The class lists: the search, quotes and wildcards matching themselves,
    // spans every profile until a group is chosen, then stays within it;
    // "Avanti" wants a class.
    void classLists()
    {
        ConservaFileDialog *dialog = open(newFile(QStringLiteral("filtri.txt")));
        QVERIFY(listsReady(dialog));
        auto *groups = child<QTableView>(dialog, "tbwListGroup");
        auto *classes = child<QTableView>(dialog, "twListCateg");
        auto *search = child<QLineEdit>(dialog, "leSearch");
        const auto names = [&] { return column(classes->model(), 1); };
        QCOMPARE(column(groups->model(), 0), (QStringList{"Tutti", "Amministrazione", "Legale"}));
        search->setText("Fatture");
        QCOMPARE(names(), (QStringList{"Fatture clienti", "Fatture fornitori", "Fatture utenze"}));
        search->setText("d'opera");
        QCOMPARE(names(), QStringList{"Contratti d'opera"});
        search->setText("100%");
        QCOMPARE(names(), QStringList());
        groups->selectRow(0); // "Tutti"
        search->setText("Fatture");
        QCOMPARE(names().size(), 2);
        groups->selectRow(1); // "Amministrazione"
        QCOMPARE(search->text(), QString());
        QCOMPARE(names(), (QStringList{"Fatture clienti", "Fatture fornitori"}));
        search->setText("client");
        QCOMPARE(names(), QStringList{"Fatture clienti"});

        classes->clearSelection();
        prompts->clear();
        click(dialog, "btmStartUpload");
        QCOMPARE(prompts->describe(), QStringList{"critical|Campo obbligatorio|Devi selezionare una classe"});
        QVERIFY(child<QPushButton>(dialog, "btmStartUpload")->isEnabled());
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageClass));
    }

    // "Gestisci Classi" hides the dialog while the classes window is open;
    // however that window ends, the dialog comes back with its lists read
    // again (a class added meanwhile is listed).
    void manageClasses_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("Chiudi") << QStringLiteral("Chiudi");
        QTest::newRow("window frame") << QStringLiteral("frame");
        QTest::newRow("failed synchronisation") << QStringLiteral("failure");
    }
    void manageClasses()
    {
        QFETCH(QString, end);
        ConservaFileDialog *dialog = open(newFile(QStringLiteral("classi.txt")));
        QVERIFY(listsReady(dialog));
        const bool failure = end == QLatin1String("failure");
        if (failure)
            QVERIFY(service.failNext("syncfolder", "35", "Servizio momentaneamente non disponibile"));
        prompts->clear();
        click(dialog, "btmOpenCateg");
        QVERIFY(!dialog->isVisible());
        QPointer<Categorie> window;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *c = qobject_cast<Categorie *>(w); c && c->isVisible())
                window = c;
        QVERIFY(window);
        QCOMPARE(window->model()->profile(), QStringLiteral("P-CARLA"));
        if (failure) {
            QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 20000);
            QCOMPARE(prompts->describe(), QStringList{"critical|Errore|Servizio momentaneamente non disponibile"});
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(window, "lblLoading")->isHidden(), 20000);
            catalogueValue("INSERT INTO folders (idfolder, name, groups, idbuckets) "
                           "VALUES (99, 'Nuova classe', 'Legale', 'P-CARLA')");
            if (end == QLatin1String("Chiudi"))
                click(window, "btmClose");
            else
                window->close();
        }
        QTRY_VERIFY(dialog->isVisible());
        QVERIFY(child<QPushButton>(dialog, "btmStartUpload")->isEnabled());
        if (!failure)
            QVERIFY(column(child<QTableView>(dialog, "twListCateg")->model(), 1).contains("Nuova classe"));
    }
};

TAVREL_TEST_MAIN(TestConserva)
#include "tst_conserva.moc"
