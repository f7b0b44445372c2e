// Control limits and the eight Nelson rules by known answers: a clean series
// fires nothing, and a series built for each rule fires that rule alone, at
// the reading that completes its pattern. Capability indices, their
// intervals and the normality test by known answers too.
#include "report/reportspc.h"
#include "stats/capability.h"
#include "stats/controlchart.h"

#include <QtTest>

#include <tuple>
#include <vector>

namespace {

// Mixed sides, short runs, nothing beyond 2σ: no rule's pattern (centre 0, σ 1).
const QVector<double> kClean = {0.3, 1.4, -0.6, -0.2, 0.9, -1.3, 0.1, 0.5, -0.8, 1.1};

QString text(const QVector<stats::Signal> &signals_)
{
    QStringList out;
    for (const auto &s : signals_)
        out << QString("rule %1 at %2").arg(s.rule).arg(s.index);
    return out.join(", ");
}

} // namespace

class TestControlChart : public QObject
{
    Q_OBJECT

private slots:
    void rules_data()
    {
        QTest::addColumn<QVector<double>>("tail"); // after kClean
        QTest::addColumn<QString>("expected");
        QTest::newRow("clean") << QVector<double> {} << "";
        QTest::newRow("clean, ten times") << kClean + kClean + kClean + kClean + kClean + kClean + kClean + kClean + kClean << "";
        QTest::newRow("1: beyond 3σ") << QVector<double> {3.5} << "rule 1 at 10";
        QTest::newRow("2: nine on one side") << QVector<double> {-0.4, 0.2, 0.4, 0.3, 0.5, 0.6, 0.4, 0.7, 0.3, 0.5} << "rule 2 at 19";
        QTest::newRow("2: and each one more") << QVector<double> {-0.4, 0.2, 0.4, 0.3, 0.5, 0.6, 0.4, 0.7, 0.3, 0.5, 0.2}
                                              << "rule 2 at 19, rule 2 at 20";
        QTest::newRow("3: six rising") << QVector<double> {-0.9, -0.5, -0.1, 0.2, 0.6, 0.8} << "rule 3 at 15";
        QTest::newRow("4: fourteen alternating")
            << QVector<double> {0.2, -0.3, 0.4, -0.2, 0.3, -0.4, 0.2, -0.3, 0.4, -0.2, 0.3, -0.4, 0.2, -0.3} << "rule 4 at 23";
        QTest::newRow("5: two of three beyond 2σ") << QVector<double> {2.5, 0.3, 2.4} << "rule 5 at 12";
        QTest::newRow("6: four of five beyond 1σ") << QVector<double> {-0.2, 1.5, 1.3, 0.4, 1.6, 1.2} << "rule 6 at 15";
        QTest::newRow("7: fifteen within 1σ")
            << QVector<double> {0.3, 0.5, -0.4, -0.6, 0.2, 0.4, -0.3, -0.5, 0.6, 0.1, -0.2, -0.4, 0.5, 0.3, -0.1} << "rule 7 at 24";
        QTest::newRow("8: eight beyond 1σ, both sides") << QVector<double> {0.2, 1.5, -1.4, -1.6, 1.3, 1.7, -1.2, -1.5, 1.4}
                                                        << "rule 8 at 18";
        // Once across, then eight below: the last eight are one-sided, a
        // shift (rules 6 and 2 name it), not a mixture; rule 8 stops with the crossing.
        QTest::newRow("8: not once the run stays on one side")
            << QVector<double> {0.2, 1.5, -1.4, -1.6, -1.3, -1.7, -1.2, -1.5, -1.4, -1.3, -1.6}
            << "rule 6 at 15, rule 6 at 16, rule 6 at 17, rule 6 at 18, rule 8 at 18, rule 6 at 19, rule 2 at 20, rule 6 at 20";
    }
    void rules()
    {
        QFETCH(QVector<double>, tail);
        QFETCH(QString, expected);
        stats::ControlLimits limits;
        limits.sigma = 1;
        limits.valid = true;
        QCOMPARE(text(stats::nelsonSignals(kClean + tail, limits)), expected);
    }

