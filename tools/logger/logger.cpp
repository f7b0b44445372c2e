#include "logger.h"

#include "capabilities/capabilities.h"
#include "plantdb/stagelookup.h"
#include "journal/dailycsv.h"
#include "journal/journal.h"
#include "link/meterlink.h"
#include "meter/metersession.h"
#include "station/cellrecorder.h"
#include "storage/folderlock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QFileInfo>
#include <QHostInfo>

#include <cstdio>
#include <memory>
#include <utility>

Logger::Logger(const LoggerOptions &options, QObject *parent) : QObject(parent), m_options(options)
{
    if (!options.config.isEmpty())
        m_settings = readExtraSettings(options.config);
    for (const QString &refused : m_settings.refused)
        say(refused);
    if (!options.plantDatabase.isEmpty())
        m_settings.plantDatabase = options.plantDatabase;
    m_folder = !options.journalDir.isEmpty() ? options.journalDir
               : !m_settings.journalFolder.isEmpty() ? m_settings.journalFolder
                                                     : journalFolder(options.config);
}

Logger::~Logger()
{
    for (Meter &m : m_meters)
        delete m.link; // closes the line before its session goes
    m_meters.clear();
}

void Logger::say(const QString &text)
{
    std::fprintf(stderr, "zentrel-logger: %s\n", qPrintable(text));
    std::fflush(stderr);
}

int Logger::start()
{
    station::LimitSetStore sets;
    QString error;
    if (!m_options.limitSets.isEmpty() && !sets.load(m_options.limitSets, &error))
        say(error); // the good sets still load
    // A set that is not there is a wrong option: said before anything is made.
    for (const MeterEntry &entry : qAsConst(m_options.meters)) {
        if (entry.limitSet.isEmpty() || sets.find(entry.limitSet))
            continue;
        say(m_options.limitSets.isEmpty()
                ? tr("%1：limits=%2 需要 --limit-sets FILE（存放该限值组的文件）").arg(entry.port, entry.limitSet)
                : tr("%1：%3 中没有限值组“%2”").arg(entry.port, entry.limitSet, m_options.limitSets));
        return kWrongOption;
    }
    const bool journalOn = !m_options.noJournal && m_settings.journalEnabled;
    if (journalOn || m_options.cells) {
        // One writer per folder: never two programs' lines interleaved.
        m_lock.reset(new FolderLock(m_folder));
        QString reason;
        if (!m_lock->acquire(&reason)) {
            say(reason);
            return kFolderInUse;
        }
    }
    if (journalOn) {
        m_journal = new journal::Journal(m_folder, QHostInfo::localHostName(), this);
        guardFolder(m_journal);
        connect(m_journal, &journal::DailyCsv::stateChanged, this, [this] {
            // One line per change of state or of its reason, not per reading that waits.
            const QString state = m_journal->paused() ? m_journal->reason() : QString();
            if (m_journal->paused() == m_journalPaused && state == m_journalState)
                return;
            m_journalPaused = m_journal->paused();
            m_journalState = state;
            say(m_journal->paused() ? tr("日志暂停：%1（%2 个读数等待写入）").arg(m_journal->reason()).arg(m_journal->waiting())
                                    : tr("日志写入 %1").arg(QDir::toNativeSeparators(m_folder)));
        });
    }
    for (const MeterEntry &entry : qAsConst(m_options.meters))
        setUpMeter(entry, sets);
    setUpPublisher();
    return kStarted;
}

