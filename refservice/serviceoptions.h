// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SERVICEOPTIONS_H
#define SERVICEOPTIONS_H

#include <QString>

// How the service was asked to run (its command-line options).
struct ServiceOptions {
    QString host = QStringLiteral("127.0.0.1");
    int port = 8765;
    QString dataDir;
    QString seedFile;        // empty: the embedded demo seed
    int sessionIdleSeconds = 1800;
    qint64 uploadKeepSeconds = 86400; // an upload never preserved is forgotten after this
    int headTimeoutSeconds = 10;      // for a connection to deliver a request head
    QString minVersion;      // empty: any client version is accepted
    QString updatePackage;   // empty: a small built-in package
    QString tlsCert, tlsKey; // both set: HTTPS
    bool testHooks = false;
};

#endif // SERVICEOPTIONS_H
