#include "cellrecorder.h"

#include "journal/journal.h"

#include "platform/regularfile.h"

#include <QFile>

#include <climits>

namespace station {

const char *const kCellsHeader =
    "time,station,operator,lot,record,cell_id,r_mohm,v,verdict,grade,set,r_range,v_range,settled_by,voids,"
    "r_low,r_high,v_low,v_high,spc";

namespace {

QString verdictText(const CellRecord &r)
{
    if (!r.voids.isEmpty())
        return QStringLiteral("VOID");
    switch (r.verdict) {
    case meter::Verdict::Pass: return QStringLiteral("PASS");
    case meter::Verdict::Ng: return QStringLiteral("NG");
    case meter::Verdict::None: break;
    }
    return QString();
}

QString bound(double value)
{
    return std::isfinite(value) ? journal::plainNumber(value) : QString();
}

} // namespace

QString cellsCsvLine(const CellRecord &r)
{
    using journal::csvField;
    const QLatin1Char comma(',');
    return journal::isoTime(r.time) + comma + csvField(r.station) + comma + csvField(r.operatorName) + comma
           + csvField(r.lot) + comma + csvField(r.id) + comma + csvField(r.cellId) + comma
           + journal::plainNumber(r.rMilliOhm) + comma + journal::plainNumber(r.v) + comma + verdictText(r) + comma
           + csvField(r.grade) + comma + csvField(r.setName) + comma + csvField(r.rRange) + comma
           + csvField(r.vRange) + comma + QString::number(r.settledBy) + comma + csvField(r.voids) + comma
           + bound(r.rLow) + comma + bound(r.rHigh) + comma + bound(r.vLow) + comma + bound(r.vHigh) + comma
           + csvField(r.spc);
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
    : QObject(parent), m_file(folder, QLatin1String(journal::kCellsPrefix), kCellsHeader), m_stationName(stationName)
{
}

void CellRecorder::takeBurst(const meter::ReadingBurst &burst)
{
    m_port = burst.port;
    for (const meter::MeterReading &reading : burst.readings) {
        switch (m_capture.feed(reading)) {
        case CellCapture::Event::Captured:
            if (m_requireId && m_pendingId.isEmpty()) {
                emit note(tr("未记录：请先扫描电池编号"));
                break;
            }
            record(reading, m_capture.window().size());
            break;
        case CellCapture::Event::Unsettled:
            emit unsettled();
            break;
        case CellCapture::Event::None:
            break;
        }
    }
}

bool CellRecorder::captureNow()
{
    if (!m_capture.hasContact()) {
        emit note(tr("没有可记录的读数：探针未接触电池"));
        return false;
    }
    if (m_requireId && m_pendingId.isEmpty()) {
        emit note(tr("未记录：请先扫描电池编号"));
        return false;
    }
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

void CellRecorder::judge(CellRecord &r, const meter::MeterReading &reading) const
{
    if (activeSet()) {
        // The set judges by the bounds it has, whatever the window's four
        // fields make of a set with R or V only.
        r.verdict = m_active.judge(r.rMilliOhm, r.v);
        r.grade = m_active.gradeFor(r.rMilliOhm, r.verdict);
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
}

void CellRecorder::record(const meter::MeterReading &reading, int settledBy)
{
    CellRecord r;
    r.time = reading.time;
    const QDate day = r.time.date();
    r.id = recordId(day, nextNumber(day));
    r.station = m_stationName;
    r.operatorName = m_operator;
    r.lot = m_lot;
    r.cellId = m_pendingId;
    r.rMilliOhm = reading.rMilliOhms();
    r.v = reading.signedVolts();
    r.setName = m_active.name;
    judge(r, reading);
    r.rRange = reading.rRangeText;
    r.vRange = reading.vRangeText;
    r.settledBy = settledBy;
    // Checked before it is written: the record carries what it fired.
    const stats::LotControl::Fired fired = m_control.add(r.rMilliOhm, r.v, r.verdict != meter::Verdict::Ng, r.id);
    r.spc = spcText(fired);
    m_file.append(day, cellsCsvLine(r).toUtf8() + '\n');
    kept(r, fired);
}

void CellRecorder::kept(const CellRecord &r, const stats::LotControl::Fired &fired)
{
    m_records.push_front(r);
    if (m_records.size() > 1000)
        m_records.pop_back();
    m_lotRecords.append(r);
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

bool CellRecorder::voidLast()
{
    for (const CellRecord &r : m_records)
        if (!r.voided)
            return voidRecord(r.id);
    return false;
}

bool CellRecorder::voidRecord(const QString &id)
{
    // Nothing is deleted: a line that names the voided record is added.
    for (CellRecord &r : m_records) {
        if (r.id != id || r.voided)
            continue;
        r.voided = true;
        CellRecord line = r;
        line.voided = false;
        line.voids = id;
        line.spc.clear();
        line.time = QDateTime::currentDateTime();
        line.id = line.time.date() == m_day ? recordId(m_day, m_nextNumber++) : id + QStringLiteral("-void");
        m_file.append(line.time.date(), cellsCsvLine(line).toUtf8() + '\n');
        for (CellRecord &l : m_lotRecords)
            if (l.id == id)
                l.voided = true;
        // The control charts as if the voided record had never been: its
        // place in the first records' limits goes to the next one.
        m_control.restart();
        for (const CellRecord &l : qAsConst(m_lotRecords))
            if (!l.voided)
                m_control.add(l.rMilliOhm, l.v, l.verdict != meter::Verdict::Ng, l.id);
        recount();
        emit voidedRecord(id);
        emit statsChanged(QString());
        return true;
    }
    return false;
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
    m_pendingId = text;
    emit pendingIdChanged(m_pendingId);
}

bool CellRecorder::selectSet(const QString &name)
{
    const LimitSet *set = m_sets.find(name);
    if (!set)
        return false;
    m_active = *set;
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
    restartStats(tr("新批次 %1：统计重新开始").arg(m_lot));
}

void CellRecorder::restartStats(const QString &why)
{
    m_lotRecords.clear();
    m_control.restart();
    recount();
    emit statsChanged(why);
}

void CellRecorder::recount()
{
    m_stats = stats::LotStats();
    m_lotR.clear();
    for (const CellRecord &r : m_lotRecords) {
        if (r.voided)
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
