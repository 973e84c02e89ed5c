// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/detaildialog.h"

#include "ui_detaildialog.h"

DetailDialog::DetailDialog(QString text, QString title, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DetailDialog)
{
    ui->setupUi(this);
    setFixedSize(size());
    setWindowTitle(title);
    ui->teDescription->setHtml(text);
    connect(ui->btmClose, &QAbstractButton::clicked, this, &QDialog::accept);
}

DetailDialog::~DetailDialog() = default;
