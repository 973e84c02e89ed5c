// The preservation dialog against the reference service: class choice, upload,
// index form, conserve request, and every way it can end.

#include "admin/categorie.h"
#include "admin/classlistmodel.h"
#include "admin/metadaticategories.h"
#include "app/prompts.h"
#include "conserve/calendarwidget.h"
#include "conserve/conservafiledialog.h"
#include "conserve/detaildialog.h"
#include "conserve/dialoguploadfile.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_conserva_support.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDomDocument>
#include <QHostInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>

using namespace conservetest;

class FileUrlCatcher : public QObject
{
    Q_OBJECT
public:
    FileUrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~FileUrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

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
    QString newFile(const QString &name, const QByteArray &extra = QByteArray())
    {
        const QString path = TestEnv::instance()->home() + QLatin1Char('/') + name;
        writeFile(path, "documento di prova " + QByteArray::number(++fileCounter) + " "
                            + QByteArray(QTest::currentTestFunction()) + extra);
        return path;
    }

    static QString sha1Of(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
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

    // Opens the dialog on `path`, chooses "Fatture clienti" and uploads.
    ConservaFileDialog *toForm(const QString &path, const QString &className = QStringLiteral("Fatture clienti"))
    {
        ConservaFileDialog *dialog = open(path);
        if (!listsReady(dialog) || !selectClass(dialog, className))
            return nullptr;
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
        if (!waitPage(dialog, ConservaFileDialog::PageIndexes))
            return nullptr;
        return dialog;
    }

    static QWidget *valueWidget(ConservaFileDialog *dialog, const QString &key)
    {
        for (QWidget *w : dialog->valueWidgets()) {
            if (auto *date = qobject_cast<CalendarWidget *>(w)) {
                if (date->comboBox()->property("keyrow").toString() == key)
                    return w;
            } else if (w->property("keyrow").toString() == key) {
                return w;
            }
        }
        return nullptr;
    }

    static void setValue(ConservaFileDialog *dialog, const QString &key, const QString &text)
    {
        QWidget *w = valueWidget(dialog, key);
        QVERIFY2(w, qPrintable(key));
        if (auto *date = qobject_cast<CalendarWidget *>(w))
            date->lineEdit()->setText(text);
        else
            qobject_cast<QComboBox *>(w)->setEditText(text);
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

    static void clickConserva(ConservaFileDialog *dialog)
    {
        QTest::mouseClick(child<QPushButton>(dialog, "btmConserva"), Qt::LeftButton);
    }

    QStringList criticals() const
    {
        QStringList out;
        for (const Prompts::Request &r : prompts->calls())
            if (r.kind == Prompts::Kind::Critical)
                out << r.title + QLatin1Char('|') + r.text;
        return out;
    }

    // Number of versions of a file the service keeps ("history").
    int serviceVersions(const QString &hash, int classId)
    {
        KVWConn conn(session->jar.get());
        QByteArray body = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>history</action>"
                                         "<hash>%1</hash><folderid>%2</folderid></request>")
                              .arg(hash)
                              .arg(classId)
                              .toUtf8();
        conn.request().setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("text/xml;charset=UTF-8"));
        int versions = -1;
        QObject::connect(&conn, &KVWConn::commandSuccessful, [&](QDomElement reply, QString) {
            versions = reply.elementsByTagName(QStringLiteral("file")).count();
        });
        QObject::connect(&conn, &KVWConn::commandFailure, [&](QString, QString) { versions = 0; });
        conn.postSession(&body);
        if (!QTest::qWaitFor([&] { return versions >= 0; }, 20000))
            return -1;
        return versions;
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

    void wholePreservationFromClassToToken()
    {
        const QString path = newFile(QStringLiteral("fattura 1 #bis.txt"));
        ConservaFileDialog *dialog = open(path);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Conservazione del file fattura 1 #bis.txt (Archivio di Carla)"));
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageClass));
        QVERIFY(!child<QPushButton>(dialog, "btmStartUpload")->isEnabled());
        QVERIFY(listsReady(dialog));
        QCOMPARE(column(child<QTableView>(dialog, "tbwListGroup")->model(), 0),
                 (QStringList{"Tutti", "Amministrazione", "Legale"}));
        QCOMPARE(column(child<QTableView>(dialog, "twListCateg")->model(), 1).size(), 3);
        QVERIFY(child<QLabel>(dialog, "lblLoading_2")->isHidden());

