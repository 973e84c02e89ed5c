// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/singleapplication.h"
#include "app/instancelock.h"
#include "app/singleapplication_p.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QHash>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QMutex>
#include <QReadWriteLock>
#include <QRegularExpression>
#include <QSharedMemory>
#include <QTimer>
#include <QtEndian>

#include <atomic>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

// Off by default; QT_LOGGING_RULES="tavrel.guard.debug=true" shows the messages
// the running instance receives.
Q_LOGGING_CATEGORY(lcGuard, "tavrel.guard", QtWarningMsg)

constexpr int kConnectTimeout = 200;
constexpr int kReadSlice = 250;
constexpr int kReplyTimeout = 500;
// The guard's messages are short texts; a larger announced length is a broken
// or hostile frame, not something to buffer.
constexpr qint32 kMaxFrameLength = 1 << 20;

std::atomic<int> g_idleTimeout{10000};

// One per process: the servers this process runs, by socket name. Several
// guards with the same key share one server through it.
struct CacheEntry
{
    QPointer<InstanceLock> owner;         // gone once the instance was torn down
    QPointer<ThreadedLocalServer> server; // null when listening failed
};

struct ServerCache
{
    QReadWriteLock lock;
    QHash<QString, CacheEntry> entries;
};

Q_GLOBAL_STATIC(ServerCache, serverCache)

struct LoginName
{
    QMutex mutex;
    bool known = false;
    QString name;
};

Q_GLOBAL_STATIC(LoginName, loginNameCache)

QString systemLoginName()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    std::vector<char> buffer(size_t(size), '\0');
    struct passwd entry = {};
    struct passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return QString();
    return QString::fromLatin1(found->pw_name);
}

} // namespace

// ---------------------------------------------------------------------------
// The wire

