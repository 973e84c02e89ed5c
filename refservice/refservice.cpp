// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "refservice.h"

#include "exhibitorpage.h"
#include "servicerequest.h"

#include <httplib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QXmlStreamWriter>

#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Gives access to the listening socket, whose backlog the library fixes at 5:
// too short for dozens of clients connecting at once while the workers are
// busy, so the service widens it after binding.
template <class Base>
class ListeningServer : public Base
{
public:
    using Base::Base;
    void widenBacklog() { ::listen(this->svr_sock_, SOMAXCONN); }
};

const char *const SessionCookie = "TAVRELSESSION";
constexpr qint64 ExhibitCodeLifetimeMs = 5 * 60 * 1000;
constexpr qint64 DownloadKeyLifetimeMs = 15 * 60 * 1000;
constexpr qint64 MaxFileNameLength = 1024;

QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Answers with a plain page of the service, in Italian.
void sendPage(httplib::Response &res, int status, const QString &title, const QStringList &text)
{
    const QByteArray html = ExhibitorPage::simple(title, text);
    res.status = status;
    res.set_content(html.constData(), size_t(html.size()), "text/html; charset=utf-8");
}

// Forgets the one-time grants whose time is over; the caller holds their lock.
template <typename Grants>
void dropExpired(Grants &grants, qint64 now)
{
    for (auto it = grants.begin(); it != grants.end();) {
        if (it->expiresMs < now)
            it = grants.erase(it);
        else
            ++it;
    }
}

// Removes control characters (and the bytes of invalid UTF-8) from a name the
// client chose, and bounds its length.
QString cleanName(const std::string &raw)
{
    QString name = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter)
            continue;
        out.append(c);
    }
    return out.left(int(MaxFileNameLength));
}

QString fileBaseName(const QString &path)
{
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QFileInfo(p).fileName();
}

bool isLoopback(const std::string &addr)
{
    return addr == "::1" || addr.rfind("127.", 0) == 0 || addr.rfind("::ffff:127.", 0) == 0;
}

bool knownAction(const QString &action)
{
    static const QStringList actions = {
        QStringLiteral("login"), QStringLiteral("syncfolder"), QStringLiteral("uploadfile"),
        QStringLiteral("sostituiscifile"), QStringLiteral("savevaluemetadati"),
        QStringLiteral("sostituiscivaluemetadati"), QStringLiteral("ripristina"),
        QStringLiteral("getexhibitorconfig"), QStringLiteral("history"), QStringLiteral("changePWD"),
    };
    return actions.contains(action);
}

ServiceReply sessionExpired()
{
    return ServiceReply::failure(QString::fromLatin1(Status::SessionTimeout),
                                 QStringLiteral("La sessione è scaduta o non è valida: effettua di nuovo l'accesso"));
}

QString quotaText(const RefStore::Bucket &b)
{
    const qint64 div = b.div > 0 ? b.div : 1;
    return QStringLiteral("%1 %2 su %3 %2").arg(b.used / div).arg(b.unit).arg(b.quota / div);
}

bool parseInt(const QString &text, int *value)
{
    bool ok = false;
    *value = text.trimmed().toInt(&ok);
    return ok;
}

// A small ZIP archive (stored, not compressed) holding one text file: the
// update package served when no package file was configured.
QByteArray builtInPackage()
{
    const QByteArray name = "LEGGIMI.txt";
    const QByteArray data = QStringLiteral(
        "Pacchetto di aggiornamento del servizio di riferimento Tavrel.\n"
        "Il servizio è stato avviato senza --update-package: questo archivio serve solo a provare "
        "il percorso di aggiornamento del client.\n").toUtf8();
    quint32 table[256];
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : data)
        crc = table[(crc ^ quint8(ch)) & 0xFF] ^ (crc >> 8);
    crc ^= 0xFFFFFFFFu;
    QByteArray out;
    auto u16 = [&out](quint16 v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&out](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
    };
    u32(0x04034b50); u16(10); u16(0x0800); u16(0); u16(0); u16(0x21);
    u32(crc); u32(quint32(data.size())); u32(quint32(data.size())); u16(quint16(name.size())); u16(0);
    out.append(name).append(data);
    const quint32 central = quint32(out.size());
    u32(0x02014b50); u16(20); u16(10); u16(0x0800); u16(0); u16(0); u16(0x21);
    u32(crc); u32(quint32(data.size())); u32(quint32(data.size())); u16(quint16(name.size()));
    u16(0); u16(0); u16(0); u16(0); u32(0); u32(0);
    out.append(name);
    const quint32 centralSize = quint32(out.size()) - central;
    u32(0x06054b50); u16(0); u16(0); u16(1); u16(1); u32(centralSize); u32(central); u16(0);
    return out;
}

} // namespace

RefService::RefService(Options options)
    : m_options(std::move(options))
    , m_minVersion(QVersionNumber::fromString(m_options.minVersion))
    , m_blobs(m_options.dataDir)
{
}

RefService::~RefService()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool RefService::start(QString *error)
{
    // One service per data directory: a second one would empty the first
    // one's temporary files and write the same database behind its back. The
    // lock goes away with the process, however it ends.
    const QByteArray lockPath = QFile::encodeName(QDir(m_options.dataDir).filePath(QStringLiteral("refservice.lock")));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        *error = QStringLiteral("la cartella dati %1 è già usata da un altro tavrel-refservice").arg(m_options.dataDir);
        return false;
    }
    if (!m_blobs.prepare(error))
        return false;
    if (!m_store.open(m_options.dataDir, error))
        return false;
    if (!m_store.hasUsers()) {
        const QString seedPath = m_options.seedFile.isEmpty() ? QStringLiteral(":/refservice/demo.json")
                                                              : m_options.seedFile;
        QFile seed(seedPath);
        if (!seed.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("impossibile leggere il seed %1").arg(seedPath);
            return false;
        }
        if (!m_store.loadSeed(seed.readAll(), m_blobs, error))
            return false;
    }
    sweepUploads();

    if (!m_options.tlsCert.isEmpty() || !m_options.tlsKey.isEmpty()) {
        if (m_options.tlsCert.isEmpty() || m_options.tlsKey.isEmpty()) {
            *error = QStringLiteral("--tls-cert e --tls-key vanno indicati insieme");
            return false;
        }
        auto ssl = std::make_unique<ListeningServer<httplib::SSLServer>>(QFile::encodeName(m_options.tlsCert).constData(),
                                                        QFile::encodeName(m_options.tlsKey).constData());
        if (!ssl->is_valid()) {
            *error = QStringLiteral("certificato o chiave TLS non validi");
            return false;
        }
        m_server = std::move(ssl);
    } else {
        m_server = std::make_unique<ListeningServer<httplib::Server>>();
    }
    // Enough workers for many concurrent clients that keep their connections open.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(64); };
    m_server->set_keep_alive_timeout(10);
    m_server->set_keep_alive_max_count(1000);
    m_server->set_read_timeout(60);
    m_server->set_write_timeout(60);
    routes();

    const std::string host = m_options.host.toStdString();
    if (m_options.port == 0) {
        m_boundPort = m_server->bind_to_any_port(host);
        if (m_boundPort <= 0) {
            *error = QStringLiteral("impossibile mettersi in ascolto su %1").arg(m_options.host);
            return false;
        }
    } else {
        if (!m_server->bind_to_port(host, m_options.port)) {
            *error = QStringLiteral("impossibile mettersi in ascolto su %1:%2").arg(m_options.host).arg(m_options.port);
            return false;
        }
        m_boundPort = m_options.port;
    }
    if (auto *tls = dynamic_cast<ListeningServer<httplib::SSLServer> *>(m_server.get()))
        tls->widenBacklog();
    else if (auto *plain = dynamic_cast<ListeningServer<httplib::Server> *>(m_server.get()))
        plain->widenBacklog();
    return true;
}

