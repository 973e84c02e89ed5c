// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "service/kvwconn.h"

#include "app/constants.h"
#include "browse/searchindex.h"
#include "service/catalogueapplier.h"
#include "service/replydocument.h"
#include "service/sessioncookiejar.h"
#include "service/xmltext.h"

#include <QAuthenticator>
#include <QDebug>
#include <QHttpMultiPart>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSqlQuery>
#include <QUrl>
#include <QXmlStreamReader>

#include <memory>

namespace {
const char *const kXmlContentType = "text/xml;charset=UTF-8";

// Opens the catalogue for one synchronisation: a larger page cache (the rows
// of a large account do not fit the default one), then the transaction.
void beginCatalogueWrite(Database &database)
{
    database.openDB();
    QSqlQuery(database.db).exec(QStringLiteral("PRAGMA cache_size = -65536"));
    database.db.transaction();
}

// Writes the catalogue elements of a reply to the catalogue while the reply is
// read; the transaction is opened when the body starts and committed only if
// the whole reply parses.
class ReplySink : public ReplyDocument::CatalogueSink
{
public:
    explicit ReplySink(Database &database)
        : m_database(database)
    {
    }
    ~ReplySink() override { finish(false); }

    void begin() override
    {
        if (m_applier) {
            m_applier.reset();
            m_database.db.rollback();
            m_database.db.transaction();
        } else {
            beginCatalogueWrite(m_database);
        }
        m_applier = std::make_unique<CatalogueApplier>(m_database.db);
        m_applier->begin();
    }

    void row(ReplyDocument::Row row, const QStringView *fields) override
    {
        m_applier->row(row, fields);
    }

    void finish(bool commit)
    {
        if (!m_applier)
            return;
        if (commit)
            m_applier->finish();
        m_applier.reset();
        if (commit)
            m_database.db.commit();
        else
            m_database.db.rollback();
        m_database.closeDB();
    }

private:
    Database &m_database;
    std::unique_ptr<CatalogueApplier> m_applier;
};
} // namespace

KVWConn::KVWConn(QNetworkCookieJar *cookieJar, bool downloadMode, QObject *parent)
    : QNetworkAccessManager(parent)
    , m_dialogUpdate(new DialogUpdate)
    , m_downloadMode(downloadMode)
{
    if (cookieJar) {
        // The jar is shared: installing it makes this manager its parent, so the
        // previous owner is given it back and destroying a connection never takes
        // the session cookies with it.
        QObject *owner = cookieJar->parent();
        setCookieJar(cookieJar);
        cookieJar->setParent(owner);
        m_session = qobject_cast<SessionCookieJar *>(cookieJar);
    }
    m_request.setUrl(QUrl(m_setting.getSetting(QStringLiteral("url")) + QStringLiteral("/kvshop/RestService")));
    wire();
    loadProxyConfig();
}

KVWConn::~KVWConn()
{
    // Replies finishing while the manager is torn down must not reach the handler.
    disconnect(this, &QNetworkAccessManager::finished, this, &KVWConn::onParseRequest);
}

void KVWConn::wire()
{
    if (m_wired)
        return;
    m_wired = true;
    connect(this, &QNetworkAccessManager::finished, this, &KVWConn::onParseRequest);
    connect(this, &KVWConn::loginSuccessful, this, &KVWConn::onSyncFolder);
    connect(this, &QNetworkAccessManager::proxyAuthenticationRequired, this,
            &KVWConn::onProxyAuthenticationRequired);
}

void KVWConn::supersede(QPointer<QNetworkReply> &reply)
{
    // Forget the reply before aborting it, so its completion is ignored as
    // superseded whether the network layer reports it now or later.
    if (!reply)
        return;
    QNetworkReply *old = reply;
    reply = nullptr;
    old->abort();
    old->deleteLater();
}

void KVWConn::setCredentials(const QString &username, const QString &password)
{
    m_savedUsername = username;
    m_savedPassword = password;
}

QString KVWConn::sessionUsername() const
{
    if (m_session && m_session->hasCredentials())
        return m_session->username();
    return m_savedUsername;
}

