// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef KVDIALOGLOGIN_H
#define KVDIALOGLOGIN_H

#include "store/setting.h"

#include <QDialog>
#include <QDomElement>
#include <QPointer>

class KVWConn;
class ProxyDialog;
class QNetworkCookieJar;
namespace Ui {
class kvdialoglogin;
}

// The sign-in window. Sends the "login" request on a connection of its own
// (a fresh one each time the dialog is shown) and, on success, hands the typed
// credentials to the main window through loginOK().
class KvDialogLogin : public QDialog
{
    Q_OBJECT
public:
    explicit KvDialogLogin(QNetworkCookieJar *cookieJar, QWidget *parent = nullptr);
    ~KvDialogLogin() override;

    KVWConn *connection() const { return conn; }

signals:
    void loginOK(QString username, QString password, bool salva);
    void loginKO(QString username);

public slots:
    void onClickAnnulla();
    void onClickOK();
    void onLoginOK(QDomElement body);
    void onLoginKO();
    void onClickHelp();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void onCommandFaillure(QString message, QString code);
    void onCloseProxyDialog(int result);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void connectLoginSignals();
    void disconnectLoginSignals();
    void setInputEnabled(bool enabled);
    void showStatus(const QString &text, const char *colour);
    void openPage(const char *path);

    Ui::kvdialoglogin *ui;
    Setting settings;
    QNetworkCookieJar *cookieJar;
    KVWConn *conn = nullptr;
    bool cleanupRequested = false;
    QPointer<ProxyDialog> proxyDialog;
};

#endif // KVDIALOGLOGIN_H
