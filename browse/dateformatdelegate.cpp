// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/dateformatdelegate.h"

#include <QDateTime>

DateFormatDelegate::DateFormatDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QString DateFormatDelegate::displayText(const QVariant &value, const QLocale &) const
{
    QDateTime when = value.toDateTime();
    if (!when.isValid())
        when = QDateTime::fromString(value.toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}
