// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef INSTANCELOCK_H
#define INSTANCELOCK_H

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

// Proof that the process holding it is alive: an exclusive lock on the file
// "<name>.lock" in the temporary directory (beside the guard's socket). The
// kernel drops the lock when its process ends in any way, kill -9 included, so
// a start that gets the lock knows that whatever an earlier instance left under
// `name` (marker segment, socket file) is stale and may be cleared.
//
// The running instance keeps this object, as a child of the application object,
// for its whole life; it owns the marker segment and the guard's server, and
// destroys them before it lets the lock go, so no later start can clear the
// resources of an instance that is still shutting down.
class InstanceLock : public QObject
{
    Q_OBJECT
public:
    enum State {
        Acquired,      // this process holds the lock
        HeldElsewhere, // a live process holds it: an instance runs
        Unavailable    // the lock file cannot be used; nothing is known
    };

    InstanceLock(const QString &name, QObject *parent);
    ~InstanceLock() override;

    State state() const { return m_state; }

    // Removes a marker segment and a socket file left under `name` by an
    // instance that died. Only meaningful while the lock is Acquired.
    void clearLeftovers() const;

    // Objects destroyed, in the order given, before the lock is released.
    void keepUntilRelease(QObject *object);

    static QString lockFilePath(const QString &name);

private:
    QString m_name;
    int m_fd = -1;
    State m_state = Unavailable;
    QList<QPointer<QObject>> m_kept;
};

#endif // INSTANCELOCK_H
