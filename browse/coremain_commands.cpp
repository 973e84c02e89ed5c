// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's side of the local command channel: the server lives while
// a user is signed in, and each message it receives is dispatched here.

#include "browse/coremain.h"

#include "app/constants.h"
#include "app/localsocketipcserver.h"
#include "app/prompts.h"
#include "conserve/conservafiledialog.h"
#include "service/kvdialoglogin.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QSqlQuery>

void CoreMain::startCommandServer()
{
    if (ipcServer)
        return;
    ipcServer = new LocalSocketIpcServer(QStringLiteral(APP_GUID), this);
    connect(ipcServer, &LocalSocketIpcServer::messageReceived, this, &CoreMain::parseExternalMessage);
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
    QDomDocument document;
    if (!document.setContent(message))
        return;
    const QDomElement commandElement = document.elementsByTagName(QStringLiteral("command")).item(0).toElement();
    if (commandElement.isNull())
        return;
    const QString command = commandElement.text().toLower();
    const QDomElement parameter = document.elementsByTagName(QStringLiteral("parameter1")).item(0).toElement();

    if (command == QLatin1String("conserva")) {
        if (parameter.isNull())
            return;
        if (winConserve) {
            showForeground(winConserve);
            Prompts::warning(this, tr("Conservazione file"),
                             tr("E' in esecuzione un altro processo di conservazione, per poterne avviare un "
                                "altro devi prima concludere quello in corso"));
        } else {
            showForeground(this);
            QCoreApplication::processEvents();
            ConservaFileDialog *dialog = openConserveDialog(parameter.text(), this);
            connect(dialog, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
        }
        showForeground(winConserve);
    } else if (command == QLatin1String("esibisci")) {
        if (parameter.isNull())
            return;
        setExhibitToken(parameter.text());
        esibisciFile();
    } else if (command == QLatin1String("rettifica")) {
        if (parameter.isNull())
            return;
        showForeground(this);
        QCoreApplication::processEvents();
        QString hash;
        database.openDB();
        {
            // Only a preserved file (one with a token) can be rectified; a row
            // whose preservation never finished has an empty token.
            QSqlQuery query(database.db);
            query.prepare(QStringLiteral("SELECT hash FROM files WHERE fullpath = ? AND token IS NOT NULL AND token != ''"));
            query.addBindValue(parameter.text());
            if (query.exec() && query.next())
                hash = query.value(0).toString();
        }
        database.closeDB();
        if (hash.isEmpty()) {
            Prompts::critical(this, tr("Rettifica file"), tr("Errore durante la rettifica del file si prega di riprovare"));
            return;
        }
        showForeground(openRectifyDialog(parameter.text(), hash));
    }
}
