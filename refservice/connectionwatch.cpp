// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "connectionwatch.h"

#include <chrono>
#include <sys/socket.h>

namespace {

qint64 monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct ConnectionWatch::Entry
{
    int fd = -1;
    std::atomic<qint64> waitingSinceMs{0}; // 0 while a request is being answered
    bool cut = false;
};

ConnectionWatch::ConnectionWatch(int headTimeoutMs)
    : m_timeoutMs(headTimeoutMs)
    , m_thread([this] { run(); })
{
}

ConnectionWatch::~ConnectionWatch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    for (Entry *entry : m_entries)
        delete entry;
}

ConnectionWatch::Entry *ConnectionWatch::opened(int fd)
{
    auto *entry = new Entry;
    entry->fd = fd;
    entry->waitingSinceMs = monotonicMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.insert(entry);
    return entry;
}

void ConnectionWatch::closed(Entry *entry)
{
    // The server closes the socket only after this returns, so the watch never
    // shuts down a descriptor that a newer connection has been given.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.erase(entry);
    }
    delete entry;
}

void ConnectionWatch::requestStarted(Entry *entry)
{
    if (entry)
        entry->waitingSinceMs = 0;
}

void ConnectionWatch::requestFinished(Entry *entry)
{
    if (entry)
        entry->waitingSinceMs = monotonicMs();
}

void ConnectionWatch::run()
{
    const auto tick = std::chrono::milliseconds(qBound(qint64(20), m_timeoutMs / 10, qint64(250)));
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, tick);
        const qint64 now = monotonicMs();
        for (Entry *entry : m_entries) {
            const qint64 since = entry->waitingSinceMs.load();
            if (!entry->cut && since > 0 && now - since > m_timeoutMs) {
                ::shutdown(entry->fd, SHUT_RDWR);
                entry->cut = true;
            }
        }
    }
}
