// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef HTTPEXCHANGE_H
#define HTTPEXCHANGE_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <cstddef>

// One HTTP request as the service sees it once its head has arrived: method,
// path (decoded, without the query), headers, query arguments, cookies and the
// peer's numeric address. The body goes to a BodySink.
struct HttpRequest
{
    using Pairs = QList<QPair<QByteArray, QByteArray>>;

    QByteArray method, path, peer;
    Pairs headers, query, cookies;
    bool hasBody = false;

    QByteArray header(const QByteArray &name) const; // name compared without case
    QByteArray queryValue(const QByteArray &name) const;
    QString queryText(const QByteArray &name) const { return QString::fromUtf8(queryValue(name)); }
    QByteArray cookie(const QByteArray &name) const;
    bool isGet() const { return method == "GET" || method == "HEAD"; }
    bool isPost() const { return method == "POST"; }
    bool fromLoopback() const;
};

// What the service answers: a status, headers and a body, either held in
// memory or streamed from a file that the server opens when it sends it.
struct HttpResponse
{
    int status = 200;
    QByteArray contentType;
    HttpRequest::Pairs headers;
    QByteArray body;
    QString filePath; // when set, the body is this file's first fileSize bytes
    qint64 fileSize = 0;
    QByteArray serviceStatus; // the status number of an XML reply, for the request log

    static HttpResponse text(int status, const QByteArray &text);
    static HttpResponse html(int status, const QByteArray &html);
    // A file offered for download as `downloadName` (any characters; an ASCII
    // fallback is given to clients that do not read the UTF-8 form).
    static HttpResponse attachment(const QString &path, qint64 size, const QString &downloadName);
    HttpResponse &withHeader(const QByteArray &name, const QByteArray &value);
};

// Receives a request body as it arrives, on one of the server's network
// threads: it must be quick and never wait for anything but the disk.
class BodySink
{
public:
    virtual ~BodySink() = default;
    // True when the body is a multipart form, delivered part by part.
    virtual bool multipart() const { return false; }
    // A piece of a plain body; false drops the connection.
    virtual bool data(const char *bytes, size_t size);
    // A piece of the part named `name`, at `offset` within it (0 starts a part);
    // false drops the connection.
    virtual bool part(const QByteArray &name, quint64 offset, const char *bytes, size_t size);
    // The body is complete; for a multipart form, `wellFormed` tells whether
    // it ended with its closing boundary.
    virtual void end(bool wellFormed);
};

#endif // HTTPEXCHANGE_H
