#include "options.h"

#include "platform/serialdevice.h"
#include "settings/commandline.h"
#include "settings/language.h"

#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void refuse(const QString &text)
{
    std::fprintf(stderr, "zentrel: %s\n", qPrintable(text));
    std::exit(2);
}

void checkPort(const QString &port)
{
    if (!portNameProblem(port).isEmpty())
        refuse(QStringLiteral("--port: %1").arg(portNameProblem(port)));
    if (port.isEmpty())
        return;
    // Something there that is no serial line never becomes one: refused
    // now rather than waited for.
    const QString problem = notASerialDevice(port);
    if (!problem.isEmpty())
        refuse(QStringLiteral("--port %1: %2").arg(port, problem));
}

} // namespace

StartOptions parseStartOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Zentrel: client of a battery internal-resistance meter."));
    const QCommandLineOption helpOpt({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays help on commandline options."));
    const QCommandLineOption versionOpt({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Displays version information."));
    const QCommandLineOption portOpt(QStringLiteral("port"),
                                     QStringLiteral("Open this serial port at start, as if 打开串口 were pressed."),
                                     QStringLiteral("name"));
    const QCommandLineOption baudOpt(QStringLiteral("baud"),
                                     QStringLiteral("Baud rate for --port (default: the restored or initial rate)."),
                                     QStringLiteral("rate"));
    const QCommandLineOption dirOpt(QStringLiteral("journal-dir"),
                                    QStringLiteral("Folder of the journal of readings."), QStringLiteral("dir"));
    const QCommandLineOption noJournalOpt(QStringLiteral("no-journal"), QStringLiteral("Keep no journal."));
    const QCommandLineOption stationOpt(QStringLiteral("station"),
                                        QStringLiteral("Station mode: one record per cell, with its ID, grade and the lot's statistics."));
    const QCommandLineOption mqttOpt(QStringLiteral("mqtt"),
                                     QStringLiteral("Publish every reading and record to this MQTT broker."),
                                     QStringLiteral("host[:port]"));
    const QCommandLineOption dbOpt(QStringLiteral("db"),
                                   QStringLiteral("Station mode: look up cells' earlier stages (for K) in this plant database, read-only "
                                                  "(libpq's connection string)."),
                                   QStringLiteral("conninfo"));
    const QCommandLineOption langOpt(QStringLiteral("lang"),
                                     QStringLiteral("The language of the window and its messages: zh_CN (default) or en."),
                                     QStringLiteral("en|zh_CN"));
    const QList<QCommandLineOption> all = {helpOpt, versionOpt, portOpt, baudOpt, dirOpt, noJournalOpt, stationOpt, mqttOpt, dbOpt, langOpt};
    parser.addOptions(all);
    // Qt's own --help and --version need an application object, and a
    // QApplication needs a display: these are answered here instead.
    if (!parser.parse(arguments))
        refuse(parser.errorText());
    if (parser.isSet(helpOpt)) {
        std::fputs(qPrintable(commandLineHelp(QStringLiteral("zentrel"), parser.applicationDescription(), all)), stdout);
        std::exit(0);
    }
    if (parser.isSet(versionOpt)) {
        std::printf("zentrel %s\n", ZENTREL_VERSION);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        refuse(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    StartOptions options;
    options.port = parser.value(portOpt);
    checkPort(options.port);
    options.journalDir = parser.value(dirOpt);
    options.noJournal = parser.isSet(noJournalOpt);
    options.station = parser.isSet(stationOpt);
    options.plantDatabase = parser.value(dbOpt).trimmed();
    if (parser.isSet(mqttOpt)) {
        QString reason;
        if (!parseHostPort(parser.value(mqttOpt), &options.mqttHost, &options.mqttPort, &reason))
            refuse(QStringLiteral("--mqtt %1").arg(reason));
    }
    if (parser.isSet(langOpt)) {
        QString reason;
        if (!language::parseOption(parser.value(langOpt), &options.language, &reason))
            refuse(reason);
        options.languageGiven = true;
    }
    if (parser.isSet(baudOpt)) {
        bool ok = false;
        options.baud = parser.value(baudOpt).toInt(&ok);
        if (!ok || options.baud <= 0)
            refuse(QStringLiteral("--baud %1 is not a baud rate").arg(parser.value(baudOpt)));
    }
    return options;
}
