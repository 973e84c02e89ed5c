// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "admin/changepwddialog.h"

#include "app/constants.h"
#include "app/prompts.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "service/xmltext.h"
#include "ui_changepwddialog.h"

#include <QNetworkRequest>

ChangePwdDialog::ChangePwdDialog(QNetworkCookieJar *jar, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ChangePwdDialog>())
    , m_jar(jar)
    , m_conn(std::make_unique<KVWConn>(jar))
    , m_loading(QStringLiteral(":/images/loading.gif"))
{
    ui->setupUi(this);
    setFixedSize(size());
    setWindowTitle(tr("Cambio password"));
    ui->lblLoading->setMovie(&m_loading);
    ui->lblLoading->hide();

    connect(ui->btmSalva, &QPushButton::clicked, this, &ChangePwdDialog::onClickSave);
    connect(ui->btmAnnulla, &QPushButton::clicked, this, &QDialog::accept);
}

ChangePwdDialog::~ChangePwdDialog() = default;

QString ChangePwdDialog::buildRequest(const QString &newPassword, const QString &confirmation,
                                      const QString &oldPassword)
{
    // One pass over the template: a "%1" typed inside a password stays as typed.
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>changePWD</action>"
                          "<newpwd>%1</newpwd><confirmpwd>%2</confirmpwd><oldpwd>%3</oldpwd></request>")
        .arg(xmlEscaped(newPassword), xmlEscaped(confirmation), xmlEscaped(oldPassword));
}

void ChangePwdDialog::onClickSave()
{
    const QString title = tr("Cambio Password");
    if (ui->txtOldPassword->text().isEmpty()) {
        Prompts::critical(this, title, tr("Devi inserire la vecchia password"));
        return;
    }
    if (ui->txtNewPwd->text().isEmpty()) {
        Prompts::critical(this, title, tr("Devi inserire la nuova password"));
        return;
    }
    if (ui->txtNewPwd->text() != ui->txtConfirmPwd->text()) {
        Prompts::critical(this, title, tr("Le password non corrispondono"));
        return;
    }

    subscribe();
    setBusy(true);
    save();
}

void ChangePwdDialog::save()
{
    m_sentPassword = ui->txtNewPwd->text();
    m_request = buildRequest(m_sentPassword, ui->txtConfirmPwd->text(), ui->txtOldPassword->text()).toUtf8();
    m_conn->setDownloadMode(false);
    m_conn->request().setHeader(QNetworkRequest::ContentTypeHeader,
                                QStringLiteral("text/xml;charset=UTF-8"));
    m_conn->postSession(&m_request);
}

void ChangePwdDialog::onRetrySave()
{
    save();
}

void ChangePwdDialog::onSaveOK(const QDomElement &reply, const QString &statusNumber)
{
    Q_UNUSED(reply)
    unsubscribe();
    if (statusNumber != QLatin1String(CODE_CHANGEPWD_OK)) {
        // Not an answer to this request: nothing changed, and the window must
        // not stay busy for a reply that will never come.
        setBusy(false);
        return;
    }

    // Record the new password before the message box runs its own event loop:
    // any connection that has to sign in again from now on needs it.
    if (m_setting.getSetting(QStringLiteral("saveLogin")) == QLatin1String("1"))
        m_setting.saveSetting(QStringLiteral("password"), m_sentPassword);
    if (auto *session = qobject_cast<SessionCookieJar *>(m_jar); session && session->hasCredentials())
        session->setCredentials(session->username(), m_sentPassword);

    Prompts::information(this, tr("Modifica password"), tr("Password modificata"));
    setBusy(false);
    accept();
}

void ChangePwdDialog::onSaveKO(const QString &description, const QString &statusNumber)
{
    // The exchange is over whatever the failure: the next "Salva" subscribes anew.
    unsubscribe();
    if (statusNumber == QLatin1String(CODE_CHANGEPWD_KO))
        Prompts::critical(this, tr("Modifica password"), description);
    setBusy(false);
}

void ChangePwdDialog::subscribe()
{
    connect(m_conn.get(), &KVWConn::commandSuccessful, this, &ChangePwdDialog::onSaveOK,
            Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::commandFailure, this, &ChangePwdDialog::onSaveKO,
            Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::retry, this, &ChangePwdDialog::onRetrySave, Qt::UniqueConnection);
}

void ChangePwdDialog::unsubscribe()
{
    disconnect(m_conn.get(), &KVWConn::commandSuccessful, this, &ChangePwdDialog::onSaveOK);
    disconnect(m_conn.get(), &KVWConn::commandFailure, this, &ChangePwdDialog::onSaveKO);
    disconnect(m_conn.get(), &KVWConn::retry, this, &ChangePwdDialog::onRetrySave);
}

void ChangePwdDialog::setBusy(bool busy)
{
    ui->lblLoading->setVisible(busy);
    if (busy)
        m_loading.start();
    else
        m_loading.stop();
    ui->btmSalva->setEnabled(!busy);
    ui->btmAnnulla->setEnabled(!busy);
}
