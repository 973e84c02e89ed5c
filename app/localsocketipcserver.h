// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef LOCALSOCKETIPCSERVER_H
#define LOCALSOCKETIPCSERVER_H

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// Receives commands from other local programs while a user is signed in. Each
// connection carries one message: a Qt data-stream string (stream version 4.0:
// a 32-bit big-endian byte count, then the text as big-endian UTF-16). The
// server never writes to its clients.
//
// A connection is read as its bytes arrive, never by blocking the window. It
// carries one message: once that is read, or its announced size is refused,
// the connection is closed and nothing more is buffered. A client that has not
// sent its whole message within kIdleLimitMs of connecting is dropped, and no
// more than kMaxConnections are served at once (the rest are closed at once).
class LocalSocketIpcServer : public QObject
{
    Q_OBJECT
public:
    LocalSocketIpcServer(QString serverName, QObject *parent);
    ~LocalSocketIpcServer() override;

    bool isListening() const;
    QString fullServerName() const;

    // How long a connection may take to deliver its message.
    static constexpr int kIdleLimitMs = 30000;
    // Connections served at the same time.
    static constexpr int kMaxConnections = 8;
    // Largest text accepted, in bytes of UTF-16 (a command is a short XML text).
    static constexpr quint32 kMaxTextBytes = 1u << 20;

signals:
    void messageReceived(QString message);

public slots:
    void socket_new_connection();

private:
    void readFrom(QLocalSocket *socket);

    QLocalServer *m_server;
    int m_connections = 0;
};

#endif // LOCALSOCKETIPCSERVER_H