void RefService::sweepUploads()
{
    m_lastSweepMs = nowMs();
    const qint64 cutoff = QDateTime::currentSecsSinceEpoch() - m_options.uploadKeepSeconds;
    int removed = 0;
    for (const QString &hash : m_store.expireUploads(cutoff))
        removed += m_blobs.removeUnused(hash, cutoff) ? 1 : 0;
    if (removed > 0)
        std::fprintf(stderr, "tavrel-refservice: removed %d uploaded file(s) never preserved\n", removed);
}

bool RefService::run()
{
    return m_server->listen_after_bind();
}

void RefService::stop()
{
    if (m_server)
        m_server->stop();
}

void RefService::routes()
{
    using namespace httplib;
    m_server->Post("/kvshop/RestService", [this](const Request &req, Response &res, const ContentReader &reader) {
        handleRest(req, res, reader);
    });
    m_server->Get("/kvshop/UpdateService", [this](const Request &req, Response &res) { handleUpdate(req, res); });
    m_server->Get("/kvshop/Exhibitor", [this](const Request &req, Response &res) { handleExhibitor(req, res); });
    m_server->Get("/kvshop/Exhibitor/download",
                  [this](const Request &req, Response &res) { handleExhibitorDownload(req, res); });

    struct Page {
        const char *pattern;
        QString title;
        QStringList text;
    };
    const QList<Page> pages = {
        {"/kvshop/Help/?",
         QStringLiteral("Aiuto"),
         {QStringLiteral("Tavrel Lite conserva i tuoi documenti a norma: scegli un file, indica la classe a cui "
                         "appartiene, compila gli indici richiesti e premi \"Conserva\"."),
          QStringLiteral("Dalla finestra principale puoi cercare i documenti conservati, scaricarne una copia, "
                         "esibirli, vederne la storia e rettificarli con una nuova versione."),
          QStringLiteral("Per assistenza scrivi al supporto indicando il token di conservazione del documento.")}},
        {"/kvshop/BuyQuota/?",
         QStringLiteral("Acquista spazio"),
         {QStringLiteral("Lo spazio di un profilo si amplia con un pacchetto aggiuntivo."),
          QStringLiteral("Nel servizio di riferimento gli acquisti non sono attivi: per provare un profilo con più "
                         "spazio modifica il seed del servizio.")}},
        {"/kvshop/PasswordRecovery/?",
         QStringLiteral("Recupero password"),
         {QStringLiteral("Per recuperare la password scarica il modulo di richiesta, compilalo e invialo al "
                         "supporto seguendo le istruzioni contenute all'interno."),
          QStringLiteral("Nel servizio di riferimento le password degli account dimostrativi sono indicate nel "
                         "file README del servizio.")}},
        {"/kvshop/Survey/?",
         QStringLiteral("La tua opinione"),
         {QStringLiteral("Grazie per voler condividere la tua opinione su Tavrel Lite."),
          QStringLiteral("Il questionario non è disponibile nel servizio di riferimento.")}},
    };
    for (const Page &page : pages) {
        const QByteArray html = ExhibitorPage::simple(page.title, page.text);
        m_server->Get(page.pattern, [html](const Request &, Response &res) {
            res.set_content(html.constData(), size_t(html.size()), "text/html; charset=utf-8");
        });
    }
    m_server->Get("/", [](const Request &, Response &res) { res.set_redirect("/kvshop/Help/"); });

    m_server->Post(R"(/kvshop/TestHooks/([a-z\-]+))", [this](const Request &req, Response &res) { handleHook(req, res); });

    if (qEnvironmentVariableIntValue("TAVREL_REFSERVICE_LOG") > 0) {
        m_server->set_logger([](const Request &req, const Response &res) {
            const std::string status = res.status == 200 || res.status == 500
                ? [&res] {
                      const auto a = res.body.find("<statusnumber>");
                      const auto b = res.body.find("</statusnumber>");
                      return (a == std::string::npos || b == std::string::npos) ? std::string()
                                                                                : " status " + res.body.substr(a + 14, b - a - 14);
                  }()
                : std::string();
            std::fprintf(stderr, "%s %s %s -> %d%s\n", req.remote_addr.c_str(), req.method.c_str(), req.path.c_str(),
                         res.status, status.c_str());
        });
    }
    m_server->set_error_handler([](const Request &, Response &res) {
        if (!res.body.empty())
            return;
        sendPage(res, res.status, QStringLiteral("Pagina non trovata"),
                 {QStringLiteral("L'indirizzo richiesto non esiste (errore %1).").arg(res.status)});
    });
    m_server->set_exception_handler([](const Request &, Response &res, std::exception_ptr) {
        const ServiceReply reply = ServiceReply::failure(QString::fromLatin1(Status::ActionNoExist),
                                                         QStringLiteral("Errore interno del servizio"));
        const QByteArray xml = reply.toXml();
        res.status = 500;
        res.set_content(xml.constData(), size_t(xml.size()), "text/xml; charset=utf-8");
    });
}

void RefService::sendReply(httplib::Response &res, const ServiceReply &reply) const
{
    auto xml = std::make_shared<QByteArray>(reply.toXml());
    res.status = reply.httpStatus();
    if (xml->size() < (1 << 20)) {
        res.set_content(xml->constData(), size_t(xml->size()), "text/xml; charset=utf-8");
        return;
    }
    // Large catalogue replies are sent from the one buffer, not copied again.
    res.set_content_provider(size_t(xml->size()), "text/xml; charset=utf-8",
                             [xml](size_t offset, size_t length, httplib::DataSink &sink) {
                                 const size_t chunk = std::min<size_t>(length, 1 << 20);
                                 return sink.write(xml->constData() + offset, chunk);
                             });
}