void Logger::setUpMeter(const MeterEntry &entry, const station::LimitSetStore &sets)
{
    Meter m;
    m.entry = entry;
    if (m.entry.station.isEmpty())
        m.entry.station = defaultStationName(entry.port);
    m.session = new meter::MeterSession(this);
    m.session->setStation(m.entry.station);
    if (m_journal)
        capabilities::addToJournal(*m.session, m_journal);
    if (m_options.cells) {
        m.cells = capabilities::installStation(*m.session, m_folder, m.entry.station, m_settings, false, this);
        if (!m_settings.plantDatabase.isEmpty()) { // earlier stages measured at other stations
            auto lookup = std::make_shared<plantdb::StageLookup>(m_settings.plantDatabase,
                                                                 [this, name = m.entry.station](const QString &t) { say(name + QStringLiteral(": ") + t); });
            m.cells->setEarlierLookup([lookup](const QString &cell, const QString &stage, const QDateTime &at) { return lookup->latest(cell, stage, at); });
        }
        guardFolder(m.cells->file());
        connect(m.cells, &station::CellRecorder::note, this, [this, name = m.entry.station](const QString &t) { say(name + QStringLiteral(": ") + t); });
        // Contacts that never settle give no record: said once per meter, with the rule.
        auto saidUnsettled = std::make_shared<bool>(false);
        connect(m.cells, &station::CellRecorder::unsettled, this,
                [this, name = m.entry.station, saidUnsettled](qint64 contactMs, const station::CaptureSettings &rule) {
            if (std::exchange(*saidUnsettled, true))
                return;
            say(tr("%1：接触未稳定，没有记录（接触 %2 s，需要 %3 s 且 %4 个读数相差在 %5 % 以内）")
                    .arg(name, QString::number(contactMs / 1000.0, 'f', 1), QString::number(rule.settleMs / 1000.0, 'f', 1))
                    .arg(rule.agree)
                    .arg(rule.rBandPercent));
        });
        // A control-chart signal is a line of its own, with the rules in words.
        connect(m.cells, &station::CellRecorder::outOfControl, this,
                [this, name = m.entry.station](const station::CellRecord &r, unsigned rRules, unsigned vRules) {
            QStringList rules;
            for (const auto &[side, bits] : {std::pair<char, unsigned>('R', rRules), {'V', vRules}})
                for (int rule : stats::firedRules(bits))
                    rules << QStringLiteral("%1%2 (%3)").arg(QLatin1Char(side)).arg(rule).arg(stats::ruleText(rule));
            say(tr("%1: 过程异常信号，记录 %2：%3").arg(name, r.id, rules.join(QStringLiteral("; "))));
        });
    }
    if (!entry.limitSet.isEmpty()) {
        // The set's bounds become the meter's limits in force.
        m.session->setLimits(station::limitsOf(*sets.find(entry.limitSet)));
        if (m.cells) {
            m.cells->sets() = sets;
            m.cells->selectSet(entry.limitSet);
        }
    }
    m.link = new meter::MeterLink(m.session);
    m.link->setBatching(true); // no screen to keep current: fast lines read in batches
    capabilities::installReconnect(*m.link, [](const QString &) {});
    m_meters.push_back(m);
    followMeter(m_meters.back());
    QString error;
    if (!m.link->open(entry.port, entry.baud, &error)) {
        say(tr("%1（%2）：无法打开：%3；等待它出现").arg(m.entry.station, entry.port, error));
        m.link->waitFor(entry.port, entry.baud);
    }
}

void Logger::guardFolder(journal::DailyCsv *file)
{
    // A folder deleted and made anew gets its lock back before a line goes
    // in; one that another program took meanwhile pauses the file.
    file->setFolderGuard([this](QString *reason) { return !m_lock || m_lock->keep(reason); });
}

