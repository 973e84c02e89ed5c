// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "refservice.h"

#include "infopages.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray RestPath = "/kvshop/RestService";

bool readFile(const QString &path, QByteArray *content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return !content->isEmpty();
}

} // namespace

RefService::RefService(const Options &options)
    : m_context(options)
    , m_rest(m_context)
    , m_exhibitor(m_context)
    , m_server(*this)
{
}

RefService::~RefService()
{
    m_context.hooks.interrupt();
    m_server.stop();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool RefService::start(QString *error)
{
    HttpServer::Settings settings;
    return lockDataDirectory(error) && openStorage(error) && serverSettings(&settings, error)
        && m_server.start(settings, error);
}

bool RefService::lockDataDirectory(QString *error)
{
    // One service per data directory: a second one would empty the first
    // one's temporary files and write the same database behind its back. The
    // lock goes away with the process, however it ends.
    const QString dir = m_context.options.dataDir;
    const QByteArray lockPath = QFile::encodeName(QDir(dir).filePath(QStringLiteral("refservice.lock")));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd >= 0 && ::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0)
        return true;
    *error = QStringLiteral("la cartella dati %1 è già usata da un altro tavrel-refservice").arg(dir);
    return false;
}

bool RefService::openStorage(QString *error)
{
    if (!m_context.blobs.prepare(error) || !m_context.store.open(m_context.options.dataDir, error))
        return false;
    if (!m_context.store.hasUsers()) {
        const QString seedFile = m_context.options.seedFile;
        const QString seedPath = seedFile.isEmpty() ? QStringLiteral(":/refservice/demo.json") : seedFile;
        QByteArray seed;
        if (!readFile(seedPath, &seed)) {
            *error = QStringLiteral("impossibile leggere il seed %1").arg(seedPath);
            return false;
        }
        if (!m_context.store.loadSeed(seed, m_context.blobs, error))
            return false;
    }
    m_context.sweepUploads();
    return true;
}

bool RefService::serverSettings(HttpServer::Settings *settings, QString *error) const
{
    const Options &o = m_context.options;
    settings->host = o.host;
    settings->port = o.port;
    settings->headTimeoutSeconds = o.headTimeoutSeconds;
    settings->log = qEnvironmentVariableIntValue("TAVREL_REFSERVICE_LOG") > 0;
    if (o.tlsCert.isEmpty() && o.tlsKey.isEmpty())
        return true;
    if (o.tlsCert.isEmpty() || o.tlsKey.isEmpty()) {
        *error = QStringLiteral("--tls-cert e --tls-key vanno indicati insieme");
        return false;
    }
    if (!readFile(o.tlsCert, &settings->tlsCert) || !readFile(o.tlsKey, &settings->tlsKey)) {
        *error = QStringLiteral("impossibile leggere il certificato o la chiave TLS");
        return false;
    }
    return true;
}

bool RefService::run()
{
    {
        std::unique_lock<std::mutex> lock(m_stopMutex);
        m_stopAsked.wait(lock, [this] { return m_stopping; });
    }
    m_context.hooks.interrupt();
    m_server.stop();
    return true;
}

void RefService::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopAsked.notify_all();
}

std::unique_ptr<BodySink> RefService::prepare(const HttpRequest &request)
{
    if (request.isPost() && request.path == RestPath)
        return m_rest.prepare(request);
    return nullptr;
}

HttpResponse RefService::respond(const HttpRequest &request, BodySink *body)
{
    try {
        return route(request, body);
    } catch (const std::exception &) {
        return ServiceReply::failure(QString::fromLatin1(Status::ActionNoExist),
                                     QStringLiteral("Errore interno del servizio"))
            .toHttp();
    }
}

HttpResponse RefService::route(const HttpRequest &request, BodySink *body)
{
    const QByteArray &path = request.path;
    if (request.isPost() && path == RestPath)
        return m_rest.respond(request, body);
    if (request.isPost() && m_context.options.testHooks && path.startsWith(TestHooks::PathPrefix))
        return m_context.hooks.handle(request);
    if (!request.isGet())
        return InfoPages::notFound();
    if (path == "/kvshop/UpdateService")
        return InfoPages::updatePackage(request, m_context.options.updatePackage);
    if (path == "/kvshop/Exhibitor")
        return m_exhibitor.page(request);
    if (path == "/kvshop/Exhibitor/download")
        return m_exhibitor.download(request);
    if (path == "/")
        return InfoPages::redirect("/kvshop/Help/");
    return InfoPages::page(path).value_or(InfoPages::notFound());
}
