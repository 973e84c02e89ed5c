// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef INFOPAGES_H
#define INFOPAGES_H

#include "httpexchange.h"

#include <QStringList>

#include <optional>

// The plain pages the client opens in a browser (help, buying space,
// password recovery, survey), the update package, and the service's error
// pages, all in Italian.
class InfoPages
{
public:
    // The information page at `path` ("/kvshop/Help/", with or without the
    // last slash), if there is one.
    static std::optional<HttpResponse> page(const QByteArray &path);
    // GET /kvshop/UpdateService?platform=lin: the configured package file,
    // or a small built-in archive when none was given.
    static HttpResponse updatePackage(const HttpRequest &request, const QString &packageFile);
    static HttpResponse notFound();
    static HttpResponse redirect(const QByteArray &location);
    // A page with a title and paragraphs of plain text (escaped here).
    static HttpResponse simple(int status, const QString &title, const QStringList &text);

private:
    static QByteArray builtInPackage();
};

#endif // INFOPAGES_H
