// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Proxy settings: the dialog's checks and what it stores, how a connection
// applies the stored proxy, and the answer to a real proxy (squid with Basic
// authentication) that asks for credentials.

#include "service/kvwconn.h"
#include "service/proxydialog.h"
#include "service/sessioncookiejar.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/proxyfixture.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>

namespace {
QStringList storedProxy()
{
    Setting setting;
    QStringList out;
    for (const char *key : {"proxyUrl", "proxyPort", "proxyCredential", "proxyUsername", "proxyPassword"})
        out << setting.getSetting(key);
    return out;
}
} // namespace

class TestProxy : public QObject
{
    Q_OBJECT

private slots:
    void dialogChecksStoresAndSwitchesOff()
    {
        PromptRecorder prompts;
        {
            ProxyDialog dialog;
            auto *enable = dialog.findChild<QCheckBox *>("chbEnableProxy");
            auto *credential = dialog.findChild<QCheckBox *>("chbEnableCredential");
            auto *save = dialog.findChild<QPushButton *>("btmSalva");
            QList<QLineEdit *> fields; // address, port, user, password
            for (const char *name : {"leIndirizzoProxy", "lePortProxy", "leUsernameProxy", "lePasswordProxy"})
                fields << dialog.findChild<QLineEdit *>(name);
            QVERIFY(enable && credential && save && !fields.contains(nullptr));
            dialog.show();
            QCOMPARE(dialog.windowTitle(), "Impostazioni proxy");
            QVERIFY(!enable->isChecked());
            QVERIFY(!fields[0]->isEnabled() && !credential->isEnabled() && !fields[2]->isEnabled());
            enable->setChecked(true);
            QVERIFY(fields[0]->isEnabled() && fields[1]->isEnabled() && credential->isEnabled() && !fields[2]->isEnabled());
            credential->setChecked(true);
            QVERIFY(fields[2]->isEnabled() && fields[3]->isEnabled());
            QVERIFY(dialog.findChild<QLabel *>("lblPassword")->isEnabled());

            // Each empty field in turn is refused with its own message; nothing is stored until all are filled.
            const QStringList messages = {"Inserisci l'indirizzo del proxy", "Inserisci la porta del proxy",
                                          "Inserisci il nome utente", "Inserisci la password"};
            const QStringList texts = {"proxy.local", "porta", "mario", "p&w"};
            for (int i = 0; i < messages.size(); ++i) {
                save->click();
                QCOMPARE(prompts.last().kind, Prompts::Kind::Critical);
                QCOMPARE(prompts.last().title, "Impostazioni proxy");
                QCOMPARE(prompts.last().text, messages.at(i));
                QCOMPARE(storedProxy(), QStringList(5));
                fields.at(i)->setText(texts.at(i));
            }
            save->click();
            QCOMPARE(prompts.count(), 4);
            QVERIFY(dialog.isVisible()); // saving does not close the dialog
            QCOMPARE(storedProxy(), (QStringList{"proxy.local", "porta", "1", "mario", "p&w"}));
        }

        // A port that is not a number reaches the connection as 0; no credentials
        // on the proxy; a changed setting only counts once reloaded.
        {
            KVWConn conn(nullptr);
            QCOMPARE(conn.proxy().type(), QNetworkProxy::HttpProxy);
            QCOMPARE(conn.proxy().hostName(), "proxy.local");
            QCOMPARE(conn.proxy().port(), quint16(0));
            QVERIFY(conn.proxy().user().isEmpty() && conn.proxy().password().isEmpty());
            Setting().saveSetting("proxyPort", "3128");
            QCOMPARE(conn.proxy().port(), quint16(0));
            conn.loadProxyConfig();
            QCOMPARE(conn.proxy().port(), quint16(3128));
        }

        // Reopened: filled from the settings. Credentials off keeps the proxy, drops the three keys.
        {
            ProxyDialog dialog;
            auto *enable = dialog.findChild<QCheckBox *>("chbEnableProxy");
            auto *credential = dialog.findChild<QCheckBox *>("chbEnableCredential");
            QVERIFY(enable->isChecked() && credential->isChecked());
            QCOMPARE(dialog.findChild<QLineEdit *>("lePasswordProxy")->text(), "p&w");
            credential->setChecked(false);
            QVERIFY(!dialog.findChild<QLineEdit *>("leUsernameProxy")->isEnabled());
            dialog.findChild<QPushButton *>("btmSalva")->click();
            QCOMPARE(storedProxy(), (QStringList{"proxy.local", "3128", "", "", ""}));
            // Proxy off: all five keys go, and a new connection uses no proxy.
            enable->setChecked(false);
            dialog.findChild<QPushButton *>("btmSalva")->click();
        }
        Database database;
        database.openDB();
        {
            QSqlQuery q(database.db);
            QVERIFY(q.exec("SELECT count(*) FROM settings WHERE key LIKE 'proxy%'") && q.next());
            QCOMPARE(q.value(0).toInt(), 0);
        }
        database.closeDB();
        QCOMPARE(KVWConn(nullptr).proxy().type(), QNetworkProxy::NoProxy);
    }

    void answersAProxyThatAsksForCredentials()
    {
        RefServiceFixture service;
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        ProxyFixture proxy("proxyuser", "segreta");
        QVERIFY2(proxy.start(), qPrintable(proxy.errorString()));
        Setting setting;
        const QList<QPair<const char *, QString>> settings = {
            {"url", service.baseUrl()}, {"proxyUrl", "127.0.0.1"}, {"proxyPort", QString::number(proxy.port())},
            {"proxyCredential", "1"}, {"proxyUsername", "proxyuser"}, {"proxyPassword", "sbagliata"}};
        for (const auto &[key, value] : settings)
            setting.saveSetting(key, value);

        SessionCookieJar jar;
        KVWConn conn(&jar);
        QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
        QSignalSpy failed(&conn, &KVWConn::commandFailure);
        QSignalSpy finished(&conn, &QNetworkAccessManager::finished);
        QSignalSpy asked(&conn, &QNetworkAccessManager::proxyAuthenticationRequired);

        // Wrong credentials: given twice, then the failure; the request itself then fails too.
        conn.login("demo", "Tavrel2026", true);
        QVERIFY(finished.wait(20000));
        QCOMPARE(ok.count(), 0);
        QVERIFY(asked.count() >= 2);
        QCOMPARE(failed.count(), 2);
        QCOMPARE(failed.at(0).at(0).toString(), "Username o password del proxy errate");
        QCOMPARE(failed.at(0).at(1).toString(), "-1");
        QCOMPARE(failed.at(1).at(1).toString(), "-1");

        // Right credentials: the finished reply reset the count, so they are given again.
        setting.saveSetting("proxyPassword", "segreta");
        failed.clear();
        conn.login("demo", "Tavrel2026", true);
        QVERIFY(ok.wait(20000));
        QCOMPARE(failed.count(), 0);
        const QString log = proxy.accessLog().join('\n');
        QVERIFY2(log.contains("proxyuser"), qPrintable(log));
    }
};

TAVREL_TEST_MAIN(TestProxy)
#include "tst_proxy.moc"
