// zentrel-logger: one or more meters logged without a window, for a line PC
// or a service. See --help and docs/logger.md.
#include "logger.h"
#include "platform/regularfile.h"
#include "loggeroptions.h"
#include "settings/language.h"

#include "platform/termination.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const LoggerOptions options = parseLoggerOptions(arguments);
    ignoreFileSizeLimitSignal(); // a size limit fails the write, as a full disk does
    QCoreApplication app(argc, argv);
    language::install(options.language);
    Logger logger(options);
    const int started = logger.start();
    if (started != Logger::kStarted)
        return started;
    TerminationWatcher watcher;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app, [&logger](int signal) {
        std::fprintf(stderr, "zentrel-logger: signal %d: ending\n", signal);
        logger.finish();
        QCoreApplication::quit();
    });
    return app.exec();
}
