// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef TRANSFERSPEEDLABEL_H
#define TRANSFERSPEEDLABEL_H

#include "app/transferrate.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QLabel;

// Shows the smoothed speed and the time left of a transfer in a label beside
// its progress bar. A progress window creates one on its label and feeds it
// the same (bytes done, total) it gives its bar:
//
//     m_speed = new TransferSpeedLabel(ui->lblVelocita);
//     m_speed->update(received, total);
//
// The label stays empty during the first second and while the speed is not
// known; its text changes at most twice a second, and a stalled transfer's
// speed is seen to fall even when no progress arrives.
class TransferSpeedLabel : public QObject
{
    Q_OBJECT
public:
    // Owned by `label` (its child), which it empties.
    explicit TransferSpeedLabel(QLabel *label);

    // A new transfer (the next step of an operation): the label empties and
    // the first second starts again.
    void restart();
    // Progress in bytes; a negative total is unknown (only the speed is shown).
    void update(qint64 done, qint64 total);

private:
    void refresh();

    QPointer<QLabel> m_label;
    QElapsedTimer m_clock;
    QTimer m_tick;
    TransferRateEstimator m_estimator;
    qint64 m_done = 0;
    qint64 m_total = -1;
};

#endif // TRANSFERSPEEDLABEL_H
