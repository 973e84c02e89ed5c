// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's retrieval: restore ("Scarica"), exhibition ("Esibisci")
// and history ("Storia") of the file selected in the preserved-file list.

#include "browse/coremain.h"

#include "app/constants.h"
#include "app/prompts.h"
#include "retrieve/dialogdownloadfile.h"
#include "retrieve/exhibitor.h"
#include "retrieve/historyfile.h"
#include "retrieve/restoreflow.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "ui_coremain.h"

#include <QDesktopServices>
#include <QNetworkRequest>

namespace {
// List columns read here (see the file list's query).
constexpr int kColumnHash = 0;
constexpr int kColumnFileName = 1;
constexpr int kColumnToken = 6;
constexpr int kColumnFolder = 7;
} // namespace

void CoreMain::wireRetrieve()
{
    winExhibitor = new Exhibitor(this);
    restoreFlow = new RestoreFlow(conn, {tr("Scarica file"), tr("Rispristino file"), tr("Scarica file"),
                                         tr("File scaricato")},
                                  this);

    connect(ui->btmStoria, &QAbstractButton::clicked, this, &CoreMain::onStoriaClick);
    connect(ui->btmEsibisci, &QAbstractButton::clicked, this, &CoreMain::onEsibisciClick);
    connect(ui->btmRipristina, &QAbstractButton::clicked, this, &CoreMain::onRipristinaClick);
    connect(actStoria, &QAction::triggered, this, &CoreMain::onStoriaClick);
    connect(actEsibisci, &QAction::triggered, this, &CoreMain::onEsibisciClick);
    connect(actScarica, &QAction::triggered, this, &CoreMain::onRipristinaClick);
}

DialogDownloadFile *CoreMain::downloadDialog() const
{
    return restoreFlow ? restoreFlow->dialog() : nullptr;
}

// --- history ------------------------------------------------------------------

void CoreMain::onStoriaClick()
{
    const QString hash = selectedFileData(kColumnHash);
    if (hash.isEmpty())
        return;
    auto *history = new HistoryFile(jar, hash, selectedFileData(kColumnFolder), nullptr);
    history->setModal(true);
    history->setAttribute(Qt::WA_DeleteOnClose);
    history->show();
}

// --- exhibition -----------------------------------------------------------------

void CoreMain::onEsibisciClick()
{
    if (selectedFileData(kColumnHash).isEmpty())
        return;
    exhibitToken = selectedFileData(kColumnToken);
    esibisciFile();
}

void CoreMain::esibisciFile()
{
    if (exhibitToken.isEmpty())
        return;
    winExhibitor->setModal(true);
    winExhibitor->show();

    disconnect(conn, &KVWConn::commandFailure, this, &CoreMain::onGetUrlExhibitorFailure);
    disconnect(conn, &KVWConn::commandSuccessful, this, &CoreMain::onGetUrlExhibitorSuccesful);
    disconnect(conn, &KVWConn::retry, this, &CoreMain::esibisciFile);
    connect(conn, &KVWConn::commandFailure, this, &CoreMain::onGetUrlExhibitorFailure);
    connect(conn, &KVWConn::commandSuccessful, this, &CoreMain::onGetUrlExhibitorSuccesful);
    connect(conn, &KVWConn::retry, this, &CoreMain::esibisciFile);

    requestBytes = Exhibitor::requestText(exhibitToken).toUtf8();
    conn->request().setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
    conn->setDownloadMode(false);
    conn->postSession(&requestBytes);
}

void CoreMain::onGetUrlExhibitorSuccesful(QDomElement reply, QString statusNumber)
{
    winExhibitor->hide();
    // The exchange is over whatever the status: a later reply on the main
    // connection (a synchronisation, say) is not an exhibition's.
    disconnect(conn, &KVWConn::commandFailure, this, &CoreMain::onGetUrlExhibitorFailure);
    disconnect(conn, &KVWConn::commandSuccessful, this, &CoreMain::onGetUrlExhibitorSuccesful);
    disconnect(conn, &KVWConn::retry, this, &CoreMain::esibisciFile);
    if (statusNumber != QLatin1String(CODE_EXHIBITOR_OK))
        return;
    QDesktopServices::openUrl(
        Exhibitor::pageUrl(settings.getSetting(QStringLiteral("url")), Exhibitor::codeFromReply(reply)));
}

void CoreMain::onGetUrlExhibitorFailure(QString description, QString statusNumber)
{
    winExhibitor->hide();
    disconnect(conn, &KVWConn::commandFailure, this, &CoreMain::onGetUrlExhibitorFailure);
    disconnect(conn, &KVWConn::commandSuccessful, this, &CoreMain::onGetUrlExhibitorSuccesful);
    disconnect(conn, &KVWConn::retry, this, &CoreMain::esibisciFile);
    Prompts::critical(this, tr("Esibisci file"),
                      tr("Si è verificato un errore durante l'esibizione del file: ") + description);
    if (statusNumber == QLatin1String(CODE_ERROR_NETWORK))
        Prompts::critical(this, tr("Errore"), description);
}

// --- restore --------------------------------------------------------------------

QString CoreMain::selectedFileName() const
{
    // Only the last component of the stored path, whichever separator it was
    // stored with.
    const QString name = selectedFileData(kColumnFileName);
    return name.mid(qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\'))) + 1);
}

void CoreMain::onRipristinaClick()
{
    if (selectedFileData(kColumnHash).isEmpty())
        return;
    if (restoreFlow->askSavePath(selectedFileName()).isEmpty())
        return;
    postRipristina();
}

void CoreMain::onRetryRipristina()
{
    if (restoreFlow->savePath().isEmpty())
        return;
    postRipristina();
}

void CoreMain::postRipristina()
{
    connect(conn, &KVWConn::downloadFinish, this, &CoreMain::onDownloadFinishRipristina, Qt::UniqueConnection);
    connect(conn, &KVWConn::retry, this, &CoreMain::onRetryRipristina, Qt::UniqueConnection);
    connect(conn, &KVWConn::commandFailure, this, &CoreMain::onRipristinaRefused, Qt::UniqueConnection);
    if (!restoreFlow->post(selectedFileData(kColumnHash), selectedFileData(kColumnFolder), requestBytes))
        onRipristinaRefused(QString(), QString());
}

void CoreMain::onDownloadFinishRipristina(QNetworkReply *reply)
{
    disconnect(conn, &KVWConn::downloadFinish, this, &CoreMain::onDownloadFinishRipristina);
    disconnect(conn, &KVWConn::retry, this, &CoreMain::onRetryRipristina);
    disconnect(conn, &KVWConn::commandFailure, this, &CoreMain::onRipristinaRefused);
    restoreFlow->finish(reply);
}

void CoreMain::onRipristinaRefused(QString description, QString statusNumber)
{
    Q_UNUSED(description)
    Q_UNUSED(statusNumber)
    // The progress window shows the refusal; the restore is over, and the main
    // connection goes back to XML replies for whatever it sends next.
    disconnect(conn, &KVWConn::downloadFinish, this, &CoreMain::onDownloadFinishRipristina);
    disconnect(conn, &KVWConn::retry, this, &CoreMain::onRetryRipristina);
    disconnect(conn, &KVWConn::commandFailure, this, &CoreMain::onRipristinaRefused);
    restoreFlow->abandon();
}
