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