    // σ̂ from the average moving range; the limits three of it from the mean.
    void limits()
    {
        const stats::ControlLimits l = stats::individualsLimits({1, 3, 2, 5, 4});
        QVERIFY(l.valid);
        QCOMPARE(l.centre, 3.0);
        QCOMPARE(l.sigma, (2 + 1 + 3 + 1) / 4.0 / 1.128);
        QCOMPARE(l.ucl(), 3 + 3 * 1.75 / 1.128);
        QCOMPARE(l.lcl(), 3 - 3 * 1.75 / 1.128);
        QVERIFY(!stats::individualsLimits({7}).valid);
        // All alike: σ̂ 0, and nothing fires however long it goes on.
        const QVector<double> flat(30, 4.2);
        QCOMPARE(stats::nelsonSignals(flat, stats::individualsLimits(flat)).size(), 0);
    }

    // At the station: silent while the lot's first 25 PASS records fix the
    // limits (an NG record neither counts nor is checked then); a wild one
    // among them is set aside and the limits computed again without it; then
    // each record is checked, NG ones too; a new lot starts again.
    void lotControl()
    {
        stats::LotControl lot;
        QVector<double> baseline = kClean + kClean + kClean.mid(0, 5);
        baseline[7] = 9.0; // beyond the trial limits
        for (int i = 0; i < baseline.size(); ++i) {
            QCOMPARE(lot.stillNeeded(), 25 - i);
            const auto ng = lot.add(35.0, 3.7, false, "NG");
            QCOMPARE(ng.r | ng.v, 0u);
            QCOMPARE(lot.stillNeeded(), 25 - i);
            const auto fired = lot.add(baseline[i], qQNaN(), true, QString::number(i));
            QCOMPARE(fired.r | fired.v, 0u);
        }
        QCOMPARE(lot.stillNeeded(), 0);
        QCOMPARE(lot.setAside(), QStringList {"7"});
        QVector<double> kept = baseline;
        kept.remove(7);
        const stats::ControlLimits r = lot.rLimits();
        QCOMPARE(r.centre, stats::individualsLimits(kept).centre);
        QCOMPARE(r.sigma, stats::individualsLimits(kept).sigma);
        QVERIFY(r.ucl() < 9.0);
        QVERIFY(!lot.vLimits().valid); // no V in any record
        const auto wild = lot.add(r.ucl() + 0.01, 3.7, false);
        QCOMPARE(wild.r, 1u); // rule 1, on an NG record too
        QCOMPARE(wild.v, 0u);
        QCOMPARE(lot.add(r.centre, qQNaN()).r, 0u);
        lot.restart();
        QCOMPARE(lot.stillNeeded(), 25);
        QVERIFY(lot.setAside().isEmpty());
        QCOMPARE(lot.add(100.0, qQNaN()).r, 0u);
    }

