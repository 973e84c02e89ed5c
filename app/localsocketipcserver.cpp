// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/localsocketipcserver.h"

#include <QDataStream>
#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>
#include <QtEndian>

namespace {
const char *const kDoneProperty = "tavrelMessageRead";

// True when a live server answers under `name` (then it must not be touched).
bool someoneListens(const QString &name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool live = probe.waitForConnected(200);
    probe.abort();
    return live;
}
} // namespace

LocalSocketIpcServer::LocalSocketIpcServer(QString serverName, QObject *parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    // Only the same user may talk to the client.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    bool listening = false;
    if (!someoneListens(serverName)) {
        // Any socket file under the name is a leftover of an instance that
        // crashed: nobody answers on it, so it can go.
        QLocalServer::removeServer(serverName);
        listening = m_server->listen(serverName);
    }
    if (!listening)
        qDebug() << "Not able to start the Server";
    connect(m_server, &QLocalServer::newConnection, this, &LocalSocketIpcServer::socket_new_connection);
}

LocalSocketIpcServer::~LocalSocketIpcServer()
{
    m_server->close();
}

bool LocalSocketIpcServer::isListening() const
{
    return m_server->isListening();
}

QString LocalSocketIpcServer::fullServerName() const
{
    return m_server->fullServerName();
}

void LocalSocketIpcServer::socket_new_connection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
        // A limit on the whole message, not restarted by each read.
        QTimer::singleShot(kIdleLimitMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            readFrom(socket); // what arrived just before the hang-up still counts
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        readFrom(socket); // bytes may have arrived with the connection
    }
}

void LocalSocketIpcServer::readFrom(QLocalSocket *socket)
{
    if (socket->property(kDoneProperty).toBool())
        return; // only one message per connection is read
    if (socket->bytesAvailable() < 4)
        return;

    quint32 count = 0;
    socket->peek(reinterpret_cast<char *>(&count), sizeof count);
    count = qFromBigEndian(count);
    QString message;
    bool complete = false;
    if (count == 0xFFFFFFFFu || count > kMaxTextBytes || count % 2 != 0) {
        // A null string, an absurd length or half a UTF-16 unit: not a command.
    } else if (socket->bytesAvailable() < qint64(4 + count)) {
        return; // the rest of the text has not arrived yet
    } else {
        QDataStream in(socket);
        in.setVersion(QDataStream::Qt_4_0);
        in >> message;
        complete = in.status() == QDataStream::Ok;
    }
    // Whatever else the client sends is neither read nor kept.
    socket->setProperty(kDoneProperty, true);
    socket->abort();
    socket->deleteLater();
    if (complete)
        emit messageReceived(message);
}
