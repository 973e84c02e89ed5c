// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef HISTORYFILE_H
#define HISTORYFILE_H

#include "store/setting.h"

#include <QByteArray>
#include <QDialog>
#include <QDomElement>
#include <QMovie>
#include <QString>
#include <memory>

class Exhibitor;
class KVWConn;
class QNetworkCookieJar;
class QNetworkReply;
class QTableWidgetItem;
class RestoreFlow;
namespace Ui {
class HistoryFile;
}

// The versions of one preserved file, as the service reports them ("history"),
// with the restore and the exhibition of the version the user picks. The
// window talks to the service on a connection of its own, in the signed-in
// session carried by the shared cookie jar.
class HistoryFile : public QDialog
{
    Q_OBJECT
public:
    enum Column { ColHash, ColToken, ColFile, ColPath, ColSize, ColDate, ColFolder, ColumnCount };

    HistoryFile(QNetworkCookieJar *jar, QString hash, QString folderId, QWidget *parent = nullptr);
    ~HistoryFile() override;

    // The "File" and "Percorso" texts of a stored file name: its last
    // component, and the folders before it as an absolute path. Names stored
    // with "\" separators read the same as with "/".
    static QPair<QString, QString> splitStoredName(const QString &storedName);

    KVWConn *connection() const { return m_conn.get(); }
    Exhibitor *exhibitor() const { return m_exhibitor; }
    RestoreFlow *restore() const { return m_restore; }

public slots:
    void onDownloadHistory();
    void onDownloadHistoryOK(QDomElement reply, QString statusNumber);
    void onDownloadHistoryKO(QString description, QString statusNumber);
    void onSelectedFile(QTableWidgetItem *item);

    void onClickRipristina();
    void onRetryRipristinaFile();
    void onDownloadFinishRipristina(QNetworkReply *reply);

    void onClickEsibisci();
    void onGetUrlExhibitorSuccesful(QDomElement reply, QString statusNumber);
    void onGetUrlExhibitorFailure(QString description, QString statusNumber);

private slots:
    void onRipristinaRefused(QString description, QString statusNumber);

private:
    void setLoading(bool loading);
    void setUpTable(int rows);
    QString cellText(int row, int column) const;
    void postRestoreOfCurrentRow();
    void subscribeHistory();
    void unsubscribeHistory();
    void subscribeRestore();
    void unsubscribeRestore();
    void subscribeExhibit();
    void unsubscribeExhibit();

    std::unique_ptr<Ui::HistoryFile> ui;
    QString m_hash;
    QString m_folderId;
    std::unique_ptr<KVWConn> m_conn;
    Setting m_settings;
    Exhibitor *m_exhibitor = nullptr;
    QMovie m_loading;
    QByteArray m_requestBytes;
    RestoreFlow *m_restore = nullptr;
};

#endif // HISTORYFILE_H
