// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef RECEIPTWRITER_H
#define RECEIPTWRITER_H

#include "conserve/preservationreceipt.h"

#include <QDateTime>
#include <QString>

class QWidget;

// The receipt of a preserved file as a one-page PDF (A4, Italian), written
// with Qt's own PDF writer. Any window offers it with one call:
//
//     ReceiptWriter::saveAs(this, PreservationReceipt::fromCatalogue(hash, classId));
class ReceiptWriter
{
public:
    // Asks where to save it (the user's documents folder and the default name
    // first), writes it and reports a failure in a message box. Returns the
    // path written, "" when the user cancelled or the writing failed.
    static QString saveAs(QWidget *parent, const PreservationReceipt &receipt);

    // Writes the PDF to `path` through a temporary file beside it, renamed
    // over it only once complete: a failure leaves nothing behind and an
    // existing file as it was. `error` gets the reason of a failure.
    static bool write(const PreservationReceipt &receipt, const QString &path, QString *error,
                      const QDateTime &generatedAt = QDateTime::currentDateTime());

    // "ricevuta-<file name>-<yyyy-MM-dd>.pdf", dated by the preservation (today
    // when the service gave no readable date).
    static QString defaultFileName(const PreservationReceipt &receipt);

    // The document the PDF is printed from.
    static QString html(const PreservationReceipt &receipt, const QDateTime &generatedAt);
};

#endif // RECEIPTWRITER_H
