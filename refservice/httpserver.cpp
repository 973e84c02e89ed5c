// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "httpserver.h"

#include "connectionwatch.h"

#include <QFile>

#include <arpa/inet.h>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Bytes the form parser may hold back while it looks for a part boundary.
constexpr size_t FormBuffer = 64 * 1024;

MHD_Result collect(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    static_cast<HttpRequest::Pairs *>(cls)->append({QByteArray(key), QByteArray(value ? value : "")});
    return MHD_YES;
}

QByteArray peerOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = {};
    if (info && info->client_addr) {
        const sockaddr *a = info->client_addr;
        if (a->sa_family == AF_INET)
            ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(a)->sin_addr, text, sizeof text);
        else if (a->sa_family == AF_INET6)
            ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(a)->sin6_addr, text, sizeof text);
    }
    return QByteArray(text);
}

ConnectionWatch::Entry *watchEntryOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ConnectionWatch::Entry *>(info->socket_context) : nullptr;
}

// The address to listen on, for a host name or a numeric address.
bool resolve(const QString &host, int port, sockaddr_storage *address, QString *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found) != 0 || !found) {
        *error = QStringLiteral("indirizzo di ascolto non valido: %1").arg(host);
        return false;
    }
    std::memcpy(address, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    return true;
}

} // namespace

struct HttpServer::Exchange
{
    HttpRequest request;
    std::unique_ptr<BodySink> sink;
    MHD_PostProcessor *form = nullptr;
    bool prepared = false;  // prepare() has run
    bool answering = false; // respond() has been started
    bool malformed = false; // the form could not be parsed
    bool dropped = false;   // the sink refused a part
    MHD_Response *response = nullptr;
    int status = 0;
    QByteArray serviceStatus;

    ~Exchange()
    {
        if (form)
            MHD_destroy_post_processor(form);
        if (response)
            MHD_destroy_response(response);
    }
};

HttpServer::HttpServer(Handler &handler)
    : m_handler(handler)
{
}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::start(const Settings &settings, QString *error)
{
    m_settings = settings;
    sockaddr_storage address{};
    if (!resolve(settings.host, settings.port, &address, error))
        return false;
    m_workers.setMaxThreadCount(settings.workers);
    // Threads that never expire: each keeps its own database connection.
    m_workers.setExpiryTimeout(-1);
    m_watch = std::make_unique<ConnectionWatch>(settings.headTimeoutSeconds * 1000);

    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ITC;
    if (address.ss_family == AF_INET6)
        flags |= MHD_USE_IPv6;
    if (settings.log)
        flags |= MHD_USE_ERROR_LOG;
    const bool tls = !settings.tlsCert.isEmpty();
    if (tls)
        flags |= MHD_USE_TLS;
    QList<MHD_OptionItem> options = {
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_LISTEN_BACKLOG_SIZE, SOMAXCONN, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, intptr_t(settings.connectionLimit), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(settings.connectionMemory), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, intptr_t(settings.idleTimeoutSeconds), nullptr},
        {MHD_OPTION_THREAD_POOL_SIZE, intptr_t(settings.networkThreads), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpServer::onCompleted), this},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&HttpServer::onConnection), this},
    };
    if (tls) {
        options.append({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char *>(m_settings.tlsCert.constData())});
        options.append({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char *>(m_settings.tlsKey.constData())});
    }
    options.append({MHD_OPTION_END, 0, nullptr});
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &HttpServer::onRequest, this, MHD_OPTION_ARRAY,
                                options.data(), MHD_OPTION_END);
    if (!m_daemon) {
        *error = tls ? QStringLiteral("impossibile avviare HTTPS su %1:%2: certificato o chiave TLS non validi, o "
                                      "indirizzo già in uso").arg(settings.host).arg(settings.port)
                     : QStringLiteral("impossibile mettersi in ascolto su %1:%2").arg(settings.host).arg(settings.port);
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : settings.port;
    return true;
}

void HttpServer::stop()
{
    if (!m_daemon)
        return;
    // No new connection; new requests of open ones are refused (503) instead
    // of suspended, and the running ones finish: a daemon must not be stopped
    // with connections suspended.
    const MHD_socket listener = MHD_quiesce_daemon(m_daemon);
    {
        std::unique_lock<std::mutex> lock(m_jobsMutex);
        m_stopping = true;
        m_jobsDone.wait(lock, [this] { return m_runningJobs == 0; });
    }
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    if (listener != MHD_INVALID_SOCKET)
        ::close(listener); // a quiesced daemon leaves its socket to the caller
    m_workers.waitForDone();
    m_watch.reset();
}

MHD_Result HttpServer::onRequest(void *cls, MHD_Connection *connection, const char *url, const char *method,
                                 const char *, const char *data, size_t *size, void **context)
{
    auto *self = static_cast<HttpServer *>(cls);
    auto *x = static_cast<Exchange *>(*context);
    if (x)
        return self->next(connection, x, data, size);
    // The head has arrived: keep what the handlers need, before any body.
    x = new Exchange;
    *context = x;
    x->request.method = method;
    x->request.path = url;
    x->request.peer = peerOf(connection);
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &collect, &x->request.headers);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &collect, &x->request.query);
    MHD_get_connection_values(connection, MHD_COOKIE_KIND, &collect, &x->request.cookies);
    ConnectionWatch::requestStarted(watchEntryOf(connection));
    return MHD_YES;
}

