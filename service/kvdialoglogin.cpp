// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "service/kvdialoglogin.h"

#include "app/constants.h"
#include "app/prompts.h"
#include "service/kvwconn.h"
#include "service/proxydialog.h"
#include "store/database.h"
#include "ui_kvdialoglogin.h"

#include <QApplication>
#include <QGuiApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QUrl>

KvDialogLogin::KvDialogLogin(QNetworkCookieJar *jar, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::kvdialoglogin)
    , cookieJar(jar)
    , conn(new KVWConn(jar, false, this))
{
    ui->setupUi(this);
    setFixedSize(size());
    ui->lblLoginMessage->setVisible(false);
    setInputEnabled(true);
    ui->lblVersion->setText(tr("Versione ") + QStringLiteral(VERSIONAPP));

    connect(ui->btmOk, &QPushButton::clicked, this, &KvDialogLogin::onClickOK);
    connect(ui->btmAnnulla, &QPushButton::clicked, this, &KvDialogLogin::onClickAnnulla);
    connect(ui->btmHelp, &QPushButton::clicked, this, &KvDialogLogin::onClickHelp);

    ui->lblRecuperaPwd->installEventFilter(this);
    ui->lblSurvey->installEventFilter(this);
    ui->lblSettingProxy->installEventFilter(this);
}

KvDialogLogin::~KvDialogLogin()
{
    delete proxyDialog;
    delete ui;
}

void KvDialogLogin::showEvent(QShowEvent *event)
{
    cleanupRequested = false;

    // A fresh connection for every showing; the previous one goes once any
    // reply it still waits for has been dropped.
    if (conn) {
        conn->disconnect(this);
        conn->deleteLater();
    }
    conn = new KVWConn(cookieJar, false, this);

    ui->lblLoginMessage->setVisible(true);
    ui->lblLoginMessage->setText(QString());
    setInputEnabled(true);

    if (settings.getSetting(QStringLiteral("saveLogin")) == QLatin1String("1")) {
        ui->leUsername->setText(settings.getSetting(QStringLiteral("username")));
        ui->lePassword->setText(settings.getSetting(QStringLiteral("password")));
        ui->ckbSalvaCredenziali->setChecked(true);
    } else {
        ui->leUsername->setText(settings.getSetting(QStringLiteral("lastusername")));
        ui->lePassword->clear();
        ui->ckbSalvaCredenziali->setChecked(false);
    }
    QDialog::showEvent(event);
}

void KvDialogLogin::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Control)
        cleanupRequested = true;
    QDialog::keyPressEvent(event);
}

void KvDialogLogin::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Control)
        cleanupRequested = false;
    QDialog::keyReleaseEvent(event);
}

void KvDialogLogin::onClickOK()
{
    if (ui->leUsername->text().isEmpty()) {
        Prompts::critical(this, tr("Login"), tr("Username è un campo obbligatorio"));
        return;
    }
    if (ui->lePassword->text().isEmpty()) {
        Prompts::critical(this, tr("Login"), tr("Password è un campo obbligatorio"));
        return;
    }
    // The flag alone could outlive the key (a release delivered elsewhere); the
    // question is asked only while Control is really held with the click.
    if (cleanupRequested && (QGuiApplication::keyboardModifiers() & Qt::ControlModifier)) {
        if (Prompts::confirm(this, tr("Login"),
                             tr("Sei veramente sicuro di voler avviare la pulizia degli indici prima di effettuare il login?"))) {
            Database database;
            database.openDB();
            database.createDb();
            database.closeDB();
        }
    }
    showStatus(tr("Accesso in corso ..."), "color:black;");
    setInputEnabled(false);
    QCoreApplication::processEvents();

    connectLoginSignals();
    conn->login(ui->leUsername->text(), ui->lePassword->text(), true);
}

void KvDialogLogin::onLoginOK(QDomElement body)
{
    disconnectLoginSignals();
    conn->checkIfChangeUser(conn->savedUsername());
    // The connection applied the body before this slot ran; applying it again
    // restores the rows the user-change clean-up has just removed.
    conn->onSyncFolder(body);
    emit loginOK(ui->leUsername->text(), ui->lePassword->text(),
                 ui->ckbSalvaCredenziali->isChecked());
    accept();
}

void KvDialogLogin::onLoginKO()
{
    disconnectLoginSignals();
    showStatus(tr("Username o password errate"), "color:red;");
    setInputEnabled(true);
    emit loginKO(ui->leUsername->text());
}

void KvDialogLogin::onCommandFaillure(QString message, QString code)
{
    disconnectLoginSignals();
    const bool updateFailed = code == QLatin1String(CODE_UPDATE_KO);
    Prompts::critical(this, updateFailed ? tr("Aggiornamento software") : tr("Errore"), message);
    showStatus(updateFailed ? tr("Errore durante l'aggiornamento") : tr("Login fallito"),
               "color:red;");
    setInputEnabled(true);
}

void KvDialogLogin::onClickAnnulla()
{
    accept();
}

void KvDialogLogin::onClickHelp()
{
    openPage(URL_HELP);
}

bool KvDialogLogin::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonPress)
        return QDialog::eventFilter(watched, event);

    if (watched == ui->lblRecuperaPwd) {
        if (Prompts::confirm(this, tr("Tavrel Lite"),
                             tr("Scarica il modulo e segui le istruzioni contenute all'interno")))
            openPage(URL_RECOVERY_PASSWORD);
        return true;
    }
    if (watched == ui->lblSurvey) {
        openPage(URL_SURVEY);
        return true;
    }
    if (watched == ui->lblSettingProxy) {
        delete proxyDialog;
        proxyDialog = new ProxyDialog();
        proxyDialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(proxyDialog, &QDialog::finished, this, &KvDialogLogin::onCloseProxyDialog);
        proxyDialog->setModal(true);
        proxyDialog->show();
    }
    return QDialog::eventFilter(watched, event);
}

void KvDialogLogin::onCloseProxyDialog(int)
{
    conn->loadProxyConfig();
}

void KvDialogLogin::connectLoginSignals()
{
    connect(conn, &KVWConn::loginSuccessful, this, &KvDialogLogin::onLoginOK);
    connect(conn, &KVWConn::loginFailure, this, &KvDialogLogin::onLoginKO);
    connect(conn, &KVWConn::commandFailure, this, &KvDialogLogin::onCommandFaillure);
}

void KvDialogLogin::disconnectLoginSignals()
{
    disconnect(conn, &KVWConn::loginSuccessful, this, &KvDialogLogin::onLoginOK);
    disconnect(conn, &KVWConn::loginFailure, this, &KvDialogLogin::onLoginKO);
    disconnect(conn, &KVWConn::commandFailure, this, &KvDialogLogin::onCommandFaillure);
}

void KvDialogLogin::setInputEnabled(bool enabled)
{
    ui->leUsername->setEnabled(enabled);
    ui->lePassword->setEnabled(enabled);
    ui->btmOk->setEnabled(enabled);
    ui->btmAnnulla->setEnabled(enabled);
}

void KvDialogLogin::showStatus(const QString &text, const char *colour)
{
    ui->lblLoginMessage->setVisible(true);
    ui->lblLoginMessage->setStyleSheet(QLatin1String(colour));
    ui->lblLoginMessage->setText(text);
}

void KvDialogLogin::openPage(const char *path)
{
    QDesktopServices::openUrl(QUrl(settings.getSetting(QStringLiteral("url")) + QLatin1String(path)));
}
