#ifndef LOGGER_H
#define LOGGER_H

#include "loggeroptions.h"

#include "settings/configfile.h"

#include <QObject>

#include <memory>
#include <vector>

class FolderLock;
namespace journal {
class DailyCsv;
class Journal;
}
namespace meter {
class MeterLink;
class MeterSession;
}
namespace mqtt {
class Publisher;
}
namespace station {
class LimitSetStore;
class Station;
}

// The headless face: per meter a session (its station, its limits in
// force), a link that reconnects and, with --cells, a cell recorder; one
// journal for all of them (one writer per folder) and one publisher. Each
// change of state is one line on stderr, for a service's log.
class Logger : public QObject
{
    Q_OBJECT

public:
    explicit Logger(const LoggerOptions &options, QObject *parent = nullptr);
    ~Logger() override;

    // False with the reason said on stderr (a folder another program
    // writes, a limit set that is not there).
    bool start();
    // Writes and syncs what waits, saves the publisher's cursor; what cannot
    // be written goes to a rescue folder named on stderr.
    void finish();

private:
    struct Meter
    {
        MeterEntry entry;
        meter::MeterSession *session = nullptr;
        meter::MeterLink *link = nullptr;
        station::Station *cells = nullptr;
    };
    bool setUpMeter(const MeterEntry &entry, const station::LimitSetStore &sets);
    void followMeter(Meter &m);
    void setUpPublisher();
    void say(const QString &text);

    LoggerOptions m_options;
    ExtraSettings m_settings;
    QString m_folder;
    std::unique_ptr<FolderLock> m_lock;
    journal::Journal *m_journal = nullptr;
    mqtt::Publisher *m_publisher = nullptr;
    std::vector<Meter> m_meters;
    bool m_mqttConnected = false;
};

#endif // LOGGER_H
