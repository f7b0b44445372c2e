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
class CellRecorder;
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

    // The exit status when it cannot start, with the reason said on stderr:
    // kWrongOption (a limit set that is not there) or kFolderInUse.
    enum Start { kStarted = 0, kWrongOption = 2, kFolderInUse = 3 };
    int start();
    // Writes and syncs what waits, saves the publisher's cursor; what cannot
    // be written goes to a rescue folder named on stderr.
    void finish();

private:
    struct Meter
    {
        MeterEntry entry;
        meter::MeterSession *session = nullptr;
        meter::MeterLink *link = nullptr;
        station::CellRecorder *cells = nullptr;
    };
    void setUpMeter(const MeterEntry &entry, const station::LimitSetStore &sets);
    void followMeter(Meter &m);
    void setUpPublisher();
    void guardFolder(journal::DailyCsv *file);
    void say(const QString &text);

    LoggerOptions m_options;
    ExtraSettings m_settings;
    QString m_folder;
    std::unique_ptr<FolderLock> m_lock;
    journal::Journal *m_journal = nullptr;
    mqtt::Publisher *m_publisher = nullptr;
    std::vector<Meter> m_meters;
    bool m_mqttConnected = false;
    QString m_mqttWhy; // why it is not connected, as last said
    bool m_journalPaused = false;
    QString m_journalState;
    QString m_mqttSaid;
};

#endif // LOGGER_H
