// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/constants.h"
#include "app/localsocketipcserver.h"
#include "browse/coremain.h"
#include "conserve/conservafiledialog.h"
#include "service/kvdialoglogin.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"

#include <QDataStream>
#include <QLocalSocket>
#include <QProcess>
#include <QToolButton>
#include <QUrlQuery>

namespace {
// Runs tavrel-send and returns its exit code.
int send(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(TAVREL_SEND_BIN), args);
    if (!process.waitForFinished(15000))
        return -1;
    return process.exitCode();
}

// Sends one raw message, as another program would.
void sendRaw(const QString &xml)
{
    QLocalSocket socket;
    socket.connectToServer(QStringLiteral(APP_GUID));
    QVERIFY(socket.waitForConnected(2000));
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_0);
    out << xml;
    socket.write(bytes);
    QVERIFY(socket.waitForBytesWritten(2000));
    socket.disconnectFromServer();
}
} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

    RefServiceFixture service;
    std::unique_ptr<PromptRecorder> prompts;
    std::unique_ptr<CoreMain> window;
    QString file;

    bool signIn() { return signInThroughDialog(*window, "demo", "Tavrel2026"); }

    void closeOpenDialog()
    {
        if (ConservaFileDialog *open = window->conserveDialog()) {
            open->close();
            QTRY_VERIFY(!window->conserveDialog());
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        Setting().saveSetting("url", service.baseUrl());
        file = QDir::tempPath() + "/da conservare.txt";
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("contenuto da conservare\n");
    }

    void init()
    {
        prompts = std::make_unique<PromptRecorder>();
        window = std::make_unique<CoreMain>();
        QVERIFY(signIn());
        QVERIFY(window->commandServer() && window->commandServer()->isListening());
        prompts->clear();
    }

    void cleanup()
    {
        closeOpenDialog();
        window.reset();
        prompts.reset();
    }

    // The server lives while a user is signed in; "conserva" in any case opens
    // one preservation, and a second one while it runs is refused.
    void conservaFollowsTheSessionOneAtATime()
    {
        window->onClickLogout();
        QVERIFY(!window->commandServer());
        QCOMPARE(send({"conserva", file}), 1); // nobody listens while signed out
        QVERIFY(signIn());
        prompts->clear();
        QCOMPARE(send({"CONSERVA", file}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window->conserveDialog(), 10000);
        ConservaFileDialog *first = window->conserveDialog();
        QVERIFY(first->isVisible());
        QCOMPARE(prompts->count(), 0);

        QCOMPARE(send({"conserva", file}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(prompts->count(), 1, 10000);
        QCOMPARE(prompts->last().kind, Prompts::Kind::Warning);
        QCOMPARE(prompts->last().title, QStringLiteral("Conservazione file"));
        QCOMPARE(window->conserveDialog(), first);

        // The user signs out while that refusal is on screen: the command server
        // goes at once, and the client stays up.
        prompts->setCallback([this](const Prompts::Request &request) {
            if (request.kind == Prompts::Kind::Warning)
                QTest::mouseClick(child<QToolButton>(window.get(), "btmLogout"), Qt::LeftButton);
        });
        QCOMPARE(send({"conserva", file}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window->loginDialog()->isVisible(), 10000);
        QCOMPARE(prompts->count(), 2);
        QVERIFY(!window->commandServer() && !window->isVisible());
        QCOMPARE(send({"conserva", file}), 1);
    }

    // Nor does a command start one while the user is choosing a file for "Conserva".
    void conservaWaitsForTheFileChooser()
    {
        const QString chosen = QDir::tempPath() + "/scelto.txt";
        QFile(chosen).open(QIODevice::WriteOnly);
        prompts->setDefaultAnswer(chosen);
        prompts->setCallback([this](const Prompts::Request &request) {
            if (request.kind != Prompts::Kind::OpenFile)
                return;
            QCOMPARE(send({"conserva", file}), 0);
            QTRY_COMPARE_WITH_TIMEOUT(prompts->count(), 2, 10000);
        });
        QTest::mouseClick(child<QToolButton>(window.get(), "btmConserva"), Qt::LeftButton);
        QTRY_VERIFY(window->conserveDialog());
        QCOMPARE(prompts->describe().filter("warning|Conservazione file|").size(), 1);
        QCOMPARE(window->conserveDialog()->filePath(), chosen);
        QCOMPARE(window->findChildren<ConservaFileDialog *>().size(), 1);
    }

    // Messages that are not XML, lack a command or its parameter, or whose
    // first "command" element is unknown do nothing; only the first counts.
    void onlyCompleteMessagesWithTheFirstCommandCount()
    {
        sendRaw("non è XML");
        sendRaw("<r><parameter1>" + file + "</parameter1></r>");
        sendRaw("<r><command>conserva</command></r>");
        sendRaw("<r><command>rettifica</command></r>");
        sendRaw("<r><command>nessuno</command><command>conserva</command>"
                "<parameter1>" + file + "</parameter1></r>");
        // Nested far deeper than any real command: refused.
        sendRaw(QString("<a>").repeated(100) + "<command>conserva</command><parameter1>" + file
                + "</parameter1>" + QString("</a>").repeated(100));
        QTest::qWait(500);
        QVERIFY(!window->conserveDialog());
        QCOMPARE(prompts->count(), 0);
        sendRaw("<r><x><command>Conserva</command></x><parameter1>" + file + "</parameter1>"
                "<command>esibisci</command></r>");
        QTRY_VERIFY_WITH_TIMEOUT(window->conserveDialog(), 10000);
    }

    // A path whose row has no token, or an empty one (a preservation that never
    // finished), cannot be rectified.
    void rettificaNeedsAPreservedPath_data()
    {
        QTest::addColumn<QString>("token");
        QTest::newRow("no token") << QString();
        QTest::newRow("unfinished preservation") << QString("");
    }
    void rettificaNeedsAPreservedPath()
    {
        QFETCH(QString, token);
        const QString hash = QString("h-") + QTest::currentDataTag();
        catalogueValue("INSERT INTO files (hash, folderid, fullpath, token) VALUES (?, 99, ?, ?)",
                       {hash, file, token.isNull() ? QVariant() : QVariant(token)});
        QCOMPARE(catalogueValue("SELECT fullpath FROM files WHERE hash = ?", {hash}).toString(), file);
        QCOMPARE(send({"rettifica", file}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(prompts->count(), 1, 10000);
        QVERIFY(prompts->contains(Prompts::Kind::Critical, "Rettifica file",
                                  "Errore durante la rettifica del file si prega di riprovare"));
        QVERIFY(!window->conserveDialog());
    }

    void rettificaOfAPreservedPathOpensTheRectification()
    {
        // A preserved file that is also on this computer, at an awkward path.
        const QString path = QDir::tempPath() + "/a & b <c>.txt";
        QFile local(path);
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("nuova versione\n");
        local.close();
        catalogueValue("UPDATE files SET fullpath = ? WHERE rowid = (SELECT min(rowid) FROM files WHERE token != '')",
                       {path});
        QCOMPARE(catalogueValue("SELECT fullpath FROM files WHERE token != '' AND fullpath = ?", {path}).toString(),
                 path);
        sendRaw("<r><command>rettifica</command><parameter1>" + path.toHtmlEscaped() + "</parameter1></r>");
        QTRY_VERIFY_WITH_TIMEOUT(window->conserveDialog(), 10000);
        QVERIFY(window->conserveDialog()->isModal());
        QCOMPARE(prompts->count(), 0);
    }

    void esibisciOpensTheExhibitionPage()
    {
        UrlCatcher pages;
        const QString token = catalogueValue("SELECT token FROM files WHERE token != '' LIMIT 1").toString();
        QVERIFY(!token.isEmpty());
        QCOMPARE(send({"esibisci", token}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(pages.opened.size(), 1, 15000);
        const QUrl page = pages.opened.first();
        QCOMPARE(page.toString(QUrl::RemoveQuery), service.baseUrl() + "/kvshop/Exhibitor");
        QVERIFY(!QUrlQuery(page).queryItemValue("unique_code").isEmpty());
    }
};

TAVREL_TEST_MAIN(TestCommands)
#include "tst_commands.moc"