QString KVWConn::sessionPassword() const
{
    if (m_session && m_session->hasCredentials())
        return m_session->password();
    return m_savedPassword;
}

void KVWConn::postSession(QByteArray *data)
{
    if (!data)
        return;
    wire();
    ++m_attempts;
    supersede(m_currentReply);
    m_currentReply = post(m_request, *data);
    if (m_downloadMode)
        connect(m_currentReply.data(), &QNetworkReply::downloadProgress, this, &KVWConn::onProgressDownload);
}

void KVWConn::postSession(QHttpMultiPart *multiPart)
{
    if (!multiPart)
        return;
    wire();
    m_request.setHeader(QNetworkRequest::ContentTypeHeader,
                        QByteArray("multipart/form-data;boundary=") + multiPart->boundary());
    ++m_attempts;
    supersede(m_currentReply);
    QNetworkReply *reply = post(m_request, multiPart);
    multiPart->setParent(reply);
    m_currentReply = reply;
    connect(reply, &QNetworkReply::uploadProgress, this, &KVWConn::onProgressUpload);
}

void KVWConn::login(const QString &username, const QString &password, bool force)
{
    if (username.isEmpty() && password.isEmpty()) {
        emit loginFailure();
        return;
    }
    wire();
    m_pendingUsername = username;
    m_pendingPassword = password;
    const QString cursor = getCodeSync(username);
    // Every value is escaped as XML text; the six placeholders are filled in one pass.
    const QString xml = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>login</action>"
        "<username>%1</username><password>%2</password>%3<codesync>%4</codesync>"
        "<version>%5</version><platform>%6</platform></request>")
        .arg(xmlEscaped(username), xmlEscaped(password),
             force ? QStringLiteral("<forceLogin>1</forceLogin>") : QString(),
             xmlEscaped(cursor), QStringLiteral(VERSIONAPP), QStringLiteral("lin"));
    m_request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(kXmlContentType));
    supersede(m_loginReply);
    m_loginBytes = xml.toUtf8();
    m_loginReply = post(m_request, m_loginBytes);
}

void KVWConn::logout()
{
    m_savedUsername.clear();
    m_savedPassword.clear();
    m_pendingUsername.clear();
    m_pendingPassword.clear();
    // Every signal of this connection is cut, its own wiring included; requests
    // in flight are dropped. The next login or post through this connection
    // wires it again, so it then behaves as a new one on the same session.
    disconnect(this, nullptr, nullptr, nullptr);
    m_wired = false;
    supersede(m_currentReply);
    supersede(m_loginReply);
    // The dropped exchange no longer counts against the next session's re-login.
    m_attempts = 0;
    m_proxyAuthentications = 0;
    m_streamed = StreamedBody();
    m_appliedBody = QDomElement();
}

void KVWConn::syncCategorieFromServer()
{
    const QString cursor = getCodeSync(sessionUsername());
    const QString xml = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>syncfolder</action>"
        "<codesync>%1</codesync></request>").arg(xmlEscaped(cursor));
    m_request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(kXmlContentType));
    m_syncBytes = xml.toUtf8();
    postSession(&m_syncBytes);
}

QString KVWConn::getCodeSync(const QString &username)
{
    QString cursor;
    m_database.openDB();
    {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("SELECT max(tsupdate) FROM files WHERE token != '' AND username = ?"));
        query.addBindValue(username);
        if (query.exec() && query.next())
            cursor = query.value(0).toString();
    }
    m_database.closeDB();
    return cursor.isEmpty() ? QStringLiteral("0.0") : cursor;
}

