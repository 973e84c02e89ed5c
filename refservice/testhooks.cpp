// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "testhooks.h"

#include "sessions.h"

#include <QDeadlineTimer>
#include <QXmlStreamWriter>

TestHooks::TestHooks(Sessions &sessions)
    : m_sessions(sessions)
{
}

HttpResponse TestHooks::handle(const HttpRequest &request)
{
    if (!request.fromLoopback())
        return HttpResponse::text(403, "test hooks are only available from loopback\n");
    const QByteArray name = request.path.mid(int(qstrlen(PathPrefix)));
    if (name == "expire-sessions") {
        m_sessions.endAll();
    } else if (name == "demand-update") {
        const QByteArray on = request.queryValue("on");
        m_demandUpdate = on == "1" || on == "true";
    } else if (name == "fail-next") {
        return failNext(request);
    } else if (name == "delay-next") {
        return delayNext(request);
    } else {
        return HttpResponse::text(404, "unknown test hook\n");
    }
    return HttpResponse::text(200, "ok\n");
}

HttpResponse TestHooks::failNext(const HttpRequest &request)
{
    const QString action = request.queryText("action");
    const QString code = request.queryText("code");
    if (action.isEmpty() || code.isEmpty())
        return HttpResponse::text(400, "fail-next needs action and code\n");
    QMutexLocker lock(&m_mutex);
    m_failNext.insert(action, FailNext{code, request.queryText("description")});
    return HttpResponse::text(200, "ok\n");
}

HttpResponse TestHooks::delayNext(const HttpRequest &request)
{
    bool ok = false;
    const int ms = request.queryText("ms").toInt(&ok);
    if (!ok || ms < 0 || ms > 600000)
        return HttpResponse::text(400, "delay-next needs ms between 0 and 600000\n");
    m_delayNextMs = ms;
    return HttpResponse::text(200, "ok\n");
}

std::optional<ServiceReply> TestHooks::takeFailNext(const QString &action)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_failNext.constFind(action);
    if (it == m_failNext.constEnd())
        return std::nullopt;
    const FailNext f = it.value();
    m_failNext.erase(it);
    if (f.code != QLatin1String(Status::ValidationKo))
        return ServiceReply::failure(f.code, f.description);
    return ServiceReply::failure(f.code, f.description,
                                 [](QXmlStreamWriter &w) { w.writeEmptyElement(QStringLiteral("validation")); });
}

void TestHooks::applyDelay()
{
    const int ms = m_delayNextMs.exchange(0);
    if (ms <= 0)
        return;
    QDeadlineTimer deadline(ms);
    QMutexLocker lock(&m_mutex);
    while (!m_stopping && !deadline.hasExpired())
        m_interrupted.wait(&m_mutex, deadline);
}

void TestHooks::interrupt()
{
    QMutexLocker lock(&m_mutex);
    m_stopping = true;
    m_interrupted.wakeAll();
}
