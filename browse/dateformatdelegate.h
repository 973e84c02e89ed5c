// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef DATEFORMATDELEGATE_H
#define DATEFORMATDELEGATE_H

#include <QStyledItemDelegate>

// Shows a date-time value ("yyyy-MM-dd hh:mm:ss" from the list statement) as
// "dd/MM/yyyy HH:mm:ss", whatever the locale.
class DateFormatDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit DateFormatDelegate(QObject *parent = nullptr);

    QString displayText(const QVariant &value, const QLocale &locale) const override;
};

#endif // DATEFORMATDELEGATE_H
