// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/conserverequest.h"

#include <QDomDocument>
#include <QHttpMultiPart>
#include <QIODevice>
#include <QNetworkRequest>

namespace {

QDomElement start(QDomDocument &doc, const QString &action)
{
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                    QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement request = doc.createElement(QStringLiteral("request"));
    doc.appendChild(request);
    QDomElement actionElement = doc.createElement(QStringLiteral("action"));
    actionElement.appendChild(doc.createTextNode(action));
    request.appendChild(actionElement);
    return request;
}

void addText(QDomDocument &doc, QDomElement &parent, const QString &name, const QString &text)
{
    QDomElement element = doc.createElement(name);
    element.appendChild(doc.createTextNode(text));
    parent.appendChild(element);
}

} // namespace

QByteArray ConserveRequest::uploadXml(bool rectification, int classId, const QDateTime &lastModified,
                                      const QString &hash, const QString &previousHash)
{
    QDomDocument doc;
    QDomElement request = start(doc, rectification ? QStringLiteral("sostituiscifile") : QStringLiteral("uploadfile"));
    addText(doc, request, QStringLiteral("idfolder"), QString::number(classId));
    addText(doc, request, QStringLiteral("last_modified"),
            lastModified.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));
    addText(doc, request, QStringLiteral("hashfile"), hash);
    if (rectification)
        addText(doc, request, QStringLiteral("hash"), previousHash);
    return doc.toByteArray(1);
}

QByteArray ConserveRequest::conserveXml(bool rectification, const QString &hash, const QString &previousHash,
                                        int classId, const QString &computerName,
                                        const QMap<QString, QString> &values)
{
    QDomDocument doc;
    QDomElement request = start(doc, rectification ? QStringLiteral("sostituiscivaluemetadati")
                                                   : QStringLiteral("savevaluemetadati"));
    addText(doc, request, QStringLiteral("hash"), hash);
    if (rectification)
        addText(doc, request, QStringLiteral("hashprecedente"), previousHash);
    addText(doc, request, QStringLiteral("folderid"), QString::number(classId));
    addText(doc, request, QStringLiteral("computername"), computerName);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QDomElement value = doc.createElement(QStringLiteral("metadato"));
        value.setAttribute(QStringLiteral("key"), it.key());
        value.setAttribute(QStringLiteral("value"), it.value());
        request.appendChild(value);
    }
    return doc.toByteArray(1);
}

QByteArray ConserveRequest::fileDisposition(const QString &path)
{
    return QByteArray("form-data; name=\"") + path.toUtf8() + QByteArray("\"");
}

QHttpMultiPart *ConserveRequest::multipart(const QByteArray &xml, const QString &path, QIODevice *file)
{
    auto *body = new QHttpMultiPart(QHttpMultiPart::FormDataType);

    QHttpPart xmlPart;
    xmlPart.setRawHeader("Content-Type", "text/xml;charset=UTF-8");
    xmlPart.setRawHeader("Content-Disposition", "form-data; name=\"xml\"");
    xmlPart.setBody(xml);

    QHttpPart filePart;
    filePart.setRawHeader("Content-Type", "application/octet-stream");
    filePart.setRawHeader("Content-Disposition", fileDisposition(path));
    filePart.setBodyDevice(file);
    if (file)
        file->setParent(body);

    body->append(xmlPart);
    body->append(filePart);
    return body;
}
