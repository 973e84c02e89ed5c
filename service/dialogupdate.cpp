// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "service/dialogupdate.h"

#include "app/byteprogress.h"

#include "ui_dialogupdate.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryFile>
#include <QUrl>

DialogUpdate::DialogUpdate(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogUpdate)
    , m_manager(new QNetworkAccessManager(this))
{
    ui->setupUi(this);
    ui->progressBar->setValue(0);
    ui->progressBar->hide();
    // Only a title bar: the dialog is left through its two buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    connect(ui->pbAnnulla, &QPushButton::clicked, this, &DialogUpdate::onClickCancelUpdate);
    connect(ui->pbAggiorna, &QPushButton::clicked, this, &DialogUpdate::onClickUpdate);
    connect(m_manager, &QNetworkAccessManager::finished, this, &DialogUpdate::onDownloadFinished);
}

DialogUpdate::~DialogUpdate() = default;

void DialogUpdate::setMessaggio(const QString &message)
{
    ui->lblMessaggio->setText(message);
}

void DialogUpdate::onClickUpdate()
{
    ui->pbAggiorna->setEnabled(false);
    ui->lblMessaggio->hide();
    ui->progressBar->setValue(0);
    ui->progressBar->show();

    const QUrl url(m_setting.getSetting(QStringLiteral("url"))
                   + QStringLiteral("/kvshop/UpdateService?platform=%1").arg(QStringLiteral("lin")));
    m_reply = m_manager->get(QNetworkRequest(url));
    connect(m_reply.data(), &QNetworkReply::downloadProgress, this, &DialogUpdate::onDownloadProgress);
}

void DialogUpdate::onDownloadProgress(qint64 received, qint64 total)
{
    showByteProgress(ui->progressBar, total, received);
}

bool DialogUpdate::savePackage(QNetworkReply *reply)
{
    // The package is written under a temporary name that is removed on any
    // failure, so a short write never leaves a truncated package behind.
    // An unusable temporary directory reads as "": never fall back to "/".
    const QString directory = QDir::tempPath();
    if (directory.isEmpty())
        return false;
    QTemporaryFile file(directory + QStringLiteral("/kvw_XXXXXX.zip"));
    if (!file.open())
        return false;
    const qsizetype chunk = 1 << 20;
    while (true) {
        const QByteArray data = reply->read(chunk);
        if (data.isEmpty())
            break;
        if (file.write(data) != data.size())
            return false;
    }
    if (!file.flush())
        return false;
    file.setAutoRemove(false);
    m_packagePath = file.fileName();
    file.close();
    return true;
}

void DialogUpdate::onDownloadFinished(QNetworkReply *reply)
{
    if (reply != m_reply)
        return;
    bool quitting = false;
    if (reply->error() != QNetworkReply::NoError) {
        emit updateFailure(reply->errorString());
    } else if (!savePackage(reply)) {
        emit updateFailure(QStringLiteral("Impossibile salvare il file di aggiornamento"));
    } else {
        QProcess::startDetached(QStringLiteral("xdg-open"), {m_packagePath});
        QCoreApplication::quit();
        quitting = true;
    }
    reply->deleteLater();
    m_reply = nullptr;
    if (!quitting) {
        ui->progressBar->hide();
        ui->lblMessaggio->show();
        ui->pbAggiorna->setEnabled(true);
        close();
    }
}

void DialogUpdate::onClickCancelUpdate()
{
    if (m_reply && m_reply->isRunning())
        m_reply->abort();
    else
        emit updateFailure(QStringLiteral("Aggiornamento annullato"));
    ui->pbAggiorna->setEnabled(true);
    close();
}