    // The report's series: readings in time order whatever order they come
    // in (one moment: by station name, then as read); a chart of 100,000
    // readings thinned to a few thousand points that still hold the one
    // spike; a series signalling at every reading lists 10,000 and counts all.
    void reportSeries()
    {
        report::SpcData data;
        for (const auto &[ms, station, value] : {std::tuple<qint64, const char *, double>(2000, "B", 2), {1000, "B", 1},
                                                 {2000, "A", 3}, {2000, "A", 4}})
            data.add(0, station[0] == 'A' ? 1 : 2, ms, station, value, qQNaN());
        const QVector<report::Spc> small = data.compute(3);
        QCOMPARE(small[0].r.points, (QVector<QPointF> {{0, 1}, {1, 3}, {2, 4}, {3, 2}}));
        QCOMPARE(small[1].r.points, (QVector<QPointF> {{0, 3}, {1, 4}}));
        QCOMPARE(small[0].v.n, 0);
        QVERIFY(!small[0].v.limits.valid);

        QCOMPARE(small[0].r.subgroup, 1);

        // 100,000 readings: X̄-R of 20,000 subgroups of 5. Their means go
        // round −0.6, 0.6, 0 (1.56σ̂ of a mean: no pattern), each subgroup
        // spread −1 … 1 about its mean; one reading a spike.
        auto reading = [](int i) {
            const double means[] = {-0.6, 0.6, 0.0}, offsets[] = {-1, -0.5, 0, 0.5, 1};
            return i == 54321 ? 50.0 : means[(i / 5) % 3] + offsets[i % 5];
        };
        report::SpcData many;
        for (int i = 0; i < 100000; ++i)
            many.add(0, -1, i, "S", reading(i), 0);
        const report::SpcSeries big = many.compute(1)[0].r;
        QCOMPARE(big.subgroup, 5);
        QCOMPARE(big.charted, 20000);
        QVERIFY2(big.points.size() <= report::kSpcShown + 2, qPrintable(QString::number(big.points.size())));
        stats::SubgroupBuilder spike;
        for (int i = 54320; i < 54325; ++i)
            spike.add(reading(i));
        QVERIFY(big.points.contains(QPointF(10864, spike.mean())));
        QCOMPARE(big.count(1), 1); // the spike's subgroup alone is beyond 3σ̂
        QCOMPARE(big.total(), 1);
        QCOMPARE(big.signalled.first().index, 10864);
        QCOMPARE(big.signalled.first().ms, 54324); // the subgroup's last reading
        // The trial limits revised once, without the spike's subgroup: as if it had never been.
        QCOMPARE(big.setAside, 5);
        QVERIFY(big.revised());
        stats::SubgroupBuilder clean;
        for (int i = 0; i < 100000; ++i)
            if (clean.add(reading(i)) && i / 5 != 10864)
                clean.count();
        QCOMPARE(big.limits.centre, clean.meanLimits().centre);
        QCOMPARE(big.limits.sigma, clean.meanLimits().sigma);
        QCOMPARE(big.averageRange, 2.0);
        QCOMPARE(big.n, 100000);

        report::SpcData swinging; // up, down, up, ...: means −0.2, 0.2, ...: rule 4 from the 14th subgroup on
        for (int i = 0; i < 30000; ++i)
            swinging.add(0, -1, i, "S", i % 2 ? 1.0 : -1.0, 0);
        const report::SpcSeries s = swinging.compute(1)[0].r;
        QCOMPARE(s.count(4), 6000 - 13);
        QCOMPARE(s.count(7), 6000 - 14); // and all within 1σ̂ of a mean: stratified
        QCOMPARE(s.signalled.size(), report::kSpcListed);
        QVERIFY(s.truncated());
    }

    // Subgroups of 5 by Shewhart's constants (A2 0.577, D3 0, D4 2.114,
    // d2 2.326): the X̄ chart X̿ ± A2·R̄, the R chart D3·R̄ to D4·R̄, σ̂
    // within R̄/d2, at the boundary between individuals and subgroups.
    void xbarR_data()
    {
        QTest::addColumn<int>("readings");
        QTest::addColumn<int>("subgroup");
        QTest::newRow("1,000: individuals") << 1000 << 1;
        QTest::newRow("1,001: subgroups of 5, a tail of 1 not charted") << 1001 << 5;
        QTest::newRow("5,000") << 5000 << 5;
    }
    void xbarR()
    {
        QFETCH(int, readings);
        QFETCH(int, subgroup);
        // Subgroup k: 10 + (k % 4) · 0.1 + {0, 0.3, 0.1, 0.4, 0.2}·(1 + k % 2): means 10.24 … 10.56 by turns, ranges 0.4 and 0.8.
        auto reading = [](int i) {
            const int k = i / 5;
            const double spread[] = {0, 0.3, 0.1, 0.4, 0.2};
            return 10 + (k % 4) * 0.1 + spread[i % 5] * (1 + k % 2);
        };
        report::SpcData data;
        for (int i = 0; i < readings; ++i)
            data.add(0, -1, i, "S", reading(i), qQNaN());
        const report::SpcSeries s = data.compute(1)[0].r;
        QCOMPARE(s.subgroup, subgroup);
        if (subgroup == 1) {
            QCOMPARE(s.charted, qint64(readings));
            QCOMPARE(s.rangeHigh(), 3.267 * s.averageRange); // D4 of a moving range of 2
            return;
        }
        const int groups = readings / 5;
        QCOMPARE(s.charted, qint64(groups));
        double means = 0, ranges = 0;
        for (int k = 0; k < groups; ++k)
            means += 10 + (k % 4) * 0.1 + 0.2 * (1 + k % 2), ranges += 0.4 * (1 + k % 2);
        const double xbar = means / groups, rbar = ranges / groups;
        QVERIFY(qFuzzyCompare(s.limits.centre, xbar));
        QVERIFY(qFuzzyCompare(s.averageRange, rbar));
        QVERIFY(std::fabs(s.limits.ucl() - (xbar + 0.577 * rbar)) < 5e-4 * rbar); // A2 to its three places
        QVERIFY(std::fabs(s.limits.lcl() - (xbar - 0.577 * rbar)) < 5e-4 * rbar);
        QVERIFY(qFuzzyCompare(s.rangeHigh(), 2.114 * rbar));
        QCOMPARE(s.rangeLow(), 0.0);
        QVERIFY(qFuzzyCompare(s.sigmaWithin(), rbar / 2.326));
        QCOMPARE(s.setAside, 0);
    }

