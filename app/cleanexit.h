// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CLEANEXIT_H
#define CLEANEXIT_H

#include <QObject>

class QSocketNotifier;

// Turns the POSIX termination signals into an orderly end of the event loop with
// exit code 0. The signal handler itself only writes the signal number to a
// socket pair (async-signal-safe); a socket notifier in the GUI thread reads it
// and calls exitQt(). A fault raised by the program itself (a real SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS or SIGTRAP) must never resume the
// faulting code: the handler restores the default action and re-raises it.
class CleanExit : public QObject
{
    Q_OBJECT
public:
    CleanExit();
    ~CleanExit() override;

    // Starts delivering caught signals to the event loop; call once the
    // application object exists. Signals caught before wait in the socket pair.
    void attach();

    static void exitQt(int sig);

    // True once a handled signal has asked for the end. Checked before the main
    // event loop starts: a request that arrived while a modal dialog ran its own
    // loop during start-up would otherwise be consumed by that loop.
    static bool exitRequested();

    // The signals handled, in the order they are installed.
    static const int *handledSignals(int *count);

private slots:
    void onSignalPending();

private:
    QSocketNotifier *m_notifier = nullptr;
};

#endif // CLEANEXIT_H
