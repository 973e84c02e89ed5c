// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CONSERVEACTIONS_H
#define CONSERVEACTIONS_H

#include "refstore.h"
#include "servicereply.h"
#include "sessions.h"

class ServiceContext;
class ServiceRequest;

// Preserving an uploaded file with its index values ("savevaluemetadati"; a
// content already preserved in the class becomes that document's new
// version), or preserving it as the new version of a preserved one
// ("sostituiscivaluemetadati"): the reply carries the token.
class ConserveActions
{
public:
    explicit ConserveActions(ServiceContext &context);

    ServiceReply conserve(const Sessions::Session &session, const ServiceRequest &request, bool rectification);

private:
    struct Target {
        QString hash, prevHash;
        int folderId = 0;
        bool rectification = false;
    };
    // What the request names, or why it cannot be used (Italian).
    static QString readTarget(const ServiceRequest &request, Target *target);
    // The version a rectification replaces (the current one), or why the
    // preservation cannot go on.
    QString checkVersions(const QString &username, const Target &t, std::optional<RefStore::FileVersion> *replaces);
    ServiceReply record(const RefStore::Upload &upload, const QMap<int, QString> &values, const ServiceRequest &request,
                        const RefStore::Folder &folder, const std::optional<RefStore::FileVersion> &replaces);
    static ServiceReply validationFailure(const QList<QPair<QString, QString>> &rejected);
    static ServiceReply stored(const RefStore::FileVersion &version, bool rectification);

    ServiceContext &m_context;
};

#endif // CONSERVEACTIONS_H