    // The overall group of several stations is charted but not judged by the
    // rules (two stations' levels would fire them); one station's own group
    // is, and so is an overall group of one station.
    void mixedStationsGoUnruled()
    {
        report::SpcData data;
        for (int i = 0; i < 400; ++i) {
            const bool b = (i / 40) % 2; // forty readings at a time from each
            data.add(0, b ? 2 : 1, i, b ? "B" : "A", (b ? 15.0 : 12.0) + kClean[i % 10] * 0.1, qQNaN());
            data.add(3, -1, i, "A", 12.0 + kClean[i % 10] * 0.1, qQNaN());
        }
        const QVector<report::Spc> spc = data.compute(4, {true, false, false, true});
        QVERIFY(!spc[0].r.ruled);
        QVERIFY(spc[0].r.mixed);
        QCOMPARE(spc[0].r.total(), 0);
        QVERIFY(spc[0].r.limits.valid);
        for (int g : {1, 2, 3}) {
            QVERIFY(spc[g].r.ruled);
            QVERIFY(!spc[g].r.mixed);
        }
    }

    // The database's walk gives the readings once and replays what it kept
    // (an overall group of several stations charted as the readings come):
    // every figure as the three walks over held readings give them.
    void replayedWalksEqualHeldOnes_data()
    {
        QTest::addColumn<int>("readings");
        QTest::addColumn<int>("stations");
        QTest::addColumn<double>("shiftAt"); // share of the readings after which R moves up
        QTest::newRow("individuals, revised") << 800 << 1 << 0.7;
        QTest::newRow("subgroups and a tail") << 1003 << 1 << 0.5;
        QTest::newRow("subgroups, two stations") << 6000 << 2 << 0.8;
        QTest::newRow("individuals, two stations") << 700 << 2 << 2.0;
        QTest::newRow("one tested in three") << 120000 << 3 << 0.9;
    }
    void replayedWalksEqualHeldOnes()
    {
        QFETCH(int, readings);
        QFETCH(int, stations);
        QFETCH(double, shiftAt);
        report::SpcData held;
        report::SpcPasses once({true}, true);
        QVector<qint64> rCount(stations + 1), vCount(stations + 1);
        quint32 seed = 12345;
        auto noise = [&seed] { return (seed = seed * 1664525u + 1013904223u) / 4294967296.0 - 0.5; };
        struct Reading { int station; qint64 ms; double r, v; };
        QVector<Reading> in;
        for (int i = 0; i < readings; ++i) {
            const int s = (i / 37) % stations; // runs of readings from each station
            const double r = 12 + s + 0.1 * noise() + (i > shiftAt * readings ? 0.08 : 0);
            const double v = i % 11 == 3 ? qQNaN() : 3.7 + 0.01 * noise();
            in.append({s, 1000LL * i, r, v});
            for (int g : {0, s + 1})
                ++rCount[g], vCount[g] += std::isnan(v) ? 0 : 1;
        }
        for (int g = 0; g <= stations; ++g)
            once.expect(g, rCount[g], vCount[g], g == 0 && stations > 1);
        for (const Reading &x : in) {
            held.add(0, x.station + 1, x.ms, QByteArray(1, char('A' + x.station)), x.r, x.v);
            once.add(0, x.station + 1, x.station, x.ms, x.r, x.v);
        }
        once.next();
        QCOMPARE(once.pass(), report::SpcPasses::kPasses);
        const QVector<report::Spc> a = held.compute(stations + 1, {true}), b = once.result(stations + 1);
        for (int g = 0; g <= stations; ++g) {
            for (auto [x, y] : {std::pair(&a[g].r, &b[g].r), std::pair(&a[g].v, &b[g].v)}) {
                const QByteArray where = QByteArray("group ") + QByteArray::number(g);
                QVERIFY2(x->n > 0 && x->limits.valid, where);
                QCOMPARE(y->subgroup, x->subgroup);
                QCOMPARE(y->n, x->n);
                QCOMPARE(y->readings, x->readings);
                QCOMPARE(y->charted, x->charted);
                QCOMPARE(y->ruled, x->ruled);
                QCOMPARE(y->mixed, x->mixed);
                QCOMPARE(y->setAside, x->setAside);
                QCOMPARE(y->limits.centre, x->limits.centre);
                QCOMPARE(y->limits.sigma, x->limits.sigma);
                QCOMPARE(y->averageRange, x->averageRange);
                QCOMPARE(y->points, x->points);
                QCOMPARE(y->ranges, x->ranges);
                QCOMPARE(y->total(), x->total());
                QCOMPARE(y->signalled.size(), x->signalled.size());
                for (int k = 0; k < x->signalled.size(); ++k)
                    QVERIFY(y->signalled[k].index == x->signalled[k].index && y->signalled[k].ms == x->signalled[k].ms
                            && y->signalled[k].rule == x->signalled[k].rule);
                QCOMPARE(y->tested, x->tested);
                QCOMPARE(y->order, x->order);
                QCOMPARE(y->normality.ad, x->normality.ad);
            }
        }
        // What the cases are for: a revision, the rules' signals, a group unjudged.
        QVERIFY(a[1].r.setAside > 0 || a[1].r.total() > 0);
        QCOMPARE(a[0].r.ruled, stations == 1);
    }