QString RefService::newSecret(int bytes) const
{
    QByteArray raw(bytes, '\0');
    RAND_bytes(reinterpret_cast<unsigned char *>(raw.data()), raw.size());
    return QString::fromLatin1(raw.toHex());
}

void RefService::applyDelay()
{
    const int ms = m_delayNextMs.exchange(0);
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::optional<ServiceReply> RefService::takeFailNext(const QString &action)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_failNext.find(action);
    if (it == m_failNext.end())
        return std::nullopt;
    const FailNext f = it.value();
    m_failNext.erase(it);
    if (f.code == QLatin1String(Status::ValidationKo)) {
        return ServiceReply::failure(f.code, f.description, [](QXmlStreamWriter &w) {
            w.writeEmptyElement(QStringLiteral("validation"));
        });
    }
    return ServiceReply::failure(f.code, f.description);
}

std::optional<RefService::Session> RefService::liveSession(const httplib::Request &req)
{
    const QString cookies = q(req.get_header_value("Cookie"));
    QString id;
    for (const QString &part : cookies.split(QLatin1Char(';'))) {
        const QString trimmed = part.trimmed();
        const QString prefix = QLatin1String(SessionCookie) + QLatin1Char('=');
        if (trimmed.startsWith(prefix))
            id = trimmed.mid(prefix.size());
    }
    if (id.isEmpty())
        return std::nullopt;
    QMutexLocker lock(&m_mutex);
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return std::nullopt;
    const qint64 now = nowMs();
    if (now - it->lastSeenMs > qint64(m_options.sessionIdleSeconds) * 1000) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    it->lastSeenMs = now;
    return it.value();
}

std::optional<ServiceReply> RefService::updateDemand(const QVersionNumber &clientVersion) const
{
    const bool outdated = !m_minVersion.isNull() && QVersionNumber::compare(clientVersion, m_minVersion) < 0;
    if (!m_demandUpdate.load() && !outdated)
        return std::nullopt;
    const QString wanted = m_minVersion.isNull() ? QStringLiteral("più recente") : m_minVersion.toString();
    return ServiceReply::failure(
        QString::fromLatin1(Status::ToUpdate),
        QStringLiteral("È disponibile una nuova versione di Tavrel Lite (%1). Per continuare a usare il servizio "
                       "è necessario aggiornare l'applicazione: premi \"Procedi\" per scaricare l'aggiornamento.")
            .arg(wanted));
}

void RefService::handleRest(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader)
{
    const std::string contentType = req.get_header_value("Content-Type");
    if (contentType.rfind("multipart/form-data", 0) == 0) {
        handleUpload(req, res, reader);
        return;
    }
    // Read the XML body, keeping at most MaxXmlBody bytes; a longer body is
    // read to its end (so the reply reaches the client) but not kept.
    std::string body;
    bool oversized = false;
    size_t received = 0;
    const bool complete = reader([&](const char *data, size_t length) {
        received += length;
        if (received > size_t(16 * MaxXmlBody))
            return false; // far beyond any request: stop reading, drop the connection
        if (oversized || body.size() + length > size_t(MaxXmlBody)) {
            oversized = true;
            body.clear();
            return true;
        }
        body.append(data, length);
        return true;
    });
    applyDelay();
    if (!complete) {
        sendReply(res, ServiceReply::failure(QString::fromLatin1(Status::ActionNoExist),
                                             QStringLiteral("Richiesta incompleta: la connessione si è interrotta")));
        return;
    }
    if (oversized) {
        sendReply(res, ServiceReply::failure(
                           QString::fromLatin1(Status::ActionNoExist),
                           QStringLiteral("Richiesta troppo grande: il limite è di %1 MiB").arg(MaxXmlBody >> 20)));
        return;
    }
    ServiceRequest request;
    QString error;
    if (!request.parse(QByteArray::fromStdString(body), &error)) {
        sendReply(res, ServiceReply::failure(QString::fromLatin1(Status::ActionNoExist), error));
        return;
    }
    bool replied = false;
    const ServiceReply reply = dispatch(request, req, res, &replied);
    if (!replied)
        sendReply(res, reply);
}

ServiceReply RefService::dispatch(const ServiceRequest &request, const httplib::Request &req, httplib::Response &res,
                                  bool *replied)
{
    const QString action = request.action();
    if (!knownAction(action)) {
        return ServiceReply::failure(QString::fromLatin1(Status::ActionNoExist),
                                     QStringLiteral("Azione sconosciuta: \"%1\"").arg(action.left(100)));
    }
    if (std::optional<ServiceReply> hooked = takeFailNext(action))
        return *hooked;
    if (action == QLatin1String("login"))
        return login(request, res);
    const std::optional<Session> session = liveSession(req);
    if (!session)
        return sessionExpired();
    if (std::optional<ServiceReply> demand = updateDemand(session->version))
        return *demand;
    if (action == QLatin1String("syncfolder"))
        return syncfolder(*session, request);
    if (action == QLatin1String("savevaluemetadati"))
        return conserve(*session, request, false);
    if (action == QLatin1String("sostituiscivaluemetadati"))
        return conserve(*session, request, true);
    if (action == QLatin1String("ripristina"))
        return restore(*session, request, res, replied);
    if (action == QLatin1String("getexhibitorconfig"))
        return exhibitorConfig(*session, request);
    if (action == QLatin1String("history"))
        return history(*session, request);
    if (action == QLatin1String("changePWD"))
        return changePassword(*session, request);
    // uploadfile / sostituiscifile posted as a plain XML document.
    return ServiceReply::failure(QString::fromLatin1(Status::UploadKo),
                                 QStringLiteral("Il caricamento richiede un invio multipart con la parte \"xml\" e il file"));
}

ServiceReply RefService::login(const ServiceRequest &request, httplib::Response &res)
{
    const QString username = request.field(QStringLiteral("username"));
    const QString password = request.field(QStringLiteral("password"));
    const QVersionNumber version = QVersionNumber::fromString(request.field(QStringLiteral("version")).trimmed());
    if (std::optional<ServiceReply> demand = updateDemand(version))
        return *demand;
    if (username.isEmpty() || password.isEmpty() || !m_store.verifyPassword(username, password))
        return ServiceReply::failure(QString::fromLatin1(Status::LoginKo), QStringLiteral("Username o password errate"));

    const QString id = newSecret(24);
    {
        QMutexLocker lock(&m_mutex);
        // Forget sessions idle for too long, so the table does not grow forever.
        const qint64 now = nowMs();
        const qint64 idle = qint64(m_options.sessionIdleSeconds) * 1000;
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (now - it->lastSeenMs > idle)
                it = m_sessions.erase(it);
            else
                ++it;
        }
        m_sessions.insert(id, Session{username, version, now});
    }
    std::string cookie = std::string(SessionCookie) + "=" + id.toStdString() + "; Path=/; HttpOnly";
    if (!m_options.tlsCert.isEmpty())
        cookie += "; Secure";
    res.set_header("Set-Cookie", cookie);

    return ServiceReply::success(QString::fromLatin1(Status::LoginOk), QStringLiteral("Accesso eseguito"),
                                 catalogueBody(username, request.field(QStringLiteral("codesync"))));
}

