// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef DIALOGUPLOADFILE_H
#define DIALOGUPLOADFILE_H

#include <QDialog>
#include <QPointer>
#include <QString>
#include <memory>

class KVWConn;
class TransferSpeedLabel;
namespace Ui {
class DialogUploadFile;
}

// The progress window of one preservation while its file is fingerprinted and
// sent. It follows the upload progress of the connection it is given (not
// owned) and closes by itself when that connection reports a failure; "Annulla"
// asks for confirmation, abandons the request in flight and emits cancelUpload().
// Under the bar it shows the speed and the time left of the current step.
class DialogUploadFile : public QDialog
{
    Q_OBJECT
public:
    DialogUploadFile(KVWConn *connection, QString path, QWidget *parent = nullptr);
    ~DialogUploadFile() override;

    void setMessage(const QString &message);
    // Progress as (maximum, value) in bytes. Sizes beyond the range of the
    // progress bar are scaled down by the same factor, so any file fits.
    void setProgress(qint64 maximum, qint64 value);
    void resetProgress();

signals:
    void cancelUpload();

public slots:
    void onUploadProgress(qint64 sent, qint64 total);
    void onUploadFallure(QString message, QString code);
    void onCancelUpload();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void unsubscribe();

    std::unique_ptr<Ui::DialogUploadFile> ui;
    QPointer<KVWConn> m_conn;
    TransferSpeedLabel *m_speed = nullptr; // child of its label
};

#endif // DIALOGUPLOADFILE_H
