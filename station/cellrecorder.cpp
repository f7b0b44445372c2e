#include "cellrecorder.h"

#include "cellsfile.h"

#include "journal/journal.h"

#include "platform/regularfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <climits>
#include <utility>

namespace station {

const char *const kCellsHeader =
    "time,station,operator,lot,record,cell_id,r_mohm,v,verdict,grade,set,r_range,v_range,settled_by,voids,"
    "r_low,r_high,v_low,v_high,spc,stage,k_mv_day,rest_days,reason,k_note";

namespace {

QString bound(double value)
{
    return std::isfinite(value) ? journal::plainNumber(value) : QString();
}

} // namespace

QString verdictText(meter::Verdict verdict)
{
    switch (verdict) {
    case meter::Verdict::Pass: return QStringLiteral("PASS");
    case meter::Verdict::Ng: return QStringLiteral("NG");
    case meter::Verdict::None: break;
    }
    return QString();
}

QString cellsCsvLine(const CellRecord &r)
{
    using journal::csvField;
    const QLatin1Char comma(',');
    return journal::isoTime(r.time) + comma + csvField(r.station) + comma + csvField(r.operatorName) + comma
           + csvField(r.lot) + comma + csvField(r.id) + comma + csvField(r.cellId) + comma
           + journal::plainNumber(r.rMilliOhm) + comma + journal::plainNumber(r.v) + comma
           + (r.voids.isEmpty() ? verdictText(r.verdict) : QStringLiteral("VOID")) + comma
           + csvField(r.grade) + comma + csvField(r.setName) + comma + csvField(r.rRange) + comma
           + csvField(r.vRange) + comma + QString::number(r.settledBy) + comma + csvField(r.voids) + comma
           + bound(r.rLow) + comma + bound(r.rHigh) + comma + bound(r.vLow) + comma + bound(r.vHigh) + comma
           + csvField(r.spc) + comma + csvField(r.stage) + comma + bound(r.kMvDay) + comma + bound(r.restDays) + comma
           + csvField(r.reason) + comma + csvField(r.kNote);
}

QString spcText(const stats::LotControl::Fired &fired)
{
    QStringList rules;
    for (const auto &[side, bits] : {std::pair<QChar, unsigned>(QLatin1Char('R'), fired.r), {QLatin1Char('V'), fired.v}})
        for (int rule : stats::firedRules(bits))
            rules << side + QString::number(rule);
    return rules.join(QLatin1Char(' '));
}

CellRecorder::CellRecorder(const QString &folder, const QString &stationName, QObject *parent)
    : QObject(parent), m_file(folder, QLatin1String(journal::kCellsPrefix), kCellsHeader), m_stationName(stationName),
      m_history(folder)
{
}

void CellRecorder::annotate(meter::MeterReading &reading)
{
    using Contact = meter::MeterReading::Contact;
    const CellCapture::Event event = m_capture.feed(reading);
    m_annotated.append({reading.frameCount, event});
    reading.contact = reading.overloaded()                                   ? Contact::Open
                      : m_capture.state() == CellCapture::State::Settling ? Contact::Settling
                                                                           : Contact::Settled;
}

void CellRecorder::takeBurst(const meter::ReadingBurst &burst)
{
    m_port = burst.port;
    for (const meter::MeterReading &reading : burst.readings) {
        // Found before the sinks took it, or (a burst from elsewhere) now.
        CellCapture::Event event;
        if (!m_annotated.isEmpty() && m_annotated.first().first == reading.frameCount)
            event = m_annotated.takeFirst().second;
        else
            event = m_capture.feed(reading);
        switch (event) {
        case CellCapture::Event::Captured:
            if (mayRecord())
                record(reading, m_capture.window().size());
            break;
        case CellCapture::Event::Unsettled:
            emit unsettled(m_capture.unsettledMs(), m_capture.settings());
            break;
        case CellCapture::Event::None:
            break;
        }
    }
}

CellRecorder::Need CellRecorder::need() const
{
    if (m_requireLot && m_lot.isEmpty())
        return Need::Lot;
    if (m_requireId && m_pendingId.isEmpty())
        return Need::Id;
    return Need::Nothing;
}

bool CellRecorder::mayRecord()
{
    switch (need()) {
    case Need::Lot: emit note(tr("未记录：请先开始批次（新批次…）")); return false;
    case Need::Id: emit note(tr("先扫码")); return false;
    case Need::Nothing: break;
    }
    return true;
}

bool CellRecorder::captureNow()
{
    if (!m_capture.hasContact()) {
        emit note(tr("没有可记录的读数：探针未接触电池"));
        return false;
    }
    if (!mayRecord())
        return false;
    const meter::MeterReading reading = m_capture.current();
    m_capture.capturedByHand();
    record(reading, 1);
    return true;
}

int CellRecorder::nextNumber(const QDate &day)
{
    if (day != m_day) {
        // Numbers go on after what the day's file already holds.
        m_day = day;
        m_nextNumber = 1;
        QFile existing;
        if (openRegularFile(existing, m_file.fileFor(day), QIODevice::ReadOnly, nullptr)) {
            qint64 lines = 0;
            while (!existing.atEnd()) {
                const QByteArray block = existing.read(1 << 20);
                if (block.isEmpty())
                    break;
                lines += block.count('\n');
            }
            m_nextNumber = int(qBound<qint64>(1, lines, INT_MAX));
        }
    }
    return m_nextNumber++;
}

void CellRecorder::selfDischarge(CellRecord &r)
{
    if (m_active.kFrom.isEmpty() || r.cellId.isEmpty())
        return;
    std::optional<StageHistory::Earlier> earlier = m_history.latest(r.cellId, m_active.kFrom, r.time);
    if (m_earlierLookup) {
        const std::optional<StageHistory::Earlier> elsewhere = m_earlierLookup(r.cellId, m_active.kFrom, r.time);
        if (elsewhere && (!earlier || elsewhere->time > earlier->time))
            earlier = elsewhere;
    }
    if (!earlier) {
        r.kNote = QLatin1String(kNoEarlier);
        return;
    }
    r.restDays = double(earlier->time.msecsTo(r.time)) / 86400000.0;
    if (r.restDays < m_active.minRestDays) {
        r.kNote = QLatin1String(kShortRest);
        return;
    }
    // The voltage lost per day of rest, in mV.
    r.kMvDay = r.restDays > 0 ? (earlier->v - r.v) * 1000.0 / r.restDays : NAN;
}

void CellRecorder::judge(CellRecord &r, const meter::MeterReading &reading)
{
    if (activeSet()) {
        // The set judges by the bounds it has, whatever the window's four
        // fields make of a set with R or V only.
        selfDischarge(r);
        QStringList failed;
        r.verdict = m_active.judge(r.rMilliOhm, r.v, r.kMvDay, &failed);
        if (m_active.needsK() && !r.kNote.isEmpty()) {
            // No K, no knowing it is not a micro-short: never the good bin.
            failed << QStringLiteral("K");
            r.verdict = meter::Verdict::Ng;
        }
        r.reason = failed.join(QLatin1Char(' '));
        r.grade = m_active.gradeFor(r.rMilliOhm, r.verdict, r.kMvDay);
        if (m_active.r.set)
            r.rLow = m_active.r.lowValue(), r.rHigh = m_active.r.highValue();
        if (m_active.v.set)
            r.vLow = m_active.v.lowValue(), r.vHigh = m_active.v.highValue();
        return;
    }
    r.verdict = reading.verdict;
    r.grade = r.verdict == meter::Verdict::Ng ? QStringLiteral("NG") : QString();
    const meter::Limits &l = reading.limits;
    auto value = [](const meter::Limit &limit) { return limit.state == meter::Limit::Number ? limit.value : NAN; };
    r.rLow = value(l.rLow), r.rHigh = value(l.rHigh), r.vLow = value(l.vLow), r.vHigh = value(l.vHigh);
    // The window's fields: what failed, as the set says it.
    QStringList failed;
    if (r.verdict == meter::Verdict::Ng) {
        if (std::isfinite(r.rLow) && std::isfinite(r.rHigh) && !(r.rMilliOhm >= r.rLow && r.rMilliOhm <= r.rHigh))
            failed << QStringLiteral("R");
        if (std::isfinite(r.vLow) && std::isfinite(r.vHigh) && !(std::fabs(r.v) >= r.vLow && std::fabs(r.v) <= r.vHigh))
            failed << QStringLiteral("V");
    }
    r.reason = failed.join(QLatin1Char(' '));
}

void CellRecorder::record(const meter::MeterReading &reading, int settledBy)
{
    CellRecord r;
    r.time = reading.time;
    const QDate day = r.time.date();
    r.station = m_stationName;
    r.operatorName = m_operator;
    r.lot = m_lot;
    r.cellId = m_pendingId;
    r.rMilliOhm = reading.rMilliOhms();
    r.v = reading.signedVolts();
    r.setName = m_active.name;
    r.stage = stage();
    judge(r, reading);
    if (r.verdict == meter::Verdict::Ng && m_active.retestNg && !m_retested) {
        // An NG at the probes is more often the contact than the cell: the
        // set asks for one more contact before it is recorded.
        m_retested = true;
        emit note(tr("NG（%1）：请重新放置电池，再测一次").arg(r.reason));
        return;
    }
    m_retested = false;
    r.id = recordId(day, nextNumber(day));
    r.rRange = reading.rRangeText;
    r.vRange = reading.vRangeText;
    r.settledBy = settledBy;
    // Checked before it is written: the record carries what it fired.
    const stats::LotControl::Fired fired = m_control.add(r.rMilliOhm, r.v, r.verdict != meter::Verdict::Ng, r.id);
    r.spc = spcText(fired);
    // A re-measured cell: the earlier record is voided just before.
    if (!m_remeasures.isEmpty())
        voidRecord(std::exchange(m_remeasures, QString()));
    m_file.append(day, cellsCsvLine(r).toUtf8() + '\n');
    kept(r, fired);
}

void CellRecorder::kept(const CellRecord &r, const stats::LotControl::Fired &fired)
{
    m_lotRecords.push_front(r);
    recount();
    if (!m_pendingId.isEmpty()) {
        m_pendingId.clear();
        emit pendingIdChanged(m_pendingId);
    }
    emit recorded(r);
    if (fired.r || fired.v)
        emit outOfControl(r, fired.r, fired.v);
    emit statsChanged(QString());
}

QString CellRecorder::recordId(const QDate &day, int number) const
{
    // The station's name goes first: files of two stations merged in one
    // report never share a record, so a void in one names none of the other's.
    return m_stationName + QLatin1Char('-') + day.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('-')
           + QString::number(number);
}

const CellRecord *CellRecorder::lastRecord() const
{
    for (const CellRecord &r : m_lotRecords)
        if (!r.voided)
            return &r;
    return nullptr;
}

bool CellRecorder::voidLast()
{
    const CellRecord *last = lastRecord();
    return last && voidRecord(last->id);
}

bool CellRecorder::voidRecord(const QString &id)
{
    // Nothing is deleted: a line that names the voided record is added.
    for (CellRecord &r : m_lotRecords) {
        if (r.id != id || r.voided)
            continue;
        r.voided = true;
        CellRecord line = r;
        line.voided = false;
        line.voids = id;
        line.spc.clear();
        line.time = QDateTime::currentDateTime();
        const QDate day = line.time.date();
        line.id = day == m_day ? recordId(m_day, nextNumber(day)) : id + QStringLiteral("-void");
        m_file.append(day, cellsCsvLine(line).toUtf8() + '\n');
        // The control charts as if the voided record had never been: its
        // place in the first records' limits goes to the next one.
        replayControl();
        recount();
        emit voidedRecord(id);
        emit statsChanged(QString());
        return true;
    }
    return false;
}

void CellRecorder::replayControl()
{
    m_control.restart();
    for (auto l = m_lotRecords.crbegin(); l != m_lotRecords.crend(); ++l)
        if (!l->voided && l->setName == m_active.name)
            m_control.add(l->rMilliOhm, l->v, l->verdict != meter::Verdict::Ng, l->id);
}

QString enteredTextProblem(const QString &text)
{
    if (text.size() > kMaxEnteredLength)
        return CellRecorder::tr("太长：最多 %1 个字符（输入了 %2 个）").arg(kMaxEnteredLength).arg(text.size());
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return CellRecorder::tr("含有控制字符或换行（U+%1）").arg(int(c.unicode()), 4, 16, QLatin1Char('0'));
    return QString();
}

void CellRecorder::enterCode(const QString &code)
{
    const QString text = code.trimmed();
    if (text.isEmpty())
        return;
    // A pasted line break or escape sequence would end up in every file and
    // message that carries the ID; a 32 kB paste would slow every record.
    const QString problem = enteredTextProblem(text);
    if (!problem.isEmpty()) {
        emit note(tr("未接受的编号：%1").arg(problem));
        return;
    }
    if (m_sets.find(text)) {
        selectSet(text);
        return;
    }
    for (const CellRecord &r : m_lotRecords) {
        if (!r.voided && r.cellId == text) {
            emit duplicateId(text, r.id);
            return;
        }
    }
    m_remeasures.clear();
    m_retested = false; // another cell: its own retest
    m_pendingId = text;
    emit pendingIdChanged(m_pendingId);
}

void CellRecorder::remeasure(const QString &cellId)
{
    for (const CellRecord &r : m_lotRecords) {
        if (!r.voided && r.cellId == cellId) {
            m_remeasures = r.id;
            m_pendingId = cellId;
            emit pendingIdChanged(m_pendingId);
            return;
        }
    }
}

bool CellRecorder::selectSet(const QString &name)
{
    const LimitSet *set = m_sets.find(name);
    if (!set)
        return false;
    m_active = *set;
    if (!m_active.kFrom.isEmpty())
        m_history.prime(QDate::currentDate());
    if (m_limitsInForce)
        m_limitsInForce->set(limitsOf(*set));
    emit setSelected(m_active.name);
    restartStats(tr("限值组已改为 %1：统计重新开始").arg(m_active.name));
    return true;
}

void CellRecorder::selectRemembered(const QString &name)
{
    if (name.isEmpty() || selectSet(name))
        return;
    emit note(tr("上次的限值组“%1”已不在限值组文件中：未选用限值组").arg(name));
}

void CellRecorder::startLot(const QString &name)
{
    const QString problem = enteredTextProblem(name.trimmed());
    if (!problem.isEmpty()) {
        emit note(tr("未接受的批次名称：%1").arg(problem));
        return;
    }
    m_lot = name.trimmed();
    loadLot();
    emit lotStarted(m_lot);
    const int earlier = m_lotRecords.size();
    restartStats(earlier == 0 ? tr("新批次 %1：统计重新开始").arg(m_lot)
                              : tr("批次 %1 继续：今天已有 %n 条记录", nullptr, earlier).arg(m_lot));
}

void CellRecorder::loadLot()
{
    m_lotRecords.clear();
    m_remeasures.clear();
    if (m_lot.isEmpty())
        return;
    m_file.writeWaitingNow(); // what waits belongs in what is read
    CellsFile today;
    QString error;
    const QString path = m_file.fileFor(QDate::currentDate());
    if (QFileInfo::exists(path) && !readCellsFile(path, &today, &error))
        emit note(error);
    QSet<QString> voided;
    for (const CellRecord &r : qAsConst(today.lines))
        if (!r.voids.isEmpty())
            voided.insert(r.voids);
    for (CellRecord r : qAsConst(today.lines)) {
        if (r.lot != m_lot || !r.voids.isEmpty())
            continue;
        r.voided = voided.contains(r.id);
        m_lotRecords.push_front(r);
    }
}

void CellRecorder::restartStats(const QString &why)
{
    replayControl();
    recount();
    emit statsChanged(why);
}

void CellRecorder::recount()
{
    m_stats = stats::LotStats();
    m_lotR.clear();
    for (auto it = m_lotRecords.crbegin(); it != m_lotRecords.crend(); ++it) {
        const CellRecord &r = *it;
        if (r.voided || r.setName != m_active.name)
            continue;
        switch (r.verdict) {
        case meter::Verdict::Pass: ++m_stats.pass; break;
        case meter::Verdict::Ng: ++m_stats.ng; break;
        case meter::Verdict::None: ++m_stats.none; break;
        }
        if (!r.grade.isEmpty())
            ++m_stats.grades[r.grade];
        m_stats.r.add(r.rMilliOhm);
        m_stats.v.add(r.v);
        m_lotR.append(r.rMilliOhm);
    }
}

} // namespace station
