// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace Prompts {

namespace {
Handler &currentHandler()
{
    static Handler handler;
    return handler;
}

QString ask(const Request &request)
{
    return currentHandler()(request);
}
} // namespace

void setHandler(Handler handler)
{
    currentHandler() = std::move(handler);
}

bool hasHandler()
{
    return static_cast<bool>(currentHandler());
}

void critical(QWidget *parent, const QString &title, const QString &text)
{
    if (hasHandler()) {
        ask({Kind::Critical, title, text, {}, {}});
        return;
    }
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

void information(QWidget *parent, const QString &title, const QString &text)
{
    if (hasHandler()) {
        ask({Kind::Information, title, text, {}, {}});
        return;
    }
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

void warning(QWidget *parent, const QString &title, const QString &text)
{
    if (hasHandler()) {
        ask({Kind::Warning, title, text, {}, {}});
        return;
    }
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

QWidget *nonBlockingWarning(QWidget *parent, const QString &title, const QString &text)
{
    if (hasHandler()) {
        ask({Kind::Warning, title, text, {}, {}});
        return nullptr;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return box;
}

bool confirm(QWidget *parent, const QString &title, const QString &text)
{
    if (hasHandler())
        return ask({Kind::Confirm, title, text, {}, {}}) == QLatin1String("ok");
    return QMessageBox::question(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok)
        == QMessageBox::Ok;
}

bool question(QWidget *parent, const QString &title, const QString &text)
{
    if (hasHandler())
        return ask({Kind::Question, title, text, {}, {}}) == QLatin1String("yes");
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                     const QString &filter)
{
    if (hasHandler())
        return ask({Kind::OpenFile, caption, {}, dir, filter});
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                     const QString &filter)
{
    if (hasHandler())
        return ask({Kind::SaveFile, caption, {}, dir, filter});
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

} // namespace Prompts
