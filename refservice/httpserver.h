// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef HTTPSERVER_H
#define HTTPSERVER_H

#include "httpexchange.h"

#include <QThreadPool>

#include <microhttpd.h>

#include <condition_variable>
#include <memory>
#include <mutex>

class ConnectionWatch;

// The service's HTTP(S) server, on GNU libmicrohttpd. Network I/O is
// event-driven (epoll, a couple of network threads): an idle or slow
// connection costs no thread, only its bounded buffer. Every connection has a
// memory limit (a head that does not fit is refused with 431 and the
// connection closed), an inactivity time-out and a deadline for its request
// head (ConnectionWatch). Request handlers run on a pool of worker threads
// while their connection is suspended, so a handler that waits (the disk, a
// key derivation, a test delay) never holds up the network threads.
class HttpServer
{
public:
    class Handler
    {
    public:
        virtual ~Handler() = default;
        // On a worker, when the first bytes of a request body arrive: where
        // the body goes (null: it is read and dropped).
        virtual std::unique_ptr<BodySink> prepare(const HttpRequest &request) = 0;
        // On a worker, once the request is whole. `body` is what prepare()
        // gave (null for a request without a body).
        virtual HttpResponse respond(const HttpRequest &request, BodySink *body) = 0;
    };

    struct Settings {
        QString host = QStringLiteral("127.0.0.1");
        int port = 0;                  // 0: a free port
        QByteArray tlsCert, tlsKey;    // PEM; both set: HTTPS
        int headTimeoutSeconds = 10;   // to deliver a request head
        int idleTimeoutSeconds = 60;   // without a byte in either direction
        unsigned connectionLimit = 2000;
        size_t connectionMemory = 64 * 1024;
        unsigned networkThreads = 2;
        int workers = 64;
        bool log = false; // every request on standard error
    };

    explicit HttpServer(Handler &handler);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds and starts serving; false (and why, in Italian) when it cannot.
    bool start(const Settings &settings, QString *error);
    int port() const { return m_port; }
    // Stops accepting, lets the requests being answered finish, closes every
    // connection. Call once, from any thread but the server's own.
    void stop();

private:
    struct Exchange;
    enum class Job { Prepare, Respond };

    static MHD_Result onRequest(void *cls, MHD_Connection *connection, const char *url, const char *method,
                                const char *version, const char *data, size_t *size, void **context);
    static void onCompleted(void *cls, MHD_Connection *connection, void **context, MHD_RequestTerminationCode);
    static void onConnection(void *cls, MHD_Connection *connection, void **socketContext,
                             MHD_ConnectionNotificationCode event);
    static MHD_Result onFormPart(void *cls, MHD_ValueKind, const char *key, const char *, const char *, const char *,
                                 const char *data, uint64_t offset, size_t size);

    MHD_Result next(MHD_Connection *connection, Exchange *x, const char *data, size_t *size);
    bool feed(MHD_Connection *connection, Exchange *x, const char *data, size_t size);
    void finishBody(Exchange *x);
    MHD_Result dispatch(MHD_Connection *connection, Exchange *x, Job job);
    void runJob(Exchange *x, Job job);
    MHD_Response *build(const HttpResponse &response) const;
    MHD_Result send(MHD_Connection *connection, Exchange *x);

    Handler &m_handler;
    Settings m_settings;
    MHD_Daemon *m_daemon = nullptr;
    std::unique_ptr<ConnectionWatch> m_watch;
    QThreadPool m_workers;
    int m_port = 0;

    std::mutex m_jobsMutex; // guards the two below
    std::condition_variable m_jobsDone;
    int m_runningJobs = 0;
    bool m_stopping = false;
};

#endif // HTTPSERVER_H
