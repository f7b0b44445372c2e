#include "publisher.h"
#include "platform/punctuation.h"
#include "platform/queuedcall.h"

#include "journal/csvrecords.h"
#include "journal/dailycsv.h"

#include "platform/regularfile.h"
#include "storage/textfile.h"

#include <QDir>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace mqtt {

namespace {

constexpr int kMaxInFlight = 500;

QString streamKey(const Outbox *box)
{
    return box->prefix() == QLatin1String(journal::kReadingsPrefix) ? QStringLiteral("readings")
           : box->prefix() == QLatin1String(journal::kCellsPrefix)  ? QStringLiteral("cells")
                                                                      : QStringLiteral("packs");
}

QJsonObject jsonOf(const Position &p)
{
    return {{QStringLiteral("day"), p.day.toString(Qt::ISODate)},
            {QStringLiteral("offset"), double(p.offset)},
            {QStringLiteral("line"), double(p.line)}};
}

Position positionOf(const QJsonValue &v)
{
    const QJsonObject o = v.toObject();
    Position p;
    p.day = QDate::fromString(o.value(QLatin1String("day")).toString(), Qt::ISODate);
    p.offset = qint64(o.value(QLatin1String("offset")).toDouble());
    p.line = qint64(o.value(QLatin1String("line")).toDouble());
    return p;
}

} // namespace

Publisher::Publisher(const QString &folder, const PublisherSettings &settings, QObject *parent)
    : QObject(parent),
      m_folder(folder),
      m_settings(settings),
      m_readings(folder, QLatin1String(journal::kReadingsPrefix), {"seq", "r_mohm", "v", "r_low", "r_high", "v_low", "v_high"}),
      m_cells(folder, QLatin1String(journal::kCellsPrefix), {"r_mohm", "v", "settled_by", "r_low", "r_high", "v_low", "v_high", "k_mv_day", "rest_days"}),
      m_packs(folder, QLatin1String(journal::kPacksPrefix), {"group", "slot", "r_mohm", "v"}),
      m_tallies(folder, {&m_readings, &m_cells, &m_packs})
{
    m_saver.setMaxThreadCount(1);
    m_pump.setSingleShot(true);
    connect(&m_pump, &QTimer::timeout, this, &Publisher::pump);
    m_cursorTimer.setSingleShot(true);
    m_cursorTimer.setInterval(200);
    connect(&m_cursorTimer, &QTimer::timeout, this, &Publisher::saveCursor);
    m_statusTimer.setInterval(1000);
    connect(&m_statusTimer, &QTimer::timeout, this, [this] {
        // Once a minute the days behind are looked at whatever told of them
        // (a writer in another program, a file put back by hand); every
        // second without a writer to follow.
        if (!m_following || ++m_lookTicks % 60 == 0)
            for (Outbox *box : boxes())
                lookBehind(*box);
        count();
        emit statusChanged();
    });
    // Tallies are counted a slice at a time too, and told every few seconds.
    m_tallyTimer.setSingleShot(true);
    connect(&m_tallyTimer, &QTimer::timeout, this, &Publisher::tally);
    // Counting a long backlog: a slice at a time, the event loop in between.
    m_countTimer.setInterval(10);
    connect(&m_countTimer, &QTimer::timeout, this, &Publisher::count);
    connect(&m_client, &Client::connected, this, [this] {
        m_lastError.clear();
        // Told afresh on every connection, the day being written included.
        m_tallies.retellRecent(3);
        m_cursorDayTold.invalidate();
        if (m_started)
            m_tallyTimer.start(0);
        emit statusChanged();
        pump();
    });
    connect(&m_client, &Client::disconnected, this, [this](const QString &reason) {
        // What was in flight is sent again from the cursor.
        m_lastError = reason;
        m_mids.clear();
        m_tallyMids.clear();
        for (Outbox *box : boxes())
            box->rewind();
        for (auto &replay : m_replays) {
            replay->box->rewind();
            replay->readToEnd = false;
        }
        for (auto &late : m_late) {
            late->box->rewind();
            late->drained = false;
        }
        emit statusChanged();
    });
    connect(&m_client, &Client::message, this, &Publisher::takeRequest);
    connect(&m_client, &Client::acknowledged, this, [this](int mid) {
        if (const auto told = m_tallyMids.find(mid); told != m_tallyMids.end()) {
            m_tallies.sent(*told);
            m_tallyMids.erase(told);
            return;
        }
        const auto it = m_mids.find(mid);
        if (it == m_mids.end())
            return;
        it->first->acknowledge(it->second);
        m_mids.erase(it);
        for (Outbox *box : boxes())
            takeLeftDays(*box);
        settleLate();
        dropFinishedReplay();
        schedulePump(); // room in flight
        if (!m_cursorTimer.isActive())
            m_cursorTimer.start();
    });
}

