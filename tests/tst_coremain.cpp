#include "app/constants.h"
#include "browse/coremain.h"
#include "service/dialogupdate.h"
#include "service/kvdialoglogin.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTabWidget>

namespace {
int count(const QString &sql)
{
    const QVariant value = catalogueValue(sql);
    return value.isValid() ? value.toInt() : -1;
}

void exec(const QString &sql)
{
    Database database;
    database.openDB();
    QSqlQuery(database.db).exec(sql);
    database.closeDB();
}

QList<QAction *> trayActions(CoreMain &window)
{
    QList<QAction *> out;
    for (QAction *a : window.trayMenu()->actions())
        if (!a->isSeparator())
            out << a;
    return out;
}

// Visible tray entries by text.
QStringList visibleTrayEntries(CoreMain &window)
{
    QStringList out;
    for (QAction *a : trayActions(window))
        if (a->isVisible())
            out << a->text();
    return out;
}
} // namespace

class TestCoreMain : public QObject
{
    Q_OBJECT

    RefServiceFixture service;
    PromptRecorder *prompts = nullptr;

    // Types the credentials and presses OK.
    static void submit(KvDialogLogin *dialog, const QString &user, const QString &password,
                       Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        child<QLineEdit>(dialog, "leUsername")->setText(user);
        child<QLineEdit>(dialog, "lePassword")->setText(password);
        QTest::mouseClick(child<QPushButton>(dialog, "btmOk"), Qt::LeftButton, modifiers);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
    }

    void init()
    {
        freshCatalogueFor(service.baseUrl());
        prompts = new PromptRecorder;
    }

    void cleanup()
    {
        delete prompts;
        prompts = nullptr;
    }

