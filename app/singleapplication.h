// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SINGLEAPPLICATION_H
#define SINGLEAPPLICATION_H

#include <QObject>
#include <QString>

#include <memory>

class QLocalSocket;
class SingleApplicationPrivate;

// Local message wire of the single-instance guard. A frame is a signed 32-bit
// big-endian length L followed by L bytes holding one string in the data-stream
// encoding (32-bit big-endian byte count, 0xFFFFFFFF for a null string, then the
// UTF-16 big-endian code units). The empty string is 00 00 00 04 00 00 00 00.

// Writes one frame holding `message`; true once it has been handed to the
// system within `timeout` ms. False when there is no connected socket.
bool writeMessage(QLocalSocket *socket, const QString &message, int timeout);

// Reads one frame, waiting in slices of 250 ms for each piece still missing.
// Sets *ok only when a complete, well-formed frame was read; a frame whose rest
// does not arrive within a slice is returned as far as it came, with *ok false.
QString readMessage(QLocalSocket *socket, bool *ok);

// Finds out whether an instance of the client already runs for this user and
// lets a later start hand it a text message. The running instance is marked by
// a one-byte shared-memory segment; messages travel over a local socket whose
// server greets and acknowledges every message with the guard's key. Both names
// are derived from the key and the user's login name, so every user of the
// machine gets an instance of their own.
class SingleApplication : public QObject
{
    Q_OBJECT
public:
    // `key` keeps only A-Z, a-z and 0-9 ("SADEFAULTKEY" when nothing is left).
    explicit SingleApplication(const QString &key, QObject *parent = nullptr);
    // Uses the application name as key.
    explicit SingleApplication(QObject *parent = nullptr);
    ~SingleApplication() override;

    // True when another process of this user already runs with the same key.
    bool isRunning() const;
    QString key() const;

    // Build a temporary guard with `key`, ask or send, and destroy it.
    static bool isRunning(const QString &key);
    static bool sendMessage(const QString &key, const QString &message, int timeout);

public slots:
    // Hands `message` to the running instance; true only when it acknowledged
    // it within the time-outs (200 ms to connect, 250 ms read slices, `timeout`
    // ms to write).
    bool sendMessage(const QString &message, int timeout);
    bool sendMessage(const QString &message);

signals:
    // Emitted in the GUI thread for every message a later start delivers.
    void messageReceived(const QString &message);

private:
    friend class SingleApplicationPrivate;
    std::unique_ptr<SingleApplicationPrivate> d;
};

#endif // SINGLEAPPLICATION_H
