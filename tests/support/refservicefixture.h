// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef REFSERVICEFIXTURE_H
#define REFSERVICEFIXTURE_H

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Runs the reference service (TAVREL_REFSERVICE_BIN) for one test:
//
//     RefServiceFixture service;                       // demo seed (demo/Tavrel2026, verdi/Archivio2026)
//     RefServiceFixture service(TAVREL_FIXTURES_DIR "/my_seed.json");
//     QVERIFY2(service.start(), qPrintable(service.errorString()));
//     settings.saveSetting("url", service.baseUrl());
//
// start() launches
//     tavrel-refservice --listen 127.0.0.1:0 --data <fresh temporary dir> [--seed FILE] --test-hooks [extra args]
// and waits for its "listening on 127.0.0.1:PORT" line (an extra "--data DIR" or
// "--listen" wins over the fixture's own). What the service writes on standard
// error goes to the test's; when it does not start, errorString() holds it. The data directory lives
// as long as the fixture, so restart() (same data, same port when it is still
// free) finds everything that was acknowledged before stop() or kill9().
//
// Test hooks (loopback only, enabled by --test-hooks). Each helper sends
// POST <baseUrl>/kvshop/TestHooks/<name> and returns true on HTTP 200:
//   expireSessions()            expire-sessions: every session ends; the next request answers "19"
//   demandUpdate(on)            demand-update?on=1|0: while on, every action (login included) answers "31"
//   failNext(action, code, d)   fail-next?action=A&code=N&description=D: the next request with that action
//                               gets HTTP 500, status N and description D, and is not carried out
//                               (code "20" also carries an empty <validation/> element)
//   delayNext(ms)               delay-next?ms=N: the next request to /kvshop/RestService is answered
//                               N milliseconds late
class RefServiceFixture
{
public:
    // `seedFile` empty: the service's built-in demo seed.
    explicit RefServiceFixture(const QString &seedFile = QString());
    ~RefServiceFixture();
    RefServiceFixture(const RefServiceFixture &) = delete;
    RefServiceFixture &operator=(const RefServiceFixture &) = delete;

    // Starts the service; `extraArgs` (e.g. {"--session-idle", "2"}) are kept for restart().
    bool start(const QStringList &extraArgs = {});
    // Before start(): without the hooks, as the service runs for real (the
    // hook helpers then fail).
    void setTestHooks(bool enabled) { m_testHooks = enabled; }
    QString errorString() const { return m_error; }
    bool isRunning() const;

    QString baseUrl() const; // "http://127.0.0.1:PORT"
    int port() const { return m_port; }
    QString dataDir() const;
    qint64 processId() const; // of the running service, 0 when stopped (benchmarks read its /proc entry)

    bool stop();    // SIGTERM, then waits for a clean exit
    void kill9();   // SIGKILL: a crash, nothing gets flushed by the service
    bool restart(); // stop() if running, then start again on the same data dir (and port if possible)

    bool expireSessions();
    bool demandUpdate(bool on);
    bool failNext(const QString &action, const QString &code, const QString &description);
    bool delayNext(int ms);

private:
    bool launch(int port);
    // Copies what the service wrote on standard error to the test's own,
    // keeping the start of it for errorString().
    void forwardDiagnostics();
    bool hook(const QString &name, const QList<QPair<QString, QString>> &query);

    QString m_seedFile;
    QStringList m_extraArgs;
    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    bool m_testHooks = true;
    QByteArray m_diagnostics;
    QString m_error;
};

#endif // REFSERVICEFIXTURE_H
