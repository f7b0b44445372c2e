#include "loggeroptions.h"

#include "settings/commandline.h"
#include "settings/inifile.h"

#include "settings/language.h"
#include "station/cellrecorder.h"
#include "platform/serialdevice.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHostInfo>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void refuse(const QString &text)
{
    std::fprintf(stderr, "zentrel-logger: %s\n", qPrintable(text));
    std::exit(2);
}

} // namespace

QString defaultStationName(const QString &port)
{
    return QHostInfo::localHostName() + QLatin1Char('-') + QFileInfo(port).fileName();
}

QString clashingMeter(const QVector<MeterEntry> &meters, const QStringList &given, const MeterEntry &entry, const QString &text)
{
    // Two meters of one station would mint one record id twice; one device
    // under two spellings would be read by two links at once.
    const QString device = serialDeviceIdentity(entry.port);
    for (int i = 0; i < meters.size(); ++i) {
        if (serialDeviceIdentity(meters[i].port) == device)
            return QStringLiteral("--meter %1 and --meter %2: one device (%3)").arg(given.value(i), text, meters[i].port);
        if (meters[i].station == entry.station)
            return QStringLiteral("--meter %1 and --meter %2: one station name (%3); each meter needs its own")
                .arg(given.value(i), text, entry.station);
    }
    return QString();
}

bool parseMeterEntry(const QString &text, MeterEntry *entry, QString *reason)
{
    const QStringList parts = text.split(QLatin1Char(','));
    *entry = MeterEntry();
    entry->port = parts.value(0).trimmed();
    if (entry->port.isEmpty()) {
        *reason = QStringLiteral("%1: no port").arg(text);
        return false;
    }
    if (!portNameProblem(entry->port).isEmpty()) {
        *reason = QStringLiteral("%1: %2").arg(entry->port, portNameProblem(entry->port));
        return false;
    }
    for (const QString &part : parts.mid(1)) {
        const QString key = part.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value = part.section(QLatin1Char('='), 1).trimmed();
        bool ok = true;
        if (key == QLatin1String("baud"))
            entry->baud = value.toInt(&ok);
        else if (key == QLatin1String("station")) {
            // The name goes into record ids, files and log lines: the window's rule for names.
            // It is its messages' topic level too: no "/", "+" or "#".
            QString problem = station::enteredTextProblem(value);
            if (problem.isEmpty() && (value.contains(QLatin1Char('/')) || value.contains(QLatin1Char('+')) || value.contains(QLatin1Char('#'))))
                problem = QStringLiteral("a name with /, + or # cannot be its MQTT topic's level");
            if (!problem.isEmpty()) {
                *reason = QStringLiteral("%1: station=: %2").arg(entry->port, problem);
                return false;
            }
            entry->station = value;
        }
        else if (key == QLatin1String("limits"))
            entry->limitSet = value;
        else
            ok = false;
        if (!ok || (key == QLatin1String("baud") && entry->baud <= 0) || value.isEmpty()) {
            *reason = QStringLiteral("%1: %2 is not PORT[,baud=B][,station=NAME][,limits=SET]").arg(text, part);
            return false;
        }
    }
    return true;
}

LoggerOptions parseLoggerOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Zentrel's headless logger: one or more meters into the journal, cell records and MQTT."));
    const QCommandLineOption helpOpt({"h", "help"}, "Displays help on commandline options.");
    const QCommandLineOption versionOpt({"v", "version"}, "Displays version information.");
    const QCommandLineOption meterOpt("meter", "A meter: PORT[,baud=B][,station=NAME][,limits=SET]; repeat for several.", "entry");
    const QCommandLineOption configOpt("config", "Config file: [Meters] entries as --meter, [Journal], [MQTT] and [Station] settings as config.ini.", "file");
    const QCommandLineOption dirOpt("journal-dir", "Folder of the journal (one writer per folder).", "dir");
    const QCommandLineOption noJournalOpt("no-journal", "Keep no journal.");
    const QCommandLineOption cellsOpt("cells", "Record one line per cell for each meter (settle rules of [Station]).");
    const QCommandLineOption setsOpt("limit-sets", "Limit sets (limitsets.json format) that limits=SET names.", "file");
    const QCommandLineOption mqttOpt("mqtt", "Publish every reading and record to this MQTT broker.", "host[:port]");
    const QCommandLineOption dbOpt("db", "With --cells: look up cells' earlier stages (for K) in this plant database, read-only "
                                         "(libpq's connection string).", "conninfo");
    const QCommandLineOption langOpt("lang", "The language of the status lines: zh_CN (default) or en.", "en|zh_CN");
    const QList<QCommandLineOption> all = {helpOpt, versionOpt, meterOpt, configOpt, dirOpt, noJournalOpt, cellsOpt, setsOpt, mqttOpt, dbOpt, langOpt};
    parser.addOptions(all);
    if (!parser.parse(arguments))
        refuse(parser.errorText());
    if (parser.isSet(helpOpt)) {
        std::fputs(qPrintable(commandLineHelp(QStringLiteral("zentrel-logger"), parser.applicationDescription(), all)), stdout);
        std::exit(0);
    }
    if (parser.isSet(versionOpt)) {
        std::printf("zentrel-logger %s\n", ZENTREL_VERSION);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        refuse(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    LoggerOptions options;
    if (parser.isSet(langOpt)) {
        QString reason;
        if (!language::parseOption(parser.value(langOpt), &options.language, &reason))
            refuse(reason);
    }
    options.config = parser.value(configOpt);
    QStringList entries = parser.values(meterOpt);
    if (!options.config.isEmpty()) {
        const ini::Document doc = ini::read(options.config);
        for (auto it = doc.values.cbegin(); it != doc.values.cend(); ++it)
            if (it.key().startsWith(QLatin1String("Meters/")))
                entries << it.value().toStringList().join(QLatin1Char(','));
    }
    QStringList given; // each meter's entry as written, for naming it in a refusal
    for (const QString &text : qAsConst(entries)) {
        MeterEntry entry;
        QString reason;
        if (!parseMeterEntry(text, &entry, &reason))
            refuse(QStringLiteral("--meter %1").arg(reason));
        if (entry.station.isEmpty())
            entry.station = defaultStationName(entry.port);
        const QString clash = clashingMeter(options.meters, given, entry, text);
        if (!clash.isEmpty())
            refuse(clash);
        options.meters << entry;
        given << text;
    }
    if (options.meters.isEmpty())
        refuse(QStringLiteral("no meter: give --meter PORT (or [Meters] in --config)"));
    options.journalDir = parser.value(dirOpt);
    options.noJournal = parser.isSet(noJournalOpt);
    options.cells = parser.isSet(cellsOpt);
    options.limitSets = parser.value(setsOpt);
    options.plantDatabase = parser.value(dbOpt).trimmed();
    if (parser.isSet(mqttOpt)) {
        QString reason;
        if (!parseHostPort(parser.value(mqttOpt), &options.mqttHost, &options.mqttPort, &reason))
            refuse(QStringLiteral("--mqtt %1").arg(reason));
    }
    return options;
}
