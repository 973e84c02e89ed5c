// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef WINDOWTEST_H
#define WINDOWTEST_H

// Helpers for the tests that drive the real windows.

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVariant>

class CoreMain;

// The named child of `window`; ends the test run when it does not exist.
template <typename T>
T *child(QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// Catches the addresses the client hands to the desktop (web pages, local
// files) for as long as it lives.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    explicit UrlCatcher(const QStringList &schemes = {QStringLiteral("http"), QStringLiteral("https")});
    ~UrlCatcher() override;
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }

private:
    QStringList m_schemes;
};

// Signs in through the main window's login dialog, as a user would; true once
// the main window shows.
bool signInThroughDialog(CoreMain &window, const QString &user, const QString &password, bool save = false);

// Starts from no catalogue at all, with the settings pointing at the service
// at `serviceUrl` (the next sign-in builds the catalogue afresh).
void freshCatalogueFor(const QString &serviceUrl);

// First column of the first row of `sql` on the catalogue (invalid when none).
QVariant catalogueValue(const QString &sql, const QVariantList &values = {});

#endif // WINDOWTEST_H
