// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "servicereply.h"

#include <QXmlStreamWriter>

ServiceReply ServiceReply::success(const QString &status, const QString &description, BodyWriter body)
{
    ServiceReply reply;
    reply.m_success = true;
    reply.m_status = status;
    reply.m_description = description;
    reply.m_body = std::move(body);
    return reply;
}

ServiceReply ServiceReply::failure(const QString &status, const QString &description, BodyWriter body)
{
    ServiceReply reply = success(status, description, std::move(body));
    reply.m_success = false;
    return reply;
}

ServiceReply ServiceReply::sessionExpired()
{
    return failure(QString::fromLatin1(Status::SessionTimeout),
                   QStringLiteral("La sessione è scaduta o non è valida: effettua di nuovo l'accesso"));
}

QByteArray ServiceReply::toXml() const
{
    QByteArray out;
    QXmlStreamWriter writer(&out);
    writer.setAutoFormatting(false);
    writer.writeStartDocument(QStringLiteral("1.0"));
    writer.writeStartElement(QStringLiteral("response"));
    writer.writeTextElement(QStringLiteral("statusnumber"), m_status);
    writer.writeStartElement(QStringLiteral("body"));
    writer.writeTextElement(QStringLiteral("statusdescription"), m_description);
    if (m_body)
        m_body(writer);
    writer.writeEndElement(); // body
    writer.writeEndElement(); // response
    writer.writeEndDocument();
    return out;
}

HttpResponse ServiceReply::toHttp() const
{
    HttpResponse r;
    r.status = httpStatus();
    r.contentType = "text/xml; charset=utf-8";
    r.body = toXml();
    r.serviceStatus = m_status.toLatin1();
    return r;
}
