// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "retrieve/restoreflow.h"

#include "app/prompts.h"
#include "retrieve/dialogdownloadfile.h"
#include "retrieve/downloadwriter.h"
#include "service/kvwconn.h"
#include "service/xmltext.h"

#include <QDir>
#include <QNetworkReply>
#include <QNetworkRequest>

RestoreFlow::RestoreFlow(KVWConn *conn, const Texts &texts, QWidget *window)
    : QObject(window)
    , m_conn(conn)
    , m_texts(texts)
    , m_window(window)
{
}

RestoreFlow::~RestoreFlow()
{
    dropWriter();
    delete m_dialog;
}

DialogDownloadFile *RestoreFlow::dialog() const
{
    return m_dialog;
}

QString RestoreFlow::requestText(const QString &hash, const QString &folderId)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>ripristina</action>"
                          "<hash>%1</hash><folderid>%2</folderid></request>")
        .arg(xmlEscaped(hash), xmlEscaped(folderId));
}

QString RestoreFlow::askSavePath(const QString &suggestedName)
{
    const QString suggested = QDir::homePath() + QLatin1Char('/') + suggestedName;
    m_savePath = Prompts::saveFileName(m_window, m_texts.saveCaption, suggested, QString());
    return m_savePath;
}

bool RestoreFlow::post(const QString &hash, const QString &folderId, QByteArray &requestBytes)
{
    // A retry starts over: the previous attempt's file and window go.
    dropWriter();
    closeDialog();

    m_writer = new DownloadWriter(m_savePath, this);
    if (!m_writer->open()) {
        const QString error = m_writer->errorString();
        dropWriter();
        Prompts::critical(m_window, m_texts.boxCaption,
                          tr("Impossibile salvare il file %1: %2").arg(QDir::toNativeSeparators(m_savePath), error));
        return false;
    }

    requestBytes = requestText(hash, folderId).toUtf8();
    m_conn->request().setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
    m_conn->setDownloadMode(true);
    m_conn->postSession(&requestBytes);
    m_writer->attach(m_conn->currentReply());

    m_dialog = new DialogDownloadFile(m_conn, nullptr);
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog->setModal(true);
    m_dialog->setWindowTitle(m_texts.dialogTitle);
    m_dialog->initialMessage();
    m_dialog->show();
    return true;
}

void RestoreFlow::finish(QNetworkReply *reply)
{
    DownloadWriter::Outcome outcome = DownloadWriter::Outcome::NetworkError;
    QString error;
    if (m_writer) {
        outcome = m_writer->finish(reply);
        error = m_writer->errorString();
    }
    dropWriter();
    m_conn->setDownloadMode(false);
    // The transfer is over whatever its outcome: the progress window goes
    // before the message, so the message is the only window left to answer.
    closeDialog();

    switch (outcome) {
    case DownloadWriter::Outcome::Written:
        Prompts::information(m_window, m_texts.boxCaption, m_texts.successText);
        break;
    case DownloadWriter::Outcome::NetworkError:
        Prompts::critical(m_window, m_texts.boxCaption, tr("Si è verificato un errore durante il download del file"));
        break;
    case DownloadWriter::Outcome::WriteError:
        Prompts::critical(m_window, m_texts.boxCaption,
                          tr("Impossibile salvare il file %1: %2").arg(QDir::toNativeSeparators(m_savePath), error));
        break;
    }
}

void RestoreFlow::abandon()
{
    dropWriter();
    m_conn->setDownloadMode(false);
}

void RestoreFlow::closeDialog()
{
    if (m_dialog) {
        DialogDownloadFile *dialog = m_dialog;
        m_dialog = nullptr;
        dialog->close(); // deletes itself once control is back in the event loop
    }
}

void RestoreFlow::dropWriter()
{
    if (m_writer) {
        m_writer->discard();
        m_writer->deleteLater();
        m_writer = nullptr;
    }
}
