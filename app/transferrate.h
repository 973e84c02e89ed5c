// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef TRANSFERRATE_H
#define TRANSFERRATE_H

#include <QString>
#include <QtGlobal>

// The speed of a transfer (a fingerprint, an upload, a download) and the time
// it still needs, as the progress windows show them under their bar:
// "12,3 MB/s · circa 2 min rimanenti". Decimal units (1 kB = 1000 byte), the
// Italian decimal comma, nothing at all while the speed is not known.
namespace TransferRate {

// "850 B", "12,3 kB", "123 MB", "1,5 GB": one decimal below 100 of a unit,
// none from 100 on, whole bytes. "" for a size that is not positive.
QString formatSize(double bytes);

// formatSize() per second: "12,3 MB/s".
QString formatSpeed(double bytesPerSecond);

// "circa 45 s rimanenti", "circa 2 min rimanenti", "circa 1 h 20 min
// rimanenti" (singular "rimanente" for one unit). "" for a time that is not
// positive or not finite.
QString formatTimeLeft(double seconds);

// The speed, and, while bytes remain, " · " and the time left at that speed.
// "" while the speed is unknown (not positive).
QString describe(double bytesPerSecond, qint64 bytesLeft);

} // namespace TransferRate

// Smoothed speed of one transfer, fed with (bytes done, time) samples. Nothing
// is known during the first second; then the average over that second starts
// an exponential moving average (time constant of a few seconds), so single
// slow or fast blocks do not make the figure jump. A transfer that made no
// progress for several seconds has no known speed any more.
class TransferRateEstimator
{
public:
    // Starts a new transfer at `nowMs` (any monotonic clock in milliseconds).
    void start(qint64 nowMs);
    // `bytesDone` so far at `nowMs`. Samples closer than a tenth of a second to
    // the previous one are only remembered as the latest count.
    void addSample(qint64 bytesDone, qint64 nowMs);
    // Bytes per second; 0 while unknown.
    double bytesPerSecond() const;

    static constexpr qint64 WarmUpMs = 1000;
    static constexpr qint64 StallMs = 5000;
    static constexpr double TimeConstantMs = 3000.0;

private:
    bool m_started = false;
    bool m_warm = false;       // the first second is over and bytes moved in it
    qint64 m_startMs = 0;
    qint64 m_lastMs = 0;       // time of the last sample folded into the average
    qint64 m_lastBytes = 0;    // bytes at that time
    qint64 m_progressMs = 0;   // time the byte count last grew
    qint64 m_bytes = 0;        // latest byte count
    qint64 m_latestMs = 0;     // time of the latest sample
    double m_rate = 0.0;       // the moving average, 0 until warmed up
};

#endif // TRANSFERRATE_H
