#include "mainwindow.h"

#include "app/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("zentrel"));

    MainWindow window; // the whole window exists before start-up goes on
    applyStartupSettings(window);
    window.show();
    return app.exec();
}