void Logger::followMeter(Meter &m)
{
    const QString who = QStringLiteral("%1 (%2)").arg(m.entry.station, m.entry.port);
    connect(m.link, &meter::MeterLink::opened, this, [this, who] { say(tr("%1：已连接").arg(who)); });
    connect(m.link, &meter::MeterLink::lost, this, [this, who](const QString &, const QString &reason) {
        say(tr("%1：连接丢失（%2）；等待它恢复").arg(who, reason));
    });
    connect(m.link, &meter::MeterLink::reconnected, this, [this, who] { say(tr("%1：已重新连接").arg(who)); });
    // A noisy line is said at once, then at most every 10 s with the total.
    struct Dropped
    {
        quint64 total = 0, said = 0;
        QElapsedTimer since;
    };
    auto dropped = std::make_shared<Dropped>();
    auto *later = new QTimer(this);
    later->setSingleShot(true);
    const auto tell = [this, who, dropped] {
        if (dropped->total == dropped->said)
            return;
        dropped->said = dropped->total;
        dropped->since.start();
        say(tr("%1：丢弃了 %2 字节（不是仪表的帧）").arg(who).arg(dropped->total));
    };
    connect(later, &QTimer::timeout, this, tell);
    connect(m.session, &meter::MeterSession::bytesDropped, this, [dropped, later, tell](quint64 total) {
        dropped->total = total;
        if (later->isActive())
            return;
        const qint64 wait = dropped->since.isValid() ? 10000 - dropped->since.elapsed() : 0;
        if (wait <= 0)
            tell();
        else
            later->start(int(wait));
    });
}

void Logger::setUpPublisher()
{
    mqtt::PublisherSettings p;
    QString why;
    const QString name = QHostInfo::localHostName();
    if (!capabilities::publisherSettings(m_settings, m_options.mqttHost, m_options.mqttPort, name, &p, &why)) {
        if (!why.isEmpty())
            say(why);
        return;
    }
    if (!m_journal) {
        say(tr("MQTT 关闭：发布需要日志"));
        return;
    }
    // Each meter is a station of its own: it answers replay requests for its lines.
    p.stations << name;
    for (const Meter &m : m_meters)
        p.stations << m.entry.station;
    const QString where = QStringLiteral("%1:%2").arg(p.client.host).arg(p.client.port);
    m_publisher = capabilities::installPublisher(m_folder, p, [this, where](const QString &text) {
        // Before it is installed, the last word is the one that counts: a
        // failure to start (a password file that is no regular file) is said below.
        if (!m_publisher) {
            m_mqttSaid = text;
            return;
        }
        // Then one line per change of the connection or of the reason it is
        // down, with the backlog then (a lower bound while still counting).
        const bool up = m_publisher->isConnected();
        const QString why = up ? QString() : m_publisher->lastError();
        if (up == m_mqttConnected && why == m_mqttWhy)
            return;
        m_mqttConnected = up;
        m_mqttWhy = why;
        const QString backlog = m_publisher->backlogCounted() ? QString::number(m_publisher->backlog())
                                                              : tr("≥%1（正在清点）").arg(m_publisher->backlog());
        say(up ? tr("MQTT 已连接 %1，积压 %2").arg(where, backlog)
               : why.isEmpty() ? tr("MQTT 正在重连 %1，积压 %2").arg(where, backlog)
                               : tr("MQTT 正在重连 %1（%2），积压 %3").arg(where, why, backlog));
    }, this);
    if (!m_publisher->isStarted())
        say(m_mqttSaid);
    m_publisher->followReadings(m_journal);
    for (const Meter &m : m_meters)
        if (m.cells)
            m_publisher->followCells(m.cells->file());
}

void Logger::finish()
{
    // What the lines still hold is read first.
    for (Meter &m : m_meters) {
        m.link->setReconnect(false);
        m.link->close();
    }
    QVector<journal::DailyCsv *> files;
    if (m_journal) {
        m_journal->flush();
        files << m_journal;
    }
    for (Meter &m : m_meters)
        if (m.cells)
            files << m.cells->file();
    QString reason;
    const int waiting = capabilities::writeWaiting(files, &reason);
    if (waiting > 0)
        capabilities::rescueWaiting(files, waiting, reason, "zentrel-logger");
    for (journal::DailyCsv *f : files)
        f->close(); // synced
    if (m_publisher)
        m_publisher->stop(2000); // saves the cursor
}
