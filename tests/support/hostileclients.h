// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef HOSTILECLIENTS_H
#define HOSTILECLIENTS_H

#include <QtGlobal>

#include <atomic>
#include <thread>
#include <vector>

// Hostile peers of a server on loopback, for the service's hardening tests and
// its benchmark. Each runs on threads of its own from construction until it is
// destroyed (or, for the flood, until it has sent everything).

// `count` connections that each send one more byte of a request head that never
// ends, every `intervalMs` milliseconds. A connection the server closes is
// counted and opened again, so the server faces `count` of them all along.
class SlowClients
{
public:
    SlowClients(quint16 port, int count, int intervalMs = 1000);
    ~SlowClients();
    SlowClients(const SlowClients &) = delete;
    SlowClients &operator=(const SlowClients &) = delete;

    int connected() const { return m_connected.load(); } // open right now
    int cut() const { return m_cut.load(); }             // closed by the server so far

private:
    void run(quint16 port, int count, int intervalMs);

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connected{0};
    std::atomic<int> m_cut{0};
    std::thread m_thread;
};

// `connections` connections that each send a request head of `headers` header
// lines of `headerBytes` bytes. A connection the server closes before the head
// is whole, or answers with an error, counts as refused, and a new connection
// goes on with the header lines still to send.
class HeaderFlood
{
public:
    HeaderFlood(quint16 port, int connections, int headers, int headerBytes = 4096);
    ~HeaderFlood();
    HeaderFlood(const HeaderFlood &) = delete;
    HeaderFlood &operator=(const HeaderFlood &) = delete;

    void wait();                                             // until every header line was sent
    int refused() const { return m_refused.load(); }           // connections refused or cut
    int accepted() const { return m_accepted.load(); }         // whole heads answered with 200
    int largestAccepted() const { return m_largest.load(); }   // header lines of the largest of those
    qint64 bytesSent() const { return m_bytesSent.load(); }

private:
    void run(quint16 port, int headers, int headerBytes);

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_refused{0};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_largest{0};
    std::atomic<qint64> m_bytesSent{0};
    std::vector<std::thread> m_threads;
};

#endif // HOSTILECLIENTS_H
