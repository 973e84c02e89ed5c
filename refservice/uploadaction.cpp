// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uploadaction.h"

#include "servicecontext.h"
#include "servicerequest.h"

#include <QScopeGuard>
#include <QXmlStreamWriter>

namespace {

ServiceReply refused(const QString &why)
{
    return ServiceReply::failure(QString::fromLatin1(Status::UploadKo), why);
}

} // namespace

UploadAction::UploadAction(ServiceContext &context)
    : m_context(context)
{
}

std::unique_ptr<UploadReceiver> UploadAction::prepare(const HttpRequest &request)
{
    // The session is known from the head, before any byte of the file: the
    // file is only written to disk for a live session.
    std::optional<Sessions::Session> session = m_context.session(request);
    QHash<int, qint64> spaceLeft;
    if (session) {
        m_context.sweepUploadsWhenDue();
        spaceLeft = m_context.store.spaceLeftByFolder(session->username);
    }
    return std::make_unique<UploadReceiver>(m_context.blobs, std::move(session), std::move(spaceLeft));
}

ServiceReply UploadAction::finish(UploadReceiver *receiver)
{
    if (!receiver)
        return refused(QStringLiteral("Caricamento non valido: manca la parte \"xml\" o è troppo grande"));
    UploadReceiver::Received &r = receiver->received();
    // A refused file leaves nothing in the temporary folder by the time the
    // client reads the reply (the receiver itself lives until the connection
    // is done with it); a kept one was moved out already.
    const auto dropTemporary = qScopeGuard([&r] {
        if (r.writer)
            r.writer->discard();
    });
    ServiceRequest request;
    if (Refusal refusal = readRequest(r, &request))
        return *refusal;
    if (Refusal hooked = m_context.hooks.takeFailNext(request.action()))
        return *hooked;
    if (!r.session)
        return ServiceReply::sessionExpired();
    if (Refusal demand = m_context.updateDemand(r.session->version))
        return *demand;
    const QString username = r.session->username;
    if (Refusal refusal = checkFile(r, request, username))
        return *refusal;
    Target t;
    if (Refusal refusal = readTarget(request, r, &t))
        return *refusal;
    std::optional<RefStore::Folder> folder;
    std::optional<RefStore::FileVersion> previous;
    if (Refusal refusal = checkClass(username, t, &folder, &previous))
        return *refusal;
    return record(r, request, t, username, *folder, previous);
}

UploadAction::Refusal UploadAction::readRequest(const UploadReceiver::Received &r, ServiceRequest *request)
{
    if (!r.complete) {
        return refused(QStringLiteral("Caricamento interrotto o malformato: il file non è stato ricevuto per intero"));
    }
    if (r.xmlTooLong || r.xml.isEmpty())
        return refused(QStringLiteral("Caricamento non valido: manca la parte \"xml\" o è troppo grande"));
    QString error;
    if (!request->parse(r.xml, &error))
        return refused(error);
    const QString action = request->action();
    if (action != QLatin1String("uploadfile") && action != QLatin1String("sostituiscifile")) {
        return ServiceReply::failure(QString::fromLatin1(Status::ActionNoExist),
                                     QStringLiteral("Azione non ammessa in un caricamento: \"%1\"").arg(action.left(100)));
    }
    return std::nullopt;
}

UploadAction::Refusal UploadAction::checkFile(UploadReceiver::Received &r, const ServiceRequest &request,
                                              const QString &username)
{
    if (r.overQuota) {
        int folderId = 0;
        request.numberField(QStringLiteral("idfolder"), &folderId);
        return noSpace(username, folderId, QStringLiteral("il file supera lo spazio ancora libero"));
    }
    if (r.fileParts != 1 || !r.writer) {
        return refused(r.writeFailed ? QStringLiteral("Impossibile salvare il file ricevuto")
                                     : QStringLiteral("Il caricamento deve contenere esattamente un file"));
    }
    if (r.writeFailed || !r.writer->finish())
        return refused(QStringLiteral("Impossibile salvare il file ricevuto: spazio su disco del servizio esaurito?"));
    return std::nullopt;
}

UploadAction::Refusal UploadAction::readTarget(const ServiceRequest &request, const UploadReceiver::Received &r,
                                               Target *t)
{
    t->rectification = request.action() == QLatin1String("sostituiscifile");
    t->declaredHash = request.hashField(QStringLiteral("hashfile"));
    if (t->rectification)
        t->prevHash = request.hashField(QStringLiteral("hash"));
    if (!request.numberField(QStringLiteral("idfolder"), &t->folderId))
        return refused(QStringLiteral("Campo \"idfolder\" mancante o non valido"));
    if (!BlobStore::isSha1(t->declaredHash))
        return refused(QStringLiteral("Campo \"hashfile\" mancante o non valido"));
    if (t->rectification && !BlobStore::isSha1(t->prevHash))
        return refused(QStringLiteral("Campo \"hash\" (versione da rettificare) mancante o non valido"));
    if (r.writer->sha1() != t->declaredHash) {
        return refused(QStringLiteral("Il file ricevuto non corrisponde all'impronta dichiarata (%1 invece di %2): "
                                      "forse è stato modificato durante l'invio. Riprova.")
                           .arg(r.writer->sha1(), t->declaredHash));
    }
    return std::nullopt;
}

