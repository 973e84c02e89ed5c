// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalogueactions.h"

#include "refstore.h"
#include "servicerequest.h"

#include <QXmlStreamWriter>

#include <cmath>
#include <memory>

namespace {

using Attributes = std::initializer_list<std::pair<const char *, QString>>;

void attributes(QXmlStreamWriter &w, Attributes list)
{
    for (const auto &[key, value] : list)
        w.writeAttribute(QLatin1String(key), value);
}

void element(QXmlStreamWriter &w, const char *name, Attributes list)
{
    w.writeEmptyElement(QLatin1String(name));
    attributes(w, list);
}

QString n(qint64 v)
{
    return QString::number(v);
}

void writeFolder(QXmlStreamWriter &w, const RefStore::Folder &f)
{
    w.writeStartElement(QStringLiteral("folder"));
    attributes(w, {{"id", n(f.id)}, {"name", f.name}, {"groups", f.groups}, {"custom", n(f.custom)},
                   {"idbuckets", f.idbucket}, {"idpolicies", f.idpolicy}});
    for (const RefStore::IndexDef &d : f.indexes) {
        element(w, "metadato", {{"idmetadato", n(d.id)}, {"idfolder", n(d.idfolder)}, {"name", d.name},
                                {"type", n(d.type)}, {"visible", n(d.visible)}, {"required", n(d.required)},
                                {"custom", n(d.custom)}, {"tooltip", d.tooltip}});
    }
    w.writeEndElement();
}

void writeFile(QXmlStreamWriter &w, const RefStore::FileVersion &f)
{
    element(w, "file", {{"hash", f.hash}, {"hash4k", f.hash4k}, {"last_modified", f.lastModified},
                        {"filename", f.filename}, {"token", f.token}, {"idfolder", n(f.idfolder)},
                        {"username", f.username}, {"tsupdate", n(f.tsupdate)}, {"idbuckets", f.idbucket},
                        {"tsconserve", f.tsconserve}, {"computer_name", f.computerName},
                        {"filesize", n(f.filesize)}});
}

// Writes <list> holding one element per item.
template <typename Items, typename Write>
void list(QXmlStreamWriter &w, const char *name, const Items &items, Write write)
{
    w.writeStartElement(QLatin1String(name));
    for (const auto &item : items)
        write(w, item);
    w.writeEndElement();
}

} // namespace

CatalogueActions::CatalogueActions(RefStore &store)
    : m_store(store)
{
}

ServiceReply CatalogueActions::syncfolder(const Sessions::Session &session, const ServiceRequest &request)
{
    return ServiceReply::success(QString::fromLatin1(Status::SyncFolderOk), QStringLiteral("Sincronizzazione completata"),
                                 body(session.username, request.field(QStringLiteral("codesync"))));
}

qint64 CatalogueActions::cursorOf(const QString &codesync)
{
    bool ok = false;
    const double value = codesync.trimmed().toDouble(&ok);
    // Stamps are milliseconds since the epoch: far below 2^53, so exact as a
    // double whatever the text form; floor() keeps "N.9" from skipping N+1.
    return (ok && std::isfinite(value) && value > 0 && value < 9e15) ? qint64(std::floor(value)) : 0;
}

ServiceReply::BodyWriter CatalogueActions::body(const QString &username, const QString &codesync)
{
    auto c = std::make_shared<RefStore::Catalogue>(m_store.catalogue(username, cursorOf(codesync)));
    return [c](QXmlStreamWriter &w) {
        list(w, "buckets", c->buckets, [](QXmlStreamWriter &w, const RefStore::Bucket &b) {
            element(w, "bucket", {{"id", b.id}, {"description", b.description}, {"quota", n(b.quota)},
                                  {"used", n(b.used)}, {"unit", b.unit}, {"div", n(b.div)}});
        });
        list(w, "policies", c->policies, [](QXmlStreamWriter &w, const RefStore::Policy &p) {
            element(w, "policie", {{"policie", p.id}, {"idbucket", p.idbucket}, {"description", p.description}});
        });
        list(w, "folders", c->folders, writeFolder);
        list(w, "files", c->files, writeFile);
        list(w, "metadatiValues", c->values, [](QXmlStreamWriter &w, const RefStore::IndexValue &v) {
            element(w, "metadatoValue", {{"key", n(v.idmetadato)}, {"value", v.value}, {"hash", v.hash}});
        });
    };
}
