// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef ACCOUNTACTIONS_H
#define ACCOUNTACTIONS_H

#include "httpexchange.h"
#include "servicereply.h"
#include "sessions.h"

class CatalogueActions;
class ServiceContext;
class ServiceRequest;

// Signing in ("login": a session cookie and the account's catalogue) and the
// password change ("changePWD").
class AccountActions
{
public:
    AccountActions(ServiceContext &context, CatalogueActions &catalogue);

    HttpResponse login(const ServiceRequest &request);
    // A successful change ends every other session of the account: whoever
    // signed in with the old password must sign in again.
    ServiceReply changePassword(const Sessions::Session &session, const ServiceRequest &request);

private:
    ServiceContext &m_context;
    CatalogueActions &m_catalogue;
};

#endif // ACCOUNTACTIONS_H
