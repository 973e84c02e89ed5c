// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CHANGEPWDDIALOG_H
#define CHANGEPWDDIALOG_H

#include "store/setting.h"

#include <QByteArray>
#include <QDialog>
#include <QDomElement>
#include <QMovie>
#include <QString>
#include <memory>

class KVWConn;
class QNetworkCookieJar;
namespace Ui {
class ChangePwdDialog;
}

// Changes the signed-in user's password on the service ("changePWD"). The
// client only checks that the fields are filled and that the new password was
// typed twice alike; the password rules shown in the window are the service's
// to enforce, and its refusal is shown as it comes.
class ChangePwdDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ChangePwdDialog(QNetworkCookieJar *jar, QWidget *parent = nullptr);
    ~ChangePwdDialog() override;

    // The "changePWD" request for the three values, each escaped as XML text.
    static QString buildRequest(const QString &newPassword, const QString &confirmation,
                                const QString &oldPassword);

    KVWConn *connection() const { return m_conn.get(); }

    void save();

private slots:
    void onClickSave();
    void onSaveOK(const QDomElement &reply, const QString &statusNumber);
    void onSaveKO(const QString &description, const QString &statusNumber);
    void onRetrySave();

private:
    void subscribe();
    void unsubscribe();
    void setBusy(bool busy);

    std::unique_ptr<Ui::ChangePwdDialog> ui;
    QNetworkCookieJar *m_jar;
    std::unique_ptr<KVWConn> m_conn;
    Setting m_setting;
    QByteArray m_request;
    QString m_sentPassword; // the new password of the request in flight
    QMovie m_loading;
};

#endif // CHANGEPWDDIALOG_H
