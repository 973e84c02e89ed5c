// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "retrieve/historyfile.h"

#include "app/constants.h"
#include "app/prompts.h"
#include "retrieve/dialogdownloadfile.h"
#include "retrieve/exhibitor.h"
#include "retrieve/restoreflow.h"
#include "service/kvwconn.h"
#include "service/xmltext.h"
#include "ui_historyfile.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QNetworkRequest>
#include <QRegularExpression>

namespace {
const char *const kXmlContentType = "text/xml;charset=UTF-8";
}

HistoryFile::HistoryFile(QNetworkCookieJar *jar, QString hash, QString folderId, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::HistoryFile>())
    , m_hash(std::move(hash))
    , m_folderId(std::move(folderId))
    , m_conn(std::make_unique<KVWConn>(jar))
    , m_loading(QStringLiteral(":/images/loading.gif"))
{
    ui->setupUi(this);
    setWindowTitle(tr("Storia del file"));
    m_exhibitor = new Exhibitor(this);
    m_restore = new RestoreFlow(m_conn.get(),
                                {tr("Ripristino file"), tr("Ripristina file"), tr("Ripristino file"),
                                 tr("File ripristinato")},
                                this);
    ui->lblLoading->setMovie(&m_loading);
    ui->lblLoading->hide();
    ui->btmEsibisci->hide();
    ui->btmRipristina->hide();

    connect(ui->tbwListHistory, &QTableWidget::itemClicked, this, &HistoryFile::onSelectedFile);
    connect(ui->btmClose, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->btmEsibisci, &QPushButton::clicked, this, &HistoryFile::onClickEsibisci);
    connect(ui->btmRipristina, &QPushButton::clicked, this, &HistoryFile::onClickRipristina);

    onDownloadHistory();
}

HistoryFile::~HistoryFile()
{
    // The restore (its temporary file and progress window) ends with the window.
    delete m_restore;
    m_restore = nullptr;
}

QPair<QString, QString> HistoryFile::splitStoredName(const QString &storedName)
{
    QString path = storedName;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QFileInfo info(path);
    QString folder;
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:/"));
    if (path.startsWith(QLatin1Char('/')) || drive.match(path).hasMatch())
        folder = info.path();
    else
        folder = info.absolutePath();
    return {info.fileName(), QDir::toNativeSeparators(folder)};
}

void HistoryFile::setLoading(bool loading)
{
    if (loading) {
        m_loading.start();
        ui->lblLoading->show();
    } else {
        m_loading.stop();
        ui->lblLoading->hide();
    }
}

void HistoryFile::subscribeHistory()
{
    connect(m_conn.get(), &KVWConn::commandSuccessful, this, &HistoryFile::onDownloadHistoryOK, Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::commandFailure, this, &HistoryFile::onDownloadHistoryKO, Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::retry, this, &HistoryFile::onDownloadHistory, Qt::UniqueConnection);
}

void HistoryFile::unsubscribeHistory()
{
    disconnect(m_conn.get(), &KVWConn::commandSuccessful, this, &HistoryFile::onDownloadHistoryOK);
    disconnect(m_conn.get(), &KVWConn::commandFailure, this, &HistoryFile::onDownloadHistoryKO);
    disconnect(m_conn.get(), &KVWConn::retry, this, &HistoryFile::onDownloadHistory);
}

void HistoryFile::onDownloadHistory()
{
    subscribeHistory();
    setLoading(true);
    m_requestBytes = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>history</action>"
                                    "<hash>%1</hash><folderid>%2</folderid></request>")
                         .arg(xmlEscaped(m_hash), xmlEscaped(m_folderId))
                         .toUtf8();
    m_conn->request().setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(kXmlContentType));
    m_conn->setDownloadMode(false);
    m_conn->postSession(&m_requestBytes);
}

void HistoryFile::setUpTable(int rows)
{
    QTableWidget *table = ui->tbwListHistory;
    table->clear();
    table->setColumnCount(ColumnCount);
    table->setRowCount(rows);
    table->setHorizontalHeaderLabels({tr("Hash"), tr("token"), tr("File"), tr("Percorso"), tr("Dimensione"),
                                      tr("Data"), tr("IDFolders")});
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // One line per version; long names are elided and shown whole on hover.
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    table->setColumnHidden(ColHash, true);
    table->setColumnHidden(ColToken, true);
    table->setColumnHidden(ColFolder, true);
    table->horizontalHeader()->setStretchLastSection(false);
    table->setColumnWidth(ColFile, 180);
    table->setColumnWidth(ColPath, 300);
    table->setColumnWidth(ColSize, 85);
    table->setColumnWidth(ColDate, 150);
}

void HistoryFile::onDownloadHistoryOK(QDomElement reply, QString statusNumber)
{
    unsubscribeHistory();
    if (statusNumber != QLatin1String(CODE_SHOW_HISTORY_OK)) {
        setLoading(false);
        Prompts::critical(this, tr("Storia file"), tr("Errore nel caricamento."));
        return;
    }
    const QDomNodeList files = reply.elementsByTagName(QStringLiteral("file"));
    setUpTable(files.size());
    for (int row = 0; row < files.size(); ++row) {
        const QDomElement file = files.at(row).toElement();
        const auto [name, folder] = splitStoredName(file.attribute(QStringLiteral("filename")));
        const QString texts[ColumnCount] = {
            file.attribute(QStringLiteral("hash")),     file.attribute(QStringLiteral("token")), name, folder,
            file.attribute(QStringLiteral("filesize")), file.attribute(QStringLiteral("tsfiles")),
            file.attribute(QStringLiteral("idfolders"))};
        for (int column = 0; column < ColumnCount; ++column) {
            auto *item = new QTableWidgetItem(texts[column]);
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            if (column == ColFile || column == ColPath)
                item->setToolTip(texts[column]);
            ui->tbwListHistory->setItem(row, column, item);
        }
    }
    setLoading(false);
}