    // Past its bound the charts' store thins the fullest group to a sample
    // (stated), keeps a small group whole, holds no more than the bound, and
    // takes the same sample whatever order the readings came in.
    void aBoundedSample()
    {
        std::vector<std::tuple<int, qint64, QByteArray, double>> readings;
        for (int i = 0; i < 20000; ++i) // group 1: two stations, 20,000 readings
            readings.emplace_back(1, 1000LL * i, QByteArray(i % 2 ? "A" : "B"), 12 + kClean[i % 10] * 0.1);
        for (int i = 0; i < 300; ++i) // group 2: 300 readings
            readings.emplace_back(2, 7LL * i, QByteArray("C"), 20 + kClean[i % 10]);
        qint64 most = 0;
        auto chart = [&most](const auto &in) {
            report::SpcData data(4000);
            for (const auto &[group, ms, station, r] : in) {
                data.add(0, group, ms, station, r, qQNaN());
                most = std::max(most, data.size());
            }
            return data.compute(3);
        };
        const QVector<report::Spc> a = chart(readings);
        std::reverse(readings.begin(), readings.end());
        const QVector<report::Spc> b = chart(readings);
        QVERIFY2(most < 4000, qPrintable(QString::number(most)));
        for (int g : {0, 1})
            QVERIFY2(a[g].r.sampleEvery >= 8 && a[g].r.n < a[g].r.readings / 4, qPrintable(QString::number(a[g].r.sampleEvery)));
        QCOMPARE(a[0].r.readings, 20300);
        QCOMPARE(a[1].r.readings, 20000);
        QCOMPARE(a[2].r.sampleEvery, 1);
        QCOMPARE(a[2].r.n, 300);
        for (int g : {0, 1, 2}) {
            QCOMPARE(a[g].r.points, b[g].r.points);
            QCOMPARE(a[g].r.limits.centre, b[g].r.limits.centre);
        }
        // A sample of a stable process: its centre near the whole's.
        QVERIFY(std::fabs(a[1].r.limits.centre - 12.015) < 0.02);
    }

