// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef PASSWORDPOLICY_H
#define PASSWORDPOLICY_H

#include <QByteArray>
#include <QString>

// Password storage (PBKDF2-HMAC-SHA256 with a random salt) and the rules a new
// password must follow, the same the client's password window lists.
class PasswordPolicy
{
public:
    static constexpr int DefaultIterations = 50000;
    static constexpr int HistoryDepth = 3;

    static QByteArray newSalt();
    static QByteArray derive(const QString &password, const QByteArray &salt, int iterations);
    // Constant-time comparison of two derived keys.
    static bool sameKey(const QByteArray &a, const QByteArray &b);

    // The first rule `password` breaks for user `userId`, as the Italian
    // sentence shown to the user; empty when the password is acceptable.
    // (The "not one of the last 3" rule needs the history: see RefStore.)
    static QString brokenRule(const QString &password, const QString &userId);
};

#endif // PASSWORDPOLICY_H
