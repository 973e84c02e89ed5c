// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef RESTOREFLOW_H
#define RESTOREFLOW_H

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class DialogDownloadFile;
class DownloadWriter;
class KVWConn;
class QNetworkReply;
class QWidget;

// The restore of a preserved file, as run by one window (the main window or a
// history window): the save path chosen by the user, the "ripristina" request
// posted in download mode on the window's connection, the bytes streamed to a
// temporary file beside the target, the progress window, and the outcome told
// to the user. The window keeps its own subscriptions to the connection and
// calls post() from its start and retry slots, finish() from its finish slot
// and abandon() when the service refuses.
class RestoreFlow : public QObject
{
    Q_OBJECT
public:
    struct Texts {
        QString saveCaption;  // the save-file chooser
        QString dialogTitle;  // the progress window
        QString boxCaption;   // the outcome's message boxes
        QString successText;
    };

    RestoreFlow(KVWConn *conn, const Texts &texts, QWidget *window);
    ~RestoreFlow() override;

    static QString requestText(const QString &hash, const QString &folderId);

    // Asks where to save, starting at the home folder with `suggestedName`;
    // the answer ("" when cancelled) becomes the save path.
    QString askSavePath(const QString &suggestedName);
    QString savePath() const { return m_savePath; }

    // Prepares the temporary file, posts the request with `requestBytes` (the
    // window's buffer, kept alive by the window) and shows a fresh progress
    // window. False, after telling the user, when the save path cannot take
    // the file: nothing is posted then.
    bool post(const QString &hash, const QString &folderId, QByteArray &requestBytes);
    // The transfer ended: replaces the target with the bytes received, or
    // writes nothing, tells the user which, and closes the progress window.
    void finish(QNetworkReply *reply);
    // The service refused the restore (its progress window says why):
    // nothing is written and the connection leaves download mode.
    void abandon();

    bool isRunning() const { return m_writer != nullptr; }
    DialogDownloadFile *dialog() const;

private:
    void closeDialog();
    void dropWriter();

    KVWConn *m_conn;
    Texts m_texts;
    QWidget *m_window;
    QString m_savePath;
    DownloadWriter *m_writer = nullptr;
    QPointer<DialogDownloadFile> m_dialog;
};

#endif // RESTOREFLOW_H