    // Files read on several threads: each thread's store taken into one
    // gives the sample one store of every reading gives, at the same level.
    void storesTakenInGiveOneSample()
    {
        auto feed = [](report::SpcData &data, int from, int to) {
            for (int i = from; i < to; ++i) {
                data.add(0, 1, 1000LL * i, QByteArray(i % 3 ? "A" : "B"), 12 + kClean[i % 10] * 0.1, 3.7);
                if (i % 50 == 0)
                    data.add(0, 2, 1000LL * i + 1, QByteArray("C"), 20 + kClean[i % 10], qQNaN());
            }
        };
        report::SpcData one(4000), first(4000), second(4000);
        feed(one, 0, 20000);
        feed(first, 0, 10000);
        feed(second, 10000, 20000);
        first.absorb(std::move(second), {0, 1, 2});
        QVERIFY(first.size() < 4000);
        const QVector<report::Spc> a = one.compute(3, {true}), b = first.compute(3, {true});
        for (int g : {0, 1, 2}) {
            QCOMPARE(b[g].r.readings, a[g].r.readings);
            QCOMPARE(b[g].r.sampleEvery, a[g].r.sampleEvery);
            QCOMPARE(b[g].r.n, a[g].r.n);
            QCOMPARE(b[g].r.mixed, a[g].r.mixed);
            QCOMPARE(b[g].r.points, a[g].r.points);
            QCOMPARE(b[g].v.limits.centre, a[g].v.limits.centre);
        }
        QVERIFY(a[1].r.sampleEvery > 1 && a[2].r.sampleEvery == 1);
    }

    // χ² quantiles against the printed tables (Montgomery, appendix III).
    void chiSquareQuantiles_data()
    {
        QTest::addColumn<double>("p");
        QTest::addColumn<double>("df");
        QTest::addColumn<double>("table");
        QTest::addColumn<double>("within");
        QTest::newRow("0.025, 29") << 0.025 << 29.0 << 16.047 << 0.0006;
        QTest::newRow("0.975, 29") << 0.975 << 29.0 << 45.722 << 0.0006;
        QTest::newRow("0.05, 10") << 0.05 << 10.0 << 3.940 << 0.0006;
        QTest::newRow("0.95, 1") << 0.95 << 1.0 << 3.841 << 0.0006;
        QTest::newRow("0.975, 100") << 0.975 << 100.0 << 129.561 << 0.0006;
        // Wilson–Hilferty from 1,000 on, against the series summed to the end.
        QTest::newRow("0.025, 1000") << 0.025 << 1000.0 << 914.257154 << 914.257154 * 2e-6;
        QTest::newRow("0.975, 1000") << 0.975 << 1000.0 << 1089.530913 << 1089.530913 * 2e-6;
        QTest::newRow("0.025, 5000") << 0.025 << 5000.0 << 4805.904731 << 4805.904731 * 1e-6;
        QTest::newRow("0.975, 5000") << 0.975 << 5000.0 << 5197.883772 << 5197.883772 * 1e-6;
    }
    void chiSquareQuantiles()
    {
        QFETCH(double, p);
        QFETCH(double, df);
        QFETCH(double, table);
        QFETCH(double, within);
        QVERIFY2(std::fabs(stats::chiSquareQuantile(p, df) - table) < within, qPrintable(QString::number(stats::chiSquareQuantile(p, df), 'f', 5)));
    }

