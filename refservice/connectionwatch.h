// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CONNECTIONWATCH_H
#define CONNECTIONWATCH_H

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>

// Cuts the connections that take too long to deliver a request head. A client
// that trickles its head byte by byte holds no thread of the server, but it
// holds a connection slot and its buffer for as long as it likes: each byte
// resets the server's inactivity time-out. The watch's clock starts when a
// connection opens and again when a reply has gone out (the wait for the next
// request of a kept-alive connection), and stops while a request is answered.
// A connection past its time is shut down; the server then closes it.
class ConnectionWatch
{
public:
    struct Entry;

    explicit ConnectionWatch(int headTimeoutMs);
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch &) = delete;
    ConnectionWatch &operator=(const ConnectionWatch &) = delete;

    // Called by the server's network threads.
    Entry *opened(int fd);
    void closed(Entry *entry);
    static void requestStarted(Entry *entry);
    static void requestFinished(Entry *entry);

private:
    void run();

    const qint64 m_timeoutMs;
    std::mutex m_mutex; // guards m_entries and m_stop; held while a socket is shut down
    std::condition_variable m_wake;
    std::unordered_set<Entry *> m_entries;
    bool m_stop = false;
    std::thread m_thread;
};

#endif // CONNECTIONWATCH_H
