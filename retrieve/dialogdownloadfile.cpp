// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "retrieve/dialogdownloadfile.h"

#include "app/byteprogress.h"
#include "app/prompts.h"
#include "service/kvwconn.h"
#include "ui_dialogdownloadfile.h"

#include <QCloseEvent>

DialogDownloadFile::DialogDownloadFile(KVWConn *conn, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DialogDownloadFile>())
    , m_conn(conn)
{
    ui->setupUi(this);
    ui->progressBar->setValue(0);
}

DialogDownloadFile::~DialogDownloadFile()
{
    unsubscribe();
}

void DialogDownloadFile::initialMessage()
{
    if (m_conn) {
        connect(m_conn.data(), &KVWConn::avanzamentoDownload, this, &DialogDownloadFile::onDownloadProgress,
                Qt::UniqueConnection);
        connect(m_conn.data(), &KVWConn::commandFailure, this, &DialogDownloadFile::onDownloadFallure,
                Qt::UniqueConnection);
    }
    connect(ui->btmCancel, &QPushButton::clicked, this, &DialogDownloadFile::onCancelDownload,
            Qt::UniqueConnection);
    ui->lblMessaggio->setText(tr("<font color=black>Download file in corso...</font>"));
    ui->btmCancel->setText(tr("Annulla"));
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
}

void DialogDownloadFile::onDownloadProgress(qint64 received, qint64 total)
{
    showByteProgress(ui->progressBar, total, received);
}

void DialogDownloadFile::onDownloadFallure(QString description, QString statusNumber)
{
    Q_UNUSED(statusNumber)
    hide();
    Prompts::critical(this, tr("Download file"), description);
    close();
}

void DialogDownloadFile::onCancelDownload()
{
    if (m_conn) {
        if (QNetworkReply *reply = m_conn->currentReply())
            reply->abort();
    }
    close();
}

void DialogDownloadFile::closeEvent(QCloseEvent *event)
{
    unsubscribe();
    event->accept();
}

void DialogDownloadFile::unsubscribe()
{
    if (m_conn) {
        disconnect(m_conn.data(), &KVWConn::avanzamentoDownload, this, &DialogDownloadFile::onDownloadProgress);
        disconnect(m_conn.data(), &KVWConn::commandFailure, this, &DialogDownloadFile::onDownloadFallure);
    }
    disconnect(ui->btmCancel, &QPushButton::clicked, this, &DialogDownloadFile::onCancelDownload);
}
