// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/dialoguploadfile.h"

#include "app/byteprogress.h"
#include "app/prompts.h"
#include "app/transferspeedlabel.h"
#include "service/kvwconn.h"
#include "ui_dialoguploadfile.h"

#include <QCloseEvent>
#include <QNetworkReply>

DialogUploadFile::DialogUploadFile(KVWConn *connection, QString path, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogUploadFile)
    , m_conn(connection)
{
    ui->setupUi(this);
    ui->pgProgressUpload->setValue(0);
    ui->lblFileSelezionato->setText(path);
    m_speed = new TransferSpeedLabel(ui->lblVelocita);
    if (m_conn) {
        connect(m_conn, &KVWConn::commandFailure, this, &DialogUploadFile::onUploadFallure);
        connect(m_conn, &KVWConn::avanzamentoUpload, this, &DialogUploadFile::onUploadProgress);
    }
    connect(ui->btmCancelUpload, &QAbstractButton::clicked, this, &DialogUploadFile::onCancelUpload);
}

DialogUploadFile::~DialogUploadFile() = default;

void DialogUploadFile::setMessage(const QString &message)
{
    ui->lblMessageOperation->setText(message);
}

void DialogUploadFile::setProgress(qint64 maximum, qint64 value)
{
    showByteProgress(ui->pgProgressUpload, qMax<qint64>(0, maximum), value);
    m_speed->update(value, maximum);
}

void DialogUploadFile::resetProgress()
{
    ui->pgProgressUpload->setValue(0);
    // The next step (the upload after the fingerprint) has a speed of its own.
    m_speed->restart();
}

void DialogUploadFile::onUploadProgress(qint64 sent, qint64 total)
{
    // The network layer reports -1 while the total is unknown.
    if (total < 0)
        return;
    setProgress(total, sent);
}

void DialogUploadFile::unsubscribe()
{
    if (m_conn) {
        disconnect(m_conn, &KVWConn::commandFailure, this, &DialogUploadFile::onUploadFallure);
        disconnect(m_conn, &KVWConn::avanzamentoUpload, this, &DialogUploadFile::onUploadProgress);
    }
    disconnect(ui->btmCancelUpload, &QAbstractButton::clicked, this, &DialogUploadFile::onCancelUpload);
}

void DialogUploadFile::onUploadFallure(QString, QString)
{
    unsubscribe();
    close();
}

void DialogUploadFile::onCancelUpload()
{
    if (!Prompts::confirm(this, windowTitle(),
                          tr("Sei veramente sicuro di voler annullare l'operazione corrente?")))
        return;
    unsubscribe();
    // The opener learns of the cancellation first, so that the end of the
    // abandoned request is not taken for a failure of the service.
    QPointer<DialogUploadFile> self(this);
    QPointer<KVWConn> conn = m_conn;
    emit cancelUpload();
    if (conn && conn->currentReply())
        conn->currentReply()->abort();
    if (self)
        close();
}

void DialogUploadFile::closeEvent(QCloseEvent *event)
{
    unsubscribe();
    event->accept();
}