        QVERIFY(selectClass(dialog, "Fatture clienti"));
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QVERIFY(dialog->isVisible());

        // The provisional row: the file's fingerprints, an empty token, the signed-in user.
        const QString hash = sha1Of(path);
        QCOMPARE(dialog->hash(), hash);
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND folderid = 31 AND token = ''", {hash}), 1);
        QCOMPARE(scalar("SELECT username FROM files WHERE hash = ?", {hash}).toString(), QStringLiteral("carla"));
        QCOMPARE(scalar("SELECT hash4k FROM files WHERE hash = ?", {hash}).toString(), hash);
        QCOMPARE(scalar("SELECT fullpath FROM files WHERE hash = ?", {hash}).toString(), path);

        // The form follows the index definitions.
        QCOMPARE(dialog->indexLabel("2")->text(), QStringLiteral("* Numero"));
        QCOMPARE(dialog->indexLabel("9")->text(), QStringLiteral("* Importo"));
        QCOMPARE(dialog->indexLabel("11")->text(), QStringLiteral("Scadenza"));
        QCOMPARE(dialog->indexLabel("12")->text(), QStringLiteral("Firma digitale"));
        QCOMPARE(dialog->valueWidgets().size(), 4);
        QVERIFY(!valueWidget(dialog, "12"));
        auto *number = qobject_cast<QComboBox *>(valueWidget(dialog, "9"));
        QVERIFY(number && number->isEditable());
        QCOMPARE(number->inputMethodHints(), Qt::ImhFormattedNumbersOnly);
        QVERIFY(number->toolTip().contains("Totale in euro"));
        auto *required = qobject_cast<CalendarWidget *>(valueWidget(dialog, "10"));
        auto *optional = qobject_cast<CalendarWidget *>(valueWidget(dialog, "11"));
        QVERIFY(required && optional);
        QVERIFY(required->clearButton()->isHidden());
        QVERIFY(!optional->clearButton()->isHidden());
        QCOMPARE(required->comboBox()->minimumWidth(), 222);
        QCOMPARE(optional->comboBox()->minimumWidth(), 195);

        // Help panel: the field's suggestion, or nothing.
        auto *help = child<QTextBrowser>(dialog, "tbHelp");
        focus(valueWidget(dialog, "2"));
        QVERIFY(help->toPlainText().contains("Suggerimenti"));
        QVERIFY(help->toPlainText().contains("Il numero della fattura"));
        QVERIFY(!help->toPlainText().contains("Errore"));
        focus(optional);
        QCOMPARE(help->toPlainText(), QString());

        // "Vedi Documento" opens the file itself, whatever its name holds.
        {
            FileUrlCatcher catcher;
            QTest::mouseClick(child<QPushButton>(dialog, "btmVisionaFile2"), Qt::LeftButton);
            QCOMPARE(catcher.opened.size(), 1);
            QCOMPARE(catcher.opened.first().toLocalFile(), path);
        }

        setValue(dialog, "2", "F-1 & <bis>");
        setValue(dialog, "9", "1.234,56");
        setValue(dialog, "10", "05/03/2013");
        prompts->clear();
        clickConserva(dialog);
        QCOMPARE(prompts->describe().value(0),
                 QStringLiteral("confirm|Conservazione file|Sei veramente sicuro di voler conservare il documento "
                                "selezionato?"));
        QVERIFY(!child<QPushButton>(dialog, "btmConserva")->isEnabled());
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(child<QLabel>(dialog, "lblTitleSuccess")->text(), QStringLiteral("Documento conservato correttamente"));

