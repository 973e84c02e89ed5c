// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef COREMAIN_H
#define COREMAIN_H

#include "store/database.h"
#include "store/setting.h"

#include <QAction>
#include <QDialog>
#include <QDomElement>
#include <QMenu>
#include <QItemSelection>
#include <QModelIndex>
#include <QMovie>
#include <QPointer>
#include <QSystemTrayIcon>

// === conserve (browse/coremain_conserve.cpp) ===
class ConservaFileDialog;
// === end conserve ===
class ChangePwdDialog;
class ClassListModel;
class KVWConn;
class KvDialogLogin;
class ProxyDialog;
class SessionCookieJar;
namespace Ui {
class CoreMain;
}

// === retrieve (browse/coremain_retrieve.cpp) ===
class DialogDownloadFile;
class Exhibitor;
class QNetworkReply;
class RestoreFlow;
// === end retrieve ===

// The client's one main window. It owns everything that lives as long as the
// process: the shared cookie jar (which carries the service session and the
// signed-in credentials), the main service connection, the login dialog and the
// tray icon with its menu. It is only ever visible while a user is signed in:
// until then every attempt to show it shows the login dialog instead.
class CoreMain : public QDialog
{
    Q_OBJECT
public:
    explicit CoreMain();
    ~CoreMain() override;

    void setVisible(bool visible) override;
    void done(int result) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    void showForeground(QWidget *widget);
    void setMenuSystray(bool signedIn);

    bool isSignedIn() const { return signedIn; }
    QString currentBucketId() const { return idBucket; }
    QString currentBucketName() const { return nameBucket; }
    KvDialogLogin *loginDialog() const { return dialogLogin; }
    KVWConn *connection() const { return conn; }
    SessionCookieJar *cookieJar() const { return jar; }
    QMenu *trayMenu();

public slots:
    void showApp();
    void onLoginOK(QString username, QString password, bool save);
    void onLoginKO(QString username);
    void syncCategorie();
    void onSyncCategorieKO(QString description, QString statusNumber);
    void onSyncCategorieOK();
    void clickIcon(QSystemTrayIcon::ActivationReason reason);
    void onContextualMenu(QPoint pos);
    void onClickLogout();
    void showListFile();
    void showSettings();
    void onClickHelp();
    void onClickProxySettings();
    void onCloseProxyDialog(int result);
    void onClickBuyQuota(QString link);
    void onChangeBucket(int index);
    void onClickShowMetadataCurrent();
    void onClickShowMetadata(QModelIndex index);
    void onClickShowMetadata(int idFolder, QString name);
    void onFilterListCateg(QString text);
    void onClickChangePassword();
    void resetWinChangePwd();

public:
    void loadComboBuckets();
    void refreshCharts();
    void refreshListClassi();
    ChangePwdDialog *changePasswordDialog() const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;

private:
    void setFileColumnWidths();
    void refreshTrayInfo();
    void setUserLine(const QString &text);
    void openPage(const char *path);
    void connectSync();
    void disconnectSync();
    void showBucket(const QString &id, const QString &name);
    void clearAccountView();

    Ui::CoreMain *ui = nullptr;

    QString idBucket;
    QString nameBucket;
    // The profile whose files, figures and chart are shown: a change of
    // profile takes effect when its synchronisation succeeds, and is undone
    // when it fails.
    QString shownBucketId;
    QString shownBucketName;
    QString bucketQuota;
    QString bucketUsed;
    QString bucketUnit;
    QString bucketDiv;

    // The tray icon and its menu, or what stands in for them without a tray.
    class TrayPresence *tray = nullptr;

    QAction *actStoria = nullptr;
    QAction *actEsibisci = nullptr;
    QAction *actScarica = nullptr;
    QAction *actRettifica = nullptr;

    Setting settings;
    Database database;
    QMovie loadingMovie;

    SessionCookieJar *jar = nullptr;
    KVWConn *conn = nullptr;
    KvDialogLogin *dialogLogin = nullptr;
    QPointer<ProxyDialog> proxyDialog;
    QPointer<ChangePwdDialog> winChangePwd;
    ClassListModel *classModel = nullptr;

    QString pathPattern;
    bool signedIn = false;
    bool detailsShown = false;

