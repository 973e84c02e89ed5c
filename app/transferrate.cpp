// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/transferrate.h"

#include <QLocale>

#include <cmath>

namespace TransferRate {

namespace {

QString number(double value, int decimals)
{
    QLocale italian(QLocale::Italian, QLocale::Italy);
    italian.setNumberOptions(QLocale::OmitGroupSeparator);
    return italian.toString(value, 'f', decimals);
}

// "N unit", singular or plural "rimanente(i)" chosen by the caller.
QString left(const QString &amount, bool one)
{
    return QStringLiteral("circa ") + amount + (one ? QStringLiteral(" rimanente") : QStringLiteral(" rimanenti"));
}

} // namespace

QString formatSize(double bytes)
{
    if (!std::isfinite(bytes) || bytes <= 0)
        return QString();
    static const char *const units[] = {"B", "kB", "MB", "GB"};
    constexpr int lastUnit = 3;
    int unit = 0;
    double value = bytes;
    while (unit < lastUnit && value >= 1000) {
        value /= 1000;
        ++unit;
    }
    // Bytes are whole; larger units get one decimal below 100. A value that
    // rounds up to 1000 is shown in the next unit ("1,0 MB", not "1000 kB").
    for (;;) {
        const int decimals = unit == 0 || value >= 99.95 ? 0 : 1;
        const double shown = decimals ? std::round(value * 10) / 10 : std::round(value);
        if (shown >= 1000 && unit < lastUnit) {
            value /= 1000;
            ++unit;
            continue;
        }
        return number(unit == 0 ? std::max(shown, 1.0) : shown, decimals) + QLatin1Char(' ')
               + QLatin1String(units[unit]);
    }
}

QString formatSpeed(double bytesPerSecond)
{
    const QString size = formatSize(bytesPerSecond);
    return size.isEmpty() ? size : size + QStringLiteral("/s");
}

QString formatTimeLeft(double seconds)
{
    // Beyond a few weeks an estimate tells the user nothing.
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > 999.0 * 3600)
        return QString();
    const qint64 whole = qint64(std::ceil(seconds));
    if (whole < 60)
        return left(QString::number(whole) + QStringLiteral(" s"), whole == 1);
    const qint64 minutes = qint64(std::llround(double(whole) / 60));
    if (minutes < 60)
        return left(QString::number(minutes) + QStringLiteral(" min"), minutes == 1);
    const qint64 hours = minutes / 60;
    const qint64 rest = minutes % 60;
    if (rest == 0)
        return left(QString::number(hours) + QStringLiteral(" h"), hours == 1);
    return left(QString::number(hours) + QStringLiteral(" h ") + QString::number(rest) + QStringLiteral(" min"),
                false);
}

QString describe(double bytesPerSecond, qint64 bytesLeft)
{
    const QString speed = formatSpeed(bytesPerSecond);
    if (speed.isEmpty() || bytesLeft <= 0)
        return speed;
    const QString time = formatTimeLeft(double(bytesLeft) / bytesPerSecond);
    return time.isEmpty() ? speed : speed + QStringLiteral(" · ") + time;
}

} // namespace TransferRate

void TransferRateEstimator::start(qint64 nowMs)
{
    *this = TransferRateEstimator();
    m_started = true;
    m_startMs = m_lastMs = m_progressMs = m_latestMs = nowMs;
}

void TransferRateEstimator::addSample(qint64 bytesDone, qint64 nowMs)
{
    // A count going backwards is a transfer that started again.
    if (!m_started || bytesDone < m_bytes)
        start(nowMs);
    if (bytesDone > m_bytes)
        m_progressMs = nowMs;
    m_bytes = bytesDone;
    m_latestMs = nowMs;

    const qint64 elapsed = nowMs - m_lastMs;
    if (!m_warm) {
        // The first figure is the average of at least a whole second with
        // some progress in it.
        if (nowMs - m_startMs < WarmUpMs || bytesDone <= m_lastBytes)
            return;
        m_rate = double(bytesDone - m_lastBytes) * 1000.0 / double(elapsed);
        m_warm = true;
    } else {
        if (elapsed < 100)
            return;
        const double instant = double(bytesDone - m_lastBytes) * 1000.0 / double(elapsed);
        const double weight = 1.0 - std::exp(-double(elapsed) / TimeConstantMs);
        m_rate += weight * (instant - m_rate);
    }
    m_lastMs = nowMs;
    m_lastBytes = bytesDone;
}

double TransferRateEstimator::bytesPerSecond() const
{
    if (!m_warm || m_latestMs - m_progressMs >= StallMs)
        return 0.0;
    return m_rate;
}
