// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "retrieveactions.h"

#include "servicecontext.h"
#include "servicerequest.h"

#include <QFileInfo>
#include <QXmlStreamWriter>

#include <memory>

RetrieveActions::RetrieveActions(ServiceContext &context)
    : m_context(context)
{
}

QString RetrieveActions::downloadName(const RefStore::FileVersion &version)
{
    QString path = version.filename;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QFileInfo(path).fileName();
}

std::optional<RefStore::FileVersion> RetrieveActions::requested(const Sessions::Session &session,
                                                                const ServiceRequest &request, QString *why)
{
    const QString hash = request.hashField(QStringLiteral("hash"));
    int folderId = 0;
    if (!BlobStore::isSha1(hash) || !request.numberField(QStringLiteral("folderid"), &folderId)) {
        *why = QStringLiteral("Campi \"hash\" e \"folderid\" mancanti o non validi");
        return std::nullopt;
    }
    std::optional<RefStore::FileVersion> version = m_context.store.anyVersion(session.username, hash, folderId);
    if (!version)
        *why = QStringLiteral("Il documento richiesto non è conservato nel tuo account");
    return version;
}

HttpResponse RetrieveActions::restore(const Sessions::Session &session, const ServiceRequest &request)
{
    const QString ko = QString::fromLatin1(Status::RestoreKo);
    QString why;
    const std::optional<RefStore::FileVersion> version = requested(session, request, &why);
    if (!version)
        return ServiceReply::failure(ko, why).toHttp();
    if (m_context.blobs.sizeOf(version->hash) != version->filesize) {
        return ServiceReply::failure(ko, QStringLiteral("La copia conservata del documento non è leggibile")).toHttp();
    }
    HttpResponse file =
        HttpResponse::attachment(m_context.blobs.pathOf(version->hash), version->filesize, downloadName(*version));
    file.serviceStatus = Status::RestoreOk;
    return file;
}

ServiceReply RetrieveActions::history(const Sessions::Session &session, const ServiceRequest &request)
{
    QString why;
    const std::optional<RefStore::FileVersion> version = requested(session, request, &why);
    if (!version)
        return ServiceReply::failure(QString::fromLatin1(Status::HistoryKo), why);
    auto versions = std::make_shared<QList<RefStore::FileVersion>>(m_context.store.history(version->lineage));
    return ServiceReply::success(QString::fromLatin1(Status::HistoryOk), QStringLiteral("Storia del documento"),
                                 [versions](QXmlStreamWriter &w) {
                                     w.writeStartElement(QStringLiteral("files"));
                                     for (const RefStore::FileVersion &f : *versions) {
                                         w.writeEmptyElement(QStringLiteral("file"));
                                         w.writeAttribute(QStringLiteral("hash"), f.hash);
                                         w.writeAttribute(QStringLiteral("token"), f.token);
                                         w.writeAttribute(QStringLiteral("filename"), f.filename);
                                         w.writeAttribute(QStringLiteral("filesize"), QString::number(f.filesize));
                                         w.writeAttribute(QStringLiteral("tsfiles"), f.tsconserve);
                                         w.writeAttribute(QStringLiteral("idfolders"), QString::number(f.idfolder));
                                     }
                                     w.writeEndElement();
                                 });
}

ServiceReply RetrieveActions::exhibitorConfig(const Sessions::Session &session, const ServiceRequest &request)
{
    const QString token = request.field(QStringLiteral("token")).trimmed();
    const std::optional<RefStore::FileVersion> version =
        token.isEmpty() ? std::nullopt : m_context.store.versionByToken(token);
    if (!version || version->username != session.username) {
        return ServiceReply::failure(QString::fromLatin1(Status::ExhibitorKo),
                                     QStringLiteral("Il documento indicato non è conservato nel tuo account"));
    }
    const QString code = m_context.grants.newExhibitCode(version->id);
    return ServiceReply::success(QString::fromLatin1(Status::ExhibitorOk), QStringLiteral("Codice di esibizione generato"),
                                 [code](QXmlStreamWriter &w) {
                                     w.writeStartElement(QStringLiteral("exhibitor"));
                                     w.writeEmptyElement(QStringLiteral("unique_code"));
                                     w.writeAttribute(QStringLiteral("value"), code);
                                     w.writeEndElement();
                                 });
}
