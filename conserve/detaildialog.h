// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef DETAILDIALOG_H
#define DETAILDIALOG_H

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class DetailDialog;
}

// A small read-only window that shows a long text (for example the full
// failure message of a preservation) as HTML, with a "Chiudi" button.
class DetailDialog : public QDialog
{
    Q_OBJECT
public:
    DetailDialog(QString text, QString title, QWidget *parent = nullptr);
    ~DetailDialog() override;

private:
    std::unique_ptr<Ui::DetailDialog> ui;
};

#endif // DETAILDIALOG_H
