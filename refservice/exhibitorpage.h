// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef EXHIBITORPAGE_H
#define EXHIBITORPAGE_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The HTML pages the service shows in a browser: the legal exhibition page of
// a preserved document and the plain information pages. Every value that comes
// from users (file names, index values, class names) is HTML-escaped.
class ExhibitorPage
{
public:
    struct Document {
        QString filename, className, groupName, profileName, hash, token, tsconserve, lastModified, computerName;
        qint64 filesize = 0;
        int version = 1, versions = 1;
        QString downloadUrl;
        QList<QPair<QString, QString>> indexValues; // (index name, value)
    };

    static QByteArray document(const Document &doc);
    // A simple page: a title and paragraphs of plain text (escaped here).
    static QByteArray simple(const QString &title, const QStringList &paragraphs);

private:
    static QByteArray wrap(const QString &title, const QString &bodyHtml);
};

#endif // EXHIBITORPAGE_H
