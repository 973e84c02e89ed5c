// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's side of the local command channel: the server lives while
// a user is signed in, and each message it receives is dispatched here.

#include "browse/coremain.h"

#include "app/constants.h"
#include "app/externalcommand.h"
#include "app/localsocketipcserver.h"
#include "app/prompts.h"
#include "conserve/conservafiledialog.h"
#include "service/kvdialoglogin.h"

#include <QCoreApplication>
#include <QSqlQuery>

void CoreMain::startCommandServer()
{
    if (ipcServer)
        return;
    ipcServer = new LocalSocketIpcServer(QStringLiteral(APP_GUID), this);
    // Queued: a command runs from the event loop, never inside the server's
    // socket handlers, so a sign-out during its message boxes or its pending
    // events may destroy the server safely.
    connect(ipcServer, &LocalSocketIpcServer::messageReceived, this, &CoreMain::parseExternalMessage,
            Qt::QueuedConnection);
}

void CoreMain::stopCommandServer()
{
    if (!ipcServer)
        return;
    disconnect(ipcServer, &LocalSocketIpcServer::messageReceived, this, &CoreMain::parseExternalMessage);
    delete ipcServer;
    ipcServer = nullptr;
}

void CoreMain::parseExternalMessage(QString message)
{
    if (!signedIn) {
        showForeground(dialogLogin);
        return;
    }
    const ExternalCommand request = ExternalCommand::parse(message);
    // Every command needs its parameter.
    if (!request.hasParameter)
        return;

    if (request.command == QLatin1String("conserva")) {
        if (refuseWhileBusy(this, winConserve, pathFileConserve, choosingFile))
            return;
        showForeground(this);
        QCoreApplication::processEvents();
        // The events just run may have signed the user out or started another
        // preservation.
        if (!signedIn || refuseWhileBusy(this, winConserve, pathFileConserve, choosingFile))
            return;
        ConservaFileDialog *dialog = openConserveDialog(request.parameter, this);
        connect(dialog, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
        showForeground(dialog);
    } else if (request.command == QLatin1String("esibisci")) {
        setExhibitToken(request.parameter);
        esibisciFile();
    } else if (request.command == QLatin1String("rettifica")) {
        showForeground(this);
        QCoreApplication::processEvents();
        if (!signedIn)
            return;
        QString hash;
        int classId = -1;
        database.openDB();
        {
            // Only a preserved file (one with a token) can be rectified; a row
            // whose preservation never finished has an empty token. The copy
            // replaced is the one of that row's class.
            QSqlQuery query(database.db);
            query.prepare(QStringLiteral("SELECT hash, folderid FROM files WHERE fullpath = ? AND token IS NOT NULL "
                                         "AND token != ''"));
            query.addBindValue(request.parameter);
            if (query.exec() && query.next()) {
                hash = query.value(0).toString();
                classId = query.value(1).toInt();
            }
        }
        database.closeDB();
        if (hash.isEmpty()) {
            Prompts::critical(this, tr("Rettifica file"), tr("Errore durante la rettifica del file si prega di riprovare"));
            return;
        }
        showForeground(openRectifyDialog(request.parameter, hash, classId));
    }
}