Publisher::~Publisher()
{
    stop();
}

QString Publisher::cursorFile() const
{
    return QDir(m_folder).filePath(QStringLiteral("mqtt-cursor.json"));
}

bool Publisher::start(QString *error)
{
    auto fail = [&](const QString &reason) {
        m_lastError = reason;
        if (error)
            *error = reason;
        emit statusChanged();
        return false;
    };
    PublisherSettings &s = m_settings;
    const QString front = s.topicPrefix.isEmpty() ? QStringLiteral("zentrel/") + s.station : s.topicPrefix;
    for (const QString &suffix : {QStringLiteral("/reading"), QStringLiteral("/cell"), QStringLiteral("/pack")}) {
        QString reason;
        if (!Client::topicIsValid(front + suffix, &reason))
            return fail(reason + punctuation::aside(QStringLiteral("[MQTT] Prefix")));
    }
    if (s.client.password.isEmpty() && !s.passwordFile.isEmpty()) {
        QFile file;
        QString reason;
        if (!openRegularFile(file, s.passwordFile, QIODevice::ReadOnly, &reason))
            return fail(QCoreApplication::translate("Mqtt", "密码文件无法读取：%1").arg(reason));
        if (openFileSharedWithOthers(file))
            return fail(QCoreApplication::translate("Mqtt", "密码文件 %1 其他用户也可读写，不使用（chmod 600）").arg(s.passwordFile));
        s.client.password = QString::fromUtf8(file.readLine(4096).trimmed());
    }
    if (s.client.password.isEmpty())
        s.client.password = qEnvironmentVariable("ZENTREL_MQTT_PASSWORD");
    if (!s.client.password.isEmpty() && s.client.caFile.isEmpty() && !s.allowPlainPassword)
        return fail(QCoreApplication::translate("Mqtt", "拒绝连接 %1:%2：设置了密码却没有 TLS（[MQTT] CaFile），密码会明文传输；"
                                   "确需如此请设 [MQTT] AllowPlainPassword=true")
                        .arg(s.client.host).arg(s.client.port));
    const bool firstStart = !loadCursor();
    if (firstStart) {
        // First start: from what is on disk now; older days are not sent.
        for (Outbox *box : boxes())
            box->startAtEnd();
        markBehindAsTaken();
        saveCursor();
    }
    startTallies(firstStart);
    for (Outbox *box : boxes())
        lookBehind(*box);
    watchLedger();
    takeNotes();
    m_countTimer.start();
    m_client.setSubscriptions(replayTopics());
    QString reason;
    if (!m_client.start(s.client, &reason))
        return fail(reason);
    m_started = true;
    m_pump.start(0);
    m_statusTimer.start();
    m_tallyTimer.start(0);
    emit statusChanged();
    return true;
}