ServiceReply::BodyWriter RefService::catalogueBody(const QString &username, const QString &codesync)
{
    // The cursor is the largest update stamp the client holds, sent back as the
    // text of a real number ("0.0", "17.0", "17"); stamps are whole numbers.
    bool ok = false;
    const double cursorValue = codesync.trimmed().toDouble(&ok);
    const qint64 cursor = (ok && cursorValue > 0 && cursorValue < 9e15) ? qint64(cursorValue) : 0;
    auto c = std::make_shared<RefStore::Catalogue>(m_store.catalogue(username, cursor));
    return [c](QXmlStreamWriter &w) {
        const auto n = [](qint64 v) { return QString::number(v); };
        w.writeStartElement(QStringLiteral("buckets"));
        for (const RefStore::Bucket &b : c->buckets) {
            w.writeEmptyElement(QStringLiteral("bucket"));
            w.writeAttribute(QStringLiteral("id"), b.id);
            w.writeAttribute(QStringLiteral("description"), b.description);
            w.writeAttribute(QStringLiteral("quota"), n(b.quota));
            w.writeAttribute(QStringLiteral("used"), n(b.used));
            w.writeAttribute(QStringLiteral("unit"), b.unit);
            w.writeAttribute(QStringLiteral("div"), n(b.div));
        }
        w.writeEndElement();
        w.writeStartElement(QStringLiteral("policies"));
        for (const RefStore::Policy &p : c->policies) {
            w.writeEmptyElement(QStringLiteral("policie"));
            w.writeAttribute(QStringLiteral("policie"), p.id);
            w.writeAttribute(QStringLiteral("idbucket"), p.idbucket);
            w.writeAttribute(QStringLiteral("description"), p.description);
        }
        w.writeEndElement();
        w.writeStartElement(QStringLiteral("folders"));
        for (const RefStore::Folder &f : c->folders) {
            w.writeStartElement(QStringLiteral("folder"));
            w.writeAttribute(QStringLiteral("id"), n(f.id));
            w.writeAttribute(QStringLiteral("name"), f.name);
            w.writeAttribute(QStringLiteral("groups"), f.groups);
            w.writeAttribute(QStringLiteral("custom"), n(f.custom));
            w.writeAttribute(QStringLiteral("idbuckets"), f.idbucket);
            w.writeAttribute(QStringLiteral("idpolicies"), f.idpolicy);
            for (const RefStore::IndexDef &d : f.indexes) {
                w.writeEmptyElement(QStringLiteral("metadato"));
                w.writeAttribute(QStringLiteral("idmetadato"), n(d.id));
                w.writeAttribute(QStringLiteral("idfolder"), n(d.idfolder));
                w.writeAttribute(QStringLiteral("name"), d.name);
                w.writeAttribute(QStringLiteral("type"), n(d.type));
                w.writeAttribute(QStringLiteral("visible"), n(d.visible));
                w.writeAttribute(QStringLiteral("required"), n(d.required));
                w.writeAttribute(QStringLiteral("custom"), n(d.custom));
                w.writeAttribute(QStringLiteral("tooltip"), d.tooltip);
            }
            w.writeEndElement();
        }
        w.writeEndElement();
        w.writeStartElement(QStringLiteral("files"));
        for (const RefStore::FileVersion &f : c->files) {
            w.writeEmptyElement(QStringLiteral("file"));
            w.writeAttribute(QStringLiteral("hash"), f.hash);
            w.writeAttribute(QStringLiteral("hash4k"), f.hash4k);
            w.writeAttribute(QStringLiteral("last_modified"), f.lastModified);
            w.writeAttribute(QStringLiteral("filename"), f.filename);
            w.writeAttribute(QStringLiteral("token"), f.token);
            w.writeAttribute(QStringLiteral("idfolder"), n(f.idfolder));
            w.writeAttribute(QStringLiteral("username"), f.username);
            w.writeAttribute(QStringLiteral("tsupdate"), n(f.tsupdate));
            w.writeAttribute(QStringLiteral("idbuckets"), f.idbucket);
            w.writeAttribute(QStringLiteral("tsconserve"), f.tsconserve);
            w.writeAttribute(QStringLiteral("computer_name"), f.computerName);
            w.writeAttribute(QStringLiteral("filesize"), n(f.filesize));
        }
        w.writeEndElement();
        w.writeStartElement(QStringLiteral("metadatiValues"));
        for (const RefStore::IndexValue &v : c->values) {
            w.writeEmptyElement(QStringLiteral("metadatoValue"));
            w.writeAttribute(QStringLiteral("key"), n(v.idmetadato));
            w.writeAttribute(QStringLiteral("value"), v.value);
            w.writeAttribute(QStringLiteral("hash"), v.hash);
        }
        w.writeEndElement();
    };
}

ServiceReply RefService::syncfolder(const Session &session, const ServiceRequest &request)
{
    return ServiceReply::success(QString::fromLatin1(Status::SyncFolderOk), QStringLiteral("Sincronizzazione completata"),
                                 catalogueBody(session.username, request.field(QStringLiteral("codesync"))));
}

QList<QPair<QString, QString>> RefService::validate(const RefStore::Folder &folder,
                                                    const QList<QPair<QString, QString>> &given,
                                                    QMap<int, QString> *accepted)
{
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+|\\d{1,3}(\\.\\d{3})+)(,\\d+)?$|^[+-]?\\d+(\\.\\d+)?$"));
    static const QRegularExpression date(QStringLiteral("^(\\d{2})/(\\d{2})/(\\d{4})$"));
    constexpr int MaxValueLength = 1000;

    QList<QPair<QString, QString>> errors;
    QMap<int, QString> values;
    QHash<int, const RefStore::IndexDef *> defs;
    for (const RefStore::IndexDef &d : folder.indexes)
        defs.insert(d.id, &d);
    for (const auto &pair : given) {
        int id = 0;
        if (!parseInt(pair.first, &id) || !defs.contains(id)) {
            errors.append({pair.first, QStringLiteral("Indice non previsto per la classe \"%1\"").arg(folder.name)});
            continue;
        }
        if (values.contains(id)) {
            errors.append({pair.first, QStringLiteral("Valore ripetuto per l'indice \"%1\"").arg(defs.value(id)->name)});
            continue;
        }
        values.insert(id, pair.second);
    }
    for (const RefStore::IndexDef &d : folder.indexes) {
        const QString key = QString::number(d.id);
        const QString value = values.value(d.id).trimmed();
        if (value.isEmpty()) {
            if (d.required == 1)
                errors.append({key, QStringLiteral("Il campo \"%1\" è obbligatorio").arg(d.name)});
            continue;
        }
        if (value.size() > MaxValueLength) {
            errors.append({key, QStringLiteral("Il campo \"%1\" supera i %2 caratteri").arg(d.name).arg(MaxValueLength)});
            continue;
        }
        if (d.type == 2 && !number.match(value).hasMatch()) {
            errors.append({key, QStringLiteral("Il campo \"%1\" deve contenere un numero (per esempio 1234 oppure 1.234,56)")
                                    .arg(d.name)});
            continue;
        }
        if (d.type == 3) {
            const QRegularExpressionMatch m = date.match(value);
            if (!m.hasMatch() || !QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt()).isValid()) {
                errors.append({key, QStringLiteral("Il campo \"%1\" deve contenere una data valida nel formato gg/mm/aaaa")
                                        .arg(d.name)});
                continue;
            }
        }
    }
    *accepted = values;
    return errors;
}

