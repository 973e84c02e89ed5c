// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef KVWCONN_H
#define KVWCONN_H

#include "service/dialogupdate.h"
#include "store/database.h"
#include "store/setting.h"

#include <QByteArray>
#include <QDomDocument>
#include <QDomElement>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>

class QAuthenticator;
class QHttpMultiPart;
class QNetworkCookieJar;
class SessionCookieJar;

// One window's channel to the service. Requests are XML documents (or
// multipart uploads) posted to <url>/kvshop/RestService; each reply is
// classified into the signals below. An expired session is repaired by signing
// in again and emitting retry(), after which the window sends its request anew.
//
// Connections share one cookie jar, owned by the main window, which carries the
// service session. When that jar is a SessionCookieJar holding the signed-in
// user's credentials, every connection built on it signs in again with them and
// uses that user's synchronisation cursor, even when it never logged in itself.
class KVWConn : public QNetworkAccessManager
{
    Q_OBJECT
public:
    explicit KVWConn(QNetworkCookieJar *cookieJar, bool downloadMode = false,
                     QObject *parent = nullptr);
    ~KVWConn() override;

    QNetworkRequest &request() { return m_request; }
    void setDownloadMode(bool downloadMode) { m_downloadMode = downloadMode; }
    bool downloadMode() const { return m_downloadMode; }

    // Posts `data` (nothing happens for a null pointer). A new post supersedes
    // the request in flight, whose reply is then ignored.
    void postSession(QByteArray *data);
    // Posts a multipart form, which becomes owned by the reply.
    void postSession(QHttpMultiPart *multiPart);

    void login(const QString &username, const QString &password, bool force);
    void logout();
    void syncCategorieFromServer();
    QString getCodeSync(const QString &username);
    void checkIfChangeUser(const QString &username);
    void loadProxyConfig();

    // Credentials this connection signs in again with (the main window sets them
    // on its own connection after every login).
    void setCredentials(const QString &username, const QString &password);
    QString savedUsername() const { return m_savedUsername; }
    QString savedPassword() const { return m_savedPassword; }
    // The credentials used for an automatic re-login and for the cursor: those of
    // the shared session when it carries some, else this connection's own.
    QString sessionUsername() const;
    QString sessionPassword() const;

    int attemptCounter() const { return m_attempts; }
    // The reply of the request in flight (null when none). In download mode a
    // reply handed over by downloadFinish() stays valid until the next post.
    QNetworkReply *currentReply() const { return m_currentReply; }
    DialogUpdate *updateDialog() const { return m_dialogUpdate.get(); }

signals:
    // The body of a login ("1") or synchronisation ("5") reply is already in the
    // catalogue when these signals are emitted; when the reply announces its
    // status before its body, the body element handed over leaves out the
    // "file" and "metadatoValue" elements (read them from the catalogue).
    void loginSuccessful(QDomElement body);
    void loginFailure();
    void commandSuccessful(QDomElement body, QString statusNumber);
    void commandFailure(QString message, QString statusNumber);
    void syncCategorieOK();
    void avanzamentoUpload(qint64 sent, qint64 total);
    void retry();
    void downloadFinish(QNetworkReply *reply);
    void avanzamentoDownload(qint64 received, qint64 total);

public slots:
    void onSyncFolder(QDomElement body);

private slots:
    void onParseRequest(QNetworkReply *reply);
    void onProgressUpload(qint64 sent, qint64 total);
    void onProgressDownload(qint64 received, qint64 total);
    void onUpdateFailure(QString message);
    void onProxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

private:
    void wire();
    void supersede(QPointer<QNetworkReply> &reply);
    void parseXmlReply(QNetworkReply *reply, int httpStatus);
    void parseDownloadReply(QNetworkReply *reply, int httpStatus);
    void relogin();

    std::unique_ptr<DialogUpdate> m_dialogUpdate;
    QPointer<QNetworkReply> m_currentReply;
    QPointer<QNetworkReply> m_loginReply;
    QString m_savedUsername;
    QString m_savedPassword;
    QNetworkRequest m_request;
    int m_attempts = 0;
    Setting m_setting;
    Database m_database;
    bool m_downloadMode;
    QString m_pendingUsername;
    QString m_pendingPassword;
    int m_proxyAuthentications = 0;

    QPointer<SessionCookieJar> m_session;
    QByteArray m_loginBytes;
    QByteArray m_syncBytes;
    bool m_wired = false;

    // The last catalogue reply whose "file" and "metadatoValue" elements were
    // left out of its DOM: its body element and the bytes to read them from
    // when the body is applied again.
    struct StreamedBody {
        QDomElement body;
        QByteArray raw;
    } m_streamed;
    // A body the reply handler has just written to the catalogue while reading
    // it; the first onSyncFolder() for it only announces it.
    QDomElement m_appliedBody;
};

#endif // KVWCONN_H