    // Signed out: only the login dialog shows; it refuses empty fields before
    // sending, and says why a wrong password or a cancelled update failed.
    void signedOutLoginDialog()
    {
        CoreMain window;
        // No tray area on the offscreen platform: said once, as a warning.
        QVERIFY(prompts->contains(Prompts::Kind::Warning, "Errore",
                                  "Il sistema non dispone di un'area di notifica"));
        KvDialogLogin *dialog = window.loginDialog();
        QVERIFY(dialog->isVisible());
        QVERIFY(!window.isVisible());
        dialog->hide();
        window.show(); // what a second start of the client does
        QVERIFY(dialog->isVisible());
        QVERIFY(!window.isVisible());
        QCOMPARE(visibleTrayEntries(window), (QStringList{"Login", "Esci"}));
        QCOMPARE(child<QLabel>(dialog, "lblVersion")->text(), QStringLiteral("Versione " VERSIONAPP));

        prompts->clear();
        submit(dialog, "", "x");
        submit(dialog, "demo", "");
        QCOMPARE(prompts->describe(),
                 (QStringList{"critical|Login|Username è un campo obbligatorio",
                              "critical|Login|Password è un campo obbligatorio"}));
        QVERIFY(child<QLineEdit>(dialog, "leUsername")->isEnabled());

        submit(dialog, "demo", "sbagliata");
        auto *status = child<QLabel>(dialog, "lblLoginMessage");
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Username o password errate"), 20000);
        QCOMPARE(status->styleSheet(), QStringLiteral("color:red;"));
        QVERIFY(child<QPushButton>(dialog, "btmOk")->isEnabled());
        QCOMPARE(Setting().getSetting("lastusername"), QStringLiteral("demo"));
        QVERIFY(!window.isVisible());
        // The next showing offers the last user name only.
        dialog->hide();
        dialog->show();
        QCOMPARE(child<QLineEdit>(dialog, "leUsername")->text(), QStringLiteral("demo"));
        QCOMPARE(child<QLineEdit>(dialog, "lePassword")->text(), QString());

        // An update the service demands, cancelled: the dialog says so.
        QVERIFY(service.demandUpdate(true));
        prompts->clear();
        submit(dialog, "demo", "Tavrel2026");
        DialogUpdate *update = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            update = dialog->connection()->updateDialog();
            return update && update->isVisible();
        }, 20000));
        QVERIFY(service.demandUpdate(false));
        update->onClickCancelUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Errore durante l'aggiornamento"), 10000);
        QCOMPARE(prompts->last().title, QStringLiteral("Aggiornamento software"));
        QVERIFY(child<QPushButton>(dialog, "btmOk")->isEnabled());
    }

    void networkFailureSaysLoginFailed()
    {
        Setting().saveSetting("url", "http://127.0.0.1:1");
        CoreMain window;
        KvDialogLogin *dialog = window.loginDialog();
        prompts->clear();
        submit(dialog, "demo", "Tavrel2026");
        auto *status = child<QLabel>(dialog, "lblLoginMessage");
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Login fallito"), 20000);
        QCOMPARE(prompts->count(), 1);
        QCOMPARE(prompts->last().title, QStringLiteral("Errore"));
        QVERIFY(child<QLineEdit>(dialog, "lePassword")->isEnabled());
    }

    // Control held with the click asks whether to clean the catalogue first.
    // A press of Control whose release never reached the dialog (focus moved
    // away) must not make a later plain click ask.
    void controlHeldAsksToCleanTheCatalogue_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("markersLeft");
        QTest::newRow("OK rebuilds") << "ok" << 0;
        QTest::newRow("Cancel keeps") << "cancel" << 1;
    }
    void controlHeldAsksToCleanTheCatalogue()
    {
        QFETCH(QString, answer);
        QFETCH(int, markersLeft);
        CoreMain window;
        exec("INSERT INTO files (hash, folderid, token, username) VALUES ('marker', 1, '', 'demo')");
        KvDialogLogin *dialog = window.loginDialog();
        prompts->clear();
        prompts->answerNext(answer);
        QTest::keyPress(dialog, Qt::Key_Control);
        submit(dialog, "demo", "Tavrel2026", Qt::ControlModifier);
        QTest::keyRelease(dialog, Qt::Key_Control);
        QCOMPARE(prompts->count(), 1);
        QCOMPARE(prompts->last().kind, Prompts::Kind::Confirm);
        QCOMPARE(prompts->last().text,
                 QStringLiteral("Sei veramente sicuro di voler avviare la pulizia degli indici prima di effettuare il login?"));
        QVERIFY(QTest::qWaitFor([&] { return window.isVisible(); }, 20000));
        QCOMPARE(count("SELECT count(*) FROM files WHERE hash = 'marker'"), markersLeft);
        // A rebuilt catalogue points at the default service again.
        QCOMPARE(Setting().getSetting("url"),
                 markersLeft ? service.baseUrl() : QStringLiteral(URLSERVICE));
        Setting().saveSetting("url", service.baseUrl());

        window.onClickLogout();
        QTest::keyPress(dialog, Qt::Key_Control);
        prompts->clear();
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026"));
        QCOMPARE(prompts->count(), 0);
    }

    // Signed in: another user's rows are gone, the catalogue and the window are
    // filled, the tray toggles the window and the links open the service's pages.
    void signedInWindow()
    {
        UrlCatcher catcher;
        CoreMain window;
        exec("INSERT INTO files (hash, folderid, token, username, tsupdate) VALUES ('old', 1, 'tok', 'someoneelse', 5)");
        exec("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (1, 'v', 'old')");
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026"));
        QVERIFY(!window.loginDialog()->isVisible());
        QCOMPARE(count("SELECT count(*) FROM files WHERE username = 'someoneelse'"), 0);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = 'old'"), 0);
        QCOMPARE(Setting().getSetting("saveLogin"), QStringLiteral("0"));
        QCOMPARE(Setting().getSetting("password"), QString());
        QCOMPARE(window.connection()->savedUsername(), QStringLiteral("demo"));
        QCOMPARE(window.cookieJar()->username(), QStringLiteral("demo"));
        QVERIFY(child<QLabel>(&window, "lblUserConn")->text().contains("Sei connesso come: demo"));
        auto *buckets = child<QComboBox>(&window, "cbBuckets");
        QCOMPARE(buckets->count(), count("SELECT count(*) FROM buckets"));
        QCOMPARE(child<QTableView>(&window, "twCategorie")->model()->rowCount(),
                 count("SELECT count(*) FROM folders WHERE idbuckets = '" + window.currentBucketId() + "'"));

        QCOMPARE(visibleTrayEntries(window).size(), 6);
        QVERIFY(!visibleTrayEntries(window).contains("Login"));
        window.clickIcon(QSystemTrayIcon::DoubleClick);
        QVERIFY(!window.isVisible());
        window.clickIcon(QSystemTrayIcon::DoubleClick);
        QVERIFY(window.isVisible());
        window.clickIcon(QSystemTrayIcon::Context);
        const QList<QAction *> actions = trayActions(window);
        QCOMPARE(actions.at(0)->text(), QStringLiteral("demo"));
        QCOMPARE(actions.at(1)->text(), "(" + window.currentBucketName() + ")");

        window.onClickHelp();
        window.onClickBuyQuota("#other");
        window.onClickBuyQuota("#buyquota"); // the first demo profile has a quota
        QCOMPARE(catcher.opened,
                 (QList<QUrl>{QUrl(service.baseUrl() + URL_HELP), QUrl(service.baseUrl() + URL_BUY_QUOTA)}));

        // A profile without quota: no usage tab, and the link is inert.
        auto *tabs = child<QTabWidget>(&window, "tabWidget");
        int withoutQuota = -1;
        for (int i = 0; i < buckets->count(); ++i)
            if (count("SELECT quota FROM buckets WHERE idbuckets = '" + buckets->itemData(i).toString() + "'") == 0)
                withoutQuota = i;
        QVERIFY(withoutQuota >= 0);
        QCOMPARE(tabs->count(), 3);
        buckets->setCurrentIndex(withoutQuota);
        QTRY_COMPARE_WITH_TIMEOUT(tabs->count(), 2, 20000);
        catcher.opened.clear();
        window.onClickBuyQuota("#buyquota");
        QVERIFY(catcher.opened.isEmpty());
        QCOMPARE(child<QLabel>(&window, "lblUserConn")->text(), QStringLiteral("Sei connesso come: demo"));
    }

    // Saved credentials are offered after signing out; another user then signs
    // in, and an expired session during the window's own synchronisation is
    // repaired for that user.
    void signOutAndInAgain()
    {
        CoreMain window;
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026", true));
        QCOMPARE(Setting().getSetting("saveLogin"), QStringLiteral("1"));
        window.onClickLogout();
        KvDialogLogin *dialog = window.loginDialog();
        QVERIFY(dialog->isVisible());
        QVERIFY(!window.isVisible());
        QVERIFY(window.cookieJar()->username().isEmpty());
        QCOMPARE(child<QLineEdit>(dialog, "leUsername")->text(), QStringLiteral("demo"));
        QCOMPARE(child<QLineEdit>(dialog, "lePassword")->text(), QStringLiteral("Tavrel2026"));
        QVERIFY(child<QCheckBox>(dialog, "ckbSalvaCredenziali")->isChecked());
        QCOMPARE(visibleTrayEntries(window), (QStringList{"Login", "Esci"}));

        QVERIFY(signInThroughDialog(window, "verdi", "Archivio2026"));
        QCOMPARE(window.connection()->savedUsername(), QStringLiteral("verdi"));
        QVERIFY(service.expireSessions());
        prompts->clear();
        auto *loading = child<QLabel>(&window, "lblLoading");
        window.syncCategorie();
        QVERIFY(QTest::qWaitFor([&] { return loading->isHidden() && !loading->movie()->state(); }, 20000));
        QCOMPARE(prompts->count(), 0);
        QVERIFY(window.isVisible());
    }

    void syncFailureShowsTheReasonAndHides()
    {
        CoreMain window;
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026"));
        prompts->clear();
        QVERIFY(service.failNext("syncfolder", "2", "Servizio non disponibile"));
        window.syncCategorie();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 20000);
        QVERIFY(prompts->contains(Prompts::Kind::Critical, "Errore", "Servizio non disponibile"));

        // Over: a later failure on the same connection is not this one's.
        window.setVisible(true);
        prompts->clear();
        QVERIFY(service.failNext("getexhibitorconfig", "41", "Esibizione non riuscita"));
        window.setExhibitToken("tok-inesistente");
        window.esibisciFile();
        QTRY_VERIFY_WITH_TIMEOUT(prompts->count() > 0, 20000);
        QTest::qWait(200);
        QVERIFY(window.isVisible());
        QVERIFY2(prompts->describe()
                     == QStringList{"critical|Esibisci file|Si è verificato un errore durante l'esibizione del "
                                    "file: Esibizione non riuscita"},
                 qPrintable(prompts->describe().join('\n')));
    }
};

TAVREL_TEST_MAIN(TestCoreMain)
#include "tst_coremain.moc"
