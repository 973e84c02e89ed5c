// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/instancelock.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QSharedMemory>

#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::InstanceLock(const QString &name, QObject *parent)
    : QObject(parent), m_name(name)
{
    const QByteArray path = QFile::encodeName(lockFilePath(name));
    // Never follow a link planted under our name; the file is never removed,
    // so every start locks the same inode.
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        return;
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_state = Acquired;
        return;
    }
    m_state = errno == EWOULDBLOCK ? HeldElsewhere : Unavailable;
    ::close(m_fd);
    m_fd = -1;
}

InstanceLock::~InstanceLock()
{
    // The marker and the server go first: while they exist the lock is held.
    const QList<QPointer<QObject>> kept = std::exchange(m_kept, {});
    for (const QPointer<QObject> &object : kept)
        delete object.data();
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

void InstanceLock::clearLeftovers() const
{
    if (m_state != Acquired)
        return;
    // A segment nobody is attached to any more is removed by the last detach.
    QSharedMemory stale(m_name);
    if (stale.attach(QSharedMemory::ReadOnly))
        stale.detach();
    QLocalServer::removeServer(m_name);
}

void InstanceLock::keepUntilRelease(QObject *object)
{
    object->setParent(this);
    m_kept.append(object);
}

QString InstanceLock::lockFilePath(const QString &name)
{
    return QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock");
}