void KVWConn::checkIfChangeUser(const QString &username)
{
    m_database.openDB();
    {
        QSqlQuery query(m_database.db);
        query.exec(QStringLiteral("SELECT username FROM files WHERE username!='' GROUP BY username"));
        bool otherUser = false;
        while (query.next()) {
            if (query.value(0).toString() != username) {
                otherUser = true;
                break;
            }
        }
        query.finish();
        if (otherUser) {
            // Emptying the tables row by row through the search index's
            // triggers would take far longer than building the empty index anew.
            m_database.db.transaction();
            const bool indexed = SearchIndex::isPresent(m_database.db);
            if (indexed)
                SearchIndex::drop(m_database.db);
            QSqlQuery cleanup(m_database.db);
            cleanup.exec(QStringLiteral("DELETE FROM files"));
            cleanup.exec(QStringLiteral("DELETE FROM metadati_values"));
            cleanup.exec(QStringLiteral("DELETE FROM buckets"));
            cleanup.exec(QStringLiteral("DELETE FROM policies"));
            if (indexed)
                SearchIndex::ensure(m_database.db);
            m_database.db.commit();
            // Rows of the body just read are gone: it must be written again.
            m_appliedBody = QDomElement();
        }
    }
    m_database.closeDB();
}

void KVWConn::loadProxyConfig()
{
    const QString host = m_setting.getSetting(QStringLiteral("proxyUrl"));
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    if (!host.isEmpty()) {
        bool ok = false;
        const uint port = m_setting.getSetting(QStringLiteral("proxyPort")).toUInt(&ok);
        proxy = QNetworkProxy(QNetworkProxy::HttpProxy, host, ok && port <= 65535 ? quint16(port) : 0);
    }
    setProxy(proxy);
}

void KVWConn::onProxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    Q_UNUSED(proxy);
    ++m_proxyAuthentications;
    if (m_proxyAuthentications > 2) {
        // Left unfilled, the authenticator makes the request fail.
        emit commandFailure(QStringLiteral("Username o password del proxy errate"),
                            QStringLiteral(CODE_ERROR_NETWORK));
        return;
    }
    authenticator->setUser(m_setting.getSetting(QStringLiteral("proxyUsername")));
    authenticator->setPassword(m_setting.getSetting(QStringLiteral("proxyPassword")));
}

void KVWConn::onProgressUpload(qint64 sent, qint64 total)
{
    emit avanzamentoUpload(sent, total);
}

void KVWConn::onProgressDownload(qint64 received, qint64 total)
{
    if (received > 512)
        emit avanzamentoDownload(received, total);
}

void KVWConn::onUpdateFailure(QString message)
{
    disconnect(m_dialogUpdate.get(), &DialogUpdate::updateFailure, this, &KVWConn::onUpdateFailure);
    emit commandFailure(message, QStringLiteral(CODE_UPDATE_KO));
}

void KVWConn::relogin()
{
    login(sessionUsername(), sessionPassword(), false);
}

void KVWConn::onParseRequest(QNetworkReply *reply)
{
    const int proxyAuthentications = m_proxyAuthentications;
    m_proxyAuthentications = 0;
    if (!reply || (reply != m_currentReply && reply != m_loginReply)) {
        qDebug() << "WARNING *** spurious signal received";
        if (reply)
            reply->deleteLater();
        return;
    }
    // The network layer stops asking once the credentials it was given have been
    // refused, before a third request: a refusal after the stored credentials
    // were given is that same failure.
    if (reply->error() == QNetworkReply::ProxyAuthenticationRequiredError && proxyAuthentications >= 1
        && proxyAuthentications <= 2) {
        emit commandFailure(QStringLiteral("Username o password del proxy errate"),
                            QStringLiteral(CODE_ERROR_NETWORK));
    }
    const int httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!m_downloadMode)
        parseXmlReply(reply, httpStatus);
    else
        parseDownloadReply(reply, httpStatus);
}

