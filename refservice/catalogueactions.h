// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CATALOGUEACTIONS_H
#define CATALOGUEACTIONS_H

#include "servicereply.h"
#include "sessions.h"

class RefStore;
class ServiceRequest;

// The account's catalogue, as the login and "syncfolder" replies carry it:
// profiles, policies, classes with their index definitions in full, and the
// current preserved versions (with their index values) updated after the
// client's cursor.
class CatalogueActions
{
public:
    explicit CatalogueActions(RefStore &store);

    ServiceReply syncfolder(const Sessions::Session &session, const ServiceRequest &request);
    // The body of a catalogue reply for `username` and the cursor text sent.
    ServiceReply::BodyWriter body(const QString &username, const QString &codesync);
    // The cursor the client sent: the largest update stamp it holds, as the
    // text of a real number in any form ("0.0", "1700000000000",
    // "1700000000000.0", "1.7e+12"); 0 when it is not a usable number.
    static qint64 cursorOf(const QString &codesync);

private:
    RefStore &m_store;
};

#endif // CATALOGUEACTIONS_H