        // The request: values in index-id order compared as text, as typed.
        QDomDocument sent;
        QVERIFY(sent.setContent(dialog->requestBody()));
        const QDomElement request = sent.documentElement();
        QCOMPARE(request.firstChildElement("action").text(), QStringLiteral("savevaluemetadati"));
        QCOMPARE(request.firstChildElement("hash").text(), hash);
        QCOMPARE(request.firstChildElement("folderid").text(), QStringLiteral("31"));
        QCOMPARE(request.firstChildElement("computername").text(), QHostInfo::localHostName());
        QStringList keys;
        for (QDomElement m = request.firstChildElement("metadato"); !m.isNull(); m = m.nextSiblingElement("metadato"))
            keys << m.attribute("key");
        QCOMPARE(keys, (QStringList{"10", "11", "2", "9"}));
        QCOMPARE(request.firstChildElement("metadato").nextSiblingElement("metadato").nextSiblingElement("metadato")
                     .attribute("value"),
                 QStringLiteral("F-1 & <bis>"));

        // Token stored; the synchronisation then brings the service's row.
        QVERIFY(!scalar("SELECT token FROM files WHERE hash = ? AND folderid = 31", {hash}).toString().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            !scalar("SELECT tsconserve FROM files WHERE hash = ? AND folderid = 31", {hash}).toString().isEmpty(),
            20000);
        QCOMPARE(scalar("SELECT value FROM metadati_values WHERE hash = ? AND idmetadata = 2", {hash}).toString(),
                 QStringLiteral("F-1 & <bis>"));
        QCOMPARE(serviceVersions(hash, 31), 1);

