// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef EXHIBITOR_H
#define EXHIBITOR_H

#include <QDialog>
#include <QDomElement>
#include <QMovie>
#include <memory>

namespace Ui {
class Exhibitor;
}

// The small waiting window shown while the service prepares an exhibition
// code. It has no buttons: the reply hides it, and it is reused for the next
// exhibition.
class Exhibitor : public QDialog
{
    Q_OBJECT
public:
    explicit Exhibitor(QWidget *parent = nullptr);
    ~Exhibitor() override;

    // The page address of the exhibition `code` on the service at `baseUrl`.
    static QUrl pageUrl(const QString &baseUrl, const QString &code);
    // The "getexhibitorconfig" request for `token`, escaped as XML text.
    static QString requestText(const QString &token);
    // The exhibition code of a "getexhibitorconfig" reply ("" when missing).
    static QString codeFromReply(const QDomElement &reply);

private:
    std::unique_ptr<Ui::Exhibitor> ui;
    QMovie m_loading;
};

#endif // EXHIBITOR_H
