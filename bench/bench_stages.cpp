// The K value's lookup at the station: a record at OCV2 finds the cell's
// OCV1 record among 60 days of a busy station's cells files. Figures: the
// choice of the set (the files read once), then per record, beside the same
// station recording with a set that asks for no K, in the same run.
#include "benchsupport.h"

#include "journal/journal.h"
#include "meter/meterframe.h"
#include "meter/metersession.h"
#include "station/cellrecorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>

namespace bench {

namespace {

constexpr int kDays = 60, kPerDay = 11520; // a cell every 5 s for 16 hours

QByteArray frame(double r, double v, bool lifted = false)
{
    meter::FrameFields f;
    f.rCounts = quint32(std::lround(r * 10000));
    f.vCounts = quint32(std::lround(v * 10000));
    f.rRangeCode = 6;
    f.vRangeCode = 3;
    f.milliOhm = true;
    f.rOverload = f.vOverload = lifted;
    return meter::encodeFrame(f);
}

// Records cells C<day>-<i> of the newest day at the set; seconds per
// record, and (first) how long choosing the set took.
double recordCells(const QString &folder, const QString &set, int cells, const QDateTime &at, double *first)
{
    station::CellRecorder station(folder, QStringLiteral("B01"));
    meter::MeterSession session;
    session.setClock([at] { return at; });
    session.linkOpened(QStringLiteral("ttyBENCH"));
    session.addSink(&station);
    QString error;
    QElapsedTimer choosing;
    if (!station.sets().load(QDir(folder).filePath(QStringLiteral("limitsets.json")), &error) || !(choosing.start(), station.selectSet(set))) {
        std::printf("  the sets: %s\n", qPrintable(error));
        return -1;
    }
    QByteArray contact = frame(0, 0, true);
    for (int i = 0; i < 6; ++i)
        contact += frame(12.0, 3.695);
    contact += frame(0, 0, true);
    const double chosen = choosing.nsecsElapsed() / 1e9;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < cells; ++i) {
        station.enterCode(QStringLiteral("C%1-%2").arg(kDays - 1).arg(i * 37 % kPerDay));
        session.feed(contact);
    }
    const double each = clock.nsecsElapsed() / 1e9 / cells;
    session.removeSink(&station);
    if (first)
        *first = chosen;
    return int(station.records().size()) == cells ? each : -1;
}

} // namespace

int stageLookup()
{
    heading("the K value's lookup at the station: 60 days of a busy station's cells files (11,520 records a day)");
    QTemporaryDir folder;
    const QDate today = QDate::currentDate();
    qint64 bytes = 0;
    for (int d = 0; d < kDays; ++d) {
        const QDate day = today.addDays(d - kDays);
        QFile f(QDir(folder.path()).filePath(QStringLiteral("cells-%1.csv").arg(day.toString(Qt::ISODate))));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray out = QByteArray(station::kCellsHeader) + '\n';
        station::CellRecord r;
        r.station = QStringLiteral("B01");
        r.lot = QStringLiteral("L%1").arg(d);
        r.rMilliOhm = 12.0;
        r.verdict = meter::Verdict::Pass;
        r.setName = QStringLiteral("OCV1");
        r.stage = QStringLiteral("OCV1");
        for (int i = 0; i < kPerDay; ++i) {
            r.time = QDateTime(day, QTime(6, 0)).addSecs(i * 5);
            r.id = QStringLiteral("B01-%1-%2").arg(day.toString(QStringLiteral("yyyyMMdd"))).arg(i + 1);
            r.cellId = QStringLiteral("C%1-%2").arg(d).arg(i);
            r.v = 3.70 + 0.0001 * (i % 50);
            out += station::cellsCsvLine(r).toUtf8() + '\n';
        }
        bytes += f.write(out);
    }
    QFile sets(QDir(folder.path()).filePath(QStringLiteral("limitsets.json")));
    sets.open(QIODevice::WriteOnly);
    sets.write(R"({"sets": [{"name": "plain", "stage": "OCV2", "r": {"low": 10, "high": 14}, "v": {"low": 3.6, "high": 3.8}},
                            {"name": "k", "stage": "OCV2", "kFrom": "OCV1", "minRestDays": 0, "k": {"high": 1.0},
                             "r": {"low": 10, "high": 14}, "v": {"low": 3.6, "high": 3.8}}]})");
    sets.close();
    figure("records in the folder", double(kDays) * kPerDay, "");
    figure("their files", bytes / 1048576.0, "MiB");
    const QDateTime at(today, QTime(12, 0));
    const int cells = 2000;
    double first = 0;
    const double plain = recordCells(folder.path(), QStringLiteral("plain"), cells, at, nullptr);
    const double withK = recordCells(folder.path(), QStringLiteral("k"), cells, at, &first);
    if (plain < 0 || withK < 0) {
        std::printf("  a run did not record every cell\n");
        return 1;
    }
    figure("choosing the set with K (60 days' files read once)", first * 1000, "ms");
    figure("a record with K", withK * 1000, "ms");
    std::printf("  reference (a record of a set without K, this run): %.3f ms; the lookup adds %.3f ms\n", plain * 1000,
                (withK - plain) * 1000);
    return 0;
}

} // namespace bench
