// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef DIALOGDOWNLOADFILE_H
#define DIALOGDOWNLOADFILE_H

#include <QDialog>
#include <QPointer>
#include <QString>
#include <memory>

class KVWConn;
namespace Ui {
class DialogDownloadFile;
}

// The progress window of one restore: follows the download of the watched
// connection, shows the service's refusal, and lets the user cancel the
// transfer. The window that starts the restore sets the title and decides
// what happens when the transfer ends.
class DialogDownloadFile : public QDialog
{
    Q_OBJECT
public:
    explicit DialogDownloadFile(KVWConn *conn, QWidget *parent = nullptr);
    ~DialogDownloadFile() override;

    // Subscribes to the connection and resets the texts and the bar.
    void initialMessage();

public slots:
    void onDownloadProgress(qint64 received, qint64 total);
    void onDownloadFallure(QString description, QString statusNumber);
    void onCancelDownload();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void unsubscribe();

    std::unique_ptr<Ui::DialogDownloadFile> ui;
    QPointer<KVWConn> m_conn;
};

#endif // DIALOGDOWNLOADFILE_H
