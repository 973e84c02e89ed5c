// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef USAGEFIGURES_H
#define USAGEFIGURES_H

#include <QString>

class QChart;

// What the usage chart and the signed-in line show for one storage profile,
// computed from the profile's texts as the catalogue keeps them.
struct UsageFigures
{
    bool hasQuota = false;  // quota text neither "0" nor empty
    bool hasFigures = false; // quota set and a usable (positive) divisor
    qint64 usedUnits = 0;
    qint64 quotaUnits = 0;
    qint64 freeUnits = 0;
    QString freeLabel;  // "Libero: N unit"
    QString usedLabel;  // "Utilizzato: N unit"
    QString userLine;   // text of the signed-in line
    QString lineStyle;  // style sheet of the signed-in line

    static UsageFigures compute(const QString &quota, const QString &used, const QString &unit,
                                const QString &divisor, const QString &username);

    // A new pie chart of these figures on a transparent background: free
    // space in green, used space in red, slices a little apart, labels and
    // the legend on the right in black. Without figures, an empty chart.
    QChart *makeChart() const;
};

#endif // USAGEFIGURES_H
