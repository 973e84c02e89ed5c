// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef RETRIEVEACTIONS_H
#define RETRIEVEACTIONS_H

#include "httpexchange.h"
#include "refstore.h"
#include "servicereply.h"
#include "sessions.h"

class ServiceContext;
class ServiceRequest;

// What the client asks about preserved versions: the bytes of any version
// ("ripristina"), the chain of versions ("history") and an exhibition code
// ("getexhibitorconfig").
class RetrieveActions
{
public:
    explicit RetrieveActions(ServiceContext &context);

    // The file itself, streamed; an XML failure otherwise.
    HttpResponse restore(const Sessions::Session &session, const ServiceRequest &request);
    ServiceReply history(const Sessions::Session &session, const ServiceRequest &request);
    ServiceReply exhibitorConfig(const Sessions::Session &session, const ServiceRequest &request);

    // The name under which a version is downloaded: its file name without folders.
    static QString downloadName(const RefStore::FileVersion &version);

private:
    // The user's version named by the request's "hash" and "folderid", or why
    // there is none (Italian).
    std::optional<RefStore::FileVersion> requested(const Sessions::Session &session, const ServiceRequest &request,
                                                   QString *why);

    ServiceContext &m_context;
};

#endif // RETRIEVEACTIONS_H
