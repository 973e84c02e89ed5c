// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef PROCSTATUS_H
#define PROCSTATUS_H

// Memory figures of a process from /proc, shared by the benchmarks.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// A "kB" field of /proc/<pid>/status (VmRSS:, VmHWM:, ...); -1 when unreadable.
// `pid` 0 means this process.
inline long long procStatusKb(const char *field, qint64 pid = 0)
{
    QFile status(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Starts a new peak (VmHWM) measure from the current resident size.
inline void resetPeakMemory(qint64 pid = 0)
{
    QFile clear(pid ? QStringLiteral("/proc/%1/clear_refs").arg(pid) : QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

#endif // PROCSTATUS_H
