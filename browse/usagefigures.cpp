// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/usagefigures.h"

#include <QtCharts/QChart>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>

namespace {
// Decimal text as a 64-bit integer; anything that is not a number counts as 0.
qint64 toUnits(const QString &text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok ? value : 0;
}
} // namespace

UsageFigures UsageFigures::compute(const QString &quota, const QString &used, const QString &unit,
                                   const QString &divisor, const QString &username)
{
    UsageFigures f;
    const QString black = QStringLiteral("QLabel {color:black;}");
    f.lineStyle = black;
    f.userLine = QStringLiteral("Sei connesso come: ") + username.toHtmlEscaped();
    f.hasQuota = !(quota.isEmpty() || quota == QLatin1String("0"));
    if (!f.hasQuota)
        return f;

    const qint64 div = toUnits(divisor);
    if (div <= 0)
        return f; // no usable divisor: the plain line, no figures and no chart

    f.hasFigures = true;
    f.usedUnits = toUnits(used) / div;
    f.quotaUnits = toUnits(quota) / div;
    f.freeUnits = f.quotaUnits - f.usedUnits;
    f.freeLabel = QStringLiteral("Libero: %1 %2").arg(f.freeUnits).arg(unit);
    f.usedLabel = QStringLiteral("Utilizzato: %1 %2").arg(f.usedUnits).arg(unit);
    f.userLine = QStringLiteral("<html><head/><body><p>Sei connesso come: ") + username.toHtmlEscaped()
        + QStringLiteral(" (%1 di %2 %3) ").arg(f.usedUnits).arg(f.quotaUnits).arg(unit.toHtmlEscaped())
        + QStringLiteral("<a href=\"#buyquota\"><span style=\" font-weight: normal; text-decoration: underline; color:#0000ff;\">(Acquista spazio)</span></a></p></body></html>");
    if (f.quotaUnits >= 1 && (f.usedUnits * 100) / f.quotaUnits >= 80)
        f.lineStyle = QStringLiteral("QLabel {color:red;}");
    return f;
}

QChart *UsageFigures::makeChart() const
{
    auto *chart = new QChart();
    chart->setBackgroundVisible(false);
    chart->setBackgroundBrush(Qt::transparent);
    chart->setDropShadowEnabled(false);
    if (!hasFigures) {
        chart->legend()->setVisible(false);
        return chart;
    }
    auto *series = new QPieSeries(chart);
    QPieSlice *free = series->append(freeLabel, double(freeUnits));
    QPieSlice *used = series->append(usedLabel, double(usedUnits));
    free->setColor(QColor(QStringLiteral("#13e837")));
    used->setColor(QColor(QStringLiteral("#FF0000")));
    for (QPieSlice *slice : {free, used}) {
        slice->setLabelVisible(true);
        slice->setLabelColor(Qt::black);
        slice->setBorderWidth(2);
        // The margin between the slices: each one is moved out a little.
        slice->setExploded(true);
        slice->setExplodeDistanceFactor(0.02);
    }
    chart->addSeries(series);
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setLabelColor(Qt::black);
    return chart;
}
