#include "app/cleanexit.h"
#include "app/constants.h"
#include "app/singleapplication.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWidget>

namespace {
// A later start asked this instance to come forward: bring up its windows.
// The main window takes this over once it exists.
void showTopLevelWindows()
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        const Qt::WindowType type = window->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::SplashScreen)
            continue;
        window->show();
        window->raise();
        window->activateWindow();
    }
}
} // namespace

int main(int argc, char *argv[])
{
    CleanExit cleanExit;
    QLocale::setDefault(QLocale(QLocale::Italian));

    QApplication app(argc, argv);
    cleanExit.attach();

    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qt_it"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);

    QApplication::addLibraryPath(QStringLiteral("."));
    QApplication::setQuitOnLastWindowClosed(false);

    // One instance per user: a second start hands over to the running one and
    // leaves before building any window. Whether the hand-over was acknowledged
    // does not change the outcome.
    SingleApplication guard(QStringLiteral(APP_GUID), &app);
    if (guard.isRunning()) {
        guard.sendMessage(QStringLiteral(""), 500);
        return 0;
    }

    QObject::connect(&guard, &SingleApplication::messageReceived, &app, &showTopLevelWindows);

    return app.exec();
}
