// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The upload and conserve requests as they leave the client, and the upload
// progress window.

#include "app/prompts.h"
#include "conserve/conserverequest.h"
#include "conserve/dialoguploadfile.h"
#include "service/kvwconn.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/testenv.h"

#include <QDomDocument>
#include <QFile>
#include <QHttpMultiPart>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Accepts one HTTP request and keeps every byte of it; answers nothing.
class RequestCatcher : public QObject
{
public:
    RequestCatcher()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { bytes += socket->readAll(); });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    QByteArray bytes;

private:
    QTcpServer m_server;
};

QStringList elementNames(const QByteArray &xml)
{
    QDomDocument doc;
    doc.setContent(xml);
    QStringList names;
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        names << e.tagName();
    return names;
}

} // namespace

class TestUpload : public QObject
{
    Q_OBJECT

private slots:
    // Element order of the four request documents, the upload's date format,
    // and values and host names reaching the document as typed.
    void requestDocuments()
    {
        const QDateTime when(QDate(2026, 3, 5), QTime(14, 7, 9));
        QDomDocument doc;
        const QByteArray upload = ConserveRequest::uploadXml(false, 31, when, "abc", "ignored");
        QVERIFY(upload.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<request>\n <action>"));
        QCOMPARE(elementNames(upload), (QStringList{"action", "idfolder", "last_modified", "hashfile"}));
        QVERIFY(doc.setContent(upload));
        QCOMPARE(doc.documentElement().firstChildElement("action").text(), QStringLiteral("uploadfile"));
        QCOMPARE(doc.documentElement().firstChildElement("last_modified").text(), QStringLiteral("05/03/2026 14:07:09"));

        const QByteArray replace = ConserveRequest::uploadXml(true, 32, when, "new", "old");
        QCOMPARE(elementNames(replace), (QStringList{"action", "idfolder", "last_modified", "hashfile", "hash"}));
        QVERIFY(doc.setContent(replace));
        QCOMPARE(doc.documentElement().firstChildElement("action").text(), QStringLiteral("sostituiscifile"));
        QCOMPARE(doc.documentElement().firstChildElement("hash").text(), QStringLiteral("old"));

        const QMap<QString, QString> values{{"2", "a&b"}, {"9", "<x y=\"1\">"}};
        const QByteArray conserve = ConserveRequest::conserveXml(false, "h", QString(), 31, "pc & co", values);
        QCOMPARE(elementNames(conserve), (QStringList{"action", "hash", "folderid", "computername", "metadato",
                                                      "metadato"}));
        QVERIFY(doc.setContent(conserve));
        const QDomElement second = doc.documentElement().firstChildElement("metadato").nextSiblingElement();
        QCOMPARE(second.attribute("value"), QStringLiteral("<x y=\"1\">"));
        QCOMPARE(doc.documentElement().firstChildElement("computername").text(), QStringLiteral("pc & co"));

        const QByteArray rectify = ConserveRequest::conserveXml(true, "h", "p", 31, "pc", {});
        QCOMPARE(elementNames(rectify), (QStringList{"action", "hash", "hashprecedente", "folderid", "computername"}));
    }

    void multipartHasTheXmlPartThenTheFileNamedByItsPath()
    {
        RequestCatcher catcher;
        Setting().saveSetting("url", QStringLiteral("http://127.0.0.1:%1").arg(catcher.port()));
        const QString path = TestEnv::instance()->home() + QStringLiteral("/cartella è/fattura 7.pdf");
        QDir().mkpath(QFileInfo(path).path());
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("CONTENUTO-DEL-FILE");
        }
        auto *file = new QFile(path);
        QVERIFY(file->open(QIODevice::ReadOnly));
        const QByteArray xml = ConserveRequest::uploadXml(false, 31, QDateTime::currentDateTime(), "h", QString());
        KVWConn conn(nullptr);
        conn.postSession(ConserveRequest::multipart(xml, path, file));
        // The body ends with the closing boundary, after the file's content.
        QVERIFY(QTest::qWaitFor([&] { return catcher.bytes.contains("CONTENUTO-DEL-FILE")
                                             && catcher.bytes.endsWith("--\r\n"); }, 10000));

        const QByteArray &raw = catcher.bytes;
        const QByteArray head = raw.left(raw.indexOf("\r\n\r\n")).toLower();
        QVERIFY2(head.contains("content-type: multipart/form-data;boundary="), head.constData());
        const int xmlPart = raw.indexOf("Content-Disposition: form-data; name=\"xml\"");
        const int filePart = raw.indexOf("Content-Disposition: form-data; name=\"" + path.toUtf8() + "\"");
        QVERIFY(xmlPart > 0);
        QVERIFY(filePart > xmlPart);
        QVERIFY(raw.indexOf("text/xml;charset=UTF-8", xmlPart) < filePart);
        const int fileType = raw.indexOf("Content-Type: application/octet-stream", xmlPart);
        QVERIFY(fileType > raw.indexOf(xml) && fileType < raw.indexOf("CONTENUTO-DEL-FILE"));
        QVERIFY(raw.indexOf(xml) > xmlPart && raw.indexOf(xml) < filePart);
        QVERIFY(raw.indexOf("CONTENUTO-DEL-FILE") > filePart);
        QVERIFY(!raw.contains("filename="));
    }

    // The bar holds int: progress of files over 2 GiB (hashing or upload) is
    // shown in proportion. Cancel asks first; a failure reply closes.
    void progressWindow()
    {
        PromptRecorder prompts;
        KVWConn conn(nullptr);
        DialogUploadFile window(&conn, "/tmp/grande.iso");
        QCOMPARE(window.windowTitle(), QStringLiteral("Upload file in corso ..."));
        QCOMPARE(window.findChild<QLabel *>("lblFileSelezionato")->text(), QStringLiteral("/tmp/grande.iso"));
        auto *bar = window.findChild<QProgressBar *>("pgProgressUpload");
        window.setProgress(1048576, 0);
        QCOMPARE(bar->maximum(), 1048576);
        const qint64 six = 6LL << 30;
        window.setProgress(six, six / 2);
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(qRound(100.0 * bar->value() / bar->maximum()), 50);
        window.resetProgress();
        QCOMPARE(bar->value(), 0);
        emit conn.avanzamentoUpload(3LL << 30, six);
        QCOMPARE(qRound(100.0 * bar->value() / bar->maximum()), 50);

        window.show();
        QSignalSpy cancelled(&window, &DialogUploadFile::cancelUpload);
        prompts.answerNext("cancel");
        QTest::mouseClick(window.findChild<QPushButton *>("btmCancelUpload"), Qt::LeftButton);
        QCOMPARE(prompts.last().text, QStringLiteral("Sei veramente sicuro di voler annullare l'operazione corrente?"));
        QCOMPARE(cancelled.count(), 0);
        QVERIFY(window.isVisible());
        QTest::mouseClick(window.findChild<QPushButton *>("btmCancelUpload"), Qt::LeftButton);
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(!window.isVisible());
        // Closed: progress of the connection no longer reaches it.
        const int maximum = bar->maximum();
        emit conn.avanzamentoUpload(1, 4);
        QCOMPARE(bar->maximum(), maximum);

        DialogUploadFile failing(&conn, "x");
        failing.show();
        emit conn.commandFailure("rifiutato", "13");
        QVERIFY(!failing.isVisible());
    }
};

TAVREL_TEST_MAIN(TestUpload)
#include "tst_upload.moc"