UploadAction::Refusal UploadAction::checkClass(const QString &username, const Target &t,
                                               std::optional<RefStore::Folder> *folder,
                                               std::optional<RefStore::FileVersion> *previous)
{
    RefStore &store = m_context.store;
    *folder = store.folderOfUser(username, t.folderId);
    if (!*folder)
        return refused(QStringLiteral("La classe indicata non esiste o non appartiene al tuo account"));
    if (t.rectification) {
        *previous = store.currentVersion(username, t.prevHash, t.folderId);
        if (*previous)
            return std::nullopt;
        return ServiceReply::failure(QString::fromLatin1(Status::ReplaceKo),
                                     QStringLiteral("Il documento da rettificare non è conservato nella classe \"%1\" "
                                                    "o non è la versione corrente")
                                         .arg((*folder)->name));
    }
    // The same content preserved again in its class will supersede the
    // current version: the form starts from what that version says.
    *previous = store.currentVersion(username, t.declaredHash, t.folderId);
    return std::nullopt;
}

ServiceReply UploadAction::record(UploadReceiver::Received &r, const ServiceRequest &request, const Target &t,
                                  const QString &username, const RefStore::Folder &folder,
                                  const std::optional<RefStore::FileVersion> &previous)
{
    RefStore::Upload upload;
    upload.username = username;
    upload.hash = r.writer->sha1();
    upload.hash4k = r.writer->sha1First4k();
    upload.prevHash = t.prevHash;
    upload.filename = r.fileName;
    upload.filesize = r.writer->size();
    upload.lastModified = request.field(QStringLiteral("last_modified")).trimmed().left(64);
    upload.idfolder = t.folderId;
    // The upload is recorded first: the record holds its space in the
    // profile against other uploads, until it is preserved or forgotten.
    QString error;
    qint64 pending = 0;
    switch (m_context.store.saveUpload(upload, m_context.uploadCutoff(), &pending, &error)) {
    case RefStore::UploadOutcome::Ok:
        break;
    case RefStore::UploadOutcome::QuotaExceeded:
        return noSpace(username, t.folderId,
                       QStringLiteral("il file occupa %1 byte e altri %2 byte sono in caricamenti non ancora conservati")
                           .arg(upload.filesize)
                           .arg(pending));
    case RefStore::UploadOutcome::Failed:
        return refused(QStringLiteral("Impossibile registrare il caricamento: %1").arg(error));
    }
    if (!m_context.blobs.commit(*r.writer, &error)) {
        m_context.store.forgetUpload(upload);
        return refused(QStringLiteral("Impossibile salvare il file ricevuto: %1").arg(error));
    }
    // Each definition's initial value: empty for a new document, the current
    // version's value for a rectification or the same content sent again.
    return accepted(folder, previous ? m_context.store.values(previous->id) : QMap<int, QString>());
}

ServiceReply UploadAction::noSpace(const QString &username, int folderId, const QString &detail)
{
    const std::optional<RefStore::Folder> folder = m_context.store.folderOfUser(username, folderId);
    const std::optional<RefStore::Bucket> bucket = folder ? m_context.store.bucket(folder->idbucket) : std::nullopt;
    return refused(QStringLiteral("Spazio insufficiente nel profilo \"%1\": %2 (usati %3). Acquista altro spazio.")
                       .arg(bucket ? bucket->description : QString(), detail, bucket ? bucket->usageText() : QString()));
}

ServiceReply UploadAction::accepted(const RefStore::Folder &folder, const QMap<int, QString> &initial)
{
    return ServiceReply::success(QString::fromLatin1(Status::UploadOk), QStringLiteral("File caricato correttamente"),
                                 [folder, initial](QXmlStreamWriter &w) {
                                     w.writeStartElement(QStringLiteral("metadati"));
                                     for (const RefStore::IndexDef &d : folder.indexes) {
                                         w.writeStartElement(QStringLiteral("metadato"));
                                         w.writeAttribute(QStringLiteral("idmetadato"), QString::number(d.id));
                                         w.writeAttribute(QStringLiteral("name"), d.name);
                                         w.writeAttribute(QStringLiteral("required"), QString::number(d.required));
                                         w.writeAttribute(QStringLiteral("type"), QString::number(d.type));
                                         w.writeAttribute(QStringLiteral("tooltip"), d.tooltip);
                                         w.writeCharacters(initial.value(d.id));
                                         w.writeEndElement();
                                     }
                                     w.writeEndElement();
                                 });
}
