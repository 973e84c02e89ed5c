// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "retrieve/exhibitor.h"

#include "service/xmltext.h"
#include "ui_exhibitor.h"

#include <QUrl>

Exhibitor::Exhibitor(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::Exhibitor>())
    , m_loading(QStringLiteral(":/images/loading.gif"))
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("Exhibitor"));
    setWindowTitle(tr("Esibizione a norma"));
    setWindowModality(Qt::ApplicationModal);
    setModal(true);
    setFixedSize(267, 194);
    ui->lblLoading->setMovie(&m_loading);
    m_loading.start();
}

Exhibitor::~Exhibitor() = default;

QUrl Exhibitor::pageUrl(const QString &baseUrl, const QString &code)
{
    // The code is percent-encoded, so whatever the service sends cannot end the
    // query or add a fragment to the address.
    return QUrl(baseUrl + QStringLiteral("/kvshop/Exhibitor?unique_code=")
                    + QString::fromLatin1(QUrl::toPercentEncoding(code)));
}

QString Exhibitor::requestText(const QString &token)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request>"
                          "<action>getexhibitorconfig</action><token>%1</token></request>")
        .arg(xmlEscaped(token));
}

QString Exhibitor::codeFromReply(const QDomElement &reply)
{
    const QDomElement exhibitor = reply.elementsByTagName(QStringLiteral("exhibitor")).at(0).toElement();
    return exhibitor.elementsByTagName(QStringLiteral("unique_code")).at(0).toElement().attribute(QStringLiteral("value"));
}
