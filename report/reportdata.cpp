#include "reportdata.h"
#include "platform/punctuation.h"

#include "meter/meterframe.h"

#include <QCoreApplication>

#include "platform/regularfile.h"

#include "journal/csvrecords.h"
#include "journal/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <thread>

namespace report {

namespace {

// A limit as a number, written as the database writes it back ("11.50" and
// "11.5" are one limit); text that is no number stays as it is.
QString limitText(const QByteArray &field)
{
    bool ok = false;
    const double d = journal::fieldNumber(field, &ok);
    return ok && std::isfinite(d) ? journal::plainNumber(d) : QString::fromLatin1(field);
}

constexpr int kRunPoints = 20000;

QString numberText(double v, int decimals = 4)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("—");
}

QJsonValue jsonNumber(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString LimitKey::text(bool translated) const
{
    auto say = [translated](const char *source) {
        return translated ? QCoreApplication::translate("Report", source) : QString::fromUtf8(source);
    };
    auto show = [](const QString &s) { return s.isEmpty() ? QStringLiteral("—") : s; };
    const QString bounds = QStringLiteral("R %1–%2 mΩ, V %3–%4 V").arg(show(rLow), show(rHigh), show(vLow), show(vHigh));
    if (!cells)
        return bounds;
    // Cell records of an older version carry only the set's name.
    const bool none = rLow.isEmpty() && rHigh.isEmpty() && vLow.isEmpty() && vHigh.isEmpty();
    return none ? say(QT_TRANSLATE_NOOP("Report", "限值组 %1")).arg(show(set))
                : say(QT_TRANSLATE_NOOP("Report", "限值组 %1: %2")).arg(show(set), bounds);
}

QString Scope::key() const
{
    switch (kind) {
    case All:
        return QStringLiteral("全部");
    case Station:
        return QStringLiteral("工位 %1").arg(name);
    case Cells:
        return QStringLiteral("单体 全部");
    case Lot:
        break;
    }
    return QStringLiteral("单体 批次 %1").arg(name);
}

QString Scope::text() const
{
    switch (kind) {
    case All:
        return QCoreApplication::translate("Report", "全部");
    case Station:
        return QCoreApplication::translate("Report", "工位 %1").arg(name);
    case Cells:
        return QCoreApplication::translate("Report", "单体 全部");
    case Lot:
        break;
    }
    return QCoreApplication::translate("Report", "单体 批次 %1").arg(name);
}

QJsonObject Scope::json(const LimitKey &limits) const
{
    static const char *const kinds[] = {"all", "station", "cells", "lot"};
    QJsonObject o {{QStringLiteral("kind"), QLatin1String(kinds[kind])}};
    if (kind == Station)
        o.insert(QStringLiteral("station"), name);
    if (kind == Lot)
        o.insert(QStringLiteral("lot"), name);
    if (limits.cells && !limits.set.isEmpty())
        o.insert(QStringLiteral("set"), limits.set);
    const std::pair<const char *, const QString *> bounds[] = {
        {"r_low", &limits.rLow}, {"r_high", &limits.rHigh}, {"v_low", &limits.vLow}, {"v_high", &limits.vHigh}};
    for (const auto &b : bounds)
        if (!b.second->isEmpty())
            o.insert(QLatin1String(b.first), limits.value(*b.second));
    return o;
}

double LimitKey::value(const QString &s) const
{
    bool ok = false;
    const double v = s.toDouble(&ok);
    return ok ? v : NAN;
}

QStringList Collector::findFiles(const QStringList &paths, QStringList *problems) const
{
    return journal::findDailyFiles(paths, {QLatin1String(journal::kReadingsPrefix), QLatin1String(journal::kCellsPrefix)},
                                   [this](const QDate &day) {
                                       // A station's day is not the report's: up to two
                                       // days apart where zones are far apart.
                                       return (!m_options.from.isValid() || day >= m_options.from.addDays(-2))
                                              && (!m_options.to.isValid() || day <= m_options.to.addDays(2));
                                   },
                                   problems);
}

QStringList Collector::voidFiles(const QStringList &paths) const
{
    // A void comes after its record, but may come days later: every cells
    // file from the first day asked for on.
    return journal::findDailyFiles(paths, {QLatin1String(journal::kCellsPrefix)},
                                   [this](const QDate &day) { return !m_options.from.isValid() || day >= m_options.from.addDays(-2); }, nullptr);
}

int Collector::groupOf(const Scope &scope, const LimitKey &limits)
{
    auto it = m_index.constFind({scope, limits});
    if (it != m_index.constEnd())
        return it.value();
    Group g;
    g.scope = scope;
    g.limits = limits;
    g.id = m_list.size();
    m_list.append(g);
    m_spans.append({std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()});
    m_index.insert({scope, limits}, g.id);
    return g.id;
}

void Collector::add(int group, qint64 ms, bool timed, meter::Verdict verdict, double r, double v, const QString &grade)
{
    Group &g = m_list[group];
    switch (verdict) {
    case meter::Verdict::Pass: ++g.stats.pass; break;
    case meter::Verdict::Ng: ++g.stats.ng; break;
    case meter::Verdict::None: ++g.stats.none; break;
    }
    if (!grade.isEmpty())
        ++g.stats.grades[grade];
    g.stats.r.add(r);
    g.stats.v.add(v);
    if (timed) {
        QPair<qint64, qint64> &span = m_spans[group];
        span.first = std::min(span.first, ms);
        span.second = std::max(span.second, ms);
    }
}

// Where the columns a report needs sit in a file (or after a header written
// again inside it by a newer version): -1 for a column it does not have.
struct Columns
{
    explicit Columns(const QList<QByteArray> &header) : names(header)
    {
        auto column = [this](const char *name) { return int(names.indexOf(QByteArray(name))); };
        time = column("time"), station = column("station"), verdict = column("verdict"), r = column("r_mohm"),
        v = column("v"), rLow = column("r_low"), rHigh = column("r_high"), vLow = column("v_low"),
        vHigh = column("v_high"), lot = column("lot"), grade = column("grade"), set = column("set"),
        record = column("record"), voids = column("voids"), contact = column("contact"), cellId = column("cell_id"),
        stage = column("stage"), reason = column("reason"), kMvDay = column("k_mv_day"), kNote = column("k_note");
    }
    bool usable() const { return time >= 0 && station >= 0 && verdict >= 0 && r >= 0 && v >= 0; }
    bool hasBounds() const { return rLow >= 0 && rHigh >= 0 && vLow >= 0 && vHigh >= 0; }
    QList<QByteArray> names;
    int time, station, verdict, r, v, rLow, rHigh, vLow, vHigh, lot, grade, set, record, voids, contact, cellId, stage, reason;
    int kMvDay, kNote;
};

void Collector::collectVoids(journal::RecordReader &reader, const QList<QByteArray> &header)
{
    Columns c(header);
    QByteArray line;
    while (reader.next(&line)) {
        if (journal::isHeaderRecord(line)) {
            c = Columns(journal::headerFields(line));
            continue;
        }
        const QList<QByteArray> f = journal::csvFields(line);
        if (c.usable() && c.voids >= 0 && f.size() >= c.names.size() && !f[c.voids].isEmpty())
            m_voided.insert(f[c.station] + ',' + f[c.voids]);
    }
}

void Collector::noteVoids(const QString &path)
{
    QFile file;
    QString ignored;
    if (!journal::dailyFileDay(QFileInfo(path).fileName(), QLatin1String(journal::kCellsPrefix)).isValid()
        || !openRegularFile(file, path, QIODevice::ReadOnly, &ignored))
        return; // read() says what is wrong with it
    journal::RecordReader reader(file);
    QByteArray line;
    if (reader.next(&line))
        collectVoids(reader, journal::headerFields(line));
}

bool Collector::read(const QString &path, QString *error, const std::function<void(qint64)> &progress)
{
    QFile file;
    if (!openRegularFile(file, path, QIODevice::ReadOnly, error))
        return false;
    const QDate cellsDay = journal::dailyFileDay(QFileInfo(path).fileName(), QLatin1String(journal::kCellsPrefix));
    const bool cells = cellsDay.isValid();
    const QDate fileDay = cells ? cellsDay : journal::dailyFileDay(QFileInfo(path).fileName(), QLatin1String(journal::kReadingsPrefix));
    const bool dayAsked = m_options.dayWithin(fileDay);
    const qint64 linesBefore = m_lines;
    journal::RecordReader reader(file);
    QByteArray line;
    reader.next(&line);
    const Columns top(journal::headerFields(line));
    if (!top.usable()) {
        if (error)
            *error = QCoreApplication::translate("Report", "%1：第一行不是记录文件的列名").arg(path);
        return false;
    }
    Columns c = top;
    qint64 count = 0;
    while (reader.next(&line)) {
        if (line.isEmpty())
            continue;
        if (journal::isHeaderRecord(line)) {
            // A header written again inside the file is no record; a
            // newer version's columns count from it on.
            const Columns again(journal::headerFields(line));
            if (again.usable())
                c = again;
            continue;
        }
        ++m_lines;
        if (progress && ++count % 65536 == 0)
            progress(m_lines);
        m_fields.split(line);
        // Fewer fields than the header: torn. More: columns added later.
        // (A line with no time counts by its file's day.)
        if (m_fields.size() < c.names.size()) {
            dayAsked ? ++m_skipped : --m_lines;
            continue;
        }
        take(m_fields, c, cells, dayAsked);
    }
    if (reader.torn() && dayAsked) // the last line, torn by a power cut
        ++m_skipped;
    if (dayAsked || m_lines > linesBefore) // a neighbouring day's file only when it held some
        m_used << path;
    setPartsAside(path);
    return true;
}

void Collector::setPartsAside(const QString &path)
{
    for (Group &g : m_list) {
        if (g.stats.r.count() == 0 && g.stats.v.count() == 0)
            continue;
        m_parts.append({path, g.id, g.stats.r, g.stats.v});
        g.stats.r.clear();
        g.stats.v.clear();
    }
}

void Collector::foldParts()
{
    for (const Part &p : qAsConst(m_parts)) {
        m_list[p.group].stats.r.merge(p.r);
        m_list[p.group].stats.v.merge(p.v);
    }
    m_parts.clear();
}

bool Collector::readAll(const QStringList &files, int jobs, QStringList *errors, const std::function<void(qint64)> &progress)
{
    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    const int parts = std::max(1, std::min<int>(jobs > 0 ? jobs : cores, files.size()));
    // Whole files to each, in runs of the files' order of about equal bytes:
    // the readings come together in the order one thread reads them, so
    // the control charts seldom need to sort them again.
    QVector<qint64> sizes(files.size());
    qint64 total = 0;
    for (int i = 0; i < files.size(); ++i)
        total += sizes[i] = QFileInfo(files[i]).size();
    QVector<QVector<int>> share(parts);
    qint64 before = 0;
    for (int i = 0; i < files.size(); ++i) {
        const int k = int(std::min<qint64>(parts - 1, total > 0 ? (before + sizes[i] / 2) * parts / total : i * parts / files.size()));
        share[k].append(i);
        before += sizes[i];
    }
    // Room for the control charts' readings at once (a line is some 90
    // bytes; room not touched costs nothing): no copy of a growing store.
    const auto room = [&](int k) {
        qint64 bytes = 0;
        for (int i : share[k])
            bytes += sizes[i];
        return bytes / 64;
    };
    m_spc.reserve(total / 64);
    std::vector<std::unique_ptr<Collector>> others;
    for (int k = 1; k < parts; ++k) {
        others.emplace_back(new Collector(m_options));
        others.back()->takeVoidsOf(*this);
        others.back()->m_spc.reserve(room(k));
    }
    QVector<QString> reasons(files.size());
    std::vector<std::atomic<qint64>> counted(static_cast<size_t>(parts));
    const auto readShare = [&](Collector &c, int k, bool report) {
        for (int i : share[k]) {
            c.read(files[i], &reasons[i], [&](qint64 n) {
                counted[size_t(k)] = n;
                if (report && progress) {
                    qint64 all = 0;
                    for (const std::atomic<qint64> &c : counted)
                        all += c;
                    progress(all);
                }
            });
        }
    };
    std::vector<std::thread> threads;
    for (int k = 1; k < parts; ++k)
        threads.emplace_back([&, k] { readShare(*others[size_t(k - 1)], k, false); });
    readShare(*this, 0, true);
    for (std::thread &t : threads)
        t.join();
    for (auto &other : others)
        absorb(std::move(*other));
    // The files used in the files' order, as one thread would have them.
    QHash<QString, int> place;
    for (int i = 0; i < files.size(); ++i)
        place.insert(files[i], i);
    std::sort(m_used.begin(), m_used.end(), [&place](const QString &a, const QString &b) { return place.value(a) < place.value(b); });
    // Each file's sums, taken in the files' order: the same figures to the
    // last bit whatever the threads.
    std::stable_sort(m_parts.begin(), m_parts.end(), [&place](const Part &a, const Part &b) { return place.value(a.path) < place.value(b.path); });
    bool all = true;
    for (const QString &reason : reasons)
        if (!reason.isEmpty())
            errors->append(reason), all = false;
    return all;
}

QHash<QByteArray, Collector::Slot>::const_iterator Collector::slotOf(const journal::FieldViews &f, const Columns &c, bool cells)
{
    // Most lines repeat the line before: the key is built in a reused buffer.
    QByteArray &key = m_key;
    key.resize(0);
    key.append(cells ? "c\x1f" : "r\x1f").append(f[c.station]).append('\x1f');
    if (c.lot >= 0)
        key.append(f[c.lot]);
    key.append('\x1f');
    if (c.set >= 0)
        key.append(f[c.set]);
    key.append('\x1f');
    if (c.hasBounds())
        key.append(f[c.rLow]).append(',').append(f[c.rHigh]).append(',').append(f[c.vLow]).append(',').append(f[c.vHigh]);
    // The line before's slot, unless its key differs (found without hashing).
    if (m_lastSlot != m_slots.constEnd() && m_lastSlot.key() == key)
        return m_lastSlot;
    auto slot = m_slots.constFind(key);
    if (slot != m_slots.constEnd())
        return m_lastSlot = slot;
    Slot made;
    made.station = QString::fromUtf8(f[c.station]);
    const QString lot = c.lot >= 0 && !f[c.lot].isEmpty() ? QString::fromUtf8(f[c.lot]) : QStringLiteral("—");
    made.wanted = m_options.wanted(made.station, cells ? &lot : nullptr);
    LimitKey limits;
    if (c.hasBounds()) {
        limits.rLow = limitText(f[c.rLow]);
        limits.rHigh = limitText(f[c.rHigh]);
        limits.vLow = limitText(f[c.vLow]);
        limits.vHigh = limitText(f[c.vHigh]);
    }
    if (cells) {
        limits.cells = true;
        limits.set = c.set >= 0 ? QString::fromUtf8(f[c.set]) : QString();
    }
    made.allScope = {cells ? Scope::Cells : Scope::All, QString()};
    made.partScope = cells ? Scope {Scope::Lot, lot} : Scope {Scope::Station, made.station};
    made.limits = limits;
    return m_lastSlot = m_slots.insert(key, made);
}

void Collector::take(const journal::FieldViews &f, const Columns &c, bool cells, bool dayAsked)
{
    auto slot = slotOf(f, c, cells);
    qint64 ms = 0;
    const bool timed = journal::readIsoTime(f[c.time], &ms);
    // The days asked for are instants (in the report's zone), whatever
    // zone the station wrote in: a line of a neighbouring day's file
    // may fall in them, and one of an asked day's file outside.
    if (!slot->wanted || (timed ? !m_options.within(ms) : !dayAsked)) {
        --m_lines;
        return;
    }
    // Cell records: a void line names a record that does not count, in
    // this file or another (noteVoids() has read them all first); a void
    // names a record of its own station.
    if (cells && ((c.voids >= 0 && !f[c.voids].isEmpty()) || (c.record >= 0 && m_voided.contains(f[c.station] + ',' + f[c.record]))))
        return;
    const QByteArray &vt = f[c.verdict];
    const meter::Verdict verdict = vt == "PASS" ? meter::Verdict::Pass : vt == "NG" ? meter::Verdict::Ng : meter::Verdict::None;
    bool okR = false, okV = false;
    const double r = journal::fieldNumber(f[c.r], &okR);
    const double v = journal::fieldNumber(f[c.v], &okV);
    // The meter shows at most 1677.7215 of its unit (a Ω reading is kept
    // in mΩ): anything beyond, or not finite, is no reading; nor is a
    // line without a readable time (it has no place in time, and the
    // plant's database never takes it).
    if (!timed || (okR && !meter::meterCanShow(r, 0)) || (okV && !meter::meterCanShow(0, v))) {
        ++m_skipped;
        return;
    }
    const double rv = okR ? r : NAN, vv = okV ? v : NAN;
    const QString grade = c.grade >= 0 && !f[c.grade].isEmpty() ? QString::fromUtf8(f[c.grade]) : QString();
    // A group exists once a line counts in it (a void line alone makes none).
    if (slot->all < 0) {
        Slot &s = m_slots[m_key];
        s.all = groupOf(s.allScope, s.limits);
        s.part = groupOf(s.partScope, s.limits);
        slot = m_lastSlot = m_slots.constFind(m_key);
    }
    add(slot->all, ms, timed, verdict, rv, vv, grade);
    add(slot->part, ms, timed, verdict, rv, vv, grade);
    // A record at a stage: the K its station wrote, or why it has none.
    if (cells && c.stage >= 0 && c.cellId >= 0 && okV && !f[c.stage].isEmpty()) {
        auto text = [&f](int column) { return column >= 0 ? QString::fromUtf8(f[column]) : QString(); };
        bool okK = false;
        const double k = c.kMvDay >= 0 ? journal::fieldNumber(f[c.kMvDay], &okK) : NAN;
        m_k.add({text(c.cellId), text(c.stage), ms, v, text(c.lot), text(c.reason), c.kMvDay >= 0, okK ? k : NAN, text(c.kNote)});
    }
    if (!cells && c.contact >= 0 && !f[c.contact].isEmpty()) {
        addContact(slot->all, f[c.contact], verdict);
        addContact(slot->part, f[c.contact], verdict);
    }
    // A line without a time has no place in the time order.
    if (timed && m_options.controlCharts)
        m_spc.add(slot->all, slot->part, ms, f[c.station], rv, vv);
    if (!cells)
        m_charts.add(slot->station, timed ? ms : -1, r, okR, v, okV);
}

void Collector::addContact(int group, const QByteArray &contact, meter::Verdict verdict)
{
    Settled &s = m_list[group].settled;
    ++s.known;
    if (contact != "settled")
        return;
    switch (verdict) {
    case meter::Verdict::Pass: ++s.pass; break;
    case meter::Verdict::Ng: ++s.ng; break;
    case meter::Verdict::None: ++s.none; break;
    }
}

void sortGroups(QVector<Group> &groups)
{
    std::stable_sort(groups.begin(), groups.end(), [&](const Group &a, const Group &b) {
        if (!(a.scope == b.scope))
            return a.scope < b.scope;
        return a.first < b.first; // limit periods in time order
    });
}

QVector<bool> overallById(const QVector<Group> &groups)
{
    QVector<bool> out;
    for (const Group &g : groups) {
        if (g.id >= out.size())
            out.resize(g.id + 1);
        out[g.id] = g.scope.overall();
    }
    return out;
}

void Collector::absorb(Collector &&other)
{
    QVector<int> ids(other.m_list.size());
    for (const Group &theirs : qAsConst(other.m_list)) {
        const int id = groupOf(theirs.scope, theirs.limits);
        ids[theirs.id] = id;
        stats::LotStats &s = m_list[id].stats;
        s.pass += theirs.stats.pass, s.ng += theirs.stats.ng, s.none += theirs.stats.none;
        for (auto it = theirs.stats.grades.cbegin(); it != theirs.stats.grades.cend(); ++it)
            s.grades[it.key()] += it.value();
        Settled &c = m_list[id].settled;
        c.known += theirs.settled.known, c.pass += theirs.settled.pass, c.ng += theirs.settled.ng, c.none += theirs.settled.none;
        QPair<qint64, qint64> &span = m_spans[id];
        span.first = std::min(span.first, other.m_spans[theirs.id].first);
        span.second = std::max(span.second, other.m_spans[theirs.id].second);
    }
    for (Part p : qAsConst(other.m_parts)) {
        p.group = ids[p.group];
        m_parts.append(p);
    }
    m_spc.absorb(std::move(other.m_spc), ids);
    m_charts.absorb(std::move(other.m_charts));
    m_k.absorb(std::move(other.m_k));
    m_lines += other.m_lines;
    m_skipped += other.m_skipped;
    m_used += other.m_used;
}

QVector<Group> Collector::groups()
{
    // In the order of their keys before sorting, as the database report's
    // are: periods that begin at the same moment keep that order.
    const auto ordered = [this] {
        QVector<Group> out;
        for (int id : qAsConst(m_index))
            out.append(m_list[id]);
        sortGroups(out);
        return out;
    };
    if (!m_spcDone) {
        foldParts();
        for (Group &g : m_list) {
            const QPair<qint64, qint64> &span = m_spans[g.id];
            if (span.first <= span.second)
                g.first = QDateTime::fromMSecsSinceEpoch(span.first), g.last = QDateTime::fromMSecsSinceEpoch(span.second);
        }
        // The charts' summary beside the control charts: neither needs the other.
        std::thread summary([this, plain = ordered()] { m_summary = m_charts.summarise(plain); });
        const QVector<Spc> spc = m_spc.compute(m_list.size(), overallById(m_list));
        summary.join();
        for (Group &g : m_list)
            g.spc = chartsOf(g, spc[g.id]);
        m_spcDone = true;
    }
    return ordered();
}

Spc chartsOf(const Group &g, const Spc &worked)
{
    if (g.limits.cells || g.settled.known == 0)
        return worked;
    Spc none;
    for (auto [from, to] : {std::pair(&worked.r, &none.r), std::pair(&worked.v, &none.v)}) {
        to->byContact = true;
        to->ruled = false;
        to->n = to->readings = from->n;
    }
    return none;
}

const Group *inForce(const QVector<Group> &groups)
{
    const Group *found = nullptr;
    for (const Group &g : groups)
        if (g.scope.kind == Scope::All && (!found || g.last > found->last))
            found = &g;
    return found;
}

void limitsOf(const Group *g, double *rLow, double *rHigh, double *vLow, double *vHigh)
{
    *rLow = g ? g->limits.value(g->limits.rLow) : NAN;
    *rHigh = g ? g->limits.value(g->limits.rHigh) : NAN;
    *vLow = g ? g->limits.value(g->limits.vLow) : NAN;
    *vHigh = g ? g->limits.value(g->limits.vHigh) : NAN;
}

qint64 Options::startMs() const
{
    return from.isValid() ? from.startOfDay(zone).toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
}

qint64 Options::endMs() const
{
    return to.isValid() ? to.addDays(1).startOfDay(zone).toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
}

bool Options::dayWithin(const QDate &day) const
{
    return (!from.isValid() || day >= from) && (!to.isValid() || day <= to);
}

bool Options::wanted(const QString &station, const QString *lot) const
{
    if (!stations.isEmpty() && !stations.contains(station))
        return false;
    // Readings carry no lot: asking for lots asks for cell records.
    return lots.isEmpty() || (lot && lots.contains(*lot));
}

Histogram Histogram::frame(double min, double max, double low, double high)
{
    Histogram h;
    double lo = min, hi = max;
    if (std::isfinite(low))
        lo = std::fmin(lo, low);
    if (std::isfinite(high))
        hi = std::fmax(hi, high);
    h.lo = lo;
    h.width = hi > lo ? (hi - lo) / kHistogramBins : 1.0;
    h.counts.fill(0, kHistogramBins);
    return h;
}

Histogram Histogram::frameBulk(double min, double q1, double q3, double max, double low, double high)
{
    const double iqr = q3 - q1;
    if (!(iqr > 0))
        return frame(min, max, low, high);
    const double lo = std::fmax(min, q1 - 3 * iqr), hi = std::fmin(max, q3 + 3 * iqr);
    // A limit far from the bulk would squeeze it as an outlier does.
    auto near = [&](double limit) { return std::isfinite(limit) && limit >= lo - 3 * (hi - lo) && limit <= hi + 3 * (hi - lo) ? limit : NAN; };
    return frame(lo, hi, near(low), near(high));
}

int Histogram::bin(double x) const
{
    return qBound(0, int((x - lo) / width), kHistogramBins - 1);
}

void Histogram::count(double x, double weight)
{
    if (x < lo)
        below += weight;
    else if (x > lo + width * kHistogramBins)
        above += weight;
    else
        counts[bin(x)] += weight;
}

namespace {

// Quartiles from an even sample of at most 100,000 values: a frame needs no more.
QPair<double, double> quartiles(const QVector<double> &values)
{
    const qint64 every = std::max<qint64>(1, values.size() / 100000);
    std::vector<double> sample;
    for (qint64 i = 0; i < values.size(); i += every)
        sample.push_back(values[int(i)]);
    auto at = [&sample](double p) {
        const auto k = sample.begin() + qint64(p * double(sample.size() - 1));
        std::nth_element(sample.begin(), k, sample.end());
        return *k;
    };
    const double q1 = at(0.25), q3 = at(0.75);
    return {q1, q3};
}

Histogram histogramOf(const ChartData::Thinned &values, const stats::RunningStats &all, double low, double high)
{
    if (values.kept.isEmpty())
        return Histogram();
    const auto [q1, q3] = quartiles(values.kept);
    Histogram h = Histogram::frameBulk(values.min, q1, q3, values.max, low, high);
    const double weight = values.scale();
    for (double x : values.kept)
        h.count(x, weight);
    h.estimated = values.every > 1;
    h.stats = all;
    return h;
}

} // namespace

void ChartData::Thinned::add(double x)
{
    min = std::min(min, x), max = std::max(max, x);
    ++seen;
    if (--skip > 0)
        return;
    skip = every;
    kept.append(x);
    if (kept.size() >= 2 * bound)
        halve();
}

void ChartData::Thinned::halve()
{
    int out = 0;
    for (int i = 0; i < kept.size(); i += 2)
        kept[out++] = kept[i];
    kept.resize(out);
    every *= 2;
    skip = every - (seen - 1) % every; // the next kept where every 2nd of the old ones was
}

void ChartData::Thinned::absorb(Thinned &&other)
{
    while (every < other.every)
        halve();
    while (other.every < every)
        other.halve();
    kept += other.kept;
    seen += other.seen;
    min = std::min(min, other.min), max = std::max(max, other.max);
    while (kept.size() >= 2 * bound)
        halve();
    other = Thinned();
}

void ChartData::add(const QString &station, qint64 ms, double r, bool hasR, double v, bool hasV)
{
    if (hasR) {
        m_r.add(r);
        if (!m_lastStation || station != m_lastName) {
            m_lastStation = &m_rByStation[station], m_lastName = station;
            m_lastStation->bound = kStationValuesKept;
        }
        m_lastStation->add(r);
    // The run chart keeps a bounded, even thinning of the points.
        if (m_runSeen++ % m_runEvery == 0 && ms >= 0) {
            m_run.append({ms, r});
            if (m_run.size() >= 2 * kRunPoints) {
                QVector<QPair<qint64, double>> half;
                half.reserve(kRunPoints);
                for (int i = 0; i < m_run.size(); i += 2)
                    half.append(m_run[i]);
                m_run.swap(half);
                m_runEvery *= 2;
            }
        }
    }
    if (hasV) {
        m_v.add(v);
    }
}

void ChartData::absorb(ChartData &&other)
{
    m_r.absorb(std::move(other.m_r));
    m_v.absorb(std::move(other.m_v));
    for (auto it = other.m_rByStation.begin(); it != other.m_rByStation.end(); ++it) {
        Thinned &mine = m_rByStation[it.key()];
        mine.bound = kStationValuesKept;
        mine.absorb(std::move(it.value()));
    }
    m_lastStation = nullptr;
    m_run += other.m_run;
    std::sort(m_run.begin(), m_run.end(), [](const QPair<qint64, double> &a, const QPair<qint64, double> &b) { return a.first < b.first; });
    m_runEvery = std::max(m_runEvery, other.m_runEvery);
    m_runSeen += other.m_runSeen;
    while (m_run.size() >= 2 * kRunPoints) {
        QVector<QPair<qint64, double>> half;
        half.reserve(m_run.size() / 2 + 1);
        for (int i = 0; i < m_run.size(); i += 2)
            half.append(m_run[i]);
        m_run.swap(half);
        m_runEvery *= 2;
    }
    other = ChartData();
}

Charts ChartData::summarise(const QVector<Group> &groups) const
{
    double rLow, rHigh, vLow, vHigh;
    limitsOf(inForce(groups), &rLow, &rHigh, &vLow, &vHigh);
    Charts c;
    // Every reading's R and V: the overall groups' sums (readings only, as here).
    stats::RunningStats rAll, vAll;
    for (const Group &g : groups)
        if (g.scope.kind == Scope::All)
            rAll.merge(g.stats.r), vAll.merge(g.stats.v);
    c.r = histogramOf(m_r, rAll, rLow, rHigh);
    c.v = histogramOf(m_v, vAll, vLow, vHigh);
    c.runStats = c.r.stats;
    c.run = m_run;
    std::sort(c.run.begin(), c.run.end());
    for (auto it = m_rByStation.cbegin(); it != m_rByStation.cend(); ++it) {
        QVector<double> v = it.value().kept;
        if (v.isEmpty())
            continue;
        // Each quartile selected in its part, not the whole sorted.
        auto at = [&v](double p) { return qBound(0, int(p * (v.size() - 1) + 0.5), v.size() - 1); };
        const int q1 = at(0.25), q2 = at(0.5), q3 = at(0.75);
        std::nth_element(v.begin(), v.begin() + q2, v.end());
        std::nth_element(v.begin(), v.begin() + q1, v.begin() + q2);
        std::nth_element(v.begin() + q2, v.begin() + q3, v.end());
        c.boxes.insert(it.key(), Box{it.value().min, v[q1], v[q2], v[q3], it.value().max});
    }
    return c;
}

Charts Collector::charts(const QVector<Group> &groups) const
{
    return m_spcDone ? m_summary : m_charts.summarise(groups);
}

bool limitsChanged(const QVector<Group> &groups)
{
    return std::count_if(groups.begin(), groups.end(), [](const Group &g) { return g.scope.kind == Scope::All; }) > 1;
}

namespace {

// Limits whose low bound is above the high one give no Cp/Cpk; said once.
QString limitsNote(double rl, double rh, double vl, double vh)
{
    QStringList sides;
    if (rl > rh)
        sides << QStringLiteral("R");
    if (vl > vh)
        sides << QStringLiteral("V");
    return sides.isEmpty() ? QString()
                           : QCoreApplication::translate("Report", "%1 的下限高于上限：不计算 Cp/Cpk").arg(punctuation::listed(sides));
}

// A quantity's cells: mean, σ, min, max, then Cp and Cpk (within σ) and
// Pp and Ppk (overall σ), each with its 95 % interval.
constexpr int kQuantityCells = 16;

SheetRow quantityCells(const stats::RunningStats &x, const SpcSeries &chart, double low, double high)
{
    const stats::Capability c = capabilityOf(x, chart, low, high);
    SheetRow out = {SheetCell::ofNumber(x.mean(), 4), SheetCell::ofNumber(x.stddev(), 4), SheetCell::ofNumber(x.min(), 4),
                    SheetCell::ofNumber(x.max(), 4)};
    for (const stats::Estimate *e : {&c.cp, &c.cpk, &c.pp, &c.ppk})
        out << SheetCell::ofNumber(e->value, 3) << SheetCell::ofNumber(e->low, 3) << SheetCell::ofNumber(e->high, 3);
    return out;
}

// Where a row's cells are.
constexpr int kRCells = 7, kVCells = kRCells + kQuantityCells, kGradesCell = kVCells + kQuantityCells, kNoteCell = kGradesCell + 1;

// CSV and JSON name scopes and limits the same in every language (scripts
// read them); the table and the pages in the language spoken.
QVector<SheetRow> rows(const QVector<Group> &groups, bool translated)
{
    QVector<SheetRow> out;
    for (const Group &g : groups) {
        const stats::LotStats &s = g.stats;
        const double rl = g.limits.value(g.limits.rLow), rh = g.limits.value(g.limits.rHigh);
        const double vl = g.limits.value(g.limits.vLow), vh = g.limits.value(g.limits.vHigh);
        QStringList grades;
        for (auto it = s.grades.cbegin(); it != s.grades.cend(); ++it)
            grades << QStringLiteral("%1:%2").arg(it.key()).arg(it.value());
        auto count = [](qint64 n) { return SheetCell::ofNumber(double(n), 0); };
        out.append(SheetRow{SheetCell::ofText(translated ? g.scope.text() : g.scope.key()), SheetCell::ofText(g.limits.text(translated)),
                            count(s.total()), count(s.pass), count(s.ng), count(s.none), SheetCell::ofNumber(s.yield() * 100, 2)}
                   + quantityCells(s.r, g.spc.r, rl, rh) + quantityCells(s.v, g.spc.v, vl, vh)
                   + SheetRow{SheetCell::ofText(grades.join(QLatin1Char(' '))), SheetCell::ofText(limitsNote(rl, rh, vl, vh))});
    }
    return out;
}

} // namespace

QStringList tableColumns()
{
    QStringList out = {"scope", "limits", "n", "pass", "ng", "no_verdict", "yield_percent"};
    for (const QString q : {"r", "v"}) {
        out << q + "_mean" << q + "_sd" << q + "_min" << q + "_max";
        for (const QString index : {"cp", "cpk", "pp", "ppk"})
            out << q + '_' + index << q + '_' + index + "_low" << q + '_' + index + "_high";
    }
    return out << "grades";
}

QVector<SheetRow> tableRows(const QVector<Group> &groups)
{
    QVector<SheetRow> out = rows(groups, false);
    for (SheetRow &row : out)
        row.removeLast(); // the note is the text table's
    return out;
}

stats::Capability capabilityOf(const stats::RunningStats &values, const SpcSeries &chart, double low, double high)
{
    if (chart.byContact) // the cells' capability is their records'
        low = high = NAN;
    stats::Capability c = stats::capability(values.count(), values.mean(), chart.sigmaWithin(), values.stddev(), low, high);
    c.normality = chart.normality;
    return c;
}

namespace {

QJsonObject capabilityJson(const stats::Capability &c)
{
    auto estimate = [](const stats::Estimate &e) {
        return QJsonObject{{"value", jsonNumber(e.value)}, {"low", jsonNumber(e.low)}, {"high", jsonNumber(e.high)}};
    };
    return QJsonObject{{"cp", estimate(c.cp)}, {"cpk", estimate(c.cpk)}, {"pp", estimate(c.pp)}, {"ppk", estimate(c.ppk)},
                       {"n", double(c.n)}, {"sigma_within", jsonNumber(c.sigmaWithin)}, {"sigma_overall", jsonNumber(c.sigmaOverall)},
                       {"normality", QJsonObject{{"ad", jsonNumber(c.normality.ad)}, {"p", jsonNumber(c.normality.p)},
                                                 {"p_below", c.normality.below}, {"n", double(c.normality.n)}}}};
}

// "Cp 1.67 [1.24, 2.09]"
QString estimateText(const char *name, const stats::Estimate &e)
{
    return QStringLiteral("%1 %2 [%3, %4]").arg(QLatin1String(name), numberText(e.value, 2), numberText(e.low, 2), numberText(e.high, 2));
}

// The capability lines of the table, with the normality it assumes.
QString capabilityText(const QString &quantity, const stats::Capability &c)
{
    if (std::isnan(c.cp.value) && std::isnan(c.cpk.value) && std::isnan(c.pp.value) && std::isnan(c.ppk.value))
        return QString(); // nothing to say: no spread, or no limit that applies
    QString out = QCoreApplication::translate("Report", "  能力 %1  %2  %3  %4  %5  （95% 置信区间）\n")
                      .arg(quantity, estimateText("Cp", c.cp), estimateText("Cpk", c.cpk), estimateText("Pp", c.pp), estimateText("Ppk", c.ppk));
    if (c.normalityRejected())
        out += QCoreApplication::translate("Report", "    注意：数据不呈正态（Anderson–Darling A² %1，p %2），以上指数假定正态，可能误导\n")
                   .arg(numberText(c.normality.ad, 3), c.normality.pText());
    return out;
}

bool bounded(double low, double high) { return std::isfinite(low) || std::isfinite(high); }

} // namespace

Yields yields(const QVector<Group> &groups)
{
    Yields y;
    for (const Group &g : groups) {
        const stats::LotStats &s = g.stats;
        if (g.scope.kind == Scope::Cells)
            y.cells.n += s.total(), y.cells.pass += s.pass, y.cells.ng += s.ng;
        if (g.scope.kind != Scope::All)
            continue;
        y.readings.n += s.total(), y.readings.pass += s.pass, y.readings.ng += s.ng;
        y.settled.n += g.settled.n(), y.settled.pass += g.settled.pass, y.settled.ng += g.settled.ng;
    }
    return y;
}

QString yieldsText(const Yields &y)
{
    auto percent = [](const Yields::One &o) { return std::isfinite(o.yield()) ? numberText(o.yield() * 100, 2) + QLatin1Char('%') : QStringLiteral("—"); };
    QString out;
    if (y.cells.n > 0)
        out += QCoreApplication::translate("Report", "电池良率 %1（%n 个电池记录）\n", nullptr, int(y.cells.n)).arg(percent(y.cells));
    if (y.settled.n > 0)
        out += QCoreApplication::translate("Report", "读数良率（仅稳定接触）%1（%n 个读数）\n", nullptr, int(y.settled.n)).arg(percent(y.settled));
    if (y.readings.n > 0 && (y.cells.n > 0 || y.settled.n > 0))
        out += QCoreApplication::translate("Report", "全部读数良率 %1（%n 个读数，含接触过程和抬起的探针）\n", nullptr, int(y.readings.n))
                   .arg(percent(y.readings));
    return out;
}

QString tableText(const QVector<Group> &groups)
{
    QString out;
    int i = 0;
    for (const SheetRow &row : rows(groups, true)) {
        QStringList r;
        for (const SheetCell &cell : row)
            r << cell.shown();
        const Group &g = groups[i++];
        out += QStringLiteral("%1  [%2]\n").arg(r[0], r[1]);
        out += QCoreApplication::translate("Report", "  n %1   PASS %2   NG %3   无判定 %4   良率 %5%\n").arg(r[2], r[3], r[4], r[5], r[6]);
        if (g.settled.known > 0)
            out += QCoreApplication::translate("Report", "  稳定接触的读数 %1   PASS %2   NG %3   良率 %4%\n")
                       .arg(g.settled.n())
                       .arg(g.settled.pass)
                       .arg(g.settled.ng)
                       .arg(std::isfinite(g.settled.yield()) ? numberText(g.settled.yield() * 100, 2) : QStringLiteral("—"));
        out += QCoreApplication::translate("Report", "  R (mΩ)  均值 %1  σ %2  最小 %3  最大 %4\n")
                   .arg(r[kRCells], r[kRCells + 1], r[kRCells + 2], r[kRCells + 3]);
        out += QCoreApplication::translate("Report", "  V (V)   均值 %1  σ %2  最小 %3  最大 %4\n")
                   .arg(r[kVCells], r[kVCells + 1], r[kVCells + 2], r[kVCells + 3]);
        if (!r[kGradesCell].isEmpty())
            out += QCoreApplication::translate("Report", "  等级 %1\n").arg(r[kGradesCell]);
        if (!r[kNoteCell].isEmpty())
            out += QStringLiteral("  %1\n").arg(r[kNoteCell]);
        const double rl = g.limits.value(g.limits.rLow), rh = g.limits.value(g.limits.rHigh);
        const double vl = g.limits.value(g.limits.vLow), vh = g.limits.value(g.limits.vHigh);
        if (bounded(rl, rh) && g.stats.r.count() > 1)
            out += capabilityText(QStringLiteral("R"), capabilityOf(g.stats.r, g.spc.r, rl, rh));
        if (bounded(vl, vh) && g.stats.v.count() > 1)
            out += capabilityText(QStringLiteral("V"), capabilityOf(g.stats.v, g.spc.v, vl, vh));
        if (g.spc.r.byContact)
            out += QCoreApplication::translate("Report", "  控制图和能力：无。读数是一次次接触测的，每次一个电池，读数的高低是电池之间的差别，"
                                                         "不是过程的变化；见单体记录的组\n");
        // The control charts' limits and their signals, rule by rule.
        for (const auto &[name, s] : {std::pair<QString, const SpcSeries *>(QStringLiteral("R"), &g.spc.r),
                                      std::pair<QString, const SpcSeries *>(QStringLiteral("V"), &g.spc.v)}) {
            if (!s->limits.valid)
                continue;
            const QString counts = ruleCounts(*s);
            const QString said = !s->ruled ? QCoreApplication::translate("Report", "不检查（混有多个工位）")
                                 : counts.isEmpty() ? QCoreApplication::translate("Report", "无") : counts;
            out += QCoreApplication::translate("Report", "  控制图 %1  中心 %2  σ̂ %3  UCL %4  LCL %5  信号 %6\n")
                       .arg(s->subgroup > 1 ? QCoreApplication::translate("Report", "%1（X̄-R，子组 %2）").arg(name).arg(s->subgroup) : name,
                            numberText(s->limits.centre), numberText(s->limits.sigma), numberText(s->limits.ucl()),
                            numberText(s->limits.lcl()), said);
            if (s->sampleEvery > 1)
                out += QCoreApplication::translate("Report", "    （控制图取自样本：%1 个读数中每 %2 个取 1 个，共 %3 个）\n")
                           .arg(s->readings).arg(s->sampleEvery).arg(s->n);
            if (s->revised())
                out += QCoreApplication::translate("Report", "    （控制限已修正：%n 个超出试算控制限的读数未计入）\n", nullptr, int(s->setAside));
            if (s->unrevised > 0)
                out += unrevisedText(*s);
        }
    }
    return out;
}

QString tableCsv(const QVector<Group> &groups)
{
    // A byte-order mark: spreadsheets read UTF-8 without one as the local code page.
    QString out = QChar(0xFEFF) + tableColumns().join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const SheetRow &row : tableRows(groups)) {
        QStringList fields;
        // Text is quoted as CSV needs (a grade may be named "=…"); a number
        // goes as it is, none as an empty field.
        for (const SheetCell &cell : row)
            fields << (!cell.isNumber() ? journal::csvField(cell.text) : std::isfinite(cell.number) ? cell.shown() : QString());
        out += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out;
}

namespace {

// In the machine's own zone. Its offset is looked up once per quarter hour
// of signals (zones change offset only on quarter hours), not at each of
// tens of thousands: the C library reads the zone's file at every lookup.
QString signalTime(qint64 ms)
{
    // The local offset once per quarter of an hour (the C library reads the
    // zone file's state at each question), kept across the series: the JSON
    // and the CSV go through R's signals, then V's, each in time order.
    static QHash<qint64, int> offsets;
    const qint64 q = ms >= 0 ? ms / 900000 : (ms - 899999) / 900000;
    auto it = offsets.constFind(q);
    if (it == offsets.constEnd()) {
        if (offsets.size() > 100000)
            offsets.clear();
        it = offsets.insert(q, QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc());
    }
    return journal::isoTime(QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, it.value()));
}

QJsonObject spcJson(const SpcSeries &s)
{
    const bool ok = s.limits.valid;
    QJsonArray signals_;
    for (const SpcSignal &x : s.signalled)
        signals_.append(QJsonObject{{"rule", x.rule}, {"index", double(x.index)}, {"time", signalTime(x.ms)}, {"value", x.value}});
    QJsonObject counts;
    for (int rule = 1; rule <= 8; ++rule)
        if (s.count(rule))
            counts.insert(QString::number(rule), double(s.count(rule)));
    return QJsonObject{{"n", double(s.n)},
                       {"subgroup", s.subgroup},
                       {"points", double(s.charted)},
                       {"rules_checked", s.ruled},
                       {"mixed_stations", s.mixed},
                       {"readings", double(s.readings)},
                       {"sample_every", double(s.sampleEvery)},
                       {"counts", counts},
                       {"truncated", s.truncated()},
                       {"cl", ok ? jsonNumber(s.limits.centre) : QJsonValue()},
                       {"ucl", ok ? jsonNumber(s.limits.ucl()) : QJsonValue()},
                       {"lcl", ok ? jsonNumber(s.limits.lcl()) : QJsonValue()},
                       {"sigma", ok ? jsonNumber(s.limits.sigma) : QJsonValue()},
                       {"sigma_within", ok ? jsonNumber(s.sigmaWithin()) : QJsonValue()},
                       {"range_cl", jsonNumber(s.averageRange)},
                       {"range_ucl", jsonNumber(s.rangeHigh())},
                       {"range_lcl", jsonNumber(s.rangeLow())},
                       {"revised", s.revised()},
                       {"set_aside", double(s.setAside)},
                       {"unrevised", double(s.unrevised)},
                       {"by_contact", s.byContact},
                       {"signals", signals_}};
}

} // namespace

QString unrevisedText(const SpcSeries &s)
{
    return QCoreApplication::translate("Report", "    （控制限未修正：%1 个读数中 %2 个超出试算控制限，多于四分之一，不是一个过程外的几个异常；试算控制限保留）\n")
        .arg(s.n)
        .arg(s.unrevised);
}

QString ruleCounts(const SpcSeries &s)
{
    QStringList counts;
    for (int rule = 1; rule <= 8; ++rule)
        if (const qint64 n = s.count(rule))
            counts << QCoreApplication::translate("Report", "规则%1×%2").arg(rule).arg(n);
    return counts.join(QLatin1Char(' '));
}

QString signalsCsv(const QVector<Group> &groups)
{
    QString out = QChar(0xFEFF) + QStringLiteral("scope,limits,quantity,rule,index,time,value,rule_text\n");
    QStringList rules;
    for (int rule = 1; rule <= 8; ++rule)
        rules << journal::csvField(stats::ruleText(rule));
    for (const Group &g : groups) {
        const QString head = journal::csvField(g.scope.key()) + QLatin1Char(',') + journal::csvField(g.limits.text()) + QLatin1Char(',');
        for (const auto &[quantity, series] : {std::pair<QString, const SpcSeries *>(QStringLiteral("r,"), &g.spc.r),
                                               std::pair<QString, const SpcSeries *>(QStringLiteral("v,"), &g.spc.v)})
            for (const SpcSignal &x : series->signalled)
                out += head + quantity + QString::number(x.rule) + QLatin1Char(',') + QString::number(x.index) + QLatin1Char(',')
                       + signalTime(x.ms) + QLatin1Char(',') + journal::plainNumber(x.value) + QLatin1Char(',') + rules[x.rule - 1]
                       + QLatin1Char('\n');
    }
    return out;
}

QByteArray tableJson(const QVector<Group> &groups, qint64 lines, qint64 skipped, bool controlCharts, const QVector<KGroup> &k,
                     const QDateTime &until)
{
    QJsonArray array;
    for (const Group &g : groups) {
        const stats::LotStats &s = g.stats;
        const double rl = g.limits.value(g.limits.rLow), rh = g.limits.value(g.limits.rHigh);
        const double vl = g.limits.value(g.limits.vLow), vh = g.limits.value(g.limits.vHigh);
        QJsonObject grades;
        for (auto it = s.grades.cbegin(); it != s.grades.cend(); ++it)
            grades.insert(it.key(), double(it.value()));
        // Cp, Cpk within σ and Pp, Ppk overall, as the capability objects say them.
        auto side = [](const stats::RunningStats &x, const SpcSeries &chart, double lo, double hi) {
            const stats::Capability c = capabilityOf(x, chart, lo, hi);
            return QJsonObject{{"mean", jsonNumber(x.mean())},   {"sd", jsonNumber(x.stddev())},
                               {"min", jsonNumber(x.min())},     {"max", jsonNumber(x.max())},
                               {"cp", jsonNumber(c.cp.value)},   {"cpk", jsonNumber(c.cpk.value)},
                               {"pp", jsonNumber(c.pp.value)},   {"ppk", jsonNumber(c.ppk.value)}};
        };
        // The limits as numbers (null: not set) for scripts, and as the files name them.
        QJsonObject limits;
        for (const auto &[key, text] : {std::pair<const char *, const QString *>("r_low", &g.limits.rLow), {"r_high", &g.limits.rHigh},
                                        {"v_low", &g.limits.vLow}, {"v_high", &g.limits.vHigh}})
            limits.insert(QLatin1String(key), text->isEmpty() ? QJsonValue(QJsonValue::Null) : jsonNumber(g.limits.value(*text)));
        QJsonObject group{{"scope", g.scope.json(g.limits)}, {"limits", limits}, {"limits_text", g.limits.text()}, {"n", double(s.total())},
                          {"pass", double(s.pass)}, {"ng", double(s.ng)}, {"no_verdict", double(s.none)},
                          {"yield", jsonNumber(s.yield())}, {"r", side(s.r, g.spc.r, rl, rh)}, {"v", side(s.v, g.spc.v, vl, vh)},
                          {"grades", grades}};
        if (controlCharts)
            group.insert("spc", QJsonObject{{"r", spcJson(g.spc.r)}, {"v", spcJson(g.spc.v)}});
        if (bounded(rl, rh))
            group.insert("capability", capabilityJson(capabilityOf(s.r, g.spc.r, rl, rh)));
        if (bounded(vl, vh))
            group.insert("capability_v", capabilityJson(capabilityOf(s.v, g.spc.v, vl, vh)));
        if (g.settled.known > 0)
            group.insert("settled", QJsonObject{{"n", double(g.settled.n())}, {"pass", double(g.settled.pass)},
                                                {"ng", double(g.settled.ng)}, {"yield", jsonNumber(g.settled.yield())}});
        array.append(group);
    }
    const Yields y = yields(groups);
    auto one = [](const Yields::One &o) {
        return QJsonObject{{"n", double(o.n)}, {"pass", double(o.pass)}, {"ng", double(o.ng)}, {"yield", jsonNumber(o.yield())}};
    };
    const QJsonObject all{{"cells", one(y.cells)}, {"settled_readings", one(y.settled)}, {"readings", one(y.readings)}};
    QJsonObject root{{"lines", double(lines)}, {"skipped", double(skipped)}, {"yields", all}, {"groups", array}, {"k", kJson(k)}};
    if (until.isValid())
        root.insert("data_until", until.toUTC().toString(Qt::ISODateWithMs));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace report
