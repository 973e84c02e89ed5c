// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/byteprogress.h"

#include <QProgressBar>

#include <limits>

void showByteProgress(QProgressBar *bar, qint64 maximum, qint64 value)
{
    if (maximum < 0) {
        bar->setRange(0, 0);
        return;
    }
    int shift = 0;
    while ((maximum >> shift) > std::numeric_limits<int>::max())
        ++shift;
    bar->setRange(0, int(maximum >> shift));
    bar->setValue(int(qBound<qint64>(0, value, maximum) >> shift));
}
