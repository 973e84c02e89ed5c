// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The password change window: the client's own checks, the "changePWD" request,
// and its outcomes against the reference service (refusal with the service's
// reason, success, an expired session repaired on the way).

#include "admin/changepwddialog.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"

#include <QDomElement>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>

namespace {
const QString kUser = QStringLiteral("demo");
const QString kPassword = QStringLiteral("Tavrel2026");
const QString kChanged = QStringLiteral("information|Modifica password|Password modificata");

QLineEdit *field(QWidget *w, const char *name) { return w->findChild<QLineEdit *>(name); }
QPushButton *button(QWidget *w, const char *name) { return w->findChild<QPushButton *>(name); }
QLabel *loading(QWidget *w) { return w->findChild<QLabel *>("lblLoading"); }

// Fills the three fields and presses "Salva".
void save(QWidget *w, const QString &old, const QString &fresh, const QString &confirm)
{
    field(w, "txtOldPassword")->setText(old);
    field(w, "txtNewPwd")->setText(fresh);
    field(w, "txtConfirmPwd")->setText(confirm);
    QTest::mouseClick(button(w, "btmSalva"), Qt::LeftButton);
}

bool idle(QWidget *w)
{
    return button(w, "btmSalva")->isEnabled() && button(w, "btmAnnulla")->isEnabled() && !loading(w)->isVisible();
}

// Signs in on `jar`; with `shared` the jar keeps the credentials for signing
// in again, as the main window's session does.
bool signIn(SessionCookieJar &jar, const QString &user, const QString &password, bool shared = true)
{
    KVWConn conn(&jar);
    QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
    QSignalSpy ko(&conn, &KVWConn::loginFailure);
    conn.login(user, password, false);
    if (!QTest::qWaitFor([&] { return ok.count() + ko.count() > 0; }, 15000))
        qFatal("no login reply");
    if (!ok.isEmpty() && shared)
        jar.setCredentials(user, password);
    return !ok.isEmpty();
}

// Whether the service accepts these credentials, on a session of its own.
bool serviceAccepts(const QString &user, const QString &password)
{
    SessionCookieJar jar;
    return signIn(jar, user, password, false);
}
} // namespace

class TestChangePwd : public QObject
{
    Q_OBJECT

    std::unique_ptr<RefServiceFixture> m_service;
    std::unique_ptr<SessionCookieJar> m_jar;

    // A fresh service with "demo" signed in on the shared session.
    bool startSignedIn()
    {
        m_service = std::make_unique<RefServiceFixture>();
        if (!m_service->start())
            return false;
        Setting().saveSetting("url", m_service->baseUrl());
        return signIn(*m_jar, kUser, kPassword);
    }

private slots:
    void init()
    {
        QDir(Database::dataDirectory()).removeRecursively();
        m_jar = std::make_unique<SessionCookieJar>();
    }

    void cleanup()
    {
        m_jar.reset();
        m_service.reset();
    }

    void fieldChecksInOrderAndNothingIsSent_data()
    {
        QTest::addColumn<QString>("old");
        QTest::addColumn<QString>("fresh");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<QString>("message");
        QTest::newRow("all empty") << "" << "" << "" << "Devi inserire la vecchia password";
        QTest::newRow("old empty, new ones differ") << "" << "a" << "b" << "Devi inserire la vecchia password";
        QTest::newRow("new empty") << "vecchia" << "" << "Nuova2026x" << "Devi inserire la nuova password";
        QTest::newRow("mismatch") << "vecchia" << "Nuova2026x" << "Nuova2026y" << "Le password non corrispondono";
        QTest::newRow("confirmation empty") << "vecchia" << "Nuova2026x" << "" << "Le password non corrispondono";
    }
    void fieldChecksInOrderAndNothingIsSent()
    {
        QFETCH(QString, old);
        QFETCH(QString, fresh);
        QFETCH(QString, confirm);
        QFETCH(QString, message);
        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();
        save(&dialog, old, fresh, confirm);
        QCOMPARE(prompts.describe(), QStringList{"critical|Cambio Password|" + message});
        QVERIFY(!dialog.connection()->currentReply());
        QVERIFY(idle(&dialog));
        QVERIFY(dialog.isVisible());
    }

