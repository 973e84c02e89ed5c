// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CONSERVAFILEDIALOG_H
#define CONSERVAFILEDIALOG_H

#include "store/database.h"
#include "store/setting.h"

#include <QByteArray>
#include <QDialog>
#include <QDomElement>
#include <QHash>
#include <QItemSelection>
#include <QList>
#include <QMap>
#include <QMovie>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

class Categorie;
class DialogUploadFile;
class KVWConn;
class QLabel;
class QNetworkCookieJar;
class QSqlQueryModel;
namespace Ui {
class ConservaFileDialog;
}

// The window in which one local file is preserved ("Conservazione") or replaces
// an already preserved version ("Rettifica"). A wizard of five pages that the
// code switches: class choice, upload (fingerprint and send), index-value form,
// success, failure. It talks to the service through a connection of its own on
// the shared cookie jar, so it travels in the signed-in session and signs in
// again with that session's credentials when the session times out.
//
// The catalogue gets a provisional "files" row with an empty token when the
// file is uploaded; success stores the token, a failure of the conserve
// request (other than a validation failure) removes the row and its values.
class ConservaFileDialog : public QDialog
{
    Q_OBJECT
public:
    enum Page { PageClass = 0, PageUpload = 1, PageIndexes = 2, PageSuccess = 3, PageFailure = 4 };

    // A rectification replaces the preserved copy of `previousHash` in the
    // class `previousClassId` (the row the user chose); without a class, the
    // class of the first catalogue row with that hash.
    ConservaFileDialog(QString path, QNetworkCookieJar *jar, QString profileId, QString profileName,
                       QString previousHash, bool rectification, QWidget *parent = nullptr,
                       int previousClassId = -1);
    ~ConservaFileDialog() override;

    // Fingerprints of a local file; the long one reports its progress to the
    // current upload window and keeps the window alive while it reads.
    QString getHash(const QString &path);
    QString getHash4k(const QString &path);

    // A column of the class ("folders") of the preserved file with this hash,
    // or of its "files" row (in the class `classId` when one is given); ""
    // when there is none.
    QString getCategoriaInfo(const QString &hash, const QString &column);
    QString getFileInfo(const QString &hash, const QString &column, int classId = -1);

    QString filePath() const { return m_path; }
    QString hash() const { return m_hash; }
    int classId() const { return m_classId; }
    bool isRectification() const { return m_rectification; }
    int currentPage() const;
    KVWConn *connection() const { return m_conn.get(); }
    DialogUploadFile *uploadWindow() const;
    QByteArray requestBody() const { return m_requestBody; }
    QString failureDetail() const { return m_failureDetail; }
    QMap<QString, QString> errorTexts() const { return m_errorTexts; }
    QList<QWidget *> valueWidgets() const { return m_valueWidgets; }
    QLabel *indexLabel(const QString &indexId) const { return m_indexLabels.value(indexId); }

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void sostituizioneCompleted();
    void showDetails(QString path);
    void closewindow();

public slots:
    void onClickStartUpload();
    void onClickConserva();
    void onClickVisionaFile();
    void onClickOpenCategories();
    void onClickIndietroToInsertMetadata();
    void onClickShowDetails();
    void onClickCloseWindow();
    void onStartUpload();
    void onRetryUpload();
    void onCommandFailure(QString message, QString code);
    void onUploadFileOK(QDomElement body, QString code);
    void onConservaFileOK(QDomElement body, QString code);
    void onSyncCategorieOK();
    void onCancelUpload();
    void onSelectedGroup(QItemSelection selected, QItemSelection deselected);
    void onClickShowDetailError();
    void onFilterList(QString text);
    void conserva();

    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setPage(Page page);
    void setClassQuery(const QString &sql);
    void applyFailureMessage(const QString &message);
    QString selectedGroup() const;
    void disconnectUpload();
    void disconnectConserve();
    void execute(const QString &sql, const QVariantList &values);

    std::unique_ptr<Ui::ConservaFileDialog> ui;

    QString m_path;
    QString m_profileId;
    QString m_profileName;
    QString m_previousHash;
    bool m_rectification = false;
    int m_classId = 0;
    QString m_hash;
    bool m_closeWithoutAsking = false;
    bool m_acceptingClose = false;
    bool m_cancelled = false;

    QNetworkCookieJar *m_jar = nullptr;
    std::unique_ptr<KVWConn> m_conn;
    QPointer<Categorie> m_categorie;
    QSqlQueryModel *m_classModel = nullptr;
    QSqlQueryModel *m_groupModel = nullptr;
    QPointer<DialogUploadFile> m_uploadWindow;
    QByteArray m_requestBody;
    QMovie m_loading;
    Database m_database;
    Setting m_setting;

    QString m_failureDetail;
    QStringList m_tooltips;
    QMap<QString, QString> m_errorTexts;
    QList<QWidget *> m_valueWidgets;
    QHash<QString, QLabel *> m_indexLabels;
};

#endif // CONSERVAFILEDIALOG_H
