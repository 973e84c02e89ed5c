// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserveactions.h"

#include "indexvalidation.h"
#include "servicecontext.h"
#include "servicerequest.h"

#include <QXmlStreamWriter>

namespace {

QString koOf(bool rectification)
{
    return QString::fromLatin1(rectification ? Status::ReplaceKo : Status::ConserveKo);
}

} // namespace

ConserveActions::ConserveActions(ServiceContext &context)
    : m_context(context)
{
}

ServiceReply ConserveActions::conserve(const Sessions::Session &session, const ServiceRequest &request,
                                       bool rectification)
{
    const QString ko = koOf(rectification);
    Target t;
    t.rectification = rectification;
    QString why = readTarget(request, &t);
    if (!why.isEmpty())
        return ServiceReply::failure(ko, why);
    RefStore &store = m_context.store;
    const std::optional<RefStore::Folder> folder = store.folderOfUser(session.username, t.folderId);
    if (!folder)
        return ServiceReply::failure(ko, QStringLiteral("La classe indicata non esiste o non appartiene al tuo account"));
    const std::optional<RefStore::Upload> upload = store.pendingUpload(session.username, t.hash, t.folderId, t.prevHash);
    if (!upload || !m_context.blobs.contains(t.hash)) {
        return ServiceReply::failure(ko, QStringLiteral("Nessun file caricato con questa impronta nella classe \"%1\": "
                                                        "ripeti il caricamento del file")
                                             .arg(folder->name));
    }
    std::optional<RefStore::FileVersion> replaces;
    why = checkVersions(session.username, t, &replaces);
    if (!why.isEmpty())
        return ServiceReply::failure(ko, why);
    QMap<int, QString> values;
    const QList<IndexValidation::Rejection> rejected = IndexValidation::check(*folder, request.indexValues(), &values);
    if (!rejected.isEmpty())
        return validationFailure(rejected);
    return record(*upload, values, request, *folder, replaces);
}

QString ConserveActions::readTarget(const ServiceRequest &request, Target *t)
{
    t->hash = request.hashField(QStringLiteral("hash"));
    if (t->rectification)
        t->prevHash = request.hashField(QStringLiteral("hashprecedente"));
    if (!BlobStore::isSha1(t->hash))
        return QStringLiteral("Campo \"hash\" mancante o non valido");
    if (t->rectification && !BlobStore::isSha1(t->prevHash))
        return QStringLiteral("Campo \"hashprecedente\" mancante o non valido");
    if (!request.numberField(QStringLiteral("folderid"), &t->folderId))
        return QStringLiteral("Campo \"folderid\" mancante o non valido");
    return QString();
}

QString ConserveActions::checkVersions(const QString &username, const Target &t,
                                       std::optional<RefStore::FileVersion> *replaces)
{
    // A plain preservation always goes on: of a content already current in
    // the class, it becomes the new version (decided by the store, inside
    // its transaction).
    if (!t.rectification)
        return QString();
    *replaces = m_context.store.currentVersion(username, t.prevHash, t.folderId);
    return *replaces ? QString() : QStringLiteral("Il documento da rettificare non è più la versione corrente");
}

ServiceReply ConserveActions::record(const RefStore::Upload &upload, const QMap<int, QString> &values,
                                     const ServiceRequest &request, const RefStore::Folder &folder,
                                     const std::optional<RefStore::FileVersion> &replaces)
{
    const bool rectification = replaces.has_value();
    const QString ko = koOf(rectification);
    const QString computerName = request.field(QStringLiteral("computername")).trimmed().left(255);
    RefStore::FileVersion version;
    QString error;
    switch (m_context.store.conserve(upload, values, computerName, replaces, &version, &error)) {
    case RefStore::ConserveOutcome::Ok:
        return stored(version, rectification);
    case RefStore::ConserveOutcome::QuotaExceeded: {
        const std::optional<RefStore::Bucket> b = m_context.store.bucket(folder.idbucket);
        return ServiceReply::failure(ko, QStringLiteral("Spazio insufficiente nel profilo \"%1\" (%2): acquista altro "
                                                        "spazio o libera il profilo")
                                             .arg(b ? b->description : folder.idbucket, b ? b->usageText() : QString()));
    }
    case RefStore::ConserveOutcome::Replaced:
        return ServiceReply::failure(ko, QStringLiteral("Il documento da rettificare è già stato sostituito da un'altra "
                                                        "versione"));
    case RefStore::ConserveOutcome::Failed:
        break;
    }
    return ServiceReply::failure(ko, QStringLiteral("Conservazione non riuscita: %1").arg(error));
}

ServiceReply ConserveActions::validationFailure(const QList<QPair<QString, QString>> &rejected)
{
    return ServiceReply::failure(QString::fromLatin1(Status::ValidationKo),
                                 QStringLiteral("La validazione degli indici non è riuscita"),
                                 [rejected](QXmlStreamWriter &w) {
                                     w.writeStartElement(QStringLiteral("validation"));
                                     for (const auto &[key, message] : rejected) {
                                         w.writeEmptyElement(QStringLiteral("field"));
                                         w.writeAttribute(QStringLiteral("key"), key);
                                         w.writeAttribute(QStringLiteral("message"), message);
                                     }
                                     w.writeEndElement();
                                 });
}

ServiceReply ConserveActions::stored(const RefStore::FileVersion &version, bool rectification)
{
    return ServiceReply::success(QString::fromLatin1(rectification ? Status::ReplaceOk : Status::ConserveOk),
                                 rectification ? QStringLiteral("Documento sostituito correttamente")
                                               : QStringLiteral("Documento conservato correttamente"),
                                 [version](QXmlStreamWriter &w) {
                                     w.writeTextElement(QStringLiteral("token"), version.token);
                                     w.writeTextElement(QStringLiteral("tsconserve"), version.tsconserve);
                                     w.writeTextElement(QStringLiteral("tsupdate"), QString::number(version.tsupdate));
                                 });
}