bool writeMessage(QLocalSocket *socket, const QString &message, int timeout)
{
    if (!socket || socket->state() != QLocalSocket::ConnectedState)
        return false;

    QByteArray frame;
    {
        QDataStream out(&frame, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_4_0);
        out << qint32(0) << message;
        out.device()->seek(0);
        out << qint32(frame.size() - 4);
    }
    if (socket->write(frame) != frame.size())
        return false;

    const QDeadlineTimer deadline(timeout);
    while (socket->bytesToWrite() > 0) {
        if (!socket->waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    return true;
}

QString readMessage(QLocalSocket *socket, bool *ok)
{
    QString message;
    if (ok)
        *ok = false;
    if (!socket || socket->state() != QLocalSocket::ConnectedState)
        return message;

    while (socket->bytesAvailable() < 4) {
        if (!socket->waitForReadyRead(kReadSlice))
            return message;
    }
    const QByteArray header = socket->read(4);
    const qint32 length = qFromBigEndian<qint32>(header.constData());
    // A negative or absurd length cannot start a real frame: give up on it
    // rather than reading past it or waiting for gigabytes.
    if (length < 0 || length > kMaxFrameLength)
        return message;

    bool complete = true;
    while (socket->bytesAvailable() < length) {
        if (!socket->waitForReadyRead(kReadSlice)) {
            complete = false;
            break;
        }
    }
    const QByteArray body = socket->read(length);
    QDataStream in(body);
    in.setVersion(QDataStream::Qt_4_0);
    in >> message;
    if (ok)
        *ok = complete && in.status() == QDataStream::Ok;
    return message;
}

// ---------------------------------------------------------------------------
// Server side

ThreadedLocalServer::ThreadedLocalServer(const QString &key, QObject *parent)
    : QLocalServer(parent), m_key(key)
{
}

ThreadedLocalServer::~ThreadedLocalServer()
{
    // A running QThread must not be destroyed; every connection thread ends
    // within one read slice once asked to.
    const auto threads = findChildren<LocalThread *>(QString(), Qt::FindDirectChildrenOnly);
    for (LocalThread *thread : threads)
        thread->quit();
    for (LocalThread *thread : threads)
        thread->wait();
}

void ThreadedLocalServer::incomingConnection(quintptr socketDescriptor)
{
    if (m_connections >= kMaxConnections) {
        ::close(int(socketDescriptor));
        return;
    }
    ++m_connections;
    auto *thread = new LocalThread(socketDescriptor, m_key, this);
    connect(thread, &QThread::finished, this, [this] { --m_connections; });
    connect(thread, &LocalThread::messageReceived, this, &ThreadedLocalServer::messageReceived);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

LocalThread::LocalThread(quintptr socketDescriptor, const QString &key, QObject *parent)
    : QThread(parent), m_descriptor(socketDescriptor), m_key(key)
{
}

int LocalThread::idleTimeout()
{
    return g_idleTimeout.load();
}

void LocalThread::setIdleTimeout(int ms)
{
    g_idleTimeout.store(ms);
}

void LocalThread::run()
{
    QLocalSocket socket;
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(idleTimeout());
    m_socket = &socket;
    m_idle = &idle;

    // The thread object lives in the GUI thread: the slots must run here,
    // where the socket lives, hence the direct connections.
    connect(&socket, &QLocalSocket::readyRead, this, &LocalThread::readyRead, Qt::DirectConnection);
    connect(&socket, &QLocalSocket::disconnected, this, &QThread::quit, Qt::DirectConnection);
    connect(&idle, &QTimer::timeout, this, &QThread::quit, Qt::DirectConnection);

    if (socket.setSocketDescriptor(qintptr(m_descriptor), QLocalSocket::ConnectedState,
                                   QIODevice::ReadWrite)) {
        if (socket.state() == QLocalSocket::ConnectedState
            && writeMessage(&socket, m_key, kReplyTimeout)) {
            idle.start();
            exec();
        }
    } else {
        ::close(int(m_descriptor));
    }

    m_idle = nullptr;
    m_socket = nullptr;
}

void LocalThread::readyRead()
{
    if (!m_socket)
        return;
    while (m_socket->bytesAvailable() > 0) {
        bool complete = false;
        const QString message = readMessage(m_socket, &complete);
        if (!complete) {
            // Dropped without acknowledgement. What follows in the stream can
            // no longer be told apart from the rest of the broken frame, so the
            // connection ends here.
            quit();
            return;
        }
        if (m_idle)
            m_idle->start();
        writeMessage(m_socket, m_key, kReplyTimeout);
        emit messageReceived(message);
    }
}

// ---------------------------------------------------------------------------
// The guard

QString SingleApplicationPrivate::cleanKey(const QString &key)
{
    static const QRegularExpression notAlnum(QStringLiteral("[^A-Za-z0-9]"));
    QString cleaned = key;
    cleaned.remove(notAlnum);
    if (cleaned.isEmpty())
        cleaned = QStringLiteral("SADEFAULTKEY");
    return cleaned;
}

QString SingleApplicationPrivate::socketNameFor(const QString &cleanKey, const QString &loginName)
{
    return QStringLiteral("_sa_") + cleanKey + QLatin1Char('_')
           + QString::fromLatin1(loginName.toUtf8().toHex());
}

QString SingleApplicationPrivate::loginName()
{
    LoginName *cache = loginNameCache();
    QMutexLocker locker(&cache->mutex);
    if (!cache->known) {
        cache->name = systemLoginName();
        cache->known = true;
    }
    return cache->name;
}

void SingleApplicationPrivate::setLoginName(const QString &name)
{
    LoginName *cache = loginNameCache();
    QMutexLocker locker(&cache->mutex);
    cache->name = name;
    cache->known = true;
}

ThreadedLocalServer *SingleApplicationPrivate::serverFor(const QString &socketName)
{
    ServerCache *cache = serverCache();
    QReadLocker locker(&cache->lock);
    const auto it = cache->entries.constFind(socketName);
    if (it == cache->entries.cend() || !it->owner)
        return nullptr;
    return it->server.data();
}

void SingleApplicationPrivate::follow(ThreadedLocalServer *server)
{
    SingleApplication *guard = q;
    QObject::connect(
        server, &ThreadedLocalServer::messageReceived, guard,
        [guard](const QString &message) {
            qCDebug(lcGuard) << "message received:" << message;
            emit guard->messageReceived(message);
        },
        Qt::QueuedConnection);
}

void SingleApplicationPrivate::init(const QString &rawKey)
{
    key = cleanKey(rawKey);
    socketName = socketNameFor(key, loginName());

    ServerCache *cache = serverCache();
    QWriteLocker locker(&cache->lock);

    const auto it = cache->entries.find(socketName);
    if (it != cache->entries.end()) {
        if (it->owner) {
            // This process is the instance already: share its server.
            if (it->server)
                follow(it->server);
            return;
        }
        // Recorded by an application object that has since been destroyed.
        cache->entries.erase(it);
    }

    // The lock tells a live instance from leftovers of one that died: a live
    // instance holds it; when we get it, any segment or socket file under the
    // name is stale and is cleared before we take the name over.
    auto *instance = new InstanceLock(socketName, QCoreApplication::instance());
    if (instance->state() == InstanceLock::HeldElsewhere) {
        running = true;
        delete instance;
        return;
    }
    // An instance that does not take the lock (an older build still running
    // during an upgrade) is found by its socket: when a server answers there,
    // it is the running instance and nothing of it is removed. Only what
    // nobody answers on is a leftover.
    if (reachServer()) {
        running = true;
        if (!greeted())
            dropConnection(); // a slow or foreign server: the send starts over
        delete instance;
        return;
    }
    instance->clearLeftovers();

    auto *segment = new QSharedMemory(socketName);
    instance->keepUntilRelease(segment);
    bool marked = segment->create(1, QSharedMemory::ReadWrite);
    if (!marked && segment->error() == QSharedMemory::AlreadyExists
        && instance->state() == InstanceLock::Acquired) {
        // System V segments outlive the process that made them, and their key
        // is derived from the key file's inode: a segment left by a program that
        // died, under this name or another whose key happens to collide, can
        // be in the way. Holding the lock proves no instance of ours runs, so
        // the one in the way is removed if nobody uses it, and creation retried.
        instance->clearLeftovers();
        marked = segment->create(1, QSharedMemory::ReadWrite);
    }
    if (!marked) {
        if (instance->state() != InstanceLock::Acquired) {
            // Without the lock the marker is the only evidence there is.
            if (segment->error() == QSharedMemory::AlreadyExists)
                running = true;
            else
                qWarning("QSharedMemory::create: %s (Used key is '%s')",
                         qPrintable(segment->errorString()), qPrintable(socketName));
            delete instance;
            return;
        }
        // The lock is the proof of a live instance; a marker that cannot be
        // made (a live segment of another program under a colliding key) must
        // not lock the user out.
        qWarning("QSharedMemory::create: %s (Used key is '%s'); continuing without the marker",
                 qPrintable(segment->errorString()), qPrintable(socketName));
    }

    auto *server = new ThreadedLocalServer(key, nullptr);
    instance->keepUntilRelease(server);
    // Only this user may reach the socket.
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketName)) {
        qWarning("QLocalServer::listen: %s (Used key is '%s')",
                 qPrintable(server->errorString()), qPrintable(socketName));
        delete server;
        server = nullptr;
    }

    cache->entries.insert(socketName, CacheEntry{instance, server});
    if (server)
        follow(server);
}

bool SingleApplicationPrivate::reachServer()
{
    if (!socket)
        socket = new QLocalSocket(q);
    socket->connectToServer(socketName, QIODevice::ReadWrite);
    if (socket->waitForConnected(kConnectTimeout))
        return true;
    socket->abort();
    return false;
}

bool SingleApplicationPrivate::greeted()
{
    bool complete = false;
    const QString greeting = readMessage(socket, &complete);
    if (complete && greeting == key)
        return true;
    socket->disconnectFromServer();
    if (socket->state() != QLocalSocket::UnconnectedState)
        socket->waitForDisconnected(kConnectTimeout);
    socket->abort();
    return false;
}

bool SingleApplicationPrivate::connectToRunning()
{
    if (socket && socket->state() == QLocalSocket::ConnectedState)
        return true;
    return reachServer() && greeted();
}

void SingleApplicationPrivate::dropConnection()
{
    if (socket)
        socket->abort();
}

bool SingleApplicationPrivate::deliver(const QString &message, int timeout)
{
    if (!connectToRunning())
        return false;
    bool acknowledged = false;
    if (writeMessage(socket, message, timeout)) {
        bool complete = false;
        const QString reply = readMessage(socket, &complete);
        acknowledged = complete && reply == key;
    }
    // After a failure the stream may be out of step: the next send starts over.
    if (!acknowledged)
        dropConnection();
    return acknowledged;
}

SingleApplication::SingleApplication(const QString &key, QObject *parent)
    : QObject(parent), d(std::make_unique<SingleApplicationPrivate>(this))
{
    d->init(key);
}

SingleApplication::SingleApplication(QObject *parent)
    : QObject(parent), d(std::make_unique<SingleApplicationPrivate>(this))
{
    d->init(QCoreApplication::applicationName());
}

SingleApplication::~SingleApplication() = default;

bool SingleApplication::isRunning() const
{
    return d->running;
}

QString SingleApplication::key() const
{
    return d->key;
}

bool SingleApplication::sendMessage(const QString &message, int timeout)
{
    if (!d->running)
        return false;
    const bool reused = d->socket && d->socket->state() == QLocalSocket::ConnectedState;
    if (d->deliver(message, timeout))
        return true;
    // The running instance may have closed a connection kept from an earlier
    // send (idle connections are closed): try once on a fresh one.
    return reused && d->deliver(message, timeout);
}

bool SingleApplication::sendMessage(const QString &message)
{
    return sendMessage(message, kReplyTimeout);
}

bool SingleApplication::isRunning(const QString &key)
{
    SingleApplication guard(key);
    return guard.isRunning();
}

bool SingleApplication::sendMessage(const QString &key, const QString &message, int timeout)
{
    SingleApplication guard(key);
    return guard.sendMessage(message, timeout);
}
