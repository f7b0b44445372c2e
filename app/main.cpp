#include "mainwindow.h"

#include "app/extensions.h"
#include "app/options.h"
#include "app/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("zentrel"));
    QApplication::setApplicationName(QStringLiteral("zentrel"));
    QApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));
    const StartOptions options = parseStartOptions(app); // --help and --version end here

    MainWindow window; // the whole window exists before start-up goes on
    applyStartupSettings(window);
    Extensions extensions(window, options); // goes before the window
    window.show();
    return app.exec();
}
