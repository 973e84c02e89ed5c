// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "passwordpolicy.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

QByteArray PasswordPolicy::newSalt()
{
    QByteArray salt(16, '\0');
    RAND_bytes(reinterpret_cast<unsigned char *>(salt.data()), salt.size());
    return salt;
}

QByteArray PasswordPolicy::derive(const QString &password, const QByteArray &salt, int iterations)
{
    const QByteArray utf8 = password.toUtf8();
    QByteArray key(32, '\0');
    PKCS5_PBKDF2_HMAC(utf8.constData(), utf8.size(),
                      reinterpret_cast<const unsigned char *>(salt.constData()), salt.size(),
                      iterations, EVP_sha256(), key.size(), reinterpret_cast<unsigned char *>(key.data()));
    return key;
}

bool PasswordPolicy::sameKey(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() && a.size() > 0 && CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

QString PasswordPolicy::brokenRule(const QString &password, const QString &userId)
{
    const int length = password.size();
    if (length < 8 || length > 20)
        return QStringLiteral("La nuova password deve contenere da 8 a 20 caratteri");
    bool digit = false;
    bool letter = false;
    for (const QChar c : password) {
        digit = digit || c.isDigit();
        letter = letter || c.isLetter();
    }
    if (!digit || !letter)
        return QStringLiteral("La nuova password deve contenere almeno un numero e una lettera");
    if (!userId.isEmpty() && password.contains(userId, Qt::CaseInsensitive))
        return QStringLiteral("La nuova password non può contenere lo user-id");
    for (int i = 2; i < length; ++i) {
        if (password.at(i) == password.at(i - 1) && password.at(i) == password.at(i - 2))
            return QStringLiteral("La nuova password non può contenere più di due caratteri uguali consecutivi");
    }
    return QString();
}