void Publisher::stop(int settleMs)
{
    if (!m_started)
        return;
    m_pump.stop();
    // What is in flight may be acknowledged first, so a restart sends little
    // again (the ids let a receiver drop it either way).
    QElapsedTimer settle;
    settle.start();
    auto inFlight = [this] {
        int n = 0;
        for (const Outbox *box : boxes())
            n += box->inFlight();
        for (const auto &late : m_late)
            n += late->box->inFlight();
        return n;
    };
    while (settleMs > 0 && m_client.isConnected() && inFlight() > 0 && settle.elapsed() < settleMs)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    m_started = false;
    m_statusTimer.stop();
    m_countTimer.stop();
    m_tallyTimer.stop();
    m_client.stop();
    saveCursor();
    saveTallies();
    platform::waitForPool(m_saver);
}

namespace {

bool isOneLevel(const QString &station)
{
    return !station.isEmpty() && !station.contains(QLatin1Char('/')) && !station.contains(QLatin1Char('+'))
           && !station.contains(QLatin1Char('#'));
}

} // namespace

QString Publisher::topicOf(const Message &m) const
{
    // Each line under its own station's level: the plant's ingest takes a
    // message only on its station's topic, and a broker's ACL can hold each
    // station to its own. A name that cannot be a level is sent under this
    // program's (the ingest then keeps it as a reject, with the reason).
    if (!m_settings.topicPrefix.isEmpty())
        return m_settings.topicPrefix;
    return QStringLiteral("zentrel/") + (isOneLevel(m.station) ? m.station : m_settings.station);
}

QString Publisher::tallyFile() const
{
    return QDir(m_folder).filePath(QStringLiteral("mqtt-tally.json"));
}

void Publisher::startTallies(bool firstStart)
{
    QFile file;
    bool restored = false;
    if (!firstStart && openRegularFile(file, tallyFile(), QIODevice::ReadOnly, nullptr))
        restored = m_tallies.restore(QJsonDocument::fromJson(file.readAll()).object());
    if (restored)
        return;
    // Lost or never kept: what is on disk now is not told (it may have gone
    // before), what comes after is.
    if (!firstStart && file.isOpen())
        qWarning("MQTT: %s", qPrintable(QCoreApplication::translate("Mqtt", "%1 已损坏，各文件从现在的末尾重新清点").arg(tallyFile())));
    m_tallies.startAtEnd();
    saveTallies();
}

void Publisher::tally()
{
    // A few milliseconds a slice: a month of files is counted over a while,
    // never in one go.
    // The day being written is told once a minute; days behind at once.
    const bool withCursorDay = !m_cursorDayTold.isValid() || m_cursorDayTold.elapsed() >= 60000;
    const bool more = m_tallies.countSome(5, withCursorDay);
    if (withCursorDay && !more && m_client.isConnected())
        m_cursorDayTold.start();
    publishTallies();
    if (!m_tallySaved.isValid() || m_tallySaved.elapsed() >= 5000)
        saveTallies();
    if (m_started)
        m_tallyTimer.start(more ? 10 : 2000);
}

void Publisher::publishTallies()
{
    if (!m_client.isConnected() || !m_tallyMids.isEmpty())
        return; // one round at a time, each told as it is when sent
    for (const TallyMessage &m : m_tallies.unsent(64)) {
        if (!isOneLevel(m.station) && m_settings.topicPrefix.isEmpty())
            continue; // its lines go under this program's name, refused by the plant
        const QString topic = (m_settings.topicPrefix.isEmpty() ? QStringLiteral("zentrel/") + m.station : m_settings.topicPrefix)
                              + QStringLiteral("/tally");
        const int mid = m_client.publish(topic, tallyJson(m), nullptr);
        if (mid < 0)
            return;
        m_tallyMids.insert(mid, m);
    }
}