ServiceReply RefService::conserve(const Session &session, const ServiceRequest &request, bool rectification)
{
    const QString ko = QString::fromLatin1(rectification ? Status::ReplaceKo : Status::ConserveKo);
    const QString hash = request.field(QStringLiteral("hash")).trimmed().toLower();
    const QString prevHash = rectification ? request.field(QStringLiteral("hashprecedente")).trimmed().toLower() : QString();
    int folderId = 0;
    if (!BlobStore::isSha1(hash))
        return ServiceReply::failure(ko, QStringLiteral("Campo \"hash\" mancante o non valido"));
    if (rectification && !BlobStore::isSha1(prevHash))
        return ServiceReply::failure(ko, QStringLiteral("Campo \"hashprecedente\" mancante o non valido"));
    if (!parseInt(request.field(QStringLiteral("folderid")), &folderId))
        return ServiceReply::failure(ko, QStringLiteral("Campo \"folderid\" mancante o non valido"));
    const std::optional<RefStore::Folder> folder = m_store.folderOfUser(session.username, folderId);
    if (!folder)
        return ServiceReply::failure(ko, QStringLiteral("La classe indicata non esiste o non appartiene al tuo account"));
    const std::optional<RefStore::Upload> upload = m_store.pendingUpload(session.username, hash, folderId, prevHash);
    if (!upload || !m_blobs.contains(hash)) {
        return ServiceReply::failure(ko, QStringLiteral("Nessun file caricato con questa impronta nella classe \"%1\": "
                                                        "ripeti il caricamento del file")
                                             .arg(folder->name));
    }
    std::optional<RefStore::FileVersion> replaces;
    if (rectification) {
        replaces = m_store.currentVersion(session.username, prevHash, folderId);
        if (!replaces)
            return ServiceReply::failure(ko, QStringLiteral("Il documento da rettificare non è più la versione corrente"));
    } else if (m_store.currentVersion(session.username, hash, folderId)) {
        return ServiceReply::failure(ko, QStringLiteral("Il documento è già conservato nella classe \"%1\"").arg(folder->name));
    }

    QMap<int, QString> values;
    const QList<QPair<QString, QString>> errors = validate(*folder, request.indexValues(), &values);
    if (!errors.isEmpty()) {
        return ServiceReply::failure(QString::fromLatin1(Status::ValidationKo),
                                     QStringLiteral("La validazione degli indici non è riuscita"),
                                     [errors](QXmlStreamWriter &w) {
                                         w.writeStartElement(QStringLiteral("validation"));
                                         for (const auto &e : errors) {
                                             w.writeEmptyElement(QStringLiteral("field"));
                                             w.writeAttribute(QStringLiteral("key"), e.first);
                                             w.writeAttribute(QStringLiteral("message"), e.second);
                                         }
                                         w.writeEndElement();
                                     });
    }

    const QString computerName = request.field(QStringLiteral("computername")).trimmed().left(255);
    RefStore::FileVersion stored;
    QString error;
    switch (m_store.conserve(*upload, values, computerName, replaces, &stored, &error)) {
    case RefStore::ConserveOutcome::Ok:
        break;
    case RefStore::ConserveOutcome::QuotaExceeded: {
        const std::optional<RefStore::Bucket> b = m_store.bucket(folder->idbucket);
        return ServiceReply::failure(ko, QStringLiteral("Spazio insufficiente nel profilo \"%1\" (%2): acquista altro "
                                                        "spazio o libera il profilo")
                                             .arg(b ? b->description : folder->idbucket, b ? quotaText(*b) : QString()));
    }
    case RefStore::ConserveOutcome::Replaced:
        return ServiceReply::failure(ko, QStringLiteral("Il documento da rettificare è già stato sostituito da un'altra versione"));
    case RefStore::ConserveOutcome::Failed:
        return ServiceReply::failure(ko, QStringLiteral("Conservazione non riuscita: %1").arg(error));
    }
    return ServiceReply::success(QString::fromLatin1(rectification ? Status::ReplaceOk : Status::ConserveOk),
                                 rectification ? QStringLiteral("Documento sostituito correttamente")
                                               : QStringLiteral("Documento conservato correttamente"),
                                 [stored](QXmlStreamWriter &w) {
                                     w.writeTextElement(QStringLiteral("token"), stored.token);
                                     w.writeTextElement(QStringLiteral("tsconserve"), stored.tsconserve);
                                     w.writeTextElement(QStringLiteral("tsupdate"), QString::number(stored.tsupdate));
                                 });
}

ServiceReply RefService::history(const Session &session, const ServiceRequest &request)
{
    const QString ko = QString::fromLatin1(Status::HistoryKo);
    const QString hash = request.field(QStringLiteral("hash")).trimmed().toLower();
    int folderId = 0;
    if (!BlobStore::isSha1(hash) || !parseInt(request.field(QStringLiteral("folderid")), &folderId))
        return ServiceReply::failure(ko, QStringLiteral("Campi \"hash\" e \"folderid\" mancanti o non validi"));
    const std::optional<RefStore::FileVersion> version = m_store.anyVersion(session.username, hash, folderId);
    if (!version)
        return ServiceReply::failure(ko, QStringLiteral("Il documento richiesto non è conservato nel tuo account"));
    auto versions = std::make_shared<QList<RefStore::FileVersion>>(m_store.history(version->lineage));
    return ServiceReply::success(QString::fromLatin1(Status::HistoryOk), QStringLiteral("Storia del documento"),
                                 [versions](QXmlStreamWriter &w) {
                                     w.writeStartElement(QStringLiteral("files"));
                                     for (const RefStore::FileVersion &f : *versions) {
                                         w.writeEmptyElement(QStringLiteral("file"));
                                         w.writeAttribute(QStringLiteral("hash"), f.hash);
                                         w.writeAttribute(QStringLiteral("token"), f.token);
                                         w.writeAttribute(QStringLiteral("filename"), f.filename);
                                         w.writeAttribute(QStringLiteral("filesize"), QString::number(f.filesize));
                                         w.writeAttribute(QStringLiteral("tsfiles"), f.tsconserve);
                                         w.writeAttribute(QStringLiteral("idfolders"), QString::number(f.idfolder));
                                     }
                                     w.writeEndElement();
                                 });
}

