// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef EXHIBITORROUTES_H
#define EXHIBITORROUTES_H

#include "exhibitorpage.h"
#include "httpexchange.h"
#include "refstore.h"

class ServiceContext;

// The legal exhibition page a browser opens with a one-time code
// (GET /kvshop/Exhibitor?unique_code=...), and the download of the exhibited
// version it links to (GET /kvshop/Exhibitor/download?key=...). Neither needs
// a session.
class ExhibitorRoutes
{
public:
    explicit ExhibitorRoutes(ServiceContext &context);

    HttpResponse page(const HttpRequest &request);
    HttpResponse download(const HttpRequest &request);

private:
    // What the page shows of `version`: its class, profile, place in its
    // chain of versions and index values.
    ExhibitorPage::Document describe(const RefStore::FileVersion &version);

    ServiceContext &m_context;
};

#endif // EXHIBITORROUTES_H