MHD_Result HttpServer::next(MHD_Connection *connection, Exchange *x, const char *data, size_t *size)
{
    if (x->response)
        return send(connection, x);
    if (*size > 0) {
        // The body starts: the handler says where it goes, while the bytes
        // wait in the connection's buffer (they are offered again on resume).
        if (!x->prepared)
            return dispatch(connection, x, Job::Prepare);
        const bool kept = feed(connection, x, data, *size);
        *size = 0;
        return kept ? MHD_YES : MHD_NO;
    }
    // Called without data after the head: the request is whole.
    if (x->answering)
        return MHD_YES;
    finishBody(x);
    return dispatch(connection, x, Job::Respond);
}

bool HttpServer::feed(MHD_Connection *connection, Exchange *x, const char *data, size_t size)
{
    if (!x->sink || x->malformed)
        return true;
    if (!x->sink->multipart())
        return x->sink->data(data, size);
    if (!x->form)
        x->form = MHD_create_post_processor(connection, FormBuffer, &HttpServer::onFormPart, x);
    if (!x->form || MHD_post_process(x->form, data, size) != MHD_YES) {
        // A form that does not parse is read to its end (so that its reply
        // reaches the client) and reported as not well formed.
        x->malformed = true;
        return !x->dropped;
    }
    return true;
}

MHD_Result HttpServer::onFormPart(void *cls, MHD_ValueKind, const char *key, const char *, const char *, const char *,
                                  const char *data, uint64_t offset, size_t size)
{
    auto *x = static_cast<Exchange *>(cls);
    if (x->sink->part(QByteArray(key ? key : ""), offset, data, size))
        return MHD_YES;
    x->dropped = true;
    return MHD_NO;
}

void HttpServer::finishBody(Exchange *x)
{
    if (!x->sink)
        return;
    bool wellFormed = !x->malformed;
    if (x->sink->multipart()) {
        wellFormed = wellFormed && x->form && MHD_destroy_post_processor(x->form) == MHD_YES;
        x->form = nullptr;
    }
    x->sink->end(wellFormed);
}

MHD_Result HttpServer::dispatch(MHD_Connection *connection, Exchange *x, Job job)
{
    {
        std::lock_guard<std::mutex> lock(m_jobsMutex);
        if (m_stopping) {
            if (job == Job::Prepare)
                return MHD_NO;
            HttpResponse closing = HttpResponse::text(503, "Il servizio si sta arrestando.\n");
            x->response = build(closing);
            x->status = closing.status;
            return send(connection, x);
        }
        ++m_runningJobs;
    }
    x->answering = job == Job::Respond;
    MHD_suspend_connection(connection);
    m_workers.start([this, connection, x, job] {
        runJob(x, job);
        MHD_resume_connection(connection);
        std::lock_guard<std::mutex> lock(m_jobsMutex);
        if (--m_runningJobs == 0)
            m_jobsDone.notify_all();
    });
    return MHD_YES;
}

void HttpServer::runJob(Exchange *x, Job job)
{
    if (job == Job::Prepare) {
        try {
            x->sink = m_handler.prepare(x->request);
        } catch (const std::exception &) {
            x->sink.reset(); // the body is read and dropped; respond() then refuses the request
        }
        x->prepared = true;
        return;
    }
    HttpResponse response;
    try {
        response = m_handler.respond(x->request, x->sink.get());
    } catch (const std::exception &e) {
        response = HttpResponse::text(500, QByteArray("Errore interno del servizio: ") + e.what() + '\n');
    }
    x->response = build(response);
    x->status = response.status;
    x->serviceStatus = response.serviceStatus;
}

MHD_Response *HttpServer::build(const HttpResponse &response) const
{
    MHD_Response *r = nullptr;
    if (!response.filePath.isEmpty()) {
        const int fd = ::open(QFile::encodeName(response.filePath).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return build(HttpResponse::text(500, "Il file non è leggibile.\n"));
        // The server reads the file as it sends it, and closes it afterwards.
        r = MHD_create_response_from_fd64(uint64_t(response.fileSize), fd);
    } else {
        // Shares the body (a catalogue reply can be large) until the server has sent it; only read.
        auto *held = new QByteArray(response.body);
        r = MHD_create_response_from_buffer_with_free_callback_cls(
            size_t(held->size()), const_cast<char *>(held->constData()),
            [](void *cls) { delete static_cast<QByteArray *>(cls); }, held);
    }
    if (!response.contentType.isEmpty())
        MHD_add_response_header(r, "Content-Type", response.contentType.constData());
    for (const auto &[name, value] : response.headers)
        MHD_add_response_header(r, name.constData(), value.constData());
    return r;
}

MHD_Result HttpServer::send(MHD_Connection *connection, Exchange *x)
{
    const MHD_Result queued = MHD_queue_response(connection, unsigned(x->status), x->response);
    MHD_destroy_response(x->response);
    x->response = nullptr;
    if (m_settings.log) {
        const HttpRequest &q = x->request;
        std::fprintf(stderr, "%s %s %s -> %d%s\n", q.peer.constData(), q.method.constData(), q.path.constData(),
                     x->status, x->serviceStatus.isEmpty() ? "" : (" status " + x->serviceStatus).constData());
    }
    return queued;
}

void HttpServer::onCompleted(void *cls, MHD_Connection *connection, void **context, MHD_RequestTerminationCode)
{
    Q_UNUSED(cls)
    delete static_cast<Exchange *>(*context);
    *context = nullptr;
    ConnectionWatch::requestFinished(watchEntryOf(connection));
}

void HttpServer::onConnection(void *cls, MHD_Connection *connection, void **socketContext,
                              MHD_ConnectionNotificationCode event)
{
    auto *self = static_cast<HttpServer *>(cls);
    if (event == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        *socketContext = info ? self->m_watch->opened(info->connect_fd) : nullptr;
    } else if (*socketContext) {
        self->m_watch->closed(static_cast<ConnectionWatch::Entry *>(*socketContext));
        *socketContext = nullptr;
    }
}
