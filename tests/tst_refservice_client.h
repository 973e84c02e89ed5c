// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef TST_REFSERVICE_CLIENT_H
#define TST_REFSERVICE_CLIENT_H

// A small synchronous HTTP client for the reference service tests: posts the
// same XML documents and two-part uploads the desktop client posts, on one
// cookie jar, and decodes the reply envelope.

#include <QCryptographicHash>
#include <QDomDocument>
#include <QEventLoop>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

using RestFields = QList<QPair<QString, QString>>;

struct RestReply
{
    int http = 0;
    QByteArray raw;
    QString status;
    QString description;
    QDomDocument doc;
    QDomElement body;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    QString outcome() const { return QString::number(http) + QLatin1Char('/') + status; } // e.g. "500/19"
    QString token() const { return body.firstChildElement("token").text(); }
    QList<QDomElement> all(const QString &tag) const
    {
        QList<QDomElement> out;
        const QDomNodeList list = doc.elementsByTagName(tag);
        for (int i = 0; i < list.size(); ++i)
            out.append(list.at(i).toElement());
        return out;
    }
    // The elements `tag` whose attribute `name` is `value`.
    QList<QDomElement> where(const QString &tag, const QString &name, const QString &value) const
    {
        QList<QDomElement> out = all(tag);
        out.removeIf([&](const QDomElement &e) { return e.attribute(name) != value; });
        return out;
    }
};

inline QString sha1Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}

class ServiceClient
{
public:
    explicit ServiceClient(const QString &baseUrl)
        : m_base(baseUrl)
    {
        m_nam.setCookieJar(new QNetworkCookieJar(&m_nam));
    }

    void setBase(const QString &baseUrl) { m_base = baseUrl; }
    // For a service run with a throw-away self-signed certificate.
    void acceptAnyCertificate() { m_acceptAnyCertificate = true; }

    RestReply post(const QByteArray &xml) { return wait(postAsync(xml)); }

    // Starts a post without waiting; finish() waits for it.
    QNetworkReply *postAsync(const QByteArray &xml)
    {
        QNetworkRequest request(QUrl(m_base + "/kvshop/RestService"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "text/xml;charset=UTF-8");
        return m_nam.post(request, xml);
    }
    RestReply finish(QNetworkReply *reply) { return wait(reply); }

    // <request><action>A</action><k>v</k>...<metadato key=.. value=../>...</request>, values escaped.
    static QByteArray requestXml(const QString &name, const RestFields &fields, const RestFields &indexValues = {})
    {
        QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>" + name + "</action>";
        for (const auto &f : fields)
            xml += QStringLiteral("<%1>%2</%1>").arg(f.first, f.second.toHtmlEscaped());
        for (const auto &v : indexValues)
            xml += QStringLiteral("<metadato key=\"%1\" value=\"%2\"/>")
                       .arg(v.first.toHtmlEscaped(), v.second.toHtmlEscaped());
        return (xml + "</request>").toUtf8();
    }

    RestReply action(const QString &name, const RestFields &fields = {}, const RestFields &indexValues = {})
    {
        return post(requestXml(name, fields, indexValues));
    }

    RestReply login(const QString &user, const QString &password, const QString &cursor = "0.0",
                    const QString &version = "1.2.1")
    {
        return action("login", {{"username", user}, {"password", password}, {"codesync", cursor},
                                {"version", version}, {"platform", "lin"}});
    }

    RestReply sync(const QString &cursor) { return action("syncfolder", {{"codesync", cursor}}); }

    // "history" or "ripristina" of the version `hash` in class `folder`.
    RestReply onVersion(const QString &actionName, const QString &hash, int folder)
    {
        return action(actionName, {{"hash", hash}, {"folderid", QString::number(folder)}});
    }

    // Conserves the pending upload `hash` with `values`; with `previous`, as the
    // rectification of that version.
    RestReply conserve(const QString &hash, int folder, const RestFields &values, const QString &previous = QString())
    {
        RestFields fields = {{"hash", hash}};
        if (!previous.isEmpty())
            fields.append({"hashprecedente", previous});
        fields += RestFields{{"folderid", QString::number(folder)}, {"computername", "postazione-test"}};
        return action(previous.isEmpty() ? "savevaluemetadati" : "sostituiscivaluemetadati", fields, values);
    }

    // The two parts of an upload ("sostituiscifile" when `previousHash` is given):
    // part "xml", then the file part named with the full path.
    static QHttpMultiPart *uploadParts(int folder, const QByteArray &content, const QString &path,
                                       const QString &previousHash = QString(), const QString &declaredHash = QString())
    {
        RestFields fields = {{"idfolder", QString::number(folder)},
                             {"last_modified", "06/12/2026 10:11:12"},
                             {"hashfile", declaredHash.isEmpty() ? sha1Hex(content) : declaredHash}};
        if (!previousHash.isEmpty())
            fields.append({"hash", previousHash});
        auto *multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart xmlPart, filePart;
        xmlPart.setHeader(QNetworkRequest::ContentTypeHeader, "text/xml;charset=UTF-8");
        xmlPart.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"xml\"");
        xmlPart.setBody(requestXml(previousHash.isEmpty() ? "uploadfile" : "sostituiscifile", fields));
        filePart.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
        filePart.setRawHeader("Content-Disposition", "form-data; name=\"" + path.toUtf8() + "\"");
        filePart.setBody(content);
        multi->append(xmlPart);
        multi->append(filePart);
        return multi;
    }

    RestReply upload(int folder, const QByteArray &content, const QString &path, const QString &previousHash = QString(),
                     const QString &declaredHash = QString())
    {
        QHttpMultiPart *multi = uploadParts(folder, content, path, previousHash, declaredHash);
        QNetworkRequest request(QUrl(m_base + "/kvshop/RestService"));
        request.setRawHeader("Content-Type", "multipart/form-data;boundary=" + multi->boundary());
        QNetworkReply *reply = m_nam.post(request, multi);
        multi->setParent(reply);
        return wait(reply);
    }

    RestReply get(const QString &pathAndQuery) { return wait(m_nam.get(QNetworkRequest(QUrl(m_base + pathAndQuery)))); }

private:
    RestReply wait(QNetworkReply *reply)
    {
        QEventLoop loop;
        if (m_acceptAnyCertificate)
            QObject::connect(reply, &QNetworkReply::sslErrors, reply, [reply] { reply->ignoreSslErrors(); });
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        RestReply r;
        r.http = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r.raw = reply->readAll();
        for (const auto &pair : reply->rawHeaderPairs())
            r.headers.insert(pair.first.toLower(), pair.second);
        if (r.doc.setContent(r.raw)) {
            r.status = r.doc.elementsByTagName("statusnumber").at(0).toElement().text();
            r.body = r.doc.elementsByTagName("body").at(0).toElement();
            r.description = r.body.elementsByTagName("statusdescription").at(0).toElement().text();
        }
        reply->deleteLater();
        return r;
    }

    QString m_base;
    QNetworkAccessManager m_nam;
    bool m_acceptAnyCertificate = false;
};

#endif // TST_REFSERVICE_CLIENT_H