    // === commands (browse/coremain_commands.cpp) ===
public slots:
    void parseExternalMessage(QString message);

public:
    class LocalSocketIpcServer *commandServer() const { return ipcServer; }

private:
    void startCommandServer();
    void stopCommandServer();
    class LocalSocketIpcServer *ipcServer = nullptr;
    // === end commands ===

    // === conserve (browse/coremain_conserve.cpp) ===
public slots:
    void showConserveDialog();
    void resetWinConserve();
    void onSelectFile(QString path);
    void onSostituzioneCompleted();
    void onSostituisciClick();

public:
    // The preservation (or rectification) dialog the window knows of, if any.
    ConservaFileDialog *conserveDialog() const;

protected:
    void dropEvent(QDropEvent *event) override;

private:
    void wireConserve();
    // Opens a preservation dialog for `path` and remembers it.
    ConservaFileDialog *openConserveDialog(const QString &path, QWidget *parent);
    // Opens a modal rectification dialog replacing the version `previousHash`
    // preserved in the class `classId` (-1: the class of its first catalogue row).
    ConservaFileDialog *openRectifyDialog(const QString &path, const QString &previousHash, int classId = -1);
    // Selects the list row of the file stored at `path` and shows its details.
    void selectListFile(const QString &path);
    // True (after telling the user) while another preservation is under way;
    // also used by the "conserva" command.
    static bool refuseWhileBusy(CoreMain *window, ConservaFileDialog *open, const QString &chosen, bool choosing);
    QPointer<ConservaFileDialog> winConserve;
    QString pathFileConserve;
    bool choosingFile = false;
    // === end conserve ===
    // === list (browse/coremain_list.cpp) ===
public slots:
    void onFilterList(QString text);
    void onSortByColumn(int column);
    void onSelectedFile(QItemSelection selected, QItemSelection deselected);
    void onClickHideDetail();

public:
    void refreshListFile();
    void showHideDetail();
    // Text of `column` of the selected file row, without markup ("" when no row
    // is selected): 0 hash, 1 file name, 2 computer name, 3 folder, 4 class
    // name, 5 preservation time, 6 token, 7 class id.
    QString selectedFileData(int column) const;
    class ListFileDelegate *fileListModel() const { return listModel; }
    class MetaDataDetailDelegate *fileDetailModel() const { return detailModel; }
    class QSortFilterProxyModel *fileListProxy() const { return proxyModel; }

private:
    void wireList();
    void setupFileColumns();
    void replaceFileModels(class ListFileDelegate *model, class QSortFilterProxyModel *proxy);
    void discardFileList();
    void updateListNotes();
    class ListFileDelegate *listModel = nullptr;
    class QSortFilterProxyModel *proxyModel = nullptr;
    class MetaDataDetailDelegate *detailModel = nullptr;
    class HTMLItemDelegate *htmlDelegate = nullptr;
    class DateFormatDelegate *dateDelegate = nullptr;
    class EmptyListNote *noFilesNote = nullptr;
    class EmptyListNote *noDetailsNote = nullptr;
    // === end list ===
    // === retrieve (browse/coremain_retrieve.cpp) ===
public slots:
    void onStoriaClick();
    void onEsibisciClick();
    void onGetUrlExhibitorSuccesful(QDomElement reply, QString statusNumber);
    void onGetUrlExhibitorFailure(QString description, QString statusNumber);
    void onRipristinaClick();
    void onRetryRipristina();
    void onDownloadFinishRipristina(QNetworkReply *reply);
    void esibisciFile();

public:
    // The preservation token that esibisciFile() exhibits (the external
    // "esibisci" command sets it before calling it).
    void setExhibitToken(QString token) { exhibitToken = std::move(token); }
    QString currentExhibitToken() const { return exhibitToken; }
    Exhibitor *exhibitorWindow() const { return winExhibitor; }
    DialogDownloadFile *downloadDialog() const;

private slots:
    void onRipristinaRefused(QString description, QString statusNumber);

private:
    void wireRetrieve();
    void postRipristina();
    QString selectedFileName() const;

    Exhibitor *winExhibitor = nullptr;
    RestoreFlow *restoreFlow = nullptr;
    QByteArray requestBytes;
    QString exhibitToken;
    // === end retrieve ===
};

#endif // COREMAIN_H
