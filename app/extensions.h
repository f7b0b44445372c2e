#ifndef EXTENSIONS_H
#define EXTENSIONS_H

#include "options.h"

#include <QObject>

class FolderLock;
class MainWindow;
class QLabel;
class Reconnector;
namespace journal {
class Journal;
}
namespace station {
class Station;
class StationDock;
}
namespace mqtt {
class Publisher;
}

// What is built around the window at start-up: the journal as a consumer of
// the meter session, its status-bar indicator, reconnecting to a meter that
// comes back, and the command line's port. Goes before the window does.
class Extensions : public QObject
{
    Q_OBJECT

public:
    Extensions(MainWindow &window, const StartOptions &options, QObject *parent = nullptr);
    ~Extensions() override;

    journal::Journal *journal() const { return m_journal; }
    Reconnector *reconnector() const { return m_reconnector; }
    station::Station *station() const { return m_station; }
    station::StationDock *stationDock() const { return m_dock; }
    mqtt::Publisher *publisher() const { return m_publisher; }

    // Whether the program may end now: what waits in memory is written,
    // or (asking the operator when interactive, into a rescue folder named
    // on stderr otherwise) put elsewhere or knowingly let go.
    bool readyToLeave(bool interactive);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openFromCommandLine(const QString &port, int baud);
    void endOnSignal(int signal);

    MainWindow &m_window;
    journal::Journal *m_journal = nullptr;
    Reconnector *m_reconnector = nullptr;
    QLabel *m_waiting = nullptr;
    station::Station *m_station = nullptr;
    station::StationDock *m_dock = nullptr;
    mqtt::Publisher *m_publisher = nullptr;
    FolderLock *m_lock = nullptr;
};

#endif // EXTENSIONS_H
