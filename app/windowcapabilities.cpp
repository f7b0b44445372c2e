#include "windowcapabilities.h"
#include "commandlineport.h"
#include "leaving.h"
#include "startup.h"

#include "capabilities/capabilities.h"
#include "plantdb/stagelookup.h"
#include "link/meterlink.h"
#include "journal/journal.h"
#include "platform/termination.h"
#include "storage/folderlock.h"
#include "journal/ui/journalindicator.h"
#include "mqtt/publisher.h"
#include "mainwindow.h"
#include "settings/configfile.h"
#include "station/cellrecorder.h"
#include "station/ui/plotfollower.h"
#include "station/ui/stationdock.h"
#include "station/ui/stationverdict.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>

#include <qcustomplot.h>

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>
#include <QHostInfo>
#include <QLabel>
#include <QStatusBar>

namespace {

// A permanent label on the status bar's right, found by its object name.
QLabel *addStatusLabel(QStatusBar *bar, const char *objectName, const QString &text = QString())
{
    auto *label = new QLabel(text, bar);
    label->setObjectName(QLatin1String(objectName));
    bar->addPermanentWidget(label);
    return label;
}

} // namespace

WindowCapabilities::WindowCapabilities(MainWindow &window, const StartOptions &options, QObject *parent)
    : QObject(parent), m_window(window)
{
    const ExtraSettings settings = readExtraSettings(QStringLiteral("config.ini"));
    for (const QString &refused : settings.refused)
        std::fprintf(stderr, "zentrel: %s\n", qPrintable(refused));
    m_folder = !options.journalDir.isEmpty() ? options.journalDir
               : !settings.journalFolder.isEmpty() ? settings.journalFolder
                                                   : journalFolder(QStringLiteral("config.ini"));
    m_stationName = settings.stationName.isEmpty() ? QHostInfo::localHostName() : settings.stationName;
    const bool stationOn = options.station || settings.stationEnabled;
    const bool journalOn = !options.noJournal && settings.journalEnabled;
    if ((journalOn || stationOn) && lockFolder()) {
        if (journalOn)
            setUpJournal();
        if (stationOn) {
            ExtraSettings station = settings;
            if (!options.plantDatabase.isEmpty())
                station.plantDatabase = options.plantDatabase;
            setUpStation(station);
        }
    } else if (!options.journalDir.isEmpty()) {
        window.setReadingArchive(options.journalDir, {});
    }
    setUpPublisher(settings, options);
    if (settings.autoReconnect)
        capabilities::installReconnect(*window.meterLink(), [this](const QString &text) { sayLinkState(text); });
    connect(window.meterLink(), &meter::MeterLink::reconnected, this, [this](const QString &port) {
        m_window.statusBar()->showMessage(tr("串口 %1 已重新连接").arg(port), 10000);
    });

    // Ending by a signal goes the way a close does; so does closing the window.
    auto *watcher = new TerminationWatcher(this);
    connect(watcher, &TerminationWatcher::terminationRequested, this, &WindowCapabilities::endOnSignal);
    window.installEventFilter(this);

    openPortFromCommandLine(window, options, this);
}

bool WindowCapabilities::lockFolder()
{
    // One program per journal folder: a second one runs without it.
    m_lock = new FolderLock(m_folder);
    QString reason;
    if (m_lock->acquire(&reason))
        return true;
    delete m_lock;
    m_lock = nullptr;
    std::fprintf(stderr, "zentrel: %s\n", qPrintable(reason));
    addStatusLabel(m_window.statusBar(), "journalIndicator", tr("不记录：%1").arg(reason))
        ->setStyleSheet(QStringLiteral("QLabel { color: red; }"));
    return false;
}

void WindowCapabilities::guardFolder(journal::DailyCsv *file)
{
    // A folder deleted and made anew gets its lock back before a line goes in.
    file->setFolderGuard([this](QString *reason) { return !m_lock || m_lock->keep(reason); });
}

void WindowCapabilities::setUpJournal()
{
    m_journal = capabilities::installJournal(*m_window.meterSession(), m_folder, m_stationName, this);
    guardFolder(m_journal);
    // The indicator is made when there is first something to say, so the
    // window's widgets stay as they are while all is well.
    journal::Journal *j = m_journal;
    connect(m_journal, &journal::DailyCsv::stateChanged, this, [this, j] {
        if (!m_journalIndicator)
            m_journalIndicator = new journal::JournalIndicator(j, m_window.statusBar());
    });
    m_window.setReadingArchive(m_folder, [j] { return !j->paused() && j->waiting() == 0; });
}

