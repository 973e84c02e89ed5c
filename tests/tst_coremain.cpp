// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/constants.h"
#include "browse/coremain.h"
#include "service/kvdialoglogin.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QWindow>

#include <functional>

namespace {
int count(const QString &sql)
{
    const QVariant value = catalogueValue(sql);
    return value.isValid() ? value.toInt() : -1;
}

// Visible tray entries by text.
QStringList visibleTrayEntries(CoreMain &window)
{
    QStringList out;
    for (QAction *a : window.trayMenu()->actions())
        if (!a->isSeparator() && a->isVisible())
            out << a->text();
    return out;
}

// Runs the application's event loop as the client does, `action` first; the
// loop's exit code, or -1 when nothing ended it within `ms`.
int runClient(const std::function<void()> &action, int ms = 15000)
{
    QTimer::singleShot(0, action);
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    bound.start(ms);
    return QApplication::exec();
}

// Closes `window` the way its frame's close button does.
void closeByFrame(QWidget *window)
{
    window->windowHandle()->close();
}

// The client's icon in the desktop's tray, while it is docked there.
QWidget *trayIconShown()
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("QSystemTrayIconSys") && top->isVisible())
            return top;
    return nullptr;
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
        // As the client's entry point does: only an explicit quit ends it.
        QApplication::setQuitOnLastWindowClosed(false);
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
    // sending, and says a wrong password was refused.
    void signedOutLoginDialog()
    {
        CoreMain window;
        KvDialogLogin *dialog = window.loginDialog();
        dialog->hide();
        window.show(); // what a second start of the client does
        QVERIFY(dialog->isVisible());
        QVERIFY(!window.isVisible());

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
        QVERIFY(child<QPushButton>(dialog, "btmOk")->isEnabled());
        QVERIFY(!window.isVisible());
        // The next showing offers the last user name only.
        QCOMPARE(Setting().getSetting("lastusername"), QStringLiteral("demo"));
        dialog->hide();
        dialog->show();
        QCOMPARE(child<QLineEdit>(dialog, "lePassword")->text(), QString());
    }

    void networkFailureSaysLoginFailed()
    {
        Setting().saveSetting("url", "http://127.0.0.1:1");
        CoreMain window;
        prompts->clear();
        submit(window.loginDialog(), "demo", "Tavrel2026");
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(window.loginDialog(), "lblLoginMessage")->text(),
                                  QStringLiteral("Login fallito"), 20000);
        QCOMPARE(prompts->describe().size(), 1);
        QCOMPARE(prompts->last().title, QStringLiteral("Errore"));
        QVERIFY(child<QLineEdit>(window.loginDialog(), "lePassword")->isEnabled());
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
        catalogueValue("INSERT INTO files (hash, folderid, token, username) VALUES ('marker', 1, '', 'demo')");
        KvDialogLogin *dialog = window.loginDialog();
        prompts->clear();
        prompts->answerNext(answer);
        QTest::keyPress(dialog, Qt::Key_Control);
        submit(dialog, "demo", "Tavrel2026", Qt::ControlModifier);
        QTest::keyRelease(dialog, Qt::Key_Control);
        QCOMPARE(prompts->count(), 1);
        QVERIFY(prompts->contains(Prompts::Kind::Confirm, prompts->last().title,
                                  "Sei veramente sicuro di voler avviare la pulizia degli indici prima di effettuare "
                                  "il login?"));
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

    // Signed in: another user's rows are gone, the user name and password are
    // saved empty unless asked, the tray names the user and profile; a profile
    // without quota has no usage tab. A profile change that cannot be
    // synchronised is undone: selector, list, signed-in line, chart and tray
    // agree again on the profile shown before.
    void signedInWindow()
    {
        CoreMain window;
        catalogueValue("INSERT INTO files (hash, folderid, token, username, tsupdate) "
                       "VALUES ('old', 1, 'tok', 'someoneelse', 5)");
        catalogueValue("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (1, 'v', 'old')");
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026"));
        QCOMPARE(count("SELECT count(*) FROM files WHERE username = 'someoneelse'"), 0);
        QCOMPARE(count("SELECT count(*) FROM metadati_values WHERE hash = 'old'"), 0);
        QCOMPARE(Setting().getSetting("saveLogin"), QStringLiteral("0"));
        QCOMPARE(count("SELECT count(*) FROM settings WHERE key IN ('username', 'password') AND value = ''"), 2);
        QCOMPARE(window.cookieJar()->username(), QStringLiteral("demo"));

        // The tray menu opens in a screen corner, names user and profile, and
        // fits on the screen when the tray refreshes its lines after opening it.
        QMenu *tray = window.trayMenu();
        const QRect screen = window.screen()->availableGeometry();
        tray->popup(screen.bottomRight());
        window.clickIcon(QSystemTrayIcon::Context);
        QTRY_VERIFY(tray->isVisible());
        QCOMPARE(visibleTrayEntries(window).mid(0, 2), (QStringList{"demo", "(Archivio aziendale)"}));
        QVERIFY2(screen.contains(tray->geometry()), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(
                     tray->x()).arg(tray->y()).arg(tray->width()).arg(tray->height())));
        tray->hide();

        auto *buckets = child<QComboBox>(&window, "cbBuckets");
        auto *tabs = child<QTabWidget>(&window, "tabWidget");
        auto *line = child<QLabel>(&window, "lblUserConn");
        auto *files = child<QTableView>(&window, "tbwFile");
        const QString shownLine = line->text();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(files->model()->rowCount(), 2);
        prompts->clear();
        QVERIFY(service.failNext("syncfolder", "2", "Servizio non disponibile"));
        QTest::keyClick(buckets, Qt::Key_Down);
        // No tray here: the window goes to the task bar rather than out of reach.
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), 20000);
        QVERIFY(window.isVisible());
        QCOMPARE(prompts->describe(), QStringList{"critical|Errore|Servizio non disponibile"});
        window.setVisible(true);
        QVERIFY(!window.isMinimized());
        // So do its frame's close and Escape, and a second start brings it
        // back; "Esci" is on its bar.
        QVERIFY(child<QToolButton>(&window, "btmEsci")->isVisible());
        closeByFrame(&window);
        QTRY_VERIFY(window.isMinimized() && window.isVisible());
        window.show();
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_VERIFY(window.isMinimized() && window.isVisible());
        window.show();
        QVERIFY(!window.isMinimized());
        QCOMPARE(buckets->currentText() + "|" + window.currentBucketId(), QStringLiteral("Archivio aziendale|PRF-AZIENDA"));
        QCOMPARE(files->model()->rowCount(), 2);
        QCOMPARE(line->text(), shownLine);
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(visibleTrayEntries(window).at(1), QStringLiteral("(Archivio aziendale)"));

        QTest::keyClick(buckets, Qt::Key_Down);
        QTRY_COMPARE_WITH_TIMEOUT(tabs->count(), 2, 20000);
        QCOMPARE(buckets->currentText() + "|" + window.currentBucketId(), QStringLiteral("Documenti personali|PRF-PERSONALE"));
        QCOMPARE(files->model()->rowCount(), 1);
        QCOMPARE(visibleTrayEntries(window).at(1), QStringLiteral("(Documenti personali)"));
    }

    // Without a tray nothing could bring the client back: "Esci" on the window
    // ends it, and so does closing the login dialog, however it is closed,
    // while nobody is signed in.
    void withoutTrayTheClientCanQuit_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Esci") << "esci";
        QTest::newRow("Annulla") << "annulla";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("frame") << "frame";
    }
    void withoutTrayTheClientCanQuit()
    {
        QFETCH(QString, how);
        CoreMain window;
        KvDialogLogin *dialog = window.loginDialog();
        if (how == "esci")
            QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026"));
        const int code = runClient([&] {
            if (how == "esci")
                QTest::mouseClick(child<QToolButton>(&window, "btmEsci"), Qt::LeftButton);
            else if (how == "annulla")
                QTest::mouseClick(child<QPushButton>(dialog, "btmAnnulla"), Qt::LeftButton);
            else if (how == "escape")
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                closeByFrame(dialog);
        });
        QCOMPARE(code, 0);
        QVERIFY(!window.isVisible() && !dialog->isVisible());
    }

    // The no-tray warning comes in a box that leaves the login dialog usable
    // and uncovered: the user signs in with it open.
    void noTrayWarningLeavesTheLoginDialogUsable()
    {
        delete prompts;
        prompts = nullptr;
        // A modal box would hold the window's construction: end it, so that
        // the test fails instead of waiting for ever.
        QTimer unblock;
        unblock.setSingleShot(true);
        connect(&unblock, &QTimer::timeout, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        unblock.start(5000);
        CoreMain window;
        QPointer<QMessageBox> box;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *shown = qobject_cast<QMessageBox *>(top); shown && shown->isVisible())
                box = shown;
        QVERIFY(box);
        QCOMPARE(box->windowTitle() + "|" + box->text(),
                 QStringLiteral("Errore|Il sistema non dispone di un'area di notifica"));
        QVERIFY(!box->isModal() && !QApplication::activeModalWidget());
        QVERIFY(!box->frameGeometry().intersects(window.loginDialog()->frameGeometry()));
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026"));
        QVERIFY(box->isVisible());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        QTRY_VERIFY(!box);
    }

    // With a real tray host on the test's own X server the window hides into
    // the tray. When the tray goes away the window comes back to the task bar
    // and "Esci" to its bar; when the tray returns, so does its behaviour. The
    // tray's "Esci" ends the client.
    void trayComesAndGoes()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server of its own: run as tst_coremain_xvfb");
        QVERIFY2(!QSystemTrayIcon::isSystemTrayAvailable(), "the test's X server already has a tray");
        QProcess trayer;
        auto startTray = [&] {
            trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                                    "--heighttype", "pixel", "--height", "24"});
            return trayer.waitForStarted(5000)
                   && QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000);
        };
        QVERIFY(startTray());

        CoreMain window;
        KvDialogLogin *dialog = window.loginDialog();
        QCOMPARE(prompts->count(), 0);
        // Signed out, the login dialog closes into the tray and the client runs on.
        QCOMPARE(runClient([&] { QTest::keyClick(dialog, Qt::Key_Escape); }, 1000), -1);
        QVERIFY(!dialog->isVisible());
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026"));
        auto *quitButton = child<QToolButton>(&window, "btmEsci");
        QVERIFY(quitButton->isHidden());
        QWidget *icon = nullptr;
        QTRY_VERIFY((icon = trayIconShown()));
        QTest::mouseDClick(icon, Qt::LeftButton);
        QTRY_VERIFY(!window.isVisible());
        QTest::mouseDClick(icon, Qt::LeftButton);
        QTRY_VERIFY(window.isVisible());
        closeByFrame(&window);
        QTRY_VERIFY(!window.isVisible());

        trayer.kill();
        QVERIFY(trayer.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible() && window.isMinimized(), 10000);
        QVERIFY(!quitButton->isHidden() && !trayIconShown());
        window.show();
        closeByFrame(&window);
        QTRY_VERIFY(window.isMinimized() && window.isVisible());

        QVERIFY(startTray());
        QTRY_VERIFY_WITH_TIMEOUT(quitButton->isHidden() && (icon = trayIconShown()), 10000);
        closeByFrame(&window);
        QTRY_VERIFY(!window.isVisible());

        const int code = runClient([&] {
            QTest::mouseClick(icon, Qt::RightButton);
            QMenu *menu = window.trayMenu();
            QAction *quit = menu->actions().constLast();
            QCOMPARE(quit->text(), QStringLiteral("Esci"));
            QVERIFY(menu->isVisible());
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(quit).center());
        });
        QCOMPARE(code, 0);
    }

    // Windows without a parent carry the application's icon too.
    void everyWindowCarriesTheApplicationIcon()
    {
        CoreMain window;
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026"));
        const QImage icon = QIcon(":/images/tavrellite.png").pixmap(32, 32).toImage();
        // The icon of the window of that class that has just opened; closes it.
        auto iconOf = [&](const char *className) {
            QWidget *opened = nullptr;
            QTest::qWaitFor([&] {
                for (QWidget *top : QApplication::topLevelWidgets())
                    if (top->isVisible() && top->inherits(className))
                        opened = top;
                return opened != nullptr;
            });
            if (!opened)
                return QImage();
            const QImage shown = opened->windowIcon().pixmap(32, 32).toImage();
            QTest::keyClick(opened, Qt::Key_Escape);
            return shown;
        };
        QTest::mouseClick(child<QToolButton>(&window, "btmSettings"), Qt::LeftButton);
        QTabBar *tabs = child<QTabWidget>(&window, "tabWidget")->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(1).center());
        QTest::mouseClick(child<QPushButton>(&window, "btmSettingsProxy"), Qt::LeftButton);
        QVERIFY(iconOf("ProxyDialog") == icon);
        QTest::mouseClick(child<QLabel>(&window, "lblChangePwd"), Qt::LeftButton);
        QVERIFY(iconOf("ChangePwdDialog") == icon);
    }

    // Saved credentials are offered after signing out; nothing of the account
    // stays in the window (list, search, profiles, usage figures). Another user
    // then signs in, and the connection keeps that user for its re-logins. A
    // refused synchronisation shows the reason and hides the window.
    void signOutAndInAgainThenSynchronise()
    {
        CoreMain window;
        QVERIFY(signInThroughDialog(window, "demo", "Tavrel2026", true));
        auto *search = child<QLineEdit>(&window, "leSearch");
        auto *files = child<QTableView>(&window, "tbwFile");
        auto *line = child<QLabel>(&window, "lblUserConn");
        QTest::keyClicks(search, "fattura");
        QCOMPARE(files->model()->rowCount(), 1);
        QVERIFY(line->text().contains("2048 MB"));
        QTest::mouseClick(child<QToolButton>(&window, "btmLogout"), Qt::LeftButton);
        KvDialogLogin *dialog = window.loginDialog();
        QVERIFY(dialog->isVisible() && !window.isVisible());
        QVERIFY(window.cookieJar()->username().isEmpty());
        QCOMPARE(files->model() ? files->model()->rowCount() : 0, 0);
        QCOMPARE(search->text() + "|" + line->text(), QStringLiteral("|Sei connesso come: "));
        QCOMPARE(child<QComboBox>(&window, "cbBuckets")->count(), 0);
        QCOMPARE(child<QTabWidget>(&window, "tabWidget")->count(), 2);
        QCOMPARE(child<QLineEdit>(dialog, "leUsername")->text() + "|" + child<QLineEdit>(dialog, "lePassword")->text(),
                 QStringLiteral("demo|Tavrel2026"));
        QVERIFY(child<QCheckBox>(dialog, "ckbSalvaCredenziali")->isChecked());
        QCOMPARE(visibleTrayEntries(window), (QStringList{"Login", "Esci"}));

        QVERIFY(signInThroughDialog(window, "verdi", "Archivio2026"));
        QCOMPARE(window.connection()->savedUsername(), QStringLiteral("verdi"));
        QCOMPARE(files->model()->rowCount(), 0);
        auto *empty = window.findChild<QLabel *>("lblNoFiles");
        QVERIFY(empty && empty->isVisible());
        QCOMPARE(empty->text(), QStringLiteral("Nessun documento conservato in questo profilo"));
        QVERIFY(line->text().contains("Sei connesso come: verdi (0 di 1024 MB)"));
        prompts->clear();
        QVERIFY(service.failNext("syncfolder", "2", "Servizio non disponibile"));
        window.syncCategorie();
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), 20000);
        QCOMPARE(prompts->describe(), QStringList{"critical|Errore|Servizio non disponibile"});

        // Over: a later failure on the same connection is not this one's.
        window.setVisible(true);
        prompts->clear();
        QVERIFY(service.failNext("getexhibitorconfig", "41", "Esibizione non riuscita"));
        window.setExhibitToken("tok-inesistente");
        window.esibisciFile();
        QTRY_VERIFY_WITH_TIMEOUT(prompts->count() > 0, 20000);
        QTest::qWait(200);
        QVERIFY(window.isVisible() && !window.isMinimized());
        QVERIFY2(prompts->describe()
                     == QStringList{"critical|Esibisci file|Si è verificato un errore durante l'esibizione del "
                                    "file: Esibizione non riuscita"},
                 qPrintable(prompts->describe().join('\n')));
    }
};

TAVREL_TEST_MAIN(TestCoreMain)
#include "tst_coremain.moc"
