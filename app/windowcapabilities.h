#ifndef WINDOWCAPABILITIES_H
#define WINDOWCAPABILITIES_H

#include "options.h"

#include <QObject>
#include <QVector>

class FolderLock;
class MainWindow;
class QLabel;
struct ExtraSettings;
namespace journal {
class DailyCsv;
class Journal;
class JournalIndicator;
}
namespace station {
class CellRecorder;
class StationDock;
}
namespace mqtt {
class Publisher;
}

// The window's face of the capabilities (capabilities/): installs them on the
// window's session and link (under the journal folder's lock) and shows
// their states on its status bar; leaving, by a close or a signal, goes
// through readyToLeave (app/leaving); the command line's port is opened by
// app/commandlineport. Goes before the window does.
class WindowCapabilities : public QObject
{
    Q_OBJECT

public:
    WindowCapabilities(MainWindow &window, const StartOptions &options, QObject *parent = nullptr);
    ~WindowCapabilities() override;

    journal::Journal *journal() const { return m_journal; }
    station::CellRecorder *station() const { return m_station; }
    station::StationDock *stationDock() const { return m_dock; }
    mqtt::Publisher *publisher() const { return m_publisher; }

    // Whether the program may end now: what waits in memory is written,
    // or (asking the operator when interactive, into a rescue folder named
    // on stderr otherwise) put elsewhere or knowingly let go.
    bool readyToLeave(bool interactive);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool lockFolder();
    void guardFolder(journal::DailyCsv *file);
    void setUpJournal();
    void setUpStation(const ExtraSettings &settings);
    void fitBenchScreen();
    static constexpr int kTitleBarPx = 30; // a window manager's title bar, about
    void setUpPublisher(const ExtraSettings &settings, const StartOptions &options);
    void sayLinkState(const QString &text);
    void endOnSignal(int signal);

    MainWindow &m_window;
    QString m_folder;
    QString m_stationName;
    journal::Journal *m_journal = nullptr;
    journal::JournalIndicator *m_journalIndicator = nullptr;
    QLabel *m_waiting = nullptr;
    station::CellRecorder *m_station = nullptr;
    station::StationDock *m_dock = nullptr;
    mqtt::Publisher *m_publisher = nullptr;
    FolderLock *m_lock = nullptr;
};

#endif // WINDOWCAPABILITIES_H
