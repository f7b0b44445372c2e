#ifndef CAPABILITIES_H
#define CAPABILITIES_H

#include "mqtt/publisher.h"
#include "settings/configfile.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

namespace journal {
class DailyCsv;
class Journal;
}
namespace meter {
class MeterLink;
}
namespace meter {
class MeterSession;
}
namespace station {
class CellRecorder;
}

// What goes beyond reading a meter, each installed by one small function on
// a meter's session (and its link): the same functions in the window program
// and in the headless logger. Each face shows the states in its own way (the
// status bar, lines on stderr) by following what these return.
namespace capabilities {

// Where a capability says how it is: a text that replaces the last one.
using Say = std::function<void(const QString &text)>;

// Every reading of the session into readings-YYYY-MM-DD.csv in folder,
// written before it is shown. Sessions of several meters may share one
// journal: install it on each (one writer per folder).
journal::Journal *installJournal(meter::MeterSession &session, const QString &folder, const QString &station,
                                 QObject *owner);
void addToJournal(meter::MeterSession &session, journal::Journal *journal);

// One record per cell into cells-YYYY-MM-DD.csv, by the settle rules of the
// settings; a chosen limit set's bounds become the session's limits in force.
// Attended (an operator at the window): a record needs a lot and a scanned
// cell ID unless config.ini says otherwise; unattended (the logger): neither.
station::CellRecorder *installStation(meter::MeterSession &session, const QString &folder, const QString &station,
                                      const ExtraSettings &settings, bool attended, QObject *owner);

// The MQTT settings a station publishes with: host and port (from the
// command line, else config.ini), client, TLS, topic prefix. Empty with the
// reason in *why when it cannot publish (no host; a station name that cannot
// be a topic level).
bool publisherSettings(const ExtraSettings &settings, const QString &host, int port, const QString &station,
                       mqtt::PublisherSettings *out, QString *why);
// Publishes the journal folder's files from their cursor; says each change
// of state. Null with the reason said when it cannot start.
mqtt::Publisher *installPublisher(const QString &folder, const mqtt::PublisherSettings &settings, const Say &say,
                                  QObject *owner);

// Writes what waits in memory of each file (a journal, cell records) now;
// the number of lines that still wait, with the last reason.
int writeWaiting(const QVector<journal::DailyCsv *> &files, QString *reason);
// Puts what waits into daily files of the same names in folder; true when all is there.
bool writeWaitingTo(const QVector<journal::DailyCsv *> &files, const QString &folder, QString *why);
// With no one to ask: what waits goes to a rescue folder (the user's data
// folder, else the temporary one), named on stderr after program.
void rescueWaiting(const QVector<journal::DailyCsv *> &files, int waiting, const QString &reason, const char *program);

// A link whose meter vanished waits for the port to come back and opens it
// again; says when it waits and when it is back.
void installReconnect(meter::MeterLink &link, const Say &say);

} // namespace capabilities

#endif // CAPABILITIES_H
