// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef TESTHOOKS_H
#define TESTHOOKS_H

#include "httpexchange.h"
#include "servicereply.h"

#include <QHash>
#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <optional>

class Sessions;

// What the client's tests can ask of the service (when it runs with
// --test-hooks; from loopback peers only), by POST /kvshop/TestHooks/<name>:
// end every session, demand an update, fail the next request of an action,
// answer the next request late.
class TestHooks
{
public:
    static constexpr const char *PathPrefix = "/kvshop/TestHooks/";

    explicit TestHooks(Sessions &sessions);

    HttpResponse handle(const HttpRequest &request);

    bool updateDemanded() const { return m_demandUpdate.load(); }
    // The failure set for the next request of `action`, used up.
    std::optional<ServiceReply> takeFailNext(const QString &action);
    // Waits as long as the last delay-next asked (once), or until interrupt().
    void applyDelay();
    // Ends a delay in progress at once (the service is stopping).
    void interrupt();

private:
    struct FailNext {
        QString code, description;
    };
    HttpResponse failNext(const HttpRequest &request);
    HttpResponse delayNext(const HttpRequest &request);

    Sessions &m_sessions;
    QMutex m_mutex; // guards the members below
    QWaitCondition m_interrupted;
    QHash<QString, FailNext> m_failNext;
    bool m_stopping = false;
    std::atomic<bool> m_demandUpdate{false};
    std::atomic<int> m_delayNextMs{0};
};

#endif // TESTHOOKS_H
