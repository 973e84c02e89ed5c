// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef RESTENDPOINT_H
#define RESTENDPOINT_H

#include "accountactions.h"
#include "catalogueactions.h"
#include "conserveactions.h"
#include "retrieveactions.h"
#include "uploadaction.h"

#include <QHash>

#include <functional>

// The client's endpoint, POST /kvshop/RestService: an XML request document
// (at most 4 MiB) naming an action, or a two-part upload. Every action but
// "login" needs a live session ("19"); a client that must be updated gets
// "31"; an unknown action or a malformed document "2".
class RestEndpoint
{
public:
    static constexpr qint64 MaxXmlBody = 4 * 1024 * 1024;

    explicit RestEndpoint(ServiceContext &context);

    std::unique_ptr<BodySink> prepare(const HttpRequest &request);
    HttpResponse respond(const HttpRequest &request, BodySink *body);

private:
    using Action = std::function<HttpResponse(const Sessions::Session &, const ServiceRequest &)>;

    static bool isUpload(const HttpRequest &request);
    HttpResponse answer(const ServiceRequest &request, const HttpRequest &http);

    ServiceContext &m_context;
    CatalogueActions m_catalogue;
    AccountActions m_account;
    ConserveActions m_conserve;
    RetrieveActions m_retrieve;
    UploadAction m_upload;
    QHash<QString, Action> m_actions; // every action but login
};

#endif // RESTENDPOINT_H
