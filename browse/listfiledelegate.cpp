// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/listfiledelegate.h"

#include "browse/filelistquery.h"
#include "browse/fingerprintcache.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>

ListFileDelegate::ListFileDelegate(QObject *parent)
    : QSqlQueryModel(parent)
{
}

QString ListFileDelegate::normalise(const QString &storedPath)
{
    QString path = storedPath;
    path.replace(QLatin1Char('/'), QDir::separator());
    path.replace(QLatin1Char('\\'), QDir::separator());
    return path;
}

QString ListFileDelegate::folderPart(const QString &storedPath)
{
    const int cut = qMax(storedPath.lastIndexOf(QLatin1Char('/')), storedPath.lastIndexOf(QLatin1Char('\\')));
    return storedPath.left(cut + 1);
}

QString ListFileDelegate::highlighted(const QString &text, const QString &search)
{
    if (search.isEmpty())
        return text.toHtmlEscaped();
    int at = text.indexOf(search, 0, Qt::CaseInsensitive);
    if (at < 0)
        return text.toHtmlEscaped();
    const QString mark = QStringLiteral("<span style=\"background-color:yellow\">")
        + text.mid(at, search.size()).toHtmlEscaped() + QStringLiteral("</span>");
    QString out;
    int from = 0;
    while (at >= 0) {
        out += text.mid(from, at - from).toHtmlEscaped();
        out += mark;
        from = at + search.size();
        at = text.indexOf(search, from, Qt::CaseInsensitive);
    }
    out += text.mid(from).toHtmlEscaped();
    return out;
}

QString ListFileDelegate::plainText(const QModelIndex &index) const
{
    const QString value = QSqlQueryModel::data(index, Qt::DisplayRole).toString();
    switch (index.column()) {
    case FileListQuery::FileName:
        return QFileInfo(normalise(value)).fileName();
    case FileListQuery::Path:
        return folderPart(value);
    default:
        return value;
    }
}

QString ListFileDelegate::getHash(const QString &path) const
{
    return FingerprintCache::instance().hashOf(path);
}

QVariant ListFileDelegate::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QSqlQueryModel::data(index, role);
    const int column = index.column();

    if (role == Qt::UserRole && (column == FileListQuery::FileName || column == FileListQuery::Path)) {
        const QString stored = QSqlQueryModel::data(index, Qt::DisplayRole).toString();
        if (column == FileListQuery::FileName)
            return QFileInfo(normalise(stored)).fileName();
        return normalise(QFileInfo(stored).absolutePath());
    }

    if (role == Qt::DecorationRole && column == FileListQuery::FileName) {
        static const QIcon both(QStringLiteral(":/images/cloudandpc.png"));
        static const QIcon cloudOnly(QStringLiteral(":/images/cloudonly.png"));
        const QString local = data(index.siblingAtColumn(FileListQuery::Path), Qt::UserRole).toString()
            + QLatin1Char('/') + data(index, Qt::UserRole).toString();
        const QString hash = QSqlQueryModel::data(index.siblingAtColumn(FileListQuery::Hash)).toString();
        const QString hash4k = QSqlQueryModel::data(index.siblingAtColumn(FileListQuery::Hash4k)).toString();
        return FingerprintCache::instance().matches(local, hash, hash4k) ? both : cloudOnly;
    }

    if (role == PlainRole)
        return plainText(index);

    if (role == Qt::DisplayRole) {
        // Columns 1 to 4 are drawn as rich text: escape, then highlight. The
        // hidden columns and the date (drawn as a date) stay as they are.
        if (column >= FileListQuery::FileName && column <= FileListQuery::ClassName)
            return highlighted(plainText(index), m_search);
        return plainText(index);
    }
    return QSqlQueryModel::data(index, role);
}
