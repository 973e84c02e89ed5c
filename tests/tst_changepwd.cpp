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
const char *const kUser = "demo";
const char *const kPassword = "Tavrel2026";

QLineEdit *field(QWidget *w, const char *name) { return w->findChild<QLineEdit *>(name); }
QPushButton *button(QWidget *w, const char *name) { return w->findChild<QPushButton *>(name); }
QLabel *loading(QWidget *w) { return w->findChild<QLabel *>("lblLoading"); }

void fill(QWidget *w, const QString &old, const QString &fresh, const QString &confirm)
{
    field(w, "txtOldPassword")->setText(old);
    field(w, "txtNewPwd")->setText(fresh);
    field(w, "txtConfirmPwd")->setText(confirm);
}

bool idle(QWidget *w)
{
    return button(w, "btmSalva")->isEnabled() && button(w, "btmAnnulla")->isEnabled() && !loading(w)->isVisible();
}
} // namespace

class TestChangePwd : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<RefServiceFixture> m_service;
    std::unique_ptr<SessionCookieJar> m_jar;

    bool startService()
    {
        m_service = std::make_unique<RefServiceFixture>();
        if (!m_service->start())
            return false;
        Setting().saveSetting("url", m_service->baseUrl());
        return true;
    }

    // Signs in on the shared session the way the main window does.
    bool signIn(const QString &user, const QString &password)
    {
        KVWConn conn(m_jar.get());
        QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
        QSignalSpy ko(&conn, &KVWConn::loginFailure);
        conn.login(user, password, false);
        if (!QTest::qWaitFor([&] { return ok.count() + ko.count() > 0; }, 15000) || ok.isEmpty())
            return false;
        m_jar->setCredentials(user, password);
        return true;
    }

    // Whether the service accepts these credentials, on a session of its own.
    static bool serviceAccepts(const QString &user, const QString &password)
    {
        SessionCookieJar jar;
        KVWConn conn(&jar);
        QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
        QSignalSpy ko(&conn, &KVWConn::loginFailure);
        conn.login(user, password, false);
        if (!QTest::qWaitFor([&] { return ok.count() + ko.count() > 0; }, 15000))
            qFatal("no login reply");
        return !ok.isEmpty();
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
        QTest::newRow("old empty, new ones equal") << "" << "Nuova2026x" << "Nuova2026x" << "Devi inserire la vecchia password";
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
        fill(&dialog, old, fresh, confirm);
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QCOMPARE(prompts.describe(), QStringList{"critical|Cambio Password|" + message});
        QVERIFY(!dialog.connection()->currentReply());
        QVERIFY(idle(&dialog));
        QVERIFY(dialog.isVisible());
    }

    void refusedPasswordShowsTheReasonAndKeepsTheFields()
    {
        QVERIFY2(startService(), qPrintable(m_service->errorString()));
        QVERIFY(signIn(kUser, kPassword));
        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();

        // The client does not check the rules: a short password goes out and
        // the service's reason comes back.
        fill(&dialog, kPassword, "corta1", "corta1");
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QVERIFY(!button(&dialog, "btmSalva")->isEnabled());
        QVERIFY(!button(&dialog, "btmAnnulla")->isEnabled());
        QVERIFY(loading(&dialog)->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(prompts.count() > 0, 15000);
        QCOMPARE(prompts.describe(),
                 QStringList{"critical|Modifica password|La nuova password deve contenere da 8 a 20 caratteri"});
        QVERIFY(idle(&dialog));
        QCOMPARE(loading(&dialog)->movie()->state(), QMovie::NotRunning);
        QVERIFY(dialog.isVisible());
        QCOMPARE(field(&dialog, "txtOldPassword")->text(), QString::fromLatin1(kPassword));
        QCOMPARE(field(&dialog, "txtNewPwd")->text(), QStringLiteral("corta1"));
        QCOMPARE(field(&dialog, "txtConfirmPwd")->text(), QStringLiteral("corta1"));
        QVERIFY(serviceAccepts(kUser, kPassword));

        // Corrected, the change goes through, and is reported once only.
        prompts.clear();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        fill(&dialog, kPassword, "Lunga2026ok", "Lunga2026ok");
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        QTest::qWait(200);
        QCOMPARE(prompts.describe(), QStringList{"information|Modifica password|Password modificata"});
        QVERIFY(serviceAccepts(kUser, "Lunga2026ok"));
    }

    void otherFailuresSilentlyMakeTheWindowUsableAgain()
    {
        QVERIFY2(startService(), qPrintable(m_service->errorString()));
        QVERIFY(signIn(kUser, kPassword));
        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();
        fill(&dialog, kPassword, "Nuova2026x", "Nuova2026x");

        QVERIFY(m_service->failNext("changePWD", "2", "Azione non disponibile"));
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(idle(&dialog), 15000);
        QCOMPARE(prompts.count(), 0);

        QVERIFY(m_service->stop());
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(idle(&dialog), 15000);
        QCOMPARE(prompts.count(), 0);
        QVERIFY(dialog.isVisible());
    }

    void unexpectedSuccessStatusDoesNotLeaveTheWindowBusy()
    {
        QVERIFY2(startService(), qPrintable(m_service->errorString()));
        QVERIFY(m_service->stop());
        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();
        fill(&dialog, kPassword, "Nuova2026x", "Nuova2026x");
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QVERIFY(!idle(&dialog));
        emit dialog.connection()->commandSuccessful(QDomElement(), "14");
        QVERIFY(idle(&dialog));
        QVERIFY(dialog.isVisible());
        QCOMPARE(prompts.count(), 0);
        // The exchange is over: the transport failure that follows changes nothing.
        QTest::qWait(500);
        QCOMPARE(prompts.count(), 0);
        QVERIFY(idle(&dialog));
    }

    void successStoresTheNewPasswordAndCloses()
    {
        QVERIFY2(startService(), qPrintable(m_service->errorString()));
        QVERIFY(signIn(kUser, kPassword));
        Setting settings;
        settings.saveSetting("saveLogin", "1");
        settings.saveSetting("password", kPassword);

        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        // Characters that are special in XML, and a placeholder, reach the
        // service as typed.
        const QString fresh = QStringLiteral("Nu%1&<v>'\"26");
        fill(&dialog, kPassword, fresh, fresh);
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        QCOMPARE(prompts.describe(), QStringList{"information|Modifica password|Password modificata"});
        QVERIFY(!dialog.isVisible());
        QVERIFY(idle(&dialog));
        QCOMPARE(settings.getSetting("password"), fresh);
        // The shared session signs in again with the new password from now on.
        QCOMPARE(m_jar->password(), fresh);
        QCOMPARE(m_jar->username(), QString::fromLatin1(kUser));
        QVERIFY(serviceAccepts(kUser, fresh));
        QVERIFY(!serviceAccepts(kUser, kPassword));
    }

    void passwordIsNotStoredWhenCredentialsAreNotSaved()
    {
        QVERIFY2(startService(), qPrintable(m_service->errorString()));
        QVERIFY(signIn(kUser, kPassword));
        Setting settings;
        settings.saveSetting("saveLogin", "0");
        settings.saveSetting("password", "");

        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        fill(&dialog, kPassword, "Nuova2026x", "Nuova2026x");
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        QCOMPARE(settings.getSetting("password"), QString());
        QCOMPARE(m_jar->password(), QStringLiteral("Nuova2026x"));
    }

    void expiredSessionIsRepairedAndThePasswordChangesOnce()
    {
        QVERIFY2(startService(), qPrintable(m_service->errorString()));
        QVERIFY(signIn(kUser, kPassword));
        PromptRecorder prompts;
        ChangePwdDialog dialog(m_jar.get());
        dialog.show();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QSignalSpy retried(dialog.connection(), &KVWConn::retry);

        QVERIFY(m_service->expireSessions());
        fill(&dialog, kPassword, "Rinnovata2026", "Rinnovata2026");
        QTest::mouseClick(button(&dialog, "btmSalva"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, 15000);
        QCOMPARE(retried.count(), 1);
        // A second "changePWD" with the same values would have been refused
        // (the old password no longer matches) and shown as an error.
        QTest::qWait(300);
        QCOMPARE(prompts.describe(), QStringList{"information|Modifica password|Password modificata"});
        QVERIFY(serviceAccepts(kUser, "Rinnovata2026"));
    }
};

TAVREL_TEST_MAIN(TestChangePwd)
#include "tst_changepwd.moc"
