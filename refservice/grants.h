// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef GRANTS_H
#define GRANTS_H

#include <QHash>
#include <QMutex>
#include <QString>

// Short-lived secrets that open one preserved version without a session:
// exhibition codes (one visit, 5 minutes) and the download keys of the
// exhibition page (15 minutes). In memory; thread-safe.
class Grants
{
public:
    // A new exhibition code for the version `fileId`.
    QString newExhibitCode(qint64 fileId);
    // The version the code opens (0 when none); the code is used up.
    qint64 takeExhibitCode(const QString &code);
    // A new download key for the version `fileId`.
    QString newDownloadKey(qint64 fileId);
    // The version the key opens (0 when none); the key stays valid until it expires.
    qint64 downloadKey(const QString &key);

private:
    struct Grant {
        qint64 fileId = 0;
        qint64 expiresMs = 0;
    };
    static QString add(QHash<QString, Grant> &grants, qint64 fileId, int secretBytes, qint64 lifetimeMs);
    static qint64 valid(const Grant &grant);

    QMutex m_mutex;
    QHash<QString, Grant> m_exhibitCodes;
    QHash<QString, Grant> m_downloadKeys;
};

#endif // GRANTS_H