void Publisher::saveTallies()
{
    m_tallySaved.start();
    if (!m_tallies.takeChanged())
        return;
    const QByteArray bytes = QJsonDocument(m_tallies.toJson()).toJson(QJsonDocument::Compact);
    const QString folder = m_folder, path = tallyFile();
    auto save = [folder, path, bytes] {
        QDir().mkpath(folder);
        QString error;
        if (!saveFileAtomically(path, bytes, &error))
            qWarning("MQTT: %s", qPrintable(error)); // counted again from the files' ends next time: nothing is lost
    };
    if (m_started)
        platform::pooled(m_saver, save);
    else {
        platform::waitForPool(m_saver);
        save();
    }
}

QString Publisher::kindOf(const Outbox *stream) const
{
    return stream == &m_readings ? QStringLiteral("/reading") : stream == &m_cells ? QStringLiteral("/cell") : QStringLiteral("/pack");
}

bool Publisher::pumpBox(Outbox &box, const QString &kind, const QElapsedTimer &budget, bool *atEnd, bool *refused)
{
    *atEnd = false;
    *refused = false;
    while (box.inFlight() < kMaxInFlight) {
        if (budget.elapsed() >= 5)
            return true;
        const QVector<Message> messages = box.read(50);
        takeNotes();
        if (messages.isEmpty()) {
            *atEnd = true;
            return false;
        }
        for (const Message &m : messages) {
            QString error;
            const int mid = m_client.publish(topicOf(m) + kind, m.payload, &error);
            if (mid < 0) {
                // Not taken: the batch goes again from the last
                // acknowledged line, at the next pump.
                for (auto it = m_mids.begin(); it != m_mids.end();)
                    it = it->first == &box ? m_mids.erase(it) : std::next(it);
                box.rewind();
                if (m_refused != error) {
                    m_refused = error;
                    emit statusChanged();
                }
                *refused = true;
                return false;
            }
            m_mids.insert(mid, {&box, m.serial});
        }
        if (!m_refused.isEmpty()) {
            m_refused.clear();
            emit statusChanged();
        }
    }
    return false;
}

void Publisher::pump()
{
    if (!m_client.isConnected())
        return;
    // A backlog drains in slices of a few milliseconds with the event loop
    // in between, so the window never stalls behind it.
    QElapsedTimer budget;
    budget.start();
    bool more = false, atEnd = false, refused = false;
    for (Outbox *box : boxes()) {
        more = pumpBox(*box, kindOf(box), budget, &atEnd, &refused) || more;
        if (refused) {
            m_pump.start(20);
            return;
        }
    }
    for (auto &late : m_late) {
        more = pumpBox(*late->box, kindOf(late->stream), budget, &atEnd, &refused) || more;
        if (refused) {
            m_pump.start(20);
            return;
        }
        late->drained = atEnd;
    }
    for (Outbox *box : boxes())
        takeLeftDays(*box);
    settleLate();
    more = pumpReplay(budget) || more;
    // Without a writer to follow, the files are looked at again in 20 ms.
    if (more || !m_following)
        m_pump.start(more ? 0 : 20);
}

void Publisher::takeLeftDays(Outbox &stream)
{
    for (const Position &left : stream.takeLeftDays()) {
        m_behind[&stream][left.day] = left;
        lookBehind(stream, left.day); // lines written after the reading left it
    }
}

void Publisher::settleLate()
{
    for (auto it = m_late.begin(); it != m_late.end();) {
        Late &late = **it;
        const Position taken = late.box->acknowledged();
        if (taken.day == late.day)
            m_behind[late.stream][late.day] = taken;
        if (late.drained && late.box->inFlight() == 0)
            it = m_late.erase(it); // looked for again when its file grows
        else
            ++it;
    }
}

