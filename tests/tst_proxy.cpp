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
const char *const kKeys[] = {"proxyUrl", "proxyPort", "proxyCredential", "proxyUsername", "proxyPassword"};

QStringList storedProxy()
{
    Setting setting;
    QStringList out;
    for (const char *key : kKeys)
        out << setting.getSetting(QLatin1String(key));
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
        Setting setting;
        {
            ProxyDialog dialog;
            auto *enable = dialog.findChild<QCheckBox *>(QStringLiteral("chbEnableProxy"));
            auto *credential = dialog.findChild<QCheckBox *>(QStringLiteral("chbEnableCredential"));
            auto *address = dialog.findChild<QLineEdit *>(QStringLiteral("leIndirizzoProxy"));
            auto *port = dialog.findChild<QLineEdit *>(QStringLiteral("lePortProxy"));
            auto *user = dialog.findChild<QLineEdit *>(QStringLiteral("leUsernameProxy"));
            auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("lePasswordProxy"));
            auto *save = dialog.findChild<QPushButton *>(QStringLiteral("btmSalva"));
            QVERIFY(enable && credential && address && port && user && password && save);
            dialog.show();
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Impostazioni proxy"));
            QVERIFY(!enable->isChecked());
            QVERIFY(!address->isEnabled() && !credential->isEnabled() && !user->isEnabled());

            enable->setChecked(true);
            QVERIFY(address->isEnabled() && port->isEnabled() && credential->isEnabled());
            QVERIFY(!user->isEnabled());
            credential->setChecked(true);
            QVERIFY(user->isEnabled() && password->isEnabled()
                    && dialog.findChild<QLabel *>(QStringLiteral("lblPassword"))->isEnabled());

            const QStringList messages = {QStringLiteral("Inserisci l'indirizzo del proxy"),
                                          QStringLiteral("Inserisci la porta del proxy"),
                                          QStringLiteral("Inserisci il nome utente"),
                                          QStringLiteral("Inserisci la password")};
            QList<QLineEdit *> fields = {address, port, user, password};
            const QStringList texts = {QStringLiteral("proxy.local"), QStringLiteral("porta"),
                                       QStringLiteral("mario"), QStringLiteral("p&w")};
            for (int i = 0; i < messages.size(); ++i) {
                save->click();
                QCOMPARE(prompts.last().kind, Prompts::Kind::Critical);
                QCOMPARE(prompts.last().title, QStringLiteral("Impostazioni proxy"));
                QCOMPARE(prompts.last().text, messages.at(i));
                QCOMPARE(storedProxy(), QStringList({QString(), QString(), QString(), QString(), QString()}));
                fields.at(i)->setText(texts.at(i));
            }
            save->click();
            QCOMPARE(prompts.count(), 4);
            QVERIFY(dialog.isVisible()); // saving does not close the dialog
            QCOMPARE(storedProxy(), QStringList({QStringLiteral("proxy.local"), QStringLiteral("porta"),
                                                 QStringLiteral("1"), QStringLiteral("mario"),
                                                 QStringLiteral("p&w")}));
        }

        // A port that is not a number reaches the connection as 0; no credentials on the proxy.
        {
            KVWConn conn(nullptr);
            QCOMPARE(conn.proxy().type(), QNetworkProxy::HttpProxy);
            QCOMPARE(conn.proxy().hostName(), QStringLiteral("proxy.local"));
            QCOMPARE(conn.proxy().port(), quint16(0));
            QVERIFY(conn.proxy().user().isEmpty() && conn.proxy().password().isEmpty());
            setting.saveSetting(QStringLiteral("proxyPort"), QStringLiteral("3128"));
            QCOMPARE(conn.proxy().port(), quint16(0)); // kept until told to reload
            conn.loadProxyConfig();
            QCOMPARE(conn.proxy().port(), quint16(3128));
        }

        // Reopened: filled from the settings. Credentials off keeps the proxy, drops the three keys.
        {
            ProxyDialog dialog;
            auto *credential = dialog.findChild<QCheckBox *>(QStringLiteral("chbEnableCredential"));
            QVERIFY(dialog.findChild<QCheckBox *>(QStringLiteral("chbEnableProxy"))->isChecked());
            QVERIFY(credential->isChecked());
            QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("lePasswordProxy"))->text(), QStringLiteral("p&w"));
            credential->setChecked(false);
            QVERIFY(!dialog.findChild<QLineEdit *>(QStringLiteral("leUsernameProxy"))->isEnabled());
            dialog.findChild<QPushButton *>(QStringLiteral("btmSalva"))->click();
            QCOMPARE(storedProxy(), QStringList({QStringLiteral("proxy.local"), QStringLiteral("3128"), QString(),
                                                 QString(), QString()}));

            // Proxy off: all five keys go, and a new connection uses no proxy.
            dialog.findChild<QCheckBox *>(QStringLiteral("chbEnableProxy"))->setChecked(false);
            dialog.findChild<QPushButton *>(QStringLiteral("btmSalva"))->click();
        }
        Database database;
        database.openDB();
        {
            QSqlQuery q(database.db);
            q.exec(QStringLiteral("SELECT count(*) FROM settings WHERE key LIKE 'proxy%'"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 0);
        }
        database.closeDB();
        KVWConn conn(nullptr);
        QCOMPARE(conn.proxy().type(), QNetworkProxy::NoProxy);
    }

    void answersAProxyThatAsksForCredentials()
    {
        RefServiceFixture service;
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        ProxyFixture proxy(QStringLiteral("proxyuser"), QStringLiteral("segreta"));
        QVERIFY2(proxy.start(), qPrintable(proxy.errorString()));

        Setting setting;
        setting.saveSetting(QStringLiteral("url"), service.baseUrl());
        setting.saveSetting(QStringLiteral("proxyUrl"), QStringLiteral("127.0.0.1"));
        setting.saveSetting(QStringLiteral("proxyPort"), QString::number(proxy.port()));
        setting.saveSetting(QStringLiteral("proxyCredential"), QStringLiteral("1"));
        setting.saveSetting(QStringLiteral("proxyUsername"), QStringLiteral("proxyuser"));
        setting.saveSetting(QStringLiteral("proxyPassword"), QStringLiteral("sbagliata"));

        SessionCookieJar jar;
        KVWConn conn(&jar);
        QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
        QSignalSpy failed(&conn, &KVWConn::commandFailure);
        QSignalSpy finished(&conn, &QNetworkAccessManager::finished);
        QSignalSpy asked(&conn, &QNetworkAccessManager::proxyAuthenticationRequired);

        // Wrong credentials: given twice, then the failure; the request itself then fails too.
        conn.login(QStringLiteral("demo"), QStringLiteral("Tavrel2026"), true);
        QVERIFY(finished.wait(20000));
        QCOMPARE(ok.count(), 0);
        QVERIFY(asked.count() >= 2);
        QVERIFY(failed.count() >= 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("Username o password del proxy errate"));
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("-1"));
        QCOMPARE(failed.count(), 2);
        QCOMPARE(failed.at(1).at(1).toString(), QStringLiteral("-1"));

        // Right credentials: the finished reply reset the count, so they are given again.
        setting.saveSetting(QStringLiteral("proxyPassword"), QStringLiteral("segreta"));
        failed.clear();
        conn.login(QStringLiteral("demo"), QStringLiteral("Tavrel2026"), true);
        QVERIFY(ok.wait(20000));
        QCOMPARE(failed.count(), 0);
        QVERIFY2(proxy.accessLog().join(QLatin1Char('\n')).contains(QStringLiteral("proxyuser")),
                 qPrintable(proxy.accessLog().join(QLatin1Char('\n'))));
    }
};

TAVREL_TEST_MAIN(TestProxy)
#include "tst_proxy.moc"
