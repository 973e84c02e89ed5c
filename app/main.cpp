// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/cleanexit.h"
#include "app/constants.h"
#include "app/singleapplication.h"
#include "browse/coremain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    CleanExit cleanExit;
    QLocale::setDefault(QLocale(QLocale::Italian));

    QApplication app(argc, argv);
    cleanExit.attach();

    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qt_it"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);

    QApplication::setQuitOnLastWindowClosed(false);

    // One instance per user: a second start hands over to the running one and
    // leaves before building any window. Whether the hand-over was acknowledged
    // does not change the outcome.
    SingleApplication guard(QStringLiteral(APP_GUID), &app);
    if (guard.isRunning()) {
        guard.sendMessage(QStringLiteral(""), 500);
        return 0;
    }

    // Signed out, showing the main window shows the login dialog instead.
    CoreMain mainWindow;
    QObject::connect(&guard, &SingleApplication::messageReceived, &mainWindow, &CoreMain::show);

    if (CleanExit::exitRequested())
        return 0;
    return app.exec();
}