void Publisher::lookBehind(Outbox &stream, const QDate &only)
{
    const QDate cursorDay = stream.acknowledged().day;
    if (!cursorDay.isValid() || (only.isValid() && only >= cursorDay))
        return;
    const QDir dir(m_folder);
    const QString prefix = stream.prefix();
    const QStringList names = only.isValid() ? QStringList {journal::dailyFileName(prefix, only)}
                                             : dir.entryList({journal::dailyFilePattern(prefix)}, QDir::Files);
    if (!only.isValid()) { // a day whose file went (archived, deleted) is forgotten
        QMap<QDate, Position> &taken = m_behind[&stream];
        for (auto it = taken.begin(); it != taken.end();)
            it = names.contains(journal::dailyFileName(prefix, it.key())) ? std::next(it) : taken.erase(it);
    }
    for (const QString &name : names) {
        const QDate day = journal::dailyFileDay(name, prefix);
        if (!day.isValid() || day >= cursorDay)
            continue;
        if (std::any_of(m_late.begin(), m_late.end(), [&](const auto &l) { return l->stream == &stream && l->day == day; }))
            continue;
        Position taken = m_behind.value(&stream).value(day, Position {day, 0, 0});
        const QString path = dir.filePath(name);
        if (QFileInfo(path).size() <= taken.offset)
            continue;
        if (taken.line < 0) // a day taken whole before its lines were counted
            taken.line = Outbox::recordsBefore(path, taken.offset);
        auto late = std::make_unique<Late>();
        late->stream = &stream;
        late->day = day;
        late->box = std::make_unique<Outbox>(m_folder, prefix, stream.numberColumns());
        late->box->onlyDay(day);
        late->box->setAcknowledged(taken);
        qInfo("MQTT: %s", qPrintable(QCoreApplication::translate("Mqtt", "%1 在其日期过后又写入了行（时钟被调回过？），从第 %2 行起发布")
                                         .arg(QDir::toNativeSeparators(path))
                                         .arg(taken.line + 1)));
        m_late.push_back(std::move(late));
        schedulePump();
    }
}

void Publisher::markBehindAsTaken()
{
    // As far as they are now: the days before each cursor count as sent.
    const QDir dir(m_folder);
    for (Outbox *box : boxes()) {
        const QDate cursorDay = box->acknowledged().day;
        for (const QString &name : dir.entryList({journal::dailyFilePattern(box->prefix())}, QDir::Files)) {
            const QDate day = journal::dailyFileDay(name, box->prefix());
            if (day.isValid() && cursorDay.isValid() && day < cursorDay && !m_behind.value(box).contains(day))
                m_behind[box][day] = {day, QFileInfo(dir.filePath(name)).size(), -1};
        }
    }
}

QStringList Publisher::replayTopics() const
{
    if (!m_settings.topicPrefix.isEmpty())
        return {m_settings.topicPrefix + QStringLiteral("/replay")};
    QStringList topics;
    const QStringList stations = m_settings.stations.isEmpty() ? QStringList {m_settings.station} : m_settings.stations;
    for (const QString &station : stations)
        if (Client::topicIsValid(replayTopic(station), nullptr))
            topics << replayTopic(station);
    topics.removeDuplicates();
    return topics;
}

void Publisher::takeRequest(const QString &topic, const QByteArray &payload)
{
    if (!topic.endsWith(QLatin1String("/replay")))
        return;
    ReplayRequest request;
    QString why;
    if (!parseReplayRequest(payload, &request, &why)) {
        m_note = QCoreApplication::translate("Mqtt", "%1 上的重发请求不予处理：%2").arg(topic, why);
        qWarning("MQTT: %s", qPrintable(m_note));
        emit statusChanged();
        return;
    }
    // The topic names whose lines: a station answers only for its own.
    const QString station = m_settings.topicPrefix.isEmpty() ? topic.section(QLatin1Char('/'), 1, -2) : QString();
    for (const auto &replay : m_replays)
        if (replay->station == station && replay->request == request)
            return; // asked again before the first was done
    if (m_replays.size() >= 64)
        return; // a flood of requests: the asker asks again later
    const std::array<Outbox *, 3> streams = boxes();
    const auto it = std::find_if(streams.begin(), streams.end(), [&](const Outbox *b) { return b->prefix() == request.stream; });
    if (it == streams.end())
        return;
    auto replay = std::make_unique<Replay>();
    replay->station = station;
    replay->request = request;
    replay->kind = *it == &m_readings ? QStringLiteral("/reading") : *it == &m_cells ? QStringLiteral("/cell") : QStringLiteral("/pack");
    replay->box = std::make_unique<Outbox>(m_folder, request.stream, (*it)->numberColumns());
    replay->box->setAcknowledged({request.day, 0, 0});
    replay->box->takeNote();
    m_replays.push_back(std::move(replay));
    qInfo("MQTT: %s", qPrintable(QCoreApplication::translate("Mqtt", "按 %1 的请求重发 %2 %3 第 %4–%5 行")
                                     .arg(topic, request.stream, request.day.toString(Qt::ISODate))
                                     .arg(request.from)
                                     .arg(request.to)));
    emit statusChanged();
    schedulePump();
}