ServiceReply RefService::exhibitorConfig(const Session &session, const ServiceRequest &request)
{
    const QString token = request.field(QStringLiteral("token")).trimmed();
    const std::optional<RefStore::FileVersion> version = token.isEmpty() ? std::nullopt : m_store.versionByToken(token);
    if (!version || version->username != session.username) {
        return ServiceReply::failure(QString::fromLatin1(Status::ExhibitorKo),
                                     QStringLiteral("Il documento indicato non è conservato nel tuo account"));
    }
    const QString code = newSecret(12);
    {
        QMutexLocker lock(&m_mutex);
        const qint64 now = nowMs();
        dropExpired(m_exhibitCodes, now);
        m_exhibitCodes.insert(code, Grant{version->id, now + ExhibitCodeLifetimeMs});
    }
    return ServiceReply::success(QString::fromLatin1(Status::ExhibitorOk), QStringLiteral("Codice di esibizione generato"),
                                 [code](QXmlStreamWriter &w) {
                                     w.writeStartElement(QStringLiteral("exhibitor"));
                                     w.writeEmptyElement(QStringLiteral("unique_code"));
                                     w.writeAttribute(QStringLiteral("value"), code);
                                     w.writeEndElement();
                                 });
}

ServiceReply RefService::changePassword(const Session &session, const ServiceRequest &request)
{
    const QString ko = QString::fromLatin1(Status::ChangePwdKo);
    if (!request.has(QStringLiteral("newpwd")) || !request.has(QStringLiteral("confirmpwd"))
        || !request.has(QStringLiteral("oldpwd")))
        return ServiceReply::failure(ko, QStringLiteral("Campi \"newpwd\", \"confirmpwd\" e \"oldpwd\" obbligatori"));
    const QString newPwd = request.field(QStringLiteral("newpwd"));
    if (newPwd != request.field(QStringLiteral("confirmpwd")))
        return ServiceReply::failure(ko, QStringLiteral("Le password non corrispondono"));
    const QString broken = m_store.changePassword(session.username, request.field(QStringLiteral("oldpwd")), newPwd);
    if (!broken.isEmpty())
        return ServiceReply::failure(ko, broken);
    return ServiceReply::success(QString::fromLatin1(Status::ChangePwdOk), QStringLiteral("Password modificata"));
}

ServiceReply RefService::restore(const Session &session, const ServiceRequest &request, httplib::Response &res,
                                 bool *replied)
{
    const QString ko = QString::fromLatin1(Status::RestoreKo);
    const QString hash = request.field(QStringLiteral("hash")).trimmed().toLower();
    int folderId = 0;
    if (!BlobStore::isSha1(hash) || !parseInt(request.field(QStringLiteral("folderid")), &folderId))
        return ServiceReply::failure(ko, QStringLiteral("Campi \"hash\" e \"folderid\" mancanti o non validi"));
    const std::optional<RefStore::FileVersion> version = m_store.anyVersion(session.username, hash, folderId);
    if (!version)
        return ServiceReply::failure(ko, QStringLiteral("Il documento richiesto non è conservato nel tuo account"));
    if (m_blobs.sizeOf(hash) != version->filesize)
        return ServiceReply::failure(ko, QStringLiteral("La copia conservata del documento non è leggibile"));
    streamFile(res, m_blobs.pathOf(hash), version->filesize, fileBaseName(version->filename));
    *replied = true;
    return ServiceReply::success(QString::fromLatin1(Status::RestoreOk), QString());
}

void RefService::streamFile(httplib::Response &res, const QString &path, qint64 size, const QString &downloadName) const
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        sendPage(res, 500, QStringLiteral("Errore"), {QStringLiteral("Il file non è leggibile.")});
        return;
    }
    QString ascii;
    for (const QChar c : downloadName)
        ascii.append((c.unicode() >= 0x20 && c.unicode() < 0x7f && c != QLatin1Char('"') && c != QLatin1Char('\\')) ? c
                                                                                                                 : QLatin1Char('_'));
    if (ascii.isEmpty())
        ascii = QStringLiteral("documento");
    const QByteArray encoded = QUrl::toPercentEncoding(downloadName.isEmpty() ? ascii : downloadName);
    res.status = 200;
    res.set_header("Content-Disposition", QStringLiteral("attachment; filename=\"%1\"; filename*=UTF-8''%2")
                                              .arg(ascii, QString::fromLatin1(encoded))
                                              .toStdString());
    res.set_content_provider(
        size_t(size), "application/octet-stream",
        [fd](size_t offset, size_t length, httplib::DataSink &sink) {
            char buffer[64 * 1024];
            const size_t chunk = std::min(length, sizeof(buffer));
            const ssize_t n = ::pread(fd, buffer, chunk, off_t(offset));
            if (n <= 0)
                return false;
            return sink.write(buffer, size_t(n));
        },
        [fd](bool) { ::close(fd); });
}

