// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "httpexchange.h"

#include <QUrl>

namespace {

QByteArray valueOf(const HttpRequest::Pairs &pairs, const QByteArray &name, Qt::CaseSensitivity cs)
{
    for (const auto &[key, value] : pairs) {
        if (key.compare(name, cs) == 0)
            return value;
    }
    return {};
}

} // namespace

QByteArray HttpRequest::header(const QByteArray &name) const
{
    return valueOf(headers, name, Qt::CaseInsensitive);
}

QByteArray HttpRequest::queryValue(const QByteArray &name) const
{
    return valueOf(query, name, Qt::CaseSensitive);
}

QByteArray HttpRequest::cookie(const QByteArray &name) const
{
    return valueOf(cookies, name, Qt::CaseSensitive);
}

bool HttpRequest::fromLoopback() const
{
    return peer == "::1" || peer.startsWith("127.") || peer.startsWith("::ffff:127.");
}

HttpResponse HttpResponse::text(int status, const QByteArray &text)
{
    HttpResponse r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = text;
    return r;
}

HttpResponse HttpResponse::html(int status, const QByteArray &html)
{
    HttpResponse r = text(status, html);
    r.contentType = "text/html; charset=utf-8";
    return r;
}

HttpResponse HttpResponse::attachment(const QString &path, qint64 size, const QString &downloadName)
{
    QString ascii;
    for (const QChar c : downloadName) {
        const bool plain = c.unicode() >= 0x20 && c.unicode() < 0x7f && c != QLatin1Char('"') && c != QLatin1Char('\\');
        ascii.append(plain ? c : QLatin1Char('_'));
    }
    if (ascii.isEmpty())
        ascii = QStringLiteral("documento");
    const QByteArray encoded = QUrl::toPercentEncoding(downloadName.isEmpty() ? ascii : downloadName);
    HttpResponse r;
    r.contentType = "application/octet-stream";
    r.filePath = path;
    r.fileSize = size;
    return r.withHeader("Content-Disposition",
                        "attachment; filename=\"" + ascii.toLatin1() + "\"; filename*=UTF-8''" + encoded);
}

HttpResponse &HttpResponse::withHeader(const QByteArray &name, const QByteArray &value)
{
    headers.append({name, value});
    return *this;
}

bool BodySink::data(const char *, size_t)
{
    return true;
}

bool BodySink::part(const QByteArray &, quint64, const char *, size_t)
{
    return true;
}

void BodySink::end(bool)
{
}
