// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef DIALOGUPDATE_H
#define DIALOGUPDATE_H

#include "store/setting.h"

#include <QDialog>
#include <QNetworkReply>
#include <QPointer>
#include <memory>

class QNetworkAccessManager;

namespace Ui {
class DialogUpdate;
}

// Shown when the service refuses this client's version: it tells the user why,
// and on "Procedi" downloads the update package from the service into
// "kvw_XXXXXX.zip" in the temporary directory, hands it to the desktop with
// xdg-open and quits the client. Any other end is reported by updateFailure().
class DialogUpdate : public QDialog
{
    Q_OBJECT
public:
    explicit DialogUpdate(QWidget *parent = nullptr);
    ~DialogUpdate() override;

    void setMessaggio(const QString &message);
    // Path of the package written by the last successful download ("" if none).
    QString packagePath() const { return m_packagePath; }

signals:
    void updateFailure(QString message);

public slots:
    void onClickUpdate();
    void onClickCancelUpdate();
    void onDownloadFinished(QNetworkReply *reply);
    void onDownloadProgress(qint64 received, qint64 total);

private:
    bool savePackage(QNetworkReply *reply);

    std::unique_ptr<Ui::DialogUpdate> ui;
    QNetworkAccessManager *m_manager;
    Setting m_setting;
    QPointer<QNetworkReply> m_reply;
    QString m_packagePath;
};

#endif // DIALOGUPDATE_H