void KVWConn::parseXmlReply(QNetworkReply *reply, int httpStatus)
{
    const QByteArray bytes = reply->readAll();
    ReplySink sink(m_database);
    const ReplyDocument doc = ReplyDocument::parse(bytes, httpStatus == 200, &sink);
    sink.finish(doc.isValid());
    const QString status = doc.statusNumber();
    const QDomElement body = doc.body();

    // Handled: forget the reply before any signal, so a handler may post again.
    disconnect(reply, &QNetworkReply::uploadProgress, this, &KVWConn::onProgressUpload);
    if (m_currentReply == reply)
        m_currentReply = nullptr;
    if (m_loginReply == reply)
        m_loginReply = nullptr;
    reply->deleteLater();

    m_streamed = StreamedBody();
    if (doc.isLight())
        m_streamed = StreamedBody{body, bytes};
    // Already in the catalogue: the onSyncFolder() below, or the one connected
    // to loginSuccessful(), only announces it.
    m_appliedBody = doc.isValid() && doc.fedSink() ? body : QDomElement();

    if (httpStatus == 200) {
        if (status == QLatin1String(CODE_LOGIN_OK)) {
            m_attempts = 0;
            m_savedUsername = m_pendingUsername;
            m_savedPassword = m_pendingPassword;
            emit loginSuccessful(body);
            m_appliedBody = QDomElement();
            emit retry();
        } else if (status == QLatin1String(CODE_SYNC_FOLDER_OK)) {
            onSyncFolder(body);
            m_appliedBody = QDomElement();
            m_attempts = 0;
            emit commandSuccessful(body, status);
        } else {
            m_attempts = 0;
            emit commandSuccessful(body, status);
        }
    } else if (httpStatus == 500) {
        if (status == QLatin1String(CODE_TO_UPDATE)) {
            m_dialogUpdate->setModal(true);
            m_dialogUpdate->setMessaggio(doc.statusDescription());
            m_dialogUpdate->show();
            connect(m_dialogUpdate.get(), &DialogUpdate::updateFailure, this, &KVWConn::onUpdateFailure,
                    Qt::UniqueConnection);
        } else if (status == QLatin1String(CODE_LOGIN_KO)) {
            emit loginFailure();
        } else if (status == QLatin1String(CODE_SESSION_TIMEOUT)) {
            if (m_attempts <= 1) {
                relogin();
            } else {
                m_attempts = 0;
                emit commandFailure(doc.statusDescription(), status);
            }
        } else if (status == QLatin1String(CODE_VALIDATION_KO)) {
            m_attempts = 0;
            emit commandFailure(doc.validationText(), status);
        } else {
            m_attempts = 0;
            emit commandFailure(doc.statusDescription(), status);
        }
    } else {
        emit commandFailure(reply->errorString(), QStringLiteral(CODE_ERROR_NETWORK));
    }
}

void KVWConn::parseDownloadReply(QNetworkReply *reply, int httpStatus)
{
    disconnect(reply, &QNetworkReply::downloadProgress, this, &KVWConn::onProgressDownload);
    if (m_loginReply == reply)
        m_loginReply = nullptr;
    if (httpStatus == 500) {
        const ReplyDocument doc = ReplyDocument::parse(reply->readAll(), false);
        const QString status = doc.statusNumber();
        if (status == QLatin1String(CODE_SESSION_TIMEOUT)) {
            if (m_attempts <= 1) {
                m_downloadMode = false;
                relogin();
            } else {
                m_attempts = 0;
                emit commandFailure(doc.statusDescription(), status);
            }
        } else {
            // A refusal ends the exchange, as it does for an XML request.
            m_attempts = 0;
            emit commandFailure(doc.statusDescription(), status);
        }
    } else {
        // A file that arrived ends the exchange like any successful reply, so a
        // later time-out can still be repaired by signing in again.
        if (httpStatus == 200)
            m_attempts = 0;
        // Handed over unread; the receiver reads the file and checks its error.
        // The reply stays current until the next post replaces (and releases) it.
        emit downloadFinish(reply);
    }
}

void KVWConn::onSyncFolder(QDomElement body)
{
    if (!body.isNull() && body == m_appliedBody) {
        m_appliedBody = QDomElement();
        emit syncCategorieOK();
        return;
    }
    m_appliedBody = QDomElement();
    const bool streamed = !body.isNull() && !m_streamed.raw.isEmpty() && body == m_streamed.body;
    beginCatalogueWrite(m_database);
    {
        CatalogueApplier applier(m_database.db);
        if (streamed) {
            // The rows left out of the DOM are read again from the reply.
            ReplyDocument::parse(m_streamed.raw, true, &applier);
        } else {
            applier.clearReplacedTables();
            applier.applyDefinitions(body);
            applier.applyFiles(body);
            applier.applyValues(body);
        }
        applier.finish();
    }
    m_database.db.commit();
    m_database.closeDB();
    emit syncCategorieOK();
}