bool Publisher::dropFinishedReplay()
{
    // A replay read to its end and wholly taken by the broker is done.
    if (m_replays.empty() || !m_replays.front()->readToEnd || m_replays.front()->box->inFlight() > 0)
        return false;
    m_replays.pop_front();
    emit statusChanged();
    return true;
}

bool Publisher::pumpReplay(const QElapsedTimer &budget)
{
    if (m_replays.empty())
        return false;
    Replay &replay = *m_replays.front();
    Outbox &box = *replay.box;
    while (!replay.readToEnd && box.inFlight() < kMaxInFlight) {
        if (budget.elapsed() >= 5)
            return true;
        const QVector<Message> messages = box.read(50);
        if (messages.isEmpty()) {
            replay.readToEnd = true; // the rest of the range is not written (yet)
            break;
        }
        for (const Message &m : messages) {
            // station/stream/day/line: a station's name may hold a slash, the rest not.
            const QDate day = QDate::fromString(m.id.section(QLatin1Char('/'), -2, -2), Qt::ISODate);
            const qint64 line = m.id.section(QLatin1Char('/'), -1).toLongLong();
            if (day != replay.request.day || line > replay.request.to)
                replay.readToEnd = true;
            if (replay.readToEnd || line < replay.request.from || (!replay.station.isEmpty() && m.station != replay.station)) {
                box.acknowledge(m.serial);
                continue;
            }
            QString error;
            const int mid = m_client.publish(topicOf(m) + replay.kind, m.payload, &error);
            if (mid < 0) {
                for (auto it = m_mids.begin(); it != m_mids.end();)
                    it = it->first == &box ? m_mids.erase(it) : std::next(it);
                box.rewind();
                replay.readToEnd = false;
                m_pump.start(20); // the library's queue is full or the link just went
                return false;
            }
            m_mids.insert(mid, {&box, m.serial});
        }
    }
    // Done once the broker took it all; otherwise acknowledgements pump again.
    return dropFinishedReplay() && !m_replays.empty();
}

void Publisher::schedulePump()
{
    if (m_started && !m_pump.isActive())
        m_pump.start(0);
}

void Publisher::follow(Outbox &box, journal::DailyCsv *writer)
{
    m_following = true;
    box.setFollowed(true);
    Outbox *b = &box;
    connect(writer, &journal::DailyCsv::appended, this, [this, b](const QDate &day) {
        b->dayWritten(day);
        if (day < b->acknowledged().day)
            lookBehind(*b, day);
        schedulePump();
    });
}

void Publisher::watchLedger()
{
    // The folder tells of a new day's ledger, the file of appended lines.
    m_packs.setFollowed(true);
    QDir().mkpath(m_folder);
    m_ledgerWatch.addPath(m_folder);
    auto look = [this] {
        const QDir dir(m_folder);
        for (const QString &name : dir.entryList({journal::dailyFilePattern(QLatin1String(journal::kPacksPrefix))}, QDir::Files)) {
            const QString path = dir.filePath(name);
            if (!m_ledgerWatch.files().contains(path)) {
                m_ledgerWatch.addPath(path);
                m_packs.dayWritten(journal::dailyFileDay(name, QLatin1String(journal::kPacksPrefix)));
            }
        }
        lookBehind(m_packs);
        schedulePump();
    };
    connect(&m_ledgerWatch, &QFileSystemWatcher::directoryChanged, this, look);
    connect(&m_ledgerWatch, &QFileSystemWatcher::fileChanged, this, look);
    look();
}

