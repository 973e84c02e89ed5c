// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "hostileclients.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// A blocking connection to 127.0.0.1:port whose sends and reads give up after
// 10 s, or -1.
int connectLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// True when the server has closed the connection (or reset it).
bool closedByPeer(int fd)
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0)
            return true;
        if (n < 0)
            return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    }
}

// Sleeps `ms`, waking early when `stop` is set.
void pause(const std::atomic<bool> &stop, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace

SlowClients::SlowClients(quint16 port, int count, int intervalMs)
    : m_thread([this, port, count, intervalMs] { run(port, count, intervalMs); })
{
}

SlowClients::~SlowClients()
{
    m_stop = true;
    m_thread.join();
}

void SlowClients::run(quint16 port, int count, int intervalMs)
{
    // The head never ends: after the request line and a header name comes one
    // more byte of the header's value at each tick.
    const std::string head = "POST /kvshop/RestService HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Lento: ";
    std::vector<int> fds(size_t(count), -1);
    std::vector<size_t> sent(size_t(count), 0);
    while (!m_stop.load()) {
        for (size_t i = 0; i < fds.size() && !m_stop.load(); ++i) {
            if (fds[i] >= 0 && closedByPeer(fds[i])) {
                ::close(fds[i]);
                fds[i] = -1;
                ++m_cut;
                --m_connected;
            }
            if (fds[i] < 0) {
                fds[i] = connectLoopback(port);
                sent[i] = 0;
                if (fds[i] < 0)
                    continue;
                ++m_connected;
            }
            const char byte = sent[i] < head.size() ? head[sent[i]] : 'a';
            if (::send(fds[i], &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1)
                ++sent[i];
        }
        pause(m_stop, intervalMs);
    }
    for (const int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
    m_connected = 0;
}

HeaderFlood::HeaderFlood(quint16 port, int connections, int headers, int headerBytes)
{
    for (int i = 0; i < connections; ++i)
        m_threads.emplace_back([this, port, headers, headerBytes] { run(port, headers, headerBytes); });
}

HeaderFlood::~HeaderFlood()
{
    m_stop = true;
    wait();
}

void HeaderFlood::wait()
{
    for (std::thread &t : m_threads) {
        if (t.joinable())
            t.join();
    }
}

void HeaderFlood::run(quint16 port, int headers, int headerBytes)
{
    int left = headers;
    int failedConnects = 0;
    while (left > 0 && !m_stop.load() && failedConnects < 50) {
        const int fd = connectLoopback(port);
        if (fd < 0) {
            ++failedConnects;
            pause(m_stop, 100);
            continue;
        }
        bool whole = sendAll(fd, "GET /kvshop/Help/ HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        int lines = 0;
        while (whole && left > 0 && !m_stop.load()) {
            std::string line = "X-Riempi-" + std::to_string(left) + ": ";
            line.append(size_t(qMax(1, headerBytes - int(line.size()) - 2)), 'v');
            line += "\r\n";
            whole = sendAll(fd, line);
            if (whole) {
                --left;
                ++lines;
                m_bytesSent += qint64(line.size());
            }
        }
        whole = whole && left == 0 && sendAll(fd, "Connection: close\r\n\r\n");
        char status[16] = {};
        const bool ok = whole && ::recv(fd, status, sizeof status - 1, MSG_WAITALL) > 12
            && std::strncmp(status, "HTTP/1.1 200", 12) == 0;
        if (ok) {
            ++m_accepted;
            m_largest = std::max(m_largest.load(), lines);
        } else {
            ++m_refused;
        }
        ::close(fd);
    }
}
