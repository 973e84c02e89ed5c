// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/windowtest.h"

#include "browse/coremain.h"
#include "service/kvdialoglogin.h"
#include "store/database.h"
#include "store/setting.h"

#include <QCheckBox>
#include <QDir>
#include <QDesktopServices>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>

UrlCatcher::UrlCatcher(const QStringList &schemes)
    : m_schemes(schemes)
{
    for (const QString &scheme : m_schemes)
        QDesktopServices::setUrlHandler(scheme, this, "open");
}

UrlCatcher::~UrlCatcher()
{
    for (const QString &scheme : m_schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

bool signInThroughDialog(CoreMain &window, const QString &user, const QString &password, bool save)
{
    KvDialogLogin *dialog = window.loginDialog();
    if (!dialog->isVisible())
        window.setVisible(true);
    child<QLineEdit>(dialog, "leUsername")->setText(user);
    child<QLineEdit>(dialog, "lePassword")->setText(password);
    child<QCheckBox>(dialog, "ckbSalvaCredenziali")->setChecked(save);
    QTest::mouseClick(child<QPushButton>(dialog, "btmOk"), Qt::LeftButton);
    return QTest::qWaitFor([&] { return window.isVisible(); }, 20000);
}

QVariant catalogueValue(const QString &sql, const QVariantList &values)
{
    Database database;
    database.openDB();
    QVariant result;
    {
        QSqlQuery query(database.db);
        query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (query.exec() && query.next())
            result = query.value(0);
    }
    database.closeDB();
    return result;
}

void freshCatalogueFor(const QString &serviceUrl)
{
    QDir(Database::dataDirectory()).removeRecursively();
    Setting().saveSetting(QStringLiteral("url"), serviceUrl);
}
