// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "exhibitorroutes.h"

#include "infopages.h"
#include "retrieveactions.h"
#include "servicecontext.h"

ExhibitorRoutes::ExhibitorRoutes(ServiceContext &context)
    : m_context(context)
{
}

HttpResponse ExhibitorRoutes::page(const HttpRequest &request)
{
    // One visit only: the code is used up by the first one.
    const qint64 fileId = m_context.grants.takeExhibitCode(request.queryText("unique_code"));
    const std::optional<RefStore::FileVersion> version =
        fileId ? m_context.store.versionById(fileId) : std::nullopt;
    if (!version) {
        return InfoPages::simple(404, QStringLiteral("Codice di esibizione non valido"),
                                 {QStringLiteral("Il codice di esibizione è scaduto, è già stato usato oppure non esiste."),
                                  QStringLiteral("Richiedi una nuova esibizione del documento dall'applicazione Tavrel "
                                                 "Lite.")});
    }
    ExhibitorPage::Document doc = describe(*version);
    doc.downloadUrl = QStringLiteral("/kvshop/Exhibitor/download?key=") + m_context.grants.newDownloadKey(version->id);
    return HttpResponse::html(200, ExhibitorPage::document(doc))
        .withHeader("Cache-Control", "no-store")
        .withHeader("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
}

HttpResponse ExhibitorRoutes::download(const HttpRequest &request)
{
    const qint64 fileId = m_context.grants.downloadKey(request.queryText("key"));
    const std::optional<RefStore::FileVersion> version =
        fileId ? m_context.store.versionById(fileId) : std::nullopt;
    if (!version || m_context.blobs.sizeOf(version->hash) != version->filesize) {
        return InfoPages::simple(404, QStringLiteral("Collegamento scaduto"),
                                 {QStringLiteral("Il collegamento per scaricare il documento non è più valido: riapri "
                                                 "la pagina di esibizione.")});
    }
    return HttpResponse::attachment(m_context.blobs.pathOf(version->hash), version->filesize,
                                    RetrieveActions::downloadName(*version));
}

ExhibitorPage::Document ExhibitorRoutes::describe(const RefStore::FileVersion &version)
{
    RefStore &store = m_context.store;
    ExhibitorPage::Document doc;
    doc.filename = version.filename;
    doc.hash = version.hash;
    doc.token = version.token;
    doc.tsconserve = version.tsconserve;
    doc.lastModified = version.lastModified;
    doc.computerName = version.computerName;
    doc.filesize = version.filesize;
    if (const std::optional<RefStore::Bucket> b = store.bucket(version.idbucket))
        doc.profileName = b->description;
    const QList<RefStore::FileVersion> chain = store.history(version.lineage);
    doc.versions = qMax(1, int(chain.size()));
    for (int i = 0; i < chain.size(); ++i) {
        if (chain.at(i).id == version.id)
            doc.version = int(chain.size()) - i;
    }
    const std::optional<RefStore::Folder> folder = store.folderById(version.idfolder);
    if (!folder)
        return doc;
    doc.className = folder->name;
    doc.groupName = folder->groups;
    const QMap<int, QString> values = store.values(version.id);
    for (const RefStore::IndexDef &d : folder->indexes) {
        if (values.contains(d.id))
            doc.indexValues.append({d.name, values.value(d.id)});
    }
    return doc;
}
