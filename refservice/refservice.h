// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef REFSERVICE_H
#define REFSERVICE_H

#include "blobstore.h"
#include "refstore.h"
#include "servicereply.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVersionNumber>

#include <atomic>
#include <memory>

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

class ServiceRequest;

// The reference preservation service: routes the client's endpoint, its web
// pages and (optionally) the test hooks onto the store and the blob store.
class RefService
{
public:
    struct Options {
        QString host = QStringLiteral("127.0.0.1");
        int port = 8765;
        QString dataDir;
        QString seedFile;        // empty: the embedded demo seed
        int sessionIdleSeconds = 1800;
        qint64 uploadKeepSeconds = 86400; // an upload never preserved is forgotten after this
        QString minVersion;      // empty: any client version is accepted
        QString updatePackage;   // empty: a small built-in package
        QString tlsCert, tlsKey; // both set: HTTPS
        bool testHooks = false;
    };

    explicit RefService(Options options);
    ~RefService();

    // Opens the data directory (seeding an empty one) and binds the socket.
    bool start(QString *error);
    int port() const { return m_boundPort; }
    // Serves until stop(); returns false when the server failed.
    bool run();
    void stop();

    static constexpr qint64 MaxXmlBody = 4 * 1024 * 1024;

private:
    struct Session {
        QString username;
        QVersionNumber version;
        qint64 lastSeenMs = 0;
    };
    struct Grant {
        qint64 fileId = 0;
        qint64 expiresMs = 0;
    };
    struct FailNext {
        QString code, description;
    };

    void routes();
    void handleRest(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);
    void handleUpload(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);
    ServiceReply dispatch(const ServiceRequest &request, const httplib::Request &req, httplib::Response &res,
                          bool *replied);
    ServiceReply login(const ServiceRequest &request, httplib::Response &res);
    ServiceReply syncfolder(const Session &session, const ServiceRequest &request);
    ServiceReply::BodyWriter catalogueBody(const QString &username, const QString &codesync);
    // Checks index values against the class's definitions: required, number,
    // date (dd/MM/yyyy, a real date), known index. Returns (key, message) per
    // rejected value; `accepted` receives the values by index id.
    static QList<QPair<QString, QString>> validate(const RefStore::Folder &folder,
                                                   const QList<QPair<QString, QString>> &given,
                                                   QMap<int, QString> *accepted);
    ServiceReply conserve(const Session &session, const ServiceRequest &request, bool rectification);
    ServiceReply history(const Session &session, const ServiceRequest &request);
    ServiceReply exhibitorConfig(const Session &session, const ServiceRequest &request);
    ServiceReply changePassword(const Session &session, const ServiceRequest &request);
    // Streams the file on success (and sets *replied); an error reply otherwise.
    ServiceReply restore(const Session &session, const ServiceRequest &request, httplib::Response &res, bool *replied);

    // Space the profile of the upload's class can still take (-1: no limit or
    // not known yet), from the request part that precedes the file.
    qint64 spaceLeftFor(const QString &username, const std::string &xml);
    void handleExhibitor(const httplib::Request &req, httplib::Response &res);
    void handleExhibitorDownload(const httplib::Request &req, httplib::Response &res);
    void handleUpdate(const httplib::Request &req, httplib::Response &res);
    void handleHook(const httplib::Request &req, httplib::Response &res);

    // Session of the request's cookie, refreshed; nullopt when absent or expired.
    std::optional<Session> liveSession(const httplib::Request &req);
    // "31" when the session's client must be updated first.
    std::optional<ServiceReply> updateDemand(const QVersionNumber &clientVersion) const;
    std::optional<ServiceReply> takeFailNext(const QString &action);
    void applyDelay();
    // The version a one-time secret (exhibition code, download key) opens,
    // while its grant is still valid.
    std::optional<RefStore::FileVersion> grantedVersion(const QString &secret, const Grant &grant);
    // Forgets the uploads older than uploadKeepSeconds that were never
    // preserved, and removes the contents nothing else refers to. Done at
    // start and then, at most every quarter of that time, on a new upload.
    void sweepUploads();
    void sendReply(httplib::Response &res, const ServiceReply &reply) const;
    void streamFile(httplib::Response &res, const QString &path, qint64 size, const QString &downloadName) const;
    QString newSecret(int bytes) const;

    Options m_options;
    QVersionNumber m_minVersion;
    RefStore m_store;
    BlobStore m_blobs;
    std::unique_ptr<httplib::Server> m_server;
    int m_boundPort = 0;
    int m_lockFd = -1;

    QMutex m_mutex; // guards the maps below
    QHash<QString, Session> m_sessions;
    QHash<QString, Grant> m_exhibitCodes;
    QHash<QString, Grant> m_downloadKeys;
    QHash<QString, FailNext> m_failNext;
    std::atomic<bool> m_demandUpdate{false};
    std::atomic<int> m_delayNextMs{0};
    std::atomic<qint64> m_lastSweepMs{0};
};

#endif // REFSERVICE_H
