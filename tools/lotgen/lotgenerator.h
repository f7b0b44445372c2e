#ifndef LOTGENERATOR_H
#define LOTGENERATOR_H

// Realistic lots of cell records for the matcher's tests and benchmarks,
// written as the station writes them. Seeded, so every run sees the same lot.
#include "journal/csvrecords.h"
#include "match/matcher.h"
#include "station/cellrecorder.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <random>
#include <vector>

struct LotShape
{
    int cells = 400;
    QString lot = QStringLiteral("L1"), station = QStringLiteral("ST1"), idPrefix = QStringLiteral("C");
    QDate day {2026, 12, 1};
    double rMean = 12.0, rSigmaPct = 1.2; // R normal around its mean
    double outlierShare = 0.01;           // R 5–12 % off the mean
    double vMean = 3.62, vSigmaMv = 3.0;  // V normal, in millivolts
    double ngShare = 0.01;                // V out of limits: NG
    double voidShare = 0.01;              // voided at once and measured again
    double remeasureShare = 0.02;         // measured twice: the newer counts
    quint32 seed = 1;
};

// The records in file order: records, void lines (voids set), measurements again.
inline std::vector<station::CellRecord> generateLot(const LotShape &shape)
{
    std::mt19937 random(shape.seed);
    std::normal_distribution<double> z(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double rLow = shape.rMean * 0.92, rHigh = shape.rMean * 1.08, vLow = shape.vMean - 0.03, vHigh = shape.vMean + 0.03;
    std::vector<station::CellRecord> out;
    QDateTime time(shape.day, QTime(8, 0));
    int number = 0;
    auto measure = [&](const QString &cellId) {
        station::CellRecord r;
        r.time = (time = time.addSecs(3));
        r.station = shape.station;
        r.lot = shape.lot;
        r.id = QStringLiteral("%1-%2-%3").arg(shape.station, shape.day.toString(QStringLiteral("yyyyMMdd"))).arg(++number);
        r.cellId = cellId;
        double rel = shape.rSigmaPct / 100.0 * z(random);
        if (unit(random) < shape.outlierShare)
            rel = (unit(random) < 0.5 ? -1 : 1) * (0.05 + 0.07 * unit(random));
        r.rMilliOhm = std::round(shape.rMean * (1 + rel) * 10000) / 10000;
        r.v = std::round((shape.vMean + shape.vSigmaMv / 1000.0 * z(random)) * 10000) / 10000;
        if (unit(random) < shape.ngShare)
            r.v = std::round((vLow - 0.01 - 0.02 * unit(random)) * 10000) / 10000;
        r.rLow = rLow, r.rHigh = rHigh, r.vLow = vLow, r.vHigh = vHigh;
        r.verdict = r.rMilliOhm < rLow || r.rMilliOhm > rHigh || r.v < vLow || r.v > vHigh ? meter::Verdict::Ng
                                                                                          : meter::Verdict::Pass;
        r.grade = r.verdict == meter::Verdict::Pass ? QStringLiteral("A") : QStringLiteral("NG");
        r.setName = QStringLiteral("S1");
        r.settledBy = 3;
        out.push_back(r);
        return r.id;
    };
    for (int i = 1; i <= shape.cells; ++i) {
        const QString cellId = QStringLiteral("%1%2").arg(shape.idPrefix).arg(i, 6, 10, QLatin1Char('0'));
        const QString record = measure(cellId);
        if (unit(random) < shape.voidShare) {
            station::CellRecord v;
            v.time = (time = time.addSecs(1));
            v.station = shape.station;
            v.id = QStringLiteral("%1-%2-%3").arg(shape.station, shape.day.toString(QStringLiteral("yyyyMMdd"))).arg(++number);
            v.voids = record;
            out.push_back(v);
            measure(cellId);
        } else if (unit(random) < shape.remeasureShare) {
            measure(cellId);
        }
    }
    return out;
}

// Writes cells-DAY.csv into the folder, as the station does.
inline bool writeLot(const QString &folder, const std::vector<station::CellRecord> &records, const QDate &day)
{
    QDir().mkpath(folder);
    QFile file(QDir(folder).filePath(journal::dailyFileName(QLatin1String(journal::kCellsPrefix), day)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    if (file.size() == 0)
        file.write(QByteArray("\xEF\xBB\xBF") + station::kCellsHeader + '\n');
    for (const station::CellRecord &r : records)
        file.write(station::cellsCsvLine(r).toUtf8() + '\n');
    return file.flush();
}

// The same records as the matcher's input, without the files.
inline match::Choice usableCells(const std::vector<station::CellRecord> &records, const match::Rules &rules)
{
    QVector<match::Cell> cells;
    QSet<QString> voided;
    for (const station::CellRecord &r : records) {
        if (!r.voids.isEmpty()) {
            voided.insert(r.station + QLatin1Char(',') + r.voids);
            continue;
        }
        match::Cell c;
        c.id = r.cellId, c.r = r.rMilliOhm, c.v = r.v, c.lot = r.lot, c.grade = r.grade, c.time = r.time;
        c.verdict = r.verdict == meter::Verdict::Pass ? QStringLiteral("PASS") : QStringLiteral("NG");
        c.record = r.id, c.station = r.station;
        cells.append(c);
    }
    return match::chooseCells(cells, voided, rules, {});
}

#endif // LOTGENERATOR_H
