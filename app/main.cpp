#include "app/cleanexit.h"
#include "app/constants.h"

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

    QApplication::addLibraryPath(QStringLiteral("."));
    QApplication::setQuitOnLastWindowClosed(false);

    return app.exec();
}
