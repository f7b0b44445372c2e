#include "mainwindow.h"

#include "app/windowcapabilities.h"
#include "app/options.h"
#include "app/startup.h"
#include "platform/regularfile.h"
#include "settings/language.h"

#include <QApplication>
#include <QStatusBar>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Before any display is needed: --help, --version and refusals work on a server.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const StartOptions options = parseStartOptions(arguments);
    ignoreFileSizeLimitSignal();

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("zentrel"));
    QApplication::setApplicationName(QStringLiteral("zentrel"));
    QApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));

    // The language before the first widget: the form's captions are
    // translated as it is built.
    language::Language chosen = options.language;
    QString problem;
    if (!options.languageGiven && !language::fromConfig(QStringLiteral("config.ini"), &chosen, &problem))
        std::fprintf(stderr, "zentrel: %s (speaking zh_CN)\n", qPrintable(problem));
    language::install(chosen);

    MainWindow window; // the whole window exists before start-up goes on
    applyStartupSettings(window);
    WindowCapabilities installed(window, options); // goes before the window
    if (!problem.isEmpty())
        window.statusBar()->showMessage(problem, 15000);
    window.show();
    return app.exec();
}
