// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SINGLEAPPLICATION_P_H
#define SINGLEAPPLICATION_P_H

// Internals of the single-instance guard: the server of the running instance,
// the thread that serves one accepted connection, and the process-wide cache of
// servers. Tests include this header to reach the naming rules and the cache.

#include "app/singleapplication.h"

#include <QLocalServer>
#include <QPointer>
#include <QThread>

class QLocalSocket;
class QTimer;
class InstanceLock;
class SingleApplication;

// Accepts the connections of later starts and serves each one in a thread of
// its own; re-emits every message those threads read. At most kMaxConnections
// are served at once: more are closed as soon as they are accepted.
class ThreadedLocalServer : public QLocalServer
{
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 8;

    ThreadedLocalServer(const QString &key, QObject *parent);
    // Ends the connection threads still running before the server goes away.
    ~ThreadedLocalServer() override;

    QString key() const { return m_key; }

signals:
    void messageReceived(const QString &message);

protected:
    void incomingConnection(quintptr socketDescriptor) override;

private:
    QString m_key;
    int m_connections = 0;
};

// Serves one accepted connection: greets the client with the key, then reads
// frames and acknowledges each complete one with the key. A connection that
// breaks a frame, or sends no complete frame for idleTimeout() ms, is closed so
// that no client can hold a thread for ever.
class LocalThread : public QThread
{
    Q_OBJECT
public:
    LocalThread(quintptr socketDescriptor, const QString &key, QObject *parent);

    // Idle limit of a connection, in ms (tests shorten it).
    static int idleTimeout();
    static void setIdleTimeout(int ms);

protected:
    void run() override;

public slots:
    void readyRead();

signals:
    void messageReceived(const QString &message);

private:
    quintptr m_descriptor;
    QString m_key;
    QLocalSocket *m_socket = nullptr; // lives in run(), used only by this thread
    QTimer *m_idle = nullptr;         // idem
};

class SingleApplicationPrivate
{
public:
    explicit SingleApplicationPrivate(SingleApplication *q) : q(q) {}

    void init(const QString &rawKey);
    bool deliver(const QString &message, int timeout);
    bool connectToRunning();
    // Connects the client socket to the socket name within the connect time-out.
    bool reachServer();
    // Reads the greeting of the server just reached; true when it is the key.
    bool greeted();
    void dropConnection();
    void follow(ThreadedLocalServer *server);

    // Naming rules.
    static QString cleanKey(const QString &key);
    static QString socketNameFor(const QString &cleanKey, const QString &loginName);
    // Name of the process's real user, read once and then kept.
    static QString loginName();
    // Replaces the kept login name (tests simulate another user with it).
    static void setLoginName(const QString &name);

    // The server this process runs under `socketName`, if any.
    static ThreadedLocalServer *serverFor(const QString &socketName);

    SingleApplication *q;
    QString key;
    QString socketName;
    QLocalSocket *socket = nullptr; // client side, parented to the guard
    bool running = false;
};

#endif // SINGLEAPPLICATION_P_H
