// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// tavrel-send: hands a command to the running Tavrel Lite client of this user.
//
//   tavrel-send conserva FILE     preserve FILE
//   tavrel-send esibisci TOKEN    open the exhibition page of a preserved file
//   tavrel-send rettifica FILE    replace the preserved FILE with its current content
//
// Exit status: 0 handed over, 1 no client listening, 2 wrong usage.

#include "app/constants.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTextStream>
#include <QXmlStreamWriter>

namespace {
int usage(QTextStream &err)
{
    err << "Uso: tavrel-send conserva FILE | esibisci TOKEN | rettifica FILE\n";
    return 2;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2)
        return usage(err);

    const QString command = args.at(0).toLower();
    QString parameter = args.at(1);
    if (command == QLatin1String("conserva") || command == QLatin1String("rettifica")) {
        const QFileInfo file(parameter);
        if (!file.isFile()) {
            err << "File non trovato: " << parameter << "\n";
            return 2;
        }
        parameter = file.absoluteFilePath();
    } else if (command != QLatin1String("esibisci") || parameter.isEmpty()) {
        return usage(err);
    }

    QString xml;
    QXmlStreamWriter writer(&xml);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("request"));
    writer.writeTextElement(QStringLiteral("command"), command);
    writer.writeTextElement(QStringLiteral("parameter1"), parameter);
    writer.writeEndElement();
    writer.writeEndDocument();

    QLocalSocket socket;
    socket.connectToServer(QStringLiteral(APP_GUID));
    if (!socket.waitForConnected(2000)) {
        err << "Tavrel Lite non è in esecuzione o nessun utente ha effettuato l'accesso.\n";
        return 1;
    }
    QByteArray frame;
    QDataStream out(&frame, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_0);
    out << xml;
    socket.write(frame);
    if (!socket.waitForBytesWritten(5000)) {
        err << "Impossibile consegnare il comando a Tavrel Lite.\n";
        return 1;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(1000);
    return 0;
}