        // "Chiudi" on the success page closes without a question.
        prompts->clear();
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        QPointer<ConservaFileDialog> alive(dialog);
        QTest::mouseClick(child<QPushButton>(dialog, "btmClose4"), Qt::LeftButton);
        QCOMPARE(closing.count(), 1);
        QCOMPARE(prompts->count(), 0);
        QTRY_VERIFY(!alive);
    }

    void validationFailureComesBackFieldByField()
    {
        const QString path = newFile(QStringLiteral("fattura-validazione.txt"));
        ConservaFileDialog *dialog = toForm(path);
        QVERIFY(dialog);
        const QString hash = dialog->hash();
        setValue(dialog, "2", "F-2");
        setValue(dialog, "9", "dodici");
        setValue(dialog, "10", "31/02/2013");
        prompts->clear();
        clickConserva(dialog);
        QTRY_VERIFY_WITH_TIMEOUT(!criticals().isEmpty(), 20000);
        QCOMPARE(criticals(), QStringList{"Conservazione file|La validazione degli indici non è riuscita"});
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageIndexes));
        QCOMPARE(dialog->indexLabel("9")->styleSheet(), QStringLiteral("color:red;"));
        QCOMPARE(dialog->indexLabel("10")->styleSheet(), QStringLiteral("color:red;"));
        QCOMPARE(dialog->indexLabel("2")->styleSheet(), QStringLiteral("color:black;"));
        QCOMPARE(dialog->errorTexts().keys(), (QStringList{"10", "9"}));
        QVERIFY(child<QPushButton>(dialog, "btmConserva")->isEnabled());
        QVERIFY(child<QLabel>(dialog, "lblLoading")->isHidden());
        // Values were stored before sending; the row stays for the next try.
        QCOMPARE(scalar("SELECT value FROM metadati_values WHERE hash = ? AND idmetadata = 9", {hash}).toString(),
                 QStringLiteral("dodici"));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {hash}), 1);

        // The help panel: the error box first, then the suggestions.
        auto *help = child<QTextBrowser>(dialog, "tbHelp");
        focus(valueWidget(dialog, "9"));
        const QString text = help->toPlainText();
        QVERIFY2(text.contains("deve contenere un numero"), qPrintable(text));
        QVERIFY(text.indexOf("Errore") >= 0 && text.indexOf("Errore") < text.indexOf("Suggerimenti"));
        focus(valueWidget(dialog, "2"));
        QVERIFY(!help->toPlainText().contains("Errore"));

        // Corrected: labels black again before the new request, values replaced.
        setValue(dialog, "9", "12,50");
        setValue(dialog, "10", "28/02/2013");
        clickConserva(dialog);
        QCOMPARE(dialog->indexLabel("9")->styleSheet(), QStringLiteral("color:black;"));
        QCOMPARE(dialog->indexLabel("10")->styleSheet(), QStringLiteral("color:black;"));
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ? AND idmetadata = 9", {hash}), 1);
        QCOMPARE(scalar("SELECT value FROM metadati_values WHERE hash = ? AND idmetadata = 9", {hash}).toString(),
                 QStringLiteral("12,50"));
    }

    void otherConserveFailureRemovesTheRowsAndOffersIndietro()
    {
        const QString path = newFile(QStringLiteral("fattura-guasto.txt"));
        ConservaFileDialog *dialog = toForm(path);
        QVERIFY(dialog);
        const QString hash = dialog->hash();
        fillValid(dialog, "F-3");
        QVERIFY(service.failNext("savevaluemetadati", "16", "Servizio in manutenzione"));
        clickConserva(dialog);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageFailure));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {hash}), 0);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = ?", {hash}), 0);
        QCOMPARE(child<QLabel>(dialog, "lblTitleFailure")->text(),
                 QStringLiteral("Conservazione del documento non riuscita<br/>Servizio in manutenzione"));
        QVERIFY(child<QPushButton>(dialog, "btmShowDetailError")->isHidden());
        QVERIFY(!child<QPushButton>(dialog, "btmIndietroFailure")->isHidden());

        // Back to the form as it was, and this time it works.
        QTest::mouseClick(child<QPushButton>(dialog, "btmIndietroFailure"), Qt::LeftButton);
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageIndexes));
        QCOMPARE(qobject_cast<QComboBox *>(valueWidget(dialog, "2"))->currentText(), QStringLiteral("F-3"));
        clickConserva(dialog);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QTRY_COMPARE_WITH_TIMEOUT(count("SELECT count(*) FROM files WHERE hash = ? AND token != ''", {hash}), 1, 20000);
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
        const QString path = newFile(QStringLiteral("fattura-messaggio.txt"));
        ConservaFileDialog *dialog = open(path);
        QVERIFY(listsReady(dialog));
        QVERIFY(selectClass(dialog, "Fatture clienti"));
        QVERIFY(service.failNext("uploadfile", "13", message));
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
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
        ConservaFileDialog *dialog = open(path);
        QVERIFY(listsReady(dialog));
        QVERIFY(selectClass(dialog, "Fatture clienti"));
        QVERIFY(QFile::remove(path));
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        QPointer<ConservaFileDialog> alive(dialog);
        prompts->clear();
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
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
        QCOMPARE(dialog->hash(), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
        QCOMPARE(scalar("SELECT hash4k FROM files WHERE hash = ?", {dialog->hash()}).toString(), QString());
        QVERIFY(dialog->valueWidgets().isEmpty());
        clickConserva(dialog);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QDomDocument sent;
        QVERIFY(sent.setContent(dialog->requestBody()));
        QVERIFY(sent.documentElement().firstChildElement("metadato").isNull());
    }

    void cancelWhileHashing()
    {
        const QString path = TestEnv::instance()->home() + QStringLiteral("/grande.bin");
        const qint64 size = 48 * 1024 * 1024;
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("grande " + QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
            QVERIFY(file.resize(size));
        }
        ConservaFileDialog *dialog = open(path);
        QVERIFY(listsReady(dialog));
        QVERIFY(selectClass(dialog, "Fatture clienti"));
        QPointer<ConservaFileDialog> alive(dialog);
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        bool clicked = false;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, [&] {
            DialogUploadFile *window = alive ? alive->uploadWindow() : nullptr;
            if (clicked || !window)
                return;
            // The bar has the file's size as maximum once hashing reports.
            if (child<QProgressBar>(window, "pgProgressUpload")->maximum() != int(size))
                return;
            QCOMPARE(child<QLabel>(window, "lblMessageOperation")->text(),
                     QStringLiteral("Calcolo impronta in corso ..."));
            clicked = true;
            QTest::mouseClick(child<QPushButton>(window, "btmCancelUpload"), Qt::LeftButton);
        });
        poll.start();
        prompts->clear();
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!alive, 20000);
        QVERIFY(clicked);
        QCOMPARE(closing.count(), 1);
        QCOMPARE(prompts->describe(),
                 QStringList{"confirm|Upload file in corso ...|Sei veramente sicuro di voler annullare l'operazione "
                             "corrente?"});
        QCOMPARE(count("SELECT count(*) FROM files WHERE token = '' OR token IS NULL"), 0);
    }

    void cancelWhileUploading()
    {
        const QString path = newFile(QStringLiteral("annullato.txt"));
        ConservaFileDialog *dialog = open(path);
        QVERIFY(listsReady(dialog));
        QVERIFY(selectClass(dialog, "Fatture clienti"));
        QPointer<ConservaFileDialog> alive(dialog);
        QVERIFY(service.delayNext(3000));
        bool clicked = false;
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, [&] {
            DialogUploadFile *window = alive ? alive->uploadWindow() : nullptr;
            if (clicked || !window
                || child<QLabel>(window, "lblMessageOperation")->text() != QStringLiteral("Upload file in corso ..."))
                return;
            clicked = true;
            QTest::mouseClick(child<QPushButton>(window, "btmCancelUpload"), Qt::LeftButton);
        });
        poll.start();
        prompts->clear();
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!alive, 20000);
        QVERIFY(clicked);
        // Only the question: the abandoned request is not reported as an error.
        QTest::qWait(200);
        QCOMPARE(prompts->count(), 1);
        QCOMPARE(prompts->last().kind, Prompts::Kind::Confirm);
    }

    void sessionTimeOutDuringUploadIsRepairedOnce()
    {
        const QString path = newFile(QStringLiteral("scaduta-upload.txt"));
        ConservaFileDialog *dialog = open(path);
        QVERIFY(listsReady(dialog));
        QVERIFY(selectClass(dialog, "Fatture clienti"));
        QVERIFY(service.expireSessions());
        prompts->clear();
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageIndexes));
        QCOMPARE(criticals(), QStringList());
        QCOMPARE(dialog->valueWidgets().size(), 4);
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ?", {dialog->hash()}), 1);
        fillValid(dialog, "F-4");
        clickConserva(dialog);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(serviceVersions(dialog->hash(), 31), 1);
    }

    void sessionTimeOutDuringConserveIsRepairedOnce()
    {
        const QString path = newFile(QStringLiteral("scaduta-conserva.txt"));
        ConservaFileDialog *dialog = toForm(path);
        QVERIFY(dialog);
        fillValid(dialog, "F-5");
        QVERIFY(service.expireSessions());
        prompts->clear();
        clickConserva(dialog);
        QVERIFY(waitPage(dialog, ConservaFileDialog::PageSuccess));
        QCOMPARE(criticals(), QStringList());
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = ? AND token != ''", {dialog->hash()}), 1);
        QCOMPARE(serviceVersions(dialog->hash(), 31), 1);
    }

    void networkErrorWhileClassesLoadEndsTheDialog()
    {
        Setting().saveSetting("url", "http://127.0.0.1:1");
        prompts->clear();
        ConservaFileDialog *dialog = open(newFile(QStringLiteral("rete.txt")));
        QPointer<ConservaFileDialog> alive(dialog);
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
        QCOMPARE(groups->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Filtra per gruppi"));
        QCOMPARE(classes->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Seleziona una classe"));
        QVERIFY(classes->isColumnHidden(0));

        // Before a group is chosen the search spans every profile.
        search->setText("Fatture");
        QCOMPARE(column(classes->model(), 1).size(), 3);
        QVERIFY(column(classes->model(), 1).contains("Fatture utenze"));
        search->setText("d'opera");
        QCOMPARE(column(classes->model(), 1), QStringList{"Contratti d'opera"});
        search->setText("100%");
        QCOMPARE(column(classes->model(), 1), QStringList());

        groups->selectRow(0); // "Tutti"
        QCOMPARE(search->text(), QString());
        QCOMPARE(column(classes->model(), 1).size(), 3);
        search->setText("Fatture");
        QCOMPARE(column(classes->model(), 1).size(), 2);

        groups->selectRow(1); // "Amministrazione"
        QCOMPARE(search->text(), QString());
        QCOMPARE(column(classes->model(), 1), (QStringList{"Fatture clienti", "Fatture fornitori"}));
        search->setText("client");
        QCOMPARE(column(classes->model(), 1), QStringList{"Fatture clienti"});

        // "Avanti" without a class.
        classes->clearSelection();
        prompts->clear();
        QTest::mouseClick(child<QPushButton>(dialog, "btmStartUpload"), Qt::LeftButton);
        QCOMPARE(prompts->describe(), QStringList{"critical|Campo obbligatorio|Devi selezionare una classe"});
        QVERIFY(child<QPushButton>(dialog, "btmStartUpload")->isEnabled());
        QCOMPARE(dialog->currentPage(), int(ConservaFileDialog::PageClass));
    }

    void manageClassesHidesTheDialogUntilTheClassesWindowCloses()
    {
        ConservaFileDialog *dialog = open(newFile(QStringLiteral("classi.txt")));
        QVERIFY(listsReady(dialog));
        QTest::mouseClick(child<QPushButton>(dialog, "btmOpenCateg"), Qt::LeftButton);
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
        {
            QSqlQuery query(database.db);
            query.exec("INSERT INTO folders (idfolder, name, groups, idbuckets) VALUES (99, 'Nuova classe', 'Legale', "
                       "'P-CARLA')");
        }
        database.closeDB();
        QTest::mouseClick(child<QPushButton>(classes, "btmClose"), Qt::LeftButton);
        QVERIFY(dialog->isVisible());
        QVERIFY(column(child<QTableView>(dialog, "twListCateg")->model(), 1).contains("Nuova classe"));
    }

    void closingAsksFirstAndCancelKeepsTheDialog()
    {
        const QString path = newFile(QStringLiteral("chiusura.txt"));
        ConservaFileDialog *dialog = toForm(path);
        QVERIFY(dialog);
        setValue(dialog, "2", "da non perdere");
        QSignalSpy closing(dialog, &ConservaFileDialog::closewindow);
        prompts->clear();
        prompts->answerNext("cancel");
        QTest::keyClick(dialog, Qt::Key_Escape);
        QCOMPARE(prompts->describe(),
                 QStringList{"confirm|" + dialog->windowTitle()
                             + "|Sei veramente sicuro di voler annullare la conservazione del file?"});
        QCOMPARE(closing.count(), 1);
        QVERIFY(dialog->isVisible());
        QCOMPARE(qobject_cast<QComboBox *>(valueWidget(dialog, "2"))->currentText(), QStringLiteral("da non perdere"));

        QPointer<ConservaFileDialog> alive(dialog);
        QTest::mouseClick(child<QPushButton>(dialog, "btmClose3"), Qt::LeftButton);
        QCOMPARE(closing.count(), 2);
        QTRY_VERIFY(!alive);
    }
};

TAVREL_TEST_MAIN(TestConserva)
#include "tst_conserva.moc"
