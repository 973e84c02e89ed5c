// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "restendpoint.h"

#include "servicecontext.h"
#include "servicerequest.h"

namespace {

// Keeps a request document of at most MaxXmlBody bytes. A longer one is read
// to its end, so that the reply reaches the client, but not kept; one far
// beyond any request drops the connection.
class XmlBody : public BodySink
{
public:
    bool data(const char *bytes, size_t size) override
    {
        m_received += qint64(size);
        if (m_received > 16 * RestEndpoint::MaxXmlBody)
            return false;
        if (m_received > RestEndpoint::MaxXmlBody) {
            m_xml.clear();
            return true;
        }
        m_xml.append(bytes, qsizetype(size));
        return true;
    }
    bool oversized() const { return m_received > RestEndpoint::MaxXmlBody; }
    const QByteArray &xml() const { return m_xml; }

private:
    QByteArray m_xml;
    qint64 m_received = 0;
};

ServiceReply malformed(const QString &why)
{
    return ServiceReply::failure(QString::fromLatin1(Status::ActionNoExist), why);
}

} // namespace

RestEndpoint::RestEndpoint(ServiceContext &context)
    : m_context(context)
    , m_catalogue(context.store)
    , m_account(context, m_catalogue)
    , m_conserve(context)
    , m_retrieve(context)
    , m_upload(context)
{
    using Session = Sessions::Session;
    const auto xml = [](auto reply) {
        return [reply](const Session &s, const ServiceRequest &r) { return reply(s, r).toHttp(); };
    };
    m_actions = {
        {QStringLiteral("syncfolder"), xml([this](const Session &s, const ServiceRequest &r) {
             return m_catalogue.syncfolder(s, r);
         })},
        {QStringLiteral("savevaluemetadati"), xml([this](const Session &s, const ServiceRequest &r) {
             return m_conserve.conserve(s, r, false);
         })},
        {QStringLiteral("sostituiscivaluemetadati"), xml([this](const Session &s, const ServiceRequest &r) {
             return m_conserve.conserve(s, r, true);
         })},
        {QStringLiteral("ripristina"), [this](const Session &s, const ServiceRequest &r) { return m_retrieve.restore(s, r); }},
        {QStringLiteral("getexhibitorconfig"), xml([this](const Session &s, const ServiceRequest &r) {
             return m_retrieve.exhibitorConfig(s, r);
         })},
        {QStringLiteral("history"), xml([this](const Session &s, const ServiceRequest &r) {
             return m_retrieve.history(s, r);
         })},
        {QStringLiteral("changePWD"), xml([this](const Session &s, const ServiceRequest &r) {
             return m_account.changePassword(s, r);
         })},
    };
    // An upload posted as a plain document instead of a two-part form.
    for (const QString &upload : {QStringLiteral("uploadfile"), QStringLiteral("sostituiscifile")}) {
        m_actions.insert(upload, [](const Session &, const ServiceRequest &) {
            return ServiceReply::failure(QString::fromLatin1(Status::UploadKo),
                                         QStringLiteral("Il caricamento richiede un invio multipart con la parte \"xml\" "
                                                        "e il file"))
                .toHttp();
        });
    }
}

bool RestEndpoint::isUpload(const HttpRequest &request)
{
    return request.header("Content-Type").startsWith("multipart/form-data");
}

std::unique_ptr<BodySink> RestEndpoint::prepare(const HttpRequest &request)
{
    if (isUpload(request))
        return m_upload.prepare(request);
    return std::make_unique<XmlBody>();
}

HttpResponse RestEndpoint::respond(const HttpRequest &request, BodySink *body)
{
    if (isUpload(request)) {
        UploadReceiver *upload = dynamic_cast<UploadReceiver *>(body);
        m_context.hooks.applyDelay();
        return m_upload.finish(upload).toHttp();
    }
    m_context.hooks.applyDelay();
    const XmlBody *xml = dynamic_cast<const XmlBody *>(body);
    if (xml && xml->oversized())
        return malformed(QStringLiteral("Richiesta troppo grande: il limite è di %1 MiB").arg(MaxXmlBody >> 20)).toHttp();
    ServiceRequest parsed;
    QString error;
    if (!parsed.parse(xml ? xml->xml() : QByteArray(), &error))
        return malformed(error).toHttp();
    return answer(parsed, request);
}

HttpResponse RestEndpoint::answer(const ServiceRequest &request, const HttpRequest &http)
{
    const QString action = request.action();
    const auto found = m_actions.constFind(action);
    if (found == m_actions.constEnd() && action != QLatin1String("login"))
        return malformed(QStringLiteral("Azione sconosciuta: \"%1\"").arg(action.left(100))).toHttp();
    if (std::optional<ServiceReply> hooked = m_context.hooks.takeFailNext(action))
        return hooked->toHttp();
    if (action == QLatin1String("login"))
        return m_account.login(request);
    const std::optional<Sessions::Session> session = m_context.session(http);
    if (!session)
        return ServiceReply::sessionExpired().toHttp();
    if (std::optional<ServiceReply> demand = m_context.updateDemand(session->version))
        return demand->toHttp();
    return found.value()(*session, request);
}
