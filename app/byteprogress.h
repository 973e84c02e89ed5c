// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef BYTEPROGRESS_H
#define BYTEPROGRESS_H

#include <QtGlobal>

class QProgressBar;

// Shows `value` of `maximum` bytes on `bar`. A progress bar counts in int:
// sizes beyond 2 GiB are shown in units of 2^n bytes rather than wrapping round
// to negative figures, and an unknown maximum (negative) makes it a busy bar.
void showByteProgress(QProgressBar *bar, qint64 maximum, qint64 value);

#endif // BYTEPROGRESS_H
