// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Exhibition against the reference service, from the history window: the page
// opened with a one-time code, re-login, a network failure, and the page
// address built from the current service address.

#include "app/constants.h"
#include "retrieve/exhibitor.h"
#include "retrieve/historyfile.h"
#include "store/setting.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"
#include "tst_restore_support.h"

#include <QDomDocument>
#include <QLabel>
#include <QPushButton>
#include <QUrlQuery>

class TestExhibit : public QObject
{
    Q_OBJECT

    RefServiceFixture service;
    std::unique_ptr<SessionCookieJar> jar;
    std::unique_ptr<PromptRecorder> prompts;
    std::unique_ptr<UrlCatcher> pages;
    QList<PreservedFile> versions; // oldest first

    std::unique_ptr<HistoryFile> openHistory(int row)
    {
        return openHistoryAt(jar.get(), versions.last().hash, "201", 2, row);
    }

    static void clickExhibit(HistoryFile &window)
    {
        QTest::mouseClick(window.findChild<QPushButton *>("btmEsibisci"), Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        ServiceClient client(service.baseUrl());
        QCOMPARE(client.login("demo", "Tavrel2026").status, QStringLiteral("1"));
        versions << preserveFile(client, 201, "contratto, prima stesura", "/home/demo/Contratti/fornitura.txt");
        versions << preserveFile(client, 201, "contratto, stesura firmata", "/home/demo/Contratti/fornitura.txt",
                                 versions.last().hash);
    }

    void init()
    {
        Setting().saveSetting("url", service.baseUrl());
        jar = std::make_unique<SessionCookieJar>();
        QVERIFY(signInOn(*jar, "demo", "Tavrel2026"));
        prompts = std::make_unique<PromptRecorder>();
        pages = std::make_unique<UrlCatcher>();
    }

    void cleanup()
    {
        pages.reset();
        prompts.reset();
        jar.reset();
    }

    // The page of the version picked, with a code the service accepts once; a
    // second exhibition gets a new code, also after the session expired.
    void opensThePageWithACodeTheServiceAcceptsOnce()
    {
        auto window = openHistory(1); // the older version
        QVERIFY(window);
        clickExhibit(*window);
        Exhibitor *waiting = window->exhibitor();
        QVERIFY(waiting->isVisible());
        QCOMPARE(waiting->windowTitle(), QStringLiteral("Esibizione a norma"));
        QCOMPARE(waiting->windowModality(), Qt::ApplicationModal);
        QCOMPARE(waiting->findChild<QLabel *>("label")->text(), QStringLiteral("Caricamento in corso ..."));

        QTRY_COMPARE_WITH_TIMEOUT(pages->opened.size(), 1, 20000);
        QVERIFY(!waiting->isVisible());
        const QUrl page = pages->opened.first();
        QCOMPARE(page.toString(QUrl::RemoveQuery), service.baseUrl() + "/kvshop/Exhibitor");
        const QString code = QUrlQuery(page).queryItemValue("unique_code");
        QVERIFY(!code.isEmpty());

        ServiceClient browser(service.baseUrl());
        const RestReply first = browser.get(page.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
        QCOMPARE(first.http, 200);
        QVERIFY(first.raw.contains(versions.first().token.toUtf8()));
        QVERIFY(!first.raw.contains(versions.last().token.toUtf8()));
        QCOMPARE(browser.get(page.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority)).http, 404);

        QVERIFY(service.expireSessions());
        clickExhibit(*window);
        QTRY_COMPARE_WITH_TIMEOUT(pages->opened.size(), 2, 20000);
        QVERIFY(QUrlQuery(pages->opened.last()).queryItemValue("unique_code") != code);
        QCOMPARE(prompts->count(), 0);
    }

    void networkFailureGivesTwoBoxesInOrder()
    {
        auto window = openHistory(0);
        QVERIFY(window);
        QVERIFY(service.stop());
        clickExhibit(*window);
        QTRY_COMPARE_WITH_TIMEOUT(prompts->count(), 2, 20000);
        QTest::qWait(200);
        QCOMPARE(prompts->count(), 2);
        const QString error = prompts->calls().at(1).text;
        QVERIFY(!error.isEmpty());
        QCOMPARE(prompts->describe(),
                 (QStringList{"critical|Esibisci file|Si è verificato un errore durante l'esibizione del file: " + error,
                              "critical|Errore|" + error}));
        QVERIFY(!window->exhibitor()->isVisible());
        QVERIFY(service.restart());
    }

    // The page's origin follows the service address in force now; a reply
    // without a code opens the page with an empty one, a code is carried whole,
    // and another status opens nothing.
    void pageAddressFromTheReply()
    {
        auto window = openHistory(0);
        QVERIFY(window);
        Setting().saveSetting("url", "https://conservazione.example.it");
        QDomDocument doc;
        auto reply = [&](const QString &exhibitor) {
            doc.setContent("<body><exhibitor>" + exhibitor + "</exhibitor></body>");
            return doc.documentElement();
        };
        window->onGetUrlExhibitorSuccesful(reply(""), CODE_EXHIBITOR_OK);
        window->onGetUrlExhibitorSuccesful(reply("<unique_code value=\"a&amp;b#c\"/>"), CODE_EXHIBITOR_OK);
        window->onGetUrlExhibitorSuccesful(reply("<unique_code value=\"x\"/>"), CODE_ESIBISCI_OK);
        QCOMPARE(pages->opened.size(), 2);
        QCOMPARE(pages->opened.at(0).toString(),
                 QStringLiteral("https://conservazione.example.it/kvshop/Exhibitor?unique_code="));
        QCOMPARE(QUrlQuery(pages->opened.at(1)).queryItemValue("unique_code", QUrl::FullyDecoded),
                 QStringLiteral("a&b#c"));
        QVERIFY(pages->opened.at(1).fragment().isEmpty());
    }
};

TAVREL_TEST_MAIN(TestExhibit)
#include "tst_exhibit.moc"
