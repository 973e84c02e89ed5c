// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "service/sessioncookiejar.h"

SessionCookieJar::SessionCookieJar(QObject *parent)
    : QNetworkCookieJar(parent)
{
}

void SessionCookieJar::setCredentials(const QString &username, const QString &password)
{
    m_username = username;
    m_password = password;
}

void SessionCookieJar::clearCredentials()
{
    m_username.clear();
    m_password.clear();
}

bool SessionCookieJar::hasCredentials() const
{
    return !m_username.isEmpty() || !m_password.isEmpty();
}