    // The client does not check the rules: a short password goes out and the
    // service's reason comes back. Corrected, the change goes through and is
    // reported once only.
    void refusedPasswordShowsTheReasonAndKeepsTheFields()
    {
        QVERIFY(startSignedIn());
        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();
        save(&dialog, kPassword, "corta1", "corta1");
        QVERIFY(!button(&dialog, "btmSalva")->isEnabled());
        QVERIFY(!button(&dialog, "btmAnnulla")->isEnabled());
        QVERIFY(loading(&dialog)->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(prompts.count() > 0, 15000);
        QCOMPARE(prompts.describe(),
                 QStringList{"critical|Modifica password|La nuova password deve contenere da 8 a 20 caratteri"});
        QVERIFY(idle(&dialog));
        QCOMPARE(loading(&dialog)->movie()->state(), QMovie::NotRunning);
        QVERIFY(dialog.isVisible());
        QCOMPARE(field(&dialog, "txtOldPassword")->text(), kPassword);
        QCOMPARE(field(&dialog, "txtNewPwd")->text(), QStringLiteral("corta1"));
        QCOMPARE(field(&dialog, "txtConfirmPwd")->text(), QStringLiteral("corta1"));
        QVERIFY(serviceAccepts(kUser, kPassword));

        prompts.clear();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        save(&dialog, kPassword, "Lunga2026ok", "Lunga2026ok");
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        QTest::qWait(200);
        QCOMPARE(prompts.describe(), QStringList{kChanged});
        QVERIFY(serviceAccepts(kUser, "Lunga2026ok"));
    }

    // Another refusal, an unexpected success status and a transport failure
    // show nothing and leave the window usable; a failure arriving after the
    // unexpected status changes nothing.
    void otherOutcomesSilentlyMakeTheWindowUsableAgain()
    {
        QVERIFY(startSignedIn());
        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();
        QVERIFY(m_service->failNext("changePWD", "2", "Azione non disponibile"));
        save(&dialog, kPassword, "Nuova2026x", "Nuova2026x");
        QTRY_VERIFY_WITH_TIMEOUT(idle(&dialog), 15000);

        QVERIFY(m_service->stop());
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QVERIFY(!idle(&dialog));
        emit dialog.connection()->commandSuccessful(QDomElement(), "14");
        QVERIFY(idle(&dialog));
        QTest::qWait(500);
        QVERIFY(idle(&dialog));

        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(idle(&dialog), 15000);
        QCOMPARE(prompts.count(), 0);
        QVERIFY(dialog.isVisible());
    }

    // Success closes the window; the new password, with characters special in
    // XML and a placeholder, reaches the service as typed, is stored only when
    // credentials are saved, and the shared session signs in with it from now
    // on. An expired session is repaired on the way and the change made once.
    void successChangesThePasswordEverywhere_data()
    {
        QTest::addColumn<bool>("saveLogin");
        QTest::addColumn<bool>("expire");
        QTest::newRow("credentials saved") << true << false;
        QTest::newRow("credentials not saved") << false << false;
        QTest::newRow("session expired") << true << true;
    }
    void successChangesThePasswordEverywhere()
    {
        QFETCH(bool, saveLogin);
        QFETCH(bool, expire);
        QVERIFY(startSignedIn());
        Setting settings;
        settings.saveSetting("saveLogin", saveLogin ? "1" : "0");
        settings.saveSetting("password", saveLogin ? kPassword : QString());

        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QSignalSpy retried(dialog.connection(), &KVWConn::retry);
        if (expire)
            QVERIFY(m_service->expireSessions());
        const QString fresh = QStringLiteral("Nu%1&<v>'\"26");
        save(&dialog, kPassword, fresh, fresh);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        // A second "changePWD" would have been refused (the old password no
        // longer matches) and shown as an error.
        QTest::qWait(300);
        QCOMPARE(retried.count(), expire ? 1 : 0);
        QCOMPARE(prompts.describe(), QStringList{kChanged});
        QVERIFY(!dialog.isVisible());
        QVERIFY(idle(&dialog));
        QCOMPARE(settings.getSetting("password"), saveLogin ? fresh : QString());
        QCOMPARE(m_jar->password(), fresh);
        QCOMPARE(m_jar->username(), kUser);
        QVERIFY(serviceAccepts(kUser, fresh));
        QVERIFY(!serviceAccepts(kUser, kPassword));
    }
};

TAVREL_TEST_MAIN(TestChangePwd)
#include "tst_changepwd.moc"
