// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/transferspeedlabel.h"

#include <QLabel>

namespace {
constexpr int RefreshMs = 500;
}

TransferSpeedLabel::TransferSpeedLabel(QLabel *label)
    : QObject(label)
    , m_label(label)
{
    m_tick.setInterval(RefreshMs);
    connect(&m_tick, &QTimer::timeout, this, &TransferSpeedLabel::refresh);
    restart();
}

void TransferSpeedLabel::restart()
{
    m_clock.start();
    m_estimator.start(0);
    m_done = 0;
    m_total = -1;
    m_tick.stop();
    if (m_label)
        m_label->clear();
}

void TransferSpeedLabel::update(qint64 done, qint64 total)
{
    m_done = done;
    m_total = total;
    m_estimator.addSample(done, m_clock.elapsed());
    // The label follows the clock, not the stream of reports: a report per
    // block would make the figures flicker, and none at all must not freeze them.
    if (!m_tick.isActive())
        m_tick.start();
}

void TransferSpeedLabel::refresh()
{
    // No report since the last tick: the same count later, so the speed of a
    // stalled transfer falls and then disappears.
    m_estimator.addSample(m_done, m_clock.elapsed());
    if (!m_label)
        return;
    const double rate = m_estimator.bytesPerSecond();
    m_label->setText(TransferRate::describe(rate, m_total >= 0 ? m_total - m_done : 0));
}