void RefService::handleUpload(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader)
{
    // The session is known from the headers, before any byte of the file: the
    // file is only written to disk for a live session. The body is always read
    // to its end so the client gets a reply instead of a broken connection.
    const std::optional<Session> session = liveSession(req);
    if (session) {
        qint64 last = m_lastSweepMs.load();
        const qint64 interval = std::max<qint64>(1000, m_options.uploadKeepSeconds * 1000 / 4);
        if (nowMs() - last >= interval && m_lastSweepMs.compare_exchange_strong(last, nowMs()))
            sweepUploads();
    }
    std::string partName;
    std::string xml;
    bool xmlTooLong = false;
    bool inFile = false;
    int fileParts = 0;
    QString fileName;
    bool writeFailed = false;
    qint64 spaceLeft = -1; // bytes the profile can still take, -1 without quota
    bool overQuota = false;
    std::unique_ptr<BlobStore::Writer> writer;
    const bool complete = reader(
        [&](const httplib::MultipartFormData &part) {
            partName = part.name;
            inFile = false;
            if (partName == "xml")
                return true;
            ++fileParts;
            if (fileParts == 1) {
                inFile = true;
                fileName = cleanName(part.name);
                if (session) {
                    writer = m_blobs.newWriter();
                    writeFailed = !writer;
                    spaceLeft = spaceLeftFor(session->username, xml);
                }
            }
            return true;
        },
        [&](const char *data, size_t length) {
            if (partName == "xml") {
                if (xml.size() + length > size_t(MaxXmlBody))
                    xmlTooLong = true;
                else
                    xml.append(data, length);
            } else if (inFile && writer && !writeFailed && !overQuota) {
                if (spaceLeft >= 0 && writer->size() + qint64(length) > spaceLeft) {
                    // Over the quota: the rest is read but not written to disk.
                    overQuota = true;
                    writer->discard();
                } else {
                    writeFailed = !writer->write(data, length);
                }
            }
            return true;
        });
    applyDelay();
    const QString ko = QString::fromLatin1(Status::UploadKo);
    if (!complete) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Caricamento interrotto o malformato: il file non è "
                                                                "stato ricevuto per intero")));
        return;
    }
    if (xmlTooLong || xml.empty()) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Caricamento non valido: manca la parte \"xml\" o è "
                                                                "troppo grande")));
        return;
    }
    ServiceRequest request;
    QString error;
    if (!request.parse(QByteArray::fromStdString(xml), &error)) {
        sendReply(res, ServiceReply::failure(ko, error));
        return;
    }
    const QString action = request.action();
    const bool rectification = action == QLatin1String("sostituiscifile");
    if (action != QLatin1String("uploadfile") && !rectification) {
        sendReply(res, ServiceReply::failure(QString::fromLatin1(Status::ActionNoExist),
                                             QStringLiteral("Azione non ammessa in un caricamento: \"%1\"").arg(action.left(100))));
        return;
    }
    if (std::optional<ServiceReply> hooked = takeFailNext(action)) {
        sendReply(res, *hooked);
        return;
    }
    if (!session) {
        sendReply(res, sessionExpired());
        return;
    }
    if (std::optional<ServiceReply> demand = updateDemand(session->version)) {
        sendReply(res, *demand);
        return;
    }
    if (overQuota) {
        const int folderId = request.field(QStringLiteral("idfolder")).trimmed().toInt();
        const std::optional<RefStore::Folder> folder = m_store.folderOfUser(session->username, folderId);
        const std::optional<RefStore::Bucket> bucket = folder ? m_store.bucket(folder->idbucket) : std::nullopt;
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Spazio insufficiente nel profilo \"%1\": il file supera lo "
                                                                "spazio ancora libero (usati %2). Acquista altro spazio.")
                                                     .arg(bucket ? bucket->description : QString(),
                                                          bucket ? quotaText(*bucket) : QString())));
        return;
    }
    if (fileParts != 1 || !writer) {
        sendReply(res, ServiceReply::failure(ko, writeFailed ? QStringLiteral("Impossibile salvare il file ricevuto")
                                                             : QStringLiteral("Il caricamento deve contenere esattamente un file")));
        return;
    }
    if (writeFailed || !writer->finish()) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Impossibile salvare il file ricevuto: spazio su disco "
                                                                "del servizio esaurito?")));
        return;
    }

    int folderId = 0;
    const QString declared = request.field(QStringLiteral("hashfile")).trimmed().toLower();
    const QString prevHash = rectification ? request.field(QStringLiteral("hash")).trimmed().toLower() : QString();
    if (!parseInt(request.field(QStringLiteral("idfolder")), &folderId)) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Campo \"idfolder\" mancante o non valido")));
        return;
    }
    if (!BlobStore::isSha1(declared)) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Campo \"hashfile\" mancante o non valido")));
        return;
    }
    if (rectification && !BlobStore::isSha1(prevHash)) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Campo \"hash\" (versione da rettificare) mancante o non valido")));
        return;
    }
    if (writer->sha1() != declared) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Il file ricevuto non corrisponde all'impronta dichiarata "
                                                                "(%1 invece di %2): forse è stato modificato durante "
                                                                "l'invio. Riprova.")
                                                     .arg(writer->sha1(), declared)));
        return;
    }
    const std::optional<RefStore::Folder> folder = m_store.folderOfUser(session->username, folderId);
    if (!folder) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("La classe indicata non esiste o non appartiene al tuo account")));
        return;
    }
    std::optional<RefStore::FileVersion> previous;
    if (rectification) {
        previous = m_store.currentVersion(session->username, prevHash, folderId);
        if (!previous) {
            sendReply(res, ServiceReply::failure(QString::fromLatin1(Status::ReplaceKo),
                                                 QStringLiteral("Il documento da rettificare non è conservato nella classe "
                                                                "\"%1\" o non è la versione corrente")
                                                     .arg(folder->name)));
            return;
        }
    } else if (const std::optional<RefStore::FileVersion> existing =
                   m_store.currentVersion(session->username, declared, folderId)) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Il documento è già conservato nella classe \"%1\" "
                                                                "(token %2)")
                                                     .arg(folder->name, existing->token)));
        return;
    }
    const std::optional<RefStore::Bucket> bucket = m_store.bucket(folder->idbucket);
    if (bucket && bucket->quota > 0 && bucket->used + writer->size() > bucket->quota) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Spazio insufficiente nel profilo \"%1\": il file occupa "
                                                                "%2 byte e sono già usati %3. Acquista altro spazio.")
                                                     .arg(bucket->description)
                                                     .arg(writer->size())
                                                     .arg(quotaText(*bucket))));
        return;
    }
    if (!m_blobs.commit(*writer, &error)) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Impossibile salvare il file ricevuto: %1").arg(error)));
        return;
    }
    RefStore::Upload upload;
    upload.username = session->username;
    upload.hash = writer->sha1();
    upload.hash4k = writer->sha1First4k();
    upload.prevHash = prevHash;
    upload.filename = fileName;
    upload.filesize = writer->size();
    upload.lastModified = request.field(QStringLiteral("last_modified")).trimmed().left(64);
    upload.idfolder = folderId;
    if (!m_store.saveUpload(upload, &error)) {
        sendReply(res, ServiceReply::failure(ko, QStringLiteral("Impossibile registrare il caricamento: %1").arg(error)));
        return;
    }
    // The class's index definitions, each carrying its initial value: empty
    // for a new document, the replaced version's value for a rectification.
    const QMap<int, QString> initial = previous ? m_store.values(previous->id) : QMap<int, QString>();
    const RefStore::Folder f = *folder;
    sendReply(res, ServiceReply::success(QString::fromLatin1(Status::UploadOk), QStringLiteral("File caricato correttamente"),
                                         [f, initial](QXmlStreamWriter &w) {
                                             w.writeStartElement(QStringLiteral("metadati"));
                                             for (const RefStore::IndexDef &d : f.indexes) {
                                                 w.writeStartElement(QStringLiteral("metadato"));
                                                 w.writeAttribute(QStringLiteral("idmetadato"), QString::number(d.id));
                                                 w.writeAttribute(QStringLiteral("name"), d.name);
                                                 w.writeAttribute(QStringLiteral("required"), QString::number(d.required));
                                                 w.writeAttribute(QStringLiteral("type"), QString::number(d.type));
                                                 w.writeAttribute(QStringLiteral("tooltip"), d.tooltip);
                                                 w.writeCharacters(initial.value(d.id));
                                                 w.writeEndElement();
                                             }
                                             w.writeEndElement();
                                         }));
}

