// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef REFSERVICE_H
#define REFSERVICE_H

#include "exhibitorroutes.h"
#include "httpserver.h"
#include "restendpoint.h"
#include "servicecontext.h"

#include <condition_variable>
#include <mutex>

// The reference preservation service: opens its data directory, serves the
// client's endpoint, the exhibition pages, the update package, the
// information pages and (optionally) the test hooks, and routes each request
// to the part that answers it.
class RefService : public HttpServer::Handler
{
public:
    using Options = ServiceOptions;

    explicit RefService(const Options &options);
    ~RefService() override;

    // Takes the data directory (seeding an empty one) and starts serving.
    bool start(QString *error);
    int port() const { return m_server.port(); }
    // Returns once stop() has been called and every connection is closed.
    bool run();
    // Asks run() to end; safe from any thread, at any time.
    void stop();

    std::unique_ptr<BodySink> prepare(const HttpRequest &request) override;
    HttpResponse respond(const HttpRequest &request, BodySink *body) override;

private:
    bool lockDataDirectory(QString *error);
    bool openStorage(QString *error);
    bool serverSettings(HttpServer::Settings *settings, QString *error) const;
    HttpResponse route(const HttpRequest &request, BodySink *body);

    ServiceContext m_context;
    RestEndpoint m_rest;
    ExhibitorRoutes m_exhibitor;
    HttpServer m_server;
    int m_lockFd = -1;

    std::mutex m_stopMutex;
    std::condition_variable m_stopAsked;
    bool m_stopping = false;
};

#endif // REFSERVICE_H
