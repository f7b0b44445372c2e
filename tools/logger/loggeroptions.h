#ifndef LOGGEROPTIONS_H
#define LOGGEROPTIONS_H

#include <QString>
#include <QStringList>
#include <QVector>

// One meter of a logger: its port, rate, the station it serves and the
// limit set it is judged by.
struct MeterEntry
{
    QString port;
    int baud = 9600;
    QString station;   // empty: <host>-<port's file name>
    QString limitSet;  // empty: no limits, no verdicts
};

#include "settings/language.h"

struct LoggerOptions
{
    QVector<MeterEntry> meters;
    QString config;        // --config FILE: [Meters], [MQTT], [Station] capture settings
    QString journalDir;    // empty: [Journal] Folder= of the config file, else the default
    bool noJournal = false;
    bool cells = false;    // a cell record per contact, per meter
    QString limitSets;     // --limit-sets FILE (limitsets.json format)
    QString plantDatabase; // --db CONNINFO: earlier stages from the plant database (over [Plant] Database)
    QString mqttHost;
    int mqttPort = 0;
    language::Language language = language::Language::Chinese; // --lang: the status lines' language
};

// <host>-<port's file name>, the station of a meter given none.
QString defaultStationName(const QString &port);
// Why a meter cannot join the ones before it (their entries as given): the
// same device, or the same station; empty when it can.
QString clashingMeter(const QVector<MeterEntry> &meters, const QStringList &given, const MeterEntry &entry,
                      const QString &text);

// PORT[,baud=B][,station=NAME][,limits=SET]; false with the reason.
bool parseMeterEntry(const QString &text, MeterEntry *entry, QString *reason);

// Parses before any application object exists; prints and exits for
// --help, --version and refusals (exit status 2).
LoggerOptions parseLoggerOptions(const QStringList &arguments);

#endif // LOGGEROPTIONS_H