void Publisher::count()
{
    // A megabyte a slice: about a millisecond from the page cache.
    bool done = true;
    for (Outbox *box : boxes())
        done = box->countSome(1 << 20) && done;
    for (auto &late : m_late)
        done = late->box->countSome(1 << 20) && done;
    takeNotes();
    if (done)
        m_countTimer.stop();
    else if (!m_countTimer.isActive() && m_started)
        m_countTimer.start();
}

void Publisher::takeNotes()
{
    for (Outbox *box : boxes()) {
        const QString note = box->takeNote();
        if (!note.isEmpty()) {
            m_note = note;
            qWarning("MQTT: %s", qPrintable(note));
            emit statusChanged();
        }
    }
}

qint64 Publisher::backlog() const
{
    qint64 n = 0;
    for (const Outbox *box : boxes())
        n += box->backlog();
    for (const auto &late : m_late)
        n += late->box->backlog();
    return n;
}

bool Publisher::backlogCounted() const
{
    for (const Outbox *box : boxes())
        if (!box->counted())
            return false;
    for (const auto &late : m_late)
        if (!late->box->counted())
            return false;
    return true;
}

QString Publisher::status()
{
    const QString where = m_settings.client.host.contains(QLatin1Char(':'))
                              ? QStringLiteral("[%1]:%2").arg(m_settings.client.host).arg(m_settings.client.port)
                              : QStringLiteral("%1:%2").arg(m_settings.client.host).arg(m_settings.client.port);
    const qint64 waiting = backlog();
    QString text = m_client.isConnected() ? QCoreApplication::translate("Mqtt", "MQTT 已连接 %1").arg(where)
                                          : QCoreApplication::translate("Mqtt", "MQTT 正在重连 %1").arg(where);
    if (!m_client.isConnected() && !m_lastError.isEmpty())
        text += punctuation::aside(m_lastError);
    if (!m_refused.isEmpty())
        text = punctuation::clauses({text, m_refused});
    if (!m_note.isEmpty())
        text = punctuation::clauses({text, m_note});
    if (!m_replays.empty())
        text += QCoreApplication::translate("Mqtt", "，重发请求 %1 个").arg(m_replays.size());
    if (waiting > 0 || !backlogCounted())
        text += backlogCounted() ? QCoreApplication::translate("Mqtt", "，积压 %1").arg(waiting) : QCoreApplication::translate("Mqtt", "，积压 ≥%1（正在清点）").arg(waiting);
    return text;
}

void Publisher::saveCursor()
{
    QJsonObject root {{QStringLiteral("readings"), jsonOf(m_readings.acknowledged())},
                      {QStringLiteral("cells"), jsonOf(m_cells.acknowledged())},
                      {QStringLiteral("packs"), jsonOf(m_packs.acknowledged())}};
    // How far each day behind the cursor was taken: lines written into one
    // later (a clock set back) go from there, after a restart too.
    QJsonObject behind;
    for (const Outbox *box : boxes()) {
        QJsonObject days;
        const QMap<QDate, Position> taken = m_behind.value(box);
        for (auto it = taken.begin(); it != taken.end(); ++it)
            days.insert(it.key().toString(Qt::ISODate), QJsonObject {{QStringLiteral("offset"), double(it->offset)},
                                                                     {QStringLiteral("line"), double(it->line)}});
        behind.insert(streamKey(box), days);
    }
    root.insert(QStringLiteral("behind"), behind);
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
    if (bytes == m_savedCursor)
        return;
    // The cursor written last becomes the backup: one of the two is whole
    // whatever happens while the other is written.
    const QByteArray previous = m_savedCursor;
    m_savedCursor = bytes;
    const QString folder = m_folder, path = cursorFile();
    auto save = [this, folder, path, previous, bytes] {
        QDir().mkpath(folder);
        QString error;
        if ((!previous.isEmpty() && !saveFileAtomically(path + QStringLiteral(".bak"), previous, &error))
            || !saveFileAtomically(path, bytes, &error))
            platform::queuedCall(this, [this, error] { m_lastError = error; emit statusChanged(); });
    };
    // Two synced saves take a disk's time: off the GUI thread while running,
    // in order (one thread), and waited for when publishing stops.
    if (m_started)
        platform::pooled(m_saver, save);
    else {
        platform::waitForPool(m_saver);
        save();
    }
}