void HistoryFile::onDownloadHistoryKO(QString description, QString statusNumber)
{
    Q_UNUSED(statusNumber)
    unsubscribeHistory();
    setLoading(false);
    Prompts::critical(this, tr("Errore"), description);
}

void HistoryFile::onSelectedFile(QTableWidgetItem *item)
{
    Q_UNUSED(item)
    ui->btmEsibisci->show();
    ui->btmRipristina->show();
}

QString HistoryFile::cellText(int row, int column) const
{
    const QTableWidgetItem *item = row >= 0 ? ui->tbwListHistory->item(row, column) : nullptr;
    return item ? item->text() : QString();
}

// --- restore of the selected version ---------------------------------------

void HistoryFile::subscribeRestore()
{
    connect(m_conn.get(), &KVWConn::downloadFinish, this, &HistoryFile::onDownloadFinishRipristina,
            Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::retry, this, &HistoryFile::onRetryRipristinaFile, Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::commandFailure, this, &HistoryFile::onRipristinaRefused, Qt::UniqueConnection);
}

void HistoryFile::unsubscribeRestore()
{
    disconnect(m_conn.get(), &KVWConn::downloadFinish, this, &HistoryFile::onDownloadFinishRipristina);
    disconnect(m_conn.get(), &KVWConn::retry, this, &HistoryFile::onRetryRipristinaFile);
    disconnect(m_conn.get(), &KVWConn::commandFailure, this, &HistoryFile::onRipristinaRefused);
}

void HistoryFile::onClickRipristina()
{
    const int row = ui->tbwListHistory->currentRow();
    if (row < 0)
        return;
    if (m_restore->askSavePath(cellText(row, ColFile)).isEmpty())
        return;
    postRestoreOfCurrentRow();
}

void HistoryFile::onRetryRipristinaFile()
{
    if (m_restore->savePath().isEmpty())
        return;
    postRestoreOfCurrentRow();
}

void HistoryFile::postRestoreOfCurrentRow()
{
    const int row = ui->tbwListHistory->currentRow();
    subscribeRestore();
    if (!m_restore->post(cellText(row, ColHash), cellText(row, ColFolder), m_requestBytes))
        unsubscribeRestore();
}

void HistoryFile::onDownloadFinishRipristina(QNetworkReply *reply)
{
    unsubscribeRestore();
    m_restore->finish(reply);
}

void HistoryFile::onRipristinaRefused(QString description, QString statusNumber)
{
    Q_UNUSED(description)
    Q_UNUSED(statusNumber)
    // The progress window shows the refusal; the restore is over.
    unsubscribeRestore();
    m_restore->abandon();
}

// --- exhibition of the selected version --------------------------------------

void HistoryFile::subscribeExhibit()
{
    connect(m_conn.get(), &KVWConn::commandFailure, this, &HistoryFile::onGetUrlExhibitorFailure,
            Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::commandSuccessful, this, &HistoryFile::onGetUrlExhibitorSuccesful,
            Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::retry, this, &HistoryFile::onClickEsibisci, Qt::UniqueConnection);
}

void HistoryFile::unsubscribeExhibit()
{
    disconnect(m_conn.get(), &KVWConn::commandFailure, this, &HistoryFile::onGetUrlExhibitorFailure);
    disconnect(m_conn.get(), &KVWConn::commandSuccessful, this, &HistoryFile::onGetUrlExhibitorSuccesful);
    disconnect(m_conn.get(), &KVWConn::retry, this, &HistoryFile::onClickEsibisci);
}

void HistoryFile::onClickEsibisci()
{
    const QString token = cellText(ui->tbwListHistory->currentRow(), ColToken);
    m_exhibitor->setModal(true);
    m_exhibitor->show();
    subscribeExhibit();
    m_requestBytes = Exhibitor::requestText(token).toUtf8();
    m_conn->request().setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(kXmlContentType));
    m_conn->setDownloadMode(false);
    m_conn->postSession(&m_requestBytes);
}

void HistoryFile::onGetUrlExhibitorSuccesful(QDomElement reply, QString statusNumber)
{
    m_exhibitor->hide();
    // The exchange is over whatever the status: a later reply on this
    // connection is not an exhibition's.
    unsubscribeExhibit();
    if (statusNumber != QLatin1String(CODE_EXHIBITOR_OK))
        return;
    const QString code = Exhibitor::codeFromReply(reply);
    QDesktopServices::openUrl(Exhibitor::pageUrl(m_settings.getSetting(QStringLiteral("url")), code));
}

void HistoryFile::onGetUrlExhibitorFailure(QString description, QString statusNumber)
{
    m_exhibitor->hide();
    unsubscribeExhibit();
    Prompts::critical(this, tr("Esibisci file"), tr("Si è verificato un errore durante l'esibizione del file: ") + description);
    if (statusNumber == QLatin1String(CODE_ERROR_NETWORK))
        Prompts::critical(this, tr("Errore"), description);
}