void WindowCapabilities::setUpStation(const ExtraSettings &settings)
{
    // Station mode: cell records beside the journal, a dock and a menu.
    m_station = capabilities::installStation(*m_window.meterSession(), m_folder, m_stationName, settings, true, this);
    if (!settings.plantDatabase.isEmpty()) { // earlier stages measured at other stations
        auto lookup = std::make_shared<plantdb::StageLookup>(settings.plantDatabase, [this](const QString &t) { m_window.statusBar()->showMessage(t, 10000); });
        m_station->setEarlierLookup([lookup](const QString &cell, const QString &stage, const QDateTime &at) { return lookup->latest(cell, stage, at); });
    }
    guardFolder(m_station->file());
    (new journal::JournalIndicator(m_station->file(), m_window.statusBar()))->setObjectName(QStringLiteral("cellsIndicator"));
    m_dock = new station::StationDock(m_station, &m_window);
    fitBenchScreen();
    new station::PlotFollower(m_window.findChild<QCustomPlot *>(QStringLiteral("customPlot")),
                              m_window.findChild<QAbstractButton *>(QStringLiteral("Fix_Plot_Button")),
                              m_window.findChild<QAbstractButton *>(QStringLiteral("Clear_Plot_Button")), this);
    MainWindow *window = &m_window;
    m_dock->setVerdictSound([window](meter::Verdict verdict) { window->playVerdictSound(verdict); });
    m_window.setReadingSounds(false); // the records' sounds are the only ones
    m_window.setReadingVerdicts(false); // and their verdicts, large over the plot
    new station::StationVerdict(m_station, m_window.findChild<QLabel *>(QStringLiteral("label_PASS_NG")));
    connect(m_dock, &station::StationDock::languageChosen, this, [this](language::Language chosen) {
        QString error;
        if (!switchLanguage(m_window, chosen, &error))
            m_window.statusBar()->showMessage(tr("语言未能记入 config.ini：%1").arg(error), 10000);
    });
    // The set and the lot in force are remembered for the next start, in
    // station mode only; the lot goes on with today's records.
    m_station->selectRemembered(settings.stationSet);
    if (!settings.stationLot.isEmpty())
        m_station->startLot(settings.stationLot);
    if (!settings.refused.isEmpty())
        emit m_station->note(settings.refused.join(QLatin1Char('\n')));
    station::CellRecorder *st = m_station;
    connect(m_station, &station::CellRecorder::setSelected, this, [st](const QString &name) {
        QString error;
        if (!writeExtraSetting(QStringLiteral("config.ini"), QStringLiteral("Station/Set"), name, &error))
            emit st->note(tr("限值组未能记入 config.ini：%1").arg(error));
    });
    connect(m_station, &station::CellRecorder::lotStarted, this, [st](const QString &name) {
        QString error;
        if (!writeExtraSetting(QStringLiteral("config.ini"), QStringLiteral("Station/Lot"), name, &error))
            emit st->note(tr("批次未能记入 config.ini：%1").arg(error));
    });
}

void WindowCapabilities::fitBenchScreen()
{
    // A station's screen is often 1366×768; the classic panel (the serial
    // and network tabs) asks for nearly 800 px of height. At a station it
    // scrolls instead, so the window fits and the dock has the room.
    auto *panel = m_window.findChild<QTabWidget *>(QStringLiteral("seria"));
    QLayout *holder = panel && panel->parentWidget() ? panel->parentWidget()->layout() : nullptr;
    if (!holder)
        return;
    auto *scroll = new QScrollArea(panel->parentWidget());
    scroll->setObjectName(QStringLiteral("stationPanelScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int width = panel->minimumSizeHint().width() + scroll->verticalScrollBar()->sizeHint().width();
    scroll->setMinimumWidth(width);
    scroll->setMaximumWidth(panel->maximumWidth());
    scroll->setSizePolicy(panel->sizePolicy());
    delete holder->replaceWidget(panel, scroll);
    panel->setMinimumHeight(0);
    scroll->setWidget(panel);
    // The form's own height is taller than such a screen: the window starts
    // within it (a title bar above), as wide as the dock needs.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size() - QSize(0, kTitleBarPx);
        m_window.resize(m_window.size().boundedTo(room));
    }
}

void WindowCapabilities::setUpPublisher(const ExtraSettings &settings, const StartOptions &options)
{
    mqtt::PublisherSettings p;
    QString why;
    const bool usable = capabilities::publisherSettings(settings, options.mqttHost, options.mqttPort, m_stationName, &p, &why);
    if (!usable && why.isEmpty())
        return; // publishing not asked for
    // The journal files are the outbox: the cursor beside them says how far the broker has them.
    QLabel *indicator = addStatusLabel(m_window.statusBar(), "mqttIndicator");
    if (!m_journal)
        indicator->setText(tr("MQTT 未启用：发布需要开着记录（journal）"));
    else if (!usable)
        indicator->setText(why);
    if (!m_journal || !usable)
        return;
    m_publisher = capabilities::installPublisher(m_folder, p, [indicator](const QString &text) { indicator->setText(text); }, this);
    m_publisher->followReadings(m_journal);
    if (m_station)
        m_publisher->followCells(m_station->file());
}

void WindowCapabilities::sayLinkState(const QString &text)
{
    if (!m_waiting) // made on first need
        m_waiting = addStatusLabel(m_window.statusBar(), "reconnectIndicator");
    m_waiting->setText(text);
    m_waiting->setVisible(!text.isEmpty());
}

bool WindowCapabilities::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_window && event->type() == QEvent::Close && !readyToLeave(true)) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool WindowCapabilities::readyToLeave(bool interactive)
{
    QVector<journal::DailyCsv *> files;
    if (m_journal) {
        m_journal->flush();
        files << m_journal;
    }
    if (m_station)
        files << m_station->file();
    return ::readyToLeave(files, interactive ? &m_window : nullptr);
}

void WindowCapabilities::endOnSignal(int signal)
{
    std::fprintf(stderr, "zentrel: signal %d: ending\n", signal);
    readyToLeave(false);
    if (m_publisher)
        m_publisher->stop(); // saves the cursor
    QCoreApplication::quit();
}

WindowCapabilities::~WindowCapabilities()
{
    m_window.setReadingArchive(QString(), {});
    if (m_journal) {
        m_window.meterSession()->removeSink(m_journal);
        m_journal->close();
    }
    if (m_publisher)
        m_publisher->stop();
    if (m_station) {
        m_window.meterSession()->removeSink(m_station);
        m_window.meterSession()->setAnnotator({});
        m_station->file()->close();
    }
    m_window.meterLink()->setReconnect(false);
    m_window.meterLink()->stopWaiting();
    delete m_lock;
}
