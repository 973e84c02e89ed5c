#include "app/constants.h"
#include "app/localsocketipcserver.h"
#include "browse/coremain.h"
#include "conserve/conservafiledialog.h"
#include "service/kvdialoglogin.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"

#include <QDataStream>
#include <QDesktopServices>
#include <QLineEdit>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
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

QString preservedPath(const QString &pattern)
{
    return catalogueValue("SELECT fullpath FROM files WHERE token != '' AND fullpath LIKE ?", {pattern}).toString();
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

    void conservaInAnyCaseOpensOnePreservation()
    {
        QCOMPARE(send({"CONSERVA", file}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window->conserveDialog(), 10000);
        ConservaFileDialog *first = window->conserveDialog();
        QVERIFY(first->isVisible());
        QCOMPARE(prompts->count(), 0);

        // A second one while the first runs is refused and the first kept.
        QCOMPARE(send({"conserva", file}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(prompts->count(), 1, 10000);
        QCOMPARE(prompts->last().kind, Prompts::Kind::Warning);
        QCOMPARE(prompts->last().title, QStringLiteral("Conservazione file"));
        QCOMPARE(window->conserveDialog(), first);
    }

    void onlyTheFirstCommandElementCounts()
    {
        sendRaw("<r><command>nessuno</command><command>conserva</command>"
                "<parameter1>" + file + "</parameter1></r>");
        QTest::qWait(500);
        QVERIFY(!window->conserveDialog());
        sendRaw("<r><x><command>Conserva</command></x><parameter1>" + file + "</parameter1>"
                "<command>esibisci</command></r>");
        QTRY_VERIFY_WITH_TIMEOUT(window->conserveDialog(), 10000);
    }

    void malformedOrIncompleteMessagesAreIgnored()
    {
        sendRaw("non è XML");
        sendRaw("<r><parameter1>" + file + "</parameter1></r>");
        sendRaw("<r><command>conserva</command></r>");
        sendRaw("<r><command>rettifica</command></r>");
        QTest::qWait(500);
        QVERIFY(!window->conserveDialog());
        QCOMPARE(prompts->count(), 0);
    }

    void rettificaNeedsAPreservedPath_data()
    {
        QTest::addColumn<QString>("token");
        QTest::newRow("no token") << QString();
        QTest::newRow("unfinished preservation") << QString("");
    }
    void rettificaNeedsAPreservedPath()
    {
        QFETCH(QString, token);
        Database database;
        database.openDB();
        {
            QSqlQuery query(database.db);
            query.prepare("INSERT INTO files (hash, folderid, fullpath, token) VALUES (?, 99, ?, ?)");
            query.addBindValue(QString("h-") + QTest::currentDataTag());
            query.addBindValue(file);
            query.addBindValue(token.isNull() ? QVariant() : QVariant(token));
            QVERIFY(query.exec());
        }
        database.closeDB();
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
        Database database;
        database.openDB();
        {
            QSqlQuery query(database.db);
            query.prepare("UPDATE files SET fullpath = ? WHERE rowid = (SELECT min(rowid) FROM files WHERE token != '')");
            query.addBindValue(path);
            QVERIFY(query.exec());
        }
        database.closeDB();
        QCOMPARE(preservedPath(path), path);
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

    void commandsFollowTheSession()
    {
        window->onClickLogout();
        QVERIFY(!window->commandServer());
        QCOMPARE(send({"conserva", file}), 1); // nobody listens while signed out
        QVERIFY(signIn());
        QCOMPARE(send({"conserva", file}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window->conserveDialog(), 10000);
    }
};

TAVREL_TEST_MAIN(TestCommands)
#include "tst_commands.moc"
