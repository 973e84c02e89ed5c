// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/cleanexit.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_pair[2] = {-1, -1};
bool g_exitRequested = false;

const int kSignals[] = {SIGINT,  SIGHUP,  SIGPIPE, SIGTERM, SIGABRT, SIGFPE,
                        SIGILL,  SIGQUIT, SIGSEGV, SIGSYS,  SIGTRAP, SIGBUS};

bool isFaultSignal(int sig)
{
    switch (sig) {
    case SIGSEGV: case SIGBUS: case SIGFPE: case SIGILL:
    case SIGABRT: case SIGSYS: case SIGTRAP:
        return true;
    default:
        return false;
    }
}

void requestOrderlyEnd(int sig)
{
    const int saved = errno;
    if (g_pair[1] >= 0) {
        const unsigned char byte = static_cast<unsigned char>(sig);
        ssize_t ignored = ::write(g_pair[1], &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

void handler(int sig, siginfo_t *info, void *)
{
    // Sent by another process (kill, sigqueue, tkill): a request to end, even for
    // the "fault" signals, since no instruction of ours has faulted.
    const bool sentByProcess = info && info->si_code <= 0 && info->si_pid != ::getpid();
    if (isFaultSignal(sig) && !sentByProcess) {
        // A real fault (or our own abort()): the orderly end cannot run any more;
        // ask for it anyway and let the default action end the process as soon
        // as the handler returns, never resuming the faulting instruction.
        requestOrderlyEnd(sig);
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    if (sig == SIGPIPE && !sentByProcess) {
        // Written to a socket or pipe whose reader went away: the write itself
        // reports EPIPE to its caller, so the process has nothing to end.
        return;
    }
    requestOrderlyEnd(sig);
}
} // namespace

CleanExit::CleanExit()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pair) == 0) {
        ::fcntl(g_pair[1], F_SETFL, ::fcntl(g_pair[1], F_GETFL) | O_NONBLOCK);
        ::fcntl(g_pair[0], F_SETFL, ::fcntl(g_pair[0], F_GETFL) | O_NONBLOCK);
    } else {
        g_pair[0] = g_pair[1] = -1;
    }
    struct sigaction action = {};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
}

CleanExit::~CleanExit()
{
    delete m_notifier;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
    for (int &fd : g_pair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void CleanExit::attach()
{
    if (m_notifier || g_pair[0] < 0)
        return;
    m_notifier = new QSocketNotifier(g_pair[0], QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &CleanExit::onSignalPending);
}

void CleanExit::onSignalPending()
{
    unsigned char byte = 0;
    int last = -1;
    while (::read(g_pair[0], &byte, 1) == 1)
        last = byte;
    if (last >= 0)
        exitQt(last);
}

void CleanExit::exitQt(int sig)
{
    Q_UNUSED(sig);
    g_exitRequested = true;
    QCoreApplication::exit(0);
}

bool CleanExit::exitRequested()
{
    return g_exitRequested;
}

const int *CleanExit::handledSignals(int *count)
{
    *count = int(sizeof(kSignals) / sizeof(kSignals[0]));
    return kSignals;
}