    // Cp, Cpk, Pp, Ppk and their 95 % intervals from the formulas, with the
    // χ² values from the table (n = 30: 16.047 and 45.722).
    void capabilityKnownAnswers_data()
    {
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<double>("cp"); // NaN: none
        QTest::addColumn<double>("cpk");
        QTest::addColumn<double>("pp");
        QTest::addColumn<double>("ppk");
        // n 30, mean 12, σ within 0.2, σ overall 0.25
        QTest::newRow("both limits, centred") << 11.0 << 13.0 << 2 / 1.2 << 1 / 0.6 << 2 / 1.5 << 1 / 0.75;
        QTest::newRow("off centre") << 11.5 << 13.0 << 1.5 / 1.2 << 0.5 / 0.6 << 1.5 / 1.5 << 0.5 / 0.75;
        QTest::newRow("an upper limit only") << qQNaN() << 13.0 << qQNaN() << 1 / 0.6 << qQNaN() << 1 / 0.75;
    }
    void capabilityKnownAnswers()
    {
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(double, cp);
        QFETCH(double, cpk);
        QFETCH(double, pp);
        QFETCH(double, ppk);
        const stats::Capability c = stats::capability(30, 12, 0.2, 0.25, low, high);
        const double lower = std::sqrt(16.047 / 29), upper = std::sqrt(45.722 / 29);
        auto near = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::fabs(a - b) < 5e-4; };
        for (const auto &[e, value] : {std::pair<stats::Estimate, double>(c.cp, cp), {c.pp, pp}}) {
            QVERIFY(near(e.value, value));
            QVERIFY(near(e.low, value * lower));
            QVERIFY(near(e.high, value * upper));
        }
        for (const auto &[e, value] : {std::pair<stats::Estimate, double>(c.cpk, cpk), {c.ppk, ppk}}) {
            const double half = 1.959964 * std::sqrt(1.0 / (9 * 30) + value * value / (2 * 29));
            QVERIFY(near(e.value, value));
            QVERIFY(near(e.low, value - half));
            QVERIFY(near(e.high, value + half));
        }
    }

    // Anderson–Darling against values computed outside (scipy's A², the
    // n adjustment, D'Agostino–Stephens' p): skewed lots of any size are
    // not normal, a far value weighs the same above as below, no figure
    // without spread.
    void andersonDarling_data()
    {
        QTest::addColumn<QString>("shape"); // of the ideal sample: values at the quantiles (i − ½)/n
        QTest::addColumn<int>("n");
        QTest::addColumn<double>("ad"); // NaN: none
        QTest::addColumn<double>("p");  // 1e-4 with below
        QTest::addColumn<bool>("below");
        QTest::newRow("normal") << "normal" << 1000 << 0.0015405565960023822 << 0.9999982929077741 << false;
        QTest::newRow("uniform 40") << "uniform" << 40 << 0.43525702731703925 << 0.29933138806050485 << false;
        QTest::newRow("uniform 100") << "uniform" << 100 << 1.0920810679519337 << 0.007307838840103149 << false;
        QTest::newRow("lognormal 1,000") << "lognormal" << 1000 << 93.90240316531742 << 1e-4 << true;
        QTest::newRow("lognormal 30,000") << "lognormal" << 30000 << 2887.672289586141 << 1e-4 << true;
        QTest::newRow("lognormal 100,000") << "lognormal" << 100000 << 9645.00469559952 << 1e-4 << true;
        QTest::newRow("far above") << "above" << 100 << 25.568248294960853 << 1e-4 << true;
        QTest::newRow("far below") << "below" << 100 << 25.568248294960853 << 1e-4 << true;
        QTest::newRow("all equal") << "equal" << 50 << double(NAN) << double(NAN) << false;
        QTest::newRow("too few") << "normal" << 7 << double(NAN) << double(NAN) << false;
    }
    void andersonDarling()
    {
        QFETCH(QString, shape);
        QFETCH(int, n);
        QFETCH(double, ad);
        QFETCH(double, p);
        QFETCH(bool, below);
        const bool outlier = shape == "above" || shape == "below";
        const int k = outlier ? n - 1 : n;
        QVector<double> values;
        for (int i = 1; i <= k; ++i) {
            const double u = (i - 0.5) / k, z = stats::normalQuantile(u);
            values << (shape == "uniform" ? u : shape == "lognormal" ? std::exp(z) : shape == "equal" ? 3.7 : 12 + 0.1 * z);
        }
        if (outlier)
            values << (shape == "above" ? 18 : 6);
        const stats::Normality got = stats::andersonDarling(values);
        auto near = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b)); };
        QVERIFY2(near(got.ad, ad), qPrintable(QString("A*² %1, expected %2").arg(got.ad, 0, 'g', 17).arg(ad, 0, 'g', 17)));
        QVERIFY2(near(got.p, p), qPrintable(QString("p %1, expected %2").arg(got.p, 0, 'g', 17).arg(p, 0, 'g', 17)));
        QCOMPARE(got.below, below);
        QCOMPARE(got.pText(), below ? QString("< 0.0001") : std::isnan(p) ? QString("—") : QString::number(p, 'f', 4));
        QCOMPARE(got.n, qint64(n));
    }
};

QTEST_GUILESS_MAIN(TestControlChart)
#include "test_controlchart.moc"
