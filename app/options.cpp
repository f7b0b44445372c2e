#include "options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

StartOptions parseStartOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Zentrel: client of a battery internal-resistance meter."));
    parser.addHelpOption();
    parser.addVersionOption();
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
    parser.addOptions({portOpt, baudOpt, dirOpt, noJournalOpt, stationOpt, mqttOpt});
    parser.process(app.arguments());

    StartOptions options;
    options.port = parser.value(portOpt);
    options.journalDir = parser.value(dirOpt);
    options.noJournal = parser.isSet(noJournalOpt);
    options.station = parser.isSet(stationOpt);
    if (parser.isSet(mqttOpt)) {
        const QString value = parser.value(mqttOpt).trimmed();
        const int colon = value.lastIndexOf(QLatin1Char(':'));
        options.mqttHost = colon > 0 ? value.left(colon) : value;
        if (colon > 0) {
            bool ok = false;
            options.mqttPort = value.mid(colon + 1).toInt(&ok);
            if (!ok || options.mqttPort < 1 || options.mqttPort > 65535) {
                std::fprintf(stderr, "zentrel: --mqtt %s: the port is not a number from 1 to 65535\n", qPrintable(value));
                std::exit(2);
            }
        }
    }
    if (parser.isSet(baudOpt)) {
        bool ok = false;
        options.baud = parser.value(baudOpt).toInt(&ok);
        if (!ok || options.baud <= 0) {
            std::fprintf(stderr, "zentrel: --baud %s is not a baud rate\n", qPrintable(parser.value(baudOpt)));
            std::exit(2);
        }
    }
    return options;
}
