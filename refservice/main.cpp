// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// tavrel-refservice: the reference preservation service for Tavrel Lite.

#include "refservice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>

namespace {

bool parseListen(const QString &text, QString *host, int *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString h = text.left(colon);
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    bool ok = false;
    const int p = text.mid(colon + 1).toInt(&ok);
    if (!ok || p < 0 || p > 65535 || h.isEmpty())
        return false;
    *host = h;
    *port = p;
    return true;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "tavrel-refservice: %s\n", message.toLocal8Bit().constData());
    return 2;
}

// Every connection is a descriptor: take all the system allows, so that the
// service's own connection limit is the one that applies.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // SIGINT and SIGTERM are taken by a dedicated thread (sigwait), which stops
    // the server cleanly; every other thread inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrel-refservice"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reference preservation service for Tavrel Lite: answers the client's endpoint /kvshop/RestService,\n"
        "the update package, the exhibition page and the help pages. Keeps its data (SQLite database and\n"
        "content-addressed files) in the data directory. An empty data directory is filled from the seed\n"
        "(the built-in demo seed when --seed is not given; demo accounts demo/Tavrel2026 and\n"
        "verdi/Archivio2026). Set TAVREL_REFSERVICE_LOG=1 to log every request on standard error."));
    parser.addHelpOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address and port to listen on; port 0 picks a free one "
                                                   "(default 127.0.0.1:8765)."),
                                    QStringLiteral("host:port"), QStringLiteral("127.0.0.1:8765"));
    const QCommandLineOption data(QStringLiteral("data"), QStringLiteral("Data directory (required)."),
                                  QStringLiteral("dir"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("JSON seed loaded when the data directory is empty."),
                                  QStringLiteral("file"));
    const QCommandLineOption idle(QStringLiteral("session-idle"),
                                  QStringLiteral("Seconds of inactivity after which a session expires (default 1800)."),
                                  QStringLiteral("seconds"), QStringLiteral("1800"));
    const QCommandLineOption uploadKeep(QStringLiteral("upload-keep"),
                                        QStringLiteral("Seconds an upload that was never preserved is kept; then it is "
                                                       "forgotten and its content removed (default 86400)."),
                                        QStringLiteral("seconds"), QStringLiteral("86400"));
    const QCommandLineOption headTimeout(QStringLiteral("head-timeout"),
                                         QStringLiteral("Seconds a connection has to deliver a whole request head, from "
                                                        "its opening or from the end of its previous reply; then it "
                                                        "is closed (default 10)."),
                                         QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption minVersion(QStringLiteral("min-version"),
                                        QStringLiteral("Clients older than this version must update (status 31)."),
                                        QStringLiteral("X.Y.Z"));
    const QCommandLineOption package(QStringLiteral("update-package"),
                                     QStringLiteral("File served by /kvshop/UpdateService?platform=lin "
                                                    "(default: a small built-in ZIP)."),
                                     QStringLiteral("file"));
    const QCommandLineOption tlsCert(QStringLiteral("tls-cert"), QStringLiteral("PEM certificate: serve HTTPS."),
                                     QStringLiteral("file"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"), QStringLiteral("PEM private key of the certificate."),
                                    QStringLiteral("file"));
    const QCommandLineOption hooks(QStringLiteral("test-hooks"),
                                   QStringLiteral("Enable POST /kvshop/TestHooks/... (loopback peers only): "
                                                  "expire-sessions, demand-update?on=1|0, "
                                                  "fail-next?action=A&code=N&description=T, delay-next?ms=N."));
    parser.addOptions({listen, data, seed, idle, uploadKeep, headTimeout, minVersion, package, tlsCert, tlsKey, hooks});
    parser.process(app);

    RefService::Options options;
    if (!parseListen(parser.value(listen), &options.host, &options.port))
        return fail(QStringLiteral("--listen wants host:port, got \"%1\"").arg(parser.value(listen)));
    if (!parser.isSet(data))
        return fail(QStringLiteral("--data DIR is required"));
    options.dataDir = QDir(parser.value(data)).absolutePath();
    if (!QDir().mkpath(options.dataDir))
        return fail(QStringLiteral("cannot create the data directory %1").arg(options.dataDir));
    options.seedFile = parser.value(seed);
    bool ok = false;
    options.sessionIdleSeconds = parser.value(idle).toInt(&ok);
    if (!ok || options.sessionIdleSeconds <= 0)
        return fail(QStringLiteral("--session-idle wants a positive number of seconds"));
    options.uploadKeepSeconds = parser.value(uploadKeep).toLongLong(&ok);
    if (!ok || options.uploadKeepSeconds <= 0)
        return fail(QStringLiteral("--upload-keep wants a positive number of seconds"));
    options.headTimeoutSeconds = parser.value(headTimeout).toInt(&ok);
    if (!ok || options.headTimeoutSeconds <= 0)
        return fail(QStringLiteral("--head-timeout wants a positive number of seconds"));
    options.minVersion = parser.value(minVersion);
    if (!options.minVersion.isEmpty() && QVersionNumber::fromString(options.minVersion).isNull())
        return fail(QStringLiteral("--min-version wants a version such as 1.2.1"));
    options.updatePackage = parser.value(package);
    options.tlsCert = parser.value(tlsCert);
    options.tlsKey = parser.value(tlsKey);
    options.testHooks = parser.isSet(hooks);

    raiseDescriptorLimit();
    RefService service(options);
    QString error;
    if (!service.start(&error))
        return fail(error);

    std::atomic<bool> finished{false};
    std::thread stopper([&service, &finished, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (!finished.load())
            service.stop(); // remembered even when run() has not started waiting yet
    });
    const pthread_t stopperHandle = stopper.native_handle();

    std::printf("listening on %s:%d\n", options.host.toLocal8Bit().constData(), service.port());
    std::fflush(stdout);
    if (options.testHooks)
        std::fprintf(stderr, "tavrel-refservice: test hooks enabled\n");

    const bool served = service.run();
    // Wake the signal thread (still waiting when the server ended on its own).
    finished = true;
    pthread_kill(stopperHandle, SIGTERM);
    stopper.join();
    return served ? 0 : 1;
}
