#include "cellsfile.h"

#include "journal/csvrecords.h"
#include "platform/regularfile.h"

#include <QCoreApplication>
#include <QFile>

namespace station {

namespace {

struct Columns
{
    explicit Columns(const QList<QByteArray> &header) : names(header) {}
    int operator[](const char *name) const { return int(names.indexOf(QByteArray(name))); }
    bool usable() const
    {
        for (const char *name : {"time", "station", "record", "cell_id", "r_mohm", "v", "verdict"})
            if ((*this)[name] < 0)
                return false;
        return true;
    }
    QList<QByteArray> names;
};

double numberOr(const QByteArray &field, double fallback)
{
    bool ok = false;
    const double x = field.toDouble(&ok);
    return ok ? x : fallback;
}

CellRecord recordOf(const Columns &c, const QList<QByteArray> &f)
{
    auto text = [&](const char *name) { return c[name] >= 0 ? QString::fromUtf8(f[c[name]]) : QString(); };
    auto number = [&](const char *name) { return c[name] >= 0 ? numberOr(f[c[name]], NAN) : NAN; };
    CellRecord r;
    r.time = QDateTime::fromString(text("time"), Qt::ISODateWithMs);
    r.station = text("station");
    r.operatorName = text("operator");
    r.lot = text("lot");
    r.id = text("record");
    r.cellId = text("cell_id");
    r.rMilliOhm = number("r_mohm");
    r.v = number("v");
    const QString verdict = text("verdict");
    r.verdict = verdict == QLatin1String("PASS") ? meter::Verdict::Pass
                : verdict == QLatin1String("NG") ? meter::Verdict::Ng
                                                 : meter::Verdict::None;
    r.grade = text("grade");
    r.setName = text("set");
    r.rRange = text("r_range");
    r.vRange = text("v_range");
    r.settledBy = int(numberOr(c["settled_by"] >= 0 ? f[c["settled_by"]] : QByteArray(), 0));
    r.voids = text("voids");
    r.rLow = number("r_low"), r.rHigh = number("r_high"), r.vLow = number("v_low"), r.vHigh = number("v_high");
    r.spc = text("spc");
    r.stage = text("stage");
    r.kMvDay = number("k_mv_day"), r.restDays = number("rest_days");
    r.reason = text("reason");
    r.kNote = text("k_note");
    return r;
}

} // namespace

bool readCellsFile(const QString &path, CellsFile *into, QString *error)
{
    QFile file;
    if (!openRegularFile(file, path, QIODevice::ReadOnly, error))
        return false;
    journal::RecordReader reader(file);
    QByteArray line;
    reader.next(&line);
    Columns c(journal::headerFields(line));
    if (!c.usable()) {
        if (error)
            *error = QCoreApplication::translate("Match", "%1：第一行不是电芯记录文件的列名").arg(path);
        return false;
    }
    while (reader.next(&line)) {
        if (line.isEmpty())
            continue;
        if (journal::isHeaderRecord(line)) { // a newer version's columns from here on
            const Columns again(journal::headerFields(line));
            if (again.usable())
                c = again;
            continue;
        }
        const QList<QByteArray> f = journal::csvFields(line);
        if (f.size() < c.names.size()) {
            ++into->skipped;
            continue;
        }
        into->lines.append(recordOf(c, f));
    }
    if (reader.torn())
        ++into->skipped;
    return true;
}

} // namespace station