qint64 RefService::spaceLeftFor(const QString &username, const std::string &xml)
{
    ServiceRequest request;
    QString error;
    int folderId = 0;
    if (!request.parse(QByteArray::fromStdString(xml), &error) || !parseInt(request.field(QStringLiteral("idfolder")), &folderId))
        return -1;
    const std::optional<RefStore::Folder> folder = m_store.folderOfUser(username, folderId);
    const std::optional<RefStore::Bucket> bucket = folder ? m_store.bucket(folder->idbucket) : std::nullopt;
    if (!bucket || bucket->quota <= 0)
        return -1;
    return qMax<qint64>(0, bucket->quota - bucket->used);
}

std::optional<RefStore::FileVersion> RefService::grantedVersion(const QString &secret, const Grant &grant)
{
    if (secret.isEmpty() || !grant.fileId || grant.expiresMs < nowMs())
        return std::nullopt;
    return m_store.versionById(grant.fileId);
}

void RefService::handleExhibitor(const httplib::Request &req, httplib::Response &res)
{
    const QString code = q(req.get_param_value("unique_code"));
    Grant grant;
    {
        QMutexLocker lock(&m_mutex);
        // One use only: the code is consumed by the first visit.
        grant = m_exhibitCodes.take(code);
    }
    const std::optional<RefStore::FileVersion> version = grantedVersion(code, grant);
    if (!version) {
        sendPage(res, 404, QStringLiteral("Codice di esibizione non valido"),
                 {QStringLiteral("Il codice di esibizione è scaduto, è già stato usato oppure non esiste."),
                  QStringLiteral("Richiedi una nuova esibizione del documento dall'applicazione Tavrel Lite.")});
        return;
    }
    const QString key = newSecret(16);
    {
        QMutexLocker lock(&m_mutex);
        const qint64 now = nowMs();
        dropExpired(m_downloadKeys, now);
        m_downloadKeys.insert(key, Grant{version->id, now + DownloadKeyLifetimeMs});
    }
    ExhibitorPage::Document doc;
    doc.filename = version->filename;
    doc.hash = version->hash;
    doc.token = version->token;
    doc.tsconserve = version->tsconserve;
    doc.lastModified = version->lastModified;
    doc.computerName = version->computerName;
    doc.filesize = version->filesize;
    doc.downloadUrl = QStringLiteral("/kvshop/Exhibitor/download?key=") + key;
    const std::optional<RefStore::Folder> folder = m_store.folderById(version->idfolder);
    if (folder) {
        doc.className = folder->name;
        doc.groupName = folder->groups;
    }
    if (const std::optional<RefStore::Bucket> b = m_store.bucket(version->idbucket))
        doc.profileName = b->description;
    const QList<RefStore::FileVersion> chain = m_store.history(version->lineage);
    doc.versions = qMax(1, int(chain.size()));
    for (int i = 0; i < chain.size(); ++i) {
        if (chain.at(i).id == version->id)
            doc.version = int(chain.size()) - i;
    }
    const QMap<int, QString> values = m_store.values(version->id);
    if (folder) {
        for (const RefStore::IndexDef &d : folder->indexes) {
            if (values.contains(d.id))
                doc.indexValues.append({d.name, values.value(d.id)});
        }
    }
    const QByteArray html = ExhibitorPage::document(doc);
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    res.set_content(html.constData(), size_t(html.size()), "text/html; charset=utf-8");
}

void RefService::handleExhibitorDownload(const httplib::Request &req, httplib::Response &res)
{
    const QString key = q(req.get_param_value("key"));
    Grant grant;
    {
        QMutexLocker lock(&m_mutex);
        grant = m_downloadKeys.value(key);
    }
    const std::optional<RefStore::FileVersion> version = grantedVersion(key, grant);
    if (!version || m_blobs.sizeOf(version->hash) != version->filesize) {
        sendPage(res, 404, QStringLiteral("Collegamento scaduto"),
                 {QStringLiteral("Il collegamento per scaricare il documento non è più valido: riapri la pagina di "
                                 "esibizione.")});
        return;
    }
    streamFile(res, m_blobs.pathOf(version->hash), version->filesize, fileBaseName(version->filename));
}

void RefService::handleUpdate(const httplib::Request &req, httplib::Response &res)
{
    if (req.get_param_value("platform") != "lin") {
        sendPage(res, 404, QStringLiteral("Aggiornamento non disponibile"),
                 {QStringLiteral("Non esiste un aggiornamento per la piattaforma indicata.")});
        return;
    }
    if (!m_options.updatePackage.isEmpty()) {
        const QFileInfo info(m_options.updatePackage);
        if (!info.isFile()) {
            sendPage(res, 503, QStringLiteral("Aggiornamento non disponibile"),
                     {QStringLiteral("Il pacchetto di aggiornamento non è leggibile.")});
            return;
        }
        streamFile(res, info.absoluteFilePath(), info.size(), info.fileName());
        return;
    }
    const QByteArray zip = builtInPackage();
    res.set_header("Content-Disposition", "attachment; filename=\"tavrellite-aggiornamento.zip\"");
    res.set_content(zip.constData(), size_t(zip.size()), "application/zip");
}

void RefService::handleHook(const httplib::Request &req, httplib::Response &res)
{
    if (!m_options.testHooks) {
        res.status = 404;
        return;
    }
    if (!isLoopback(req.remote_addr)) {
        res.status = 403;
        res.set_content("test hooks are only available from loopback\n", "text/plain");
        return;
    }
    const std::string name = req.matches.size() > 1 ? req.matches[1].str() : std::string();
    if (name == "expire-sessions") {
        QMutexLocker lock(&m_mutex);
        m_sessions.clear();
    } else if (name == "demand-update") {
        const std::string on = req.get_param_value("on");
        m_demandUpdate = on == "1" || on == "true";
    } else if (name == "fail-next") {
        const QString action = q(req.get_param_value("action"));
        const QString code = q(req.get_param_value("code"));
        if (action.isEmpty() || code.isEmpty()) {
            res.status = 400;
            res.set_content("fail-next needs action and code\n", "text/plain");
            return;
        }
        QMutexLocker lock(&m_mutex);
        m_failNext.insert(action, FailNext{code, q(req.get_param_value("description"))});
    } else if (name == "delay-next") {
        bool ok = false;
        const int ms = q(req.get_param_value("ms")).toInt(&ok);
        if (!ok || ms < 0 || ms > 600000) {
            res.status = 400;
            res.set_content("delay-next needs ms between 0 and 600000\n", "text/plain");
            return;
        }
        m_delayNextMs = ms;
    } else {
        res.status = 404;
        res.set_content("unknown test hook\n", "text/plain");
        return;
    }
    res.set_content("ok\n", "text/plain");
}