namespace {

// A cursor file that holds both positions, or an empty object.
QJsonObject readCursor(const QString &path, bool *present)
{
    QFile file;
    *present = QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    if (!*present || !openRegularFile(file, path, QIODevice::ReadOnly, nullptr))
        return {};
    // Years of days behind fit (a few dozen bytes a day and stream).
    const QJsonObject root = QJsonDocument::fromJson(file.read(1 << 24)).object();
    for (const char *stream : {"readings", "cells"}) {
        const QJsonObject p = root.value(QLatin1String(stream)).toObject();
        if (!p.value(QLatin1String("offset")).isDouble() || !p.value(QLatin1String("line")).isDouble())
            return {};
    }
    return root;
}

} // namespace

bool Publisher::loadCursor()
{
    bool present = false, backupPresent = false;
    QJsonObject root = readCursor(cursorFile(), &present);
    const QString backup = cursorFile() + QStringLiteral(".bak");
    if (root.isEmpty()) {
        root = readCursor(backup, &backupPresent);
        if (!root.isEmpty() && present)
            m_note = QCoreApplication::translate("Mqtt", "%1 已损坏，改用备份 %2").arg(cursorFile(), backup);
    }
    if (root.isEmpty()) {
        if (!present && !backupPresent)
            return false; // the first start
        // A cursor and no usable backup: everything goes again rather than nothing.
        m_note = QCoreApplication::translate("Mqtt", "%1 已损坏且没有可用备份，全部重新发送").arg(cursorFile());
        qWarning("MQTT: %s", qPrintable(m_note));
        for (Outbox *box : boxes())
            box->startAtBeginning();
        return true;
    }
    if (!m_note.isEmpty())
        qWarning("MQTT: %s", qPrintable(m_note));
    m_readings.setAcknowledged(positionOf(root.value(QLatin1String("readings"))));
    m_cells.setAcknowledged(positionOf(root.value(QLatin1String("cells"))));
    // A cursor from before the pack ledger: every ledger line is new to the broker.
    if (root.contains(QLatin1String("packs")))
        m_packs.setAcknowledged(positionOf(root.value(QLatin1String("packs"))));
    else
        m_packs.startAtBeginning();
    const QJsonObject behind = root.value(QLatin1String("behind")).toObject();
    for (Outbox *box : boxes()) {
        const QJsonObject days = behind.value(streamKey(box)).toObject();
        for (auto it = days.begin(); it != days.end(); ++it) {
            const QDate day = QDate::fromString(it.key(), Qt::ISODate);
            const QJsonObject p = it.value().toObject();
            if (day.isValid())
                m_behind[box][day] = {day, qint64(p.value(QLatin1String("offset")).toDouble()), qint64(p.value(QLatin1String("line")).toDouble())};
        }
    }
    // A cursor from before the days behind were kept: those days as they are now.
    if (!root.contains(QLatin1String("behind")))
        markBehindAsTaken();
    m_savedCursor = QJsonDocument(root).toJson(QJsonDocument::Compact);
    return true;
}

} // namespace mqtt
