// Pack matching: the matcher on lots with known answers, and zentrel-match on
// a generated lot through its files: voids, re-measured cells, the ledger
// keeping a second pack off the first one's cells, a cancel freeing them, the
// plan's groups checked again from the plan file, and its exit statuses.
#include "lotgenerator.h"
#include "match/planfiles.h"
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

#include <functional>
#include <random>

#include <sys/stat.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString out, err;
};

Run runMatch(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(ZENTREL_MATCH_PATH), args);
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QVector<match::Cell> cellsOf(const QVector<double> &r, const QVector<double> &v, const QVector<double> &capacity = {})
{
    QVector<match::Cell> cells;
    for (int i = 0; i < r.size(); ++i) {
        match::Cell c;
        c.id = QStringLiteral("C%1").arg(i);
        c.r = r[i];
        c.v = v.value(i, 3.6);
        c.capacity = capacity.value(i, NAN);
        c.verdict = QStringLiteral("PASS");
        cells.append(c);
    }
    return cells;
}

// The plan file's rows: group → its cells' (id, r, v, record), as written.
struct Slot
{
    QString pack, id, record;
    double r, v;
    double k = NAN; // mV/day; NaN: none
};
QMap<int, QVector<Slot>> readPlan(const QString &path)
{
    QMap<int, QVector<Slot>> groups;
    const QStringList lines = testsupport::textFileLines(path);
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = journal::csvFields(lines[i].toUtf8());
        bool hasK = false;
        const double k = f.value(8).toDouble(&hasK);
        if (f.size() >= 8)
            groups[f[1].toInt()].append({QString::fromUtf8(f[0]), QString::fromUtf8(f[3]), QString::fromUtf8(f[7]),
                                         f[4].toDouble(), f[5].toDouble(), hasK ? k : NAN});
    }
    return groups;
}

} // namespace

class TestMatch : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup() { m_work.reset(); }

    void knownAnswers_data()
    {
        QTest::addColumn<QVector<double>>("r");
        QTest::addColumn<QVector<double>>("v");
        QTest::addColumn<QVector<double>>("capacity");
        QTest::addColumn<QString>("problem"); // empty: a plan with spread 0
        QTest::addColumn<QString>("spare");
        const QVector<double> flatV(7, 3.6);
        // Two groups of 10.0/10.2/10.4 exist; 10.1 must stay out.
        QTest::newRow("a perfect plan") << QVector<double> {10.4, 10.0, 10.1, 10.2, 10.0, 10.4, 10.2} << flatV
                                        << QVector<double>() << QString() << QStringLiteral("C2");
        QTest::newRow("equal capacities too")
            << QVector<double> {10, 10, 10, 10, 10, 10, 10} << flatV << QVector<double> {2500, 2510, 2490, 2700, 2490, 2510, 2500}
            << QString() << QStringLiteral("C3");
        QTest::newRow("R binds") << QVector<double> {10, 10.3, 10.6, 11.5, 12.0, 12.6} << flatV << QVector<double>()
                                 << QStringLiteral("受 ΔR ≤ 5% 限制") << QString();
        QTest::newRow("V binds") << QVector<double> {10, 10, 10, 10, 10, 10}
                                 << QVector<double> {3.60, 3.63, 3.66, 3.69, 3.72, 3.75} << QVector<double>()
                                 << QStringLiteral("受 ΔV ≤ 20 mV 限制") << QString();
        // The lowest three break ΔR ≤ 9.5 %, yet {100, 110, 110} and {101, 110, 111} keep it.
        QTest::newRow("a plan the sweep misses") << QVector<double> {100, 101, 110, 110, 110, 111} << flatV
                                                 << QVector<double>() << QString() << QString();
        QTest::newRow("too few cells") << QVector<double> {10, 10, 10, 10, 10} << flatV << QVector<double>()
                                       << QStringLiteral("电芯不够：可用 5 个") << QString();
    }

    void knownAnswers()
    {
        QFETCH(QVector<double>, r);
        QFETCH(QVector<double>, v);
        QFETCH(QVector<double>, capacity);
        QFETCH(QString, problem);
        QFETCH(QString, spare);
        match::Rules rules;
        rules.series = 2;
        rules.parallel = 3;
        rules.useCapacity = !capacity.isEmpty();
        if (QTest::currentDataTag() == QByteArray("a plan the sweep misses"))
            rules.rSpreadPct = 9.5;
        const QVector<match::Cell> cells = cellsOf(r, v, capacity);
        const match::Plan plan = match::matchCells(cells, rules);
        QCOMPARE(plan.ok, problem.isEmpty());
        if (!plan.ok) {
            QVERIFY2(plan.problem.contains(problem), qPrintable(plan.problem));
            QVERIFY(plan.groups.isEmpty());
            return;
        }
        if (spare.isEmpty())
            return; // a plan is all that is asked
        QVERIFY2(plan.rgSpread < 1e-12, qPrintable(QString::number(plan.rgSpread)));
        if (rules.useCapacity)
            QVERIFY(plan.capacitySpread < 1e-12);
        QCOMPARE(plan.spares.size(), 1);
        QCOMPARE(cells[plan.spares.first()].id, spare);
    }

    // Whether a plan exists, decided by brute force: the lowest cell left is
    // a spare or in a group with any P − 1 of the others.
    static bool planExists(const QVector<match::Cell> &cells, const match::Rules &rules, QVector<char> &used, int needed, int spares)
    {
        if (needed == 0)
            return true;
        const int low = int(std::find(used.begin(), used.end(), 0) - used.begin());
        if (low >= cells.size())
            return false;
        used[low] = 1;
        QVector<int> group {low};
        std::function<bool(int)> extend = [&](int from) {
            if (group.size() == rules.parallel) {
                if (!match::keepsRules(match::figuresOf(cells, group), rules))
                    return false;
                for (int c : group)
                    used[c] = 1;
                const bool ok = planExists(cells, rules, used, needed - 1, spares);
                for (int c : group.mid(1))
                    used[c] = 0;
                return ok;
            }
            for (int c = from; c < cells.size(); ++c) {
                if (used[c])
                    continue;
                group.append(c);
                const bool ok = extend(c + 1);
                group.removeLast();
                if (ok)
                    return true;
            }
            return false;
        };
        bool ok = extend(low + 1) || (spares > 0 && planExists(cells, rules, used, needed, spares - 1));
        used[low] = 0;
        return ok;
    }

    // The matcher finds a plan whenever one exists: small random lots
    // (up to 12 cells, tight rules, half of them with a K spread) against
    // an exhaustive search.
    void aPlanWheneverOneExists()
    {
        std::mt19937 random(2026);
        int feasible = 0, lots = 0;
        for (int n = 4; n <= 12; ++n) {
            for (int trial = 0; trial < 25; ++trial, ++lots) {
                match::Rules rules;
                rules.parallel = 2 + int(random() % 3);
                rules.series = 1 + int(random() % std::max(1, n / rules.parallel));
                if (rules.cells() > n)
                    continue;
                rules.rSpreadPct = 2 + int(random() % 9);
                rules.vSpreadMv = 5 + int(random() % 20);
                QVector<double> r, v;
                for (int i = 0; i < n; ++i) {
                    r << 100 + int(random() % 16);
                    v << 3.60 + int(random() % 30) / 1000.0;
                }
                QVector<match::Cell> cells = cellsOf(r, v);
                if (trial % 2) {
                    rules.kSpreadMvDay = 0.1 * (1 + int(random() % 3));
                    for (match::Cell &c : cells)
                        c.k = 0.1 * int(random() % 8);
                }
                QVector<char> used(n, 0);
                const bool exists = planExists(cells, rules, used, rules.series, n - rules.cells());
                const match::Plan plan = match::matchCells(cells, rules);
                QVERIFY2(plan.ok == exists, qPrintable(QString("n %1, %2S×%3P, ΔR %4%, ΔV %5 mV: %6")
                                                            .arg(n).arg(rules.series).arg(rules.parallel)
                                                            .arg(rules.rSpreadPct).arg(rules.vSpreadMv).arg(plan.problem)));
                feasible += exists;
            }
        }
        // Both answers were met often enough to mean something.
        QVERIFY2(feasible > lots / 5 && feasible < lots * 4 / 5, qPrintable(QString("%1 of %2").arg(feasible).arg(lots)));
    }

    // K in view from the start: cells of two or three K levels taken in
    // turn along R make groups within each level, and when too few the
    // refusal names ΔK.
    void groupsFormedWithKInView_data()
    {
        QTest::addColumn<int>("levels"); // of K, taken in turn: 0.1, 0.5, 0.9
        QTest::addColumn<int>("series");
        QTest::addColumn<bool>("ok");
        QTest::newRow("2 levels, 40 groups of 10") << 2 << 40 << true;
        QTest::newRow("3 levels, 39 groups") << 3 << 39 << true;
        QTest::newRow("3 levels, 40 groups asked") << 3 << 40 << false;
    }
    void groupsFormedWithKInView()
    {
        QFETCH(int, levels);
        QFETCH(int, series);
        QFETCH(bool, ok);
        QVector<double> r, v;
        for (int i = 0; i < 400; ++i)
            r << 100 + (i % 37) * 0.05, v << 3.6 + (i % 5) / 1000.0;
        QVector<match::Cell> cells = cellsOf(r, v);
        for (int i = 0; i < cells.size(); ++i)
            cells[i].k = 0.1 + 0.8 * (i % levels) / (levels - 1);
        match::Rules rules;
        rules.series = series;
        rules.parallel = 10;
        rules.kSpreadMvDay = 0.2;
        const match::Plan plan = match::matchCells(cells, rules);
        QVERIFY2(plan.ok == ok, qPrintable(plan.problem));
        if (!ok)
            QVERIFY2(plan.problem.contains("受 ΔK ≤ 0.2 mV/天 限制"), qPrintable(plan.problem));
        for (const QVector<int> &group : plan.groups)
            QVERIFY(match::keepsRules(match::figuresOf(cells, group), rules));
    }

    // Values no meter can show make no pack: left out and named.
    void valuesNoMeterShows()
    {
        QVector<match::Cell> records = cellsOf({10, 10, 10, 1e308, 1e-308, 10}, {3.6, 3.6, 3.6, 3.6, 3.6, 1e308});
        match::Rules rules;
        rules.series = 1;
        rules.parallel = 3;
        const match::Choice choice = match::chooseCells(records, {}, rules, {});
        QCOMPARE(choice.usable.size(), 3);
        QCOMPARE(choice.excluded.size(), 3);
        for (const match::Exclusion &e : choice.excluded)
            QVERIFY2(e.reason.contains("量程"), qPrintable(e.reason));
    }

    void aLotThroughTheToolAndTheLedger()
    {
        LotShape shape;
        shape.cells = 400;
        shape.seed = 7;
        shape.voidShare = 0.05;
        shape.remeasureShare = 0.05;
        const std::vector<station::CellRecord> records = generateLot(shape);
        QVERIFY(writeLot("j", records, shape.day));
        // The record each cell counts with: its newest one not voided.
        QSet<QString> voided;
        for (const station::CellRecord &r : records)
            if (!r.voids.isEmpty())
                voided.insert(r.voids);
        QHash<QString, QString> newest;
        for (const station::CellRecord &r : records)
            if (r.voids.isEmpty() && !voided.contains(r.id))
                newest[r.cellId] = r.id;
        // A file the tool cannot use: named, and the rest still used.
        QFile bad("j/cells-2026-12-02.csv");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not,a,cells,file\n");
        bad.close();

        const QStringList layout {"j", "--series", "8", "--parallel", "20"};
        Run run = runMatch(layout + QStringList {"--plan", "p1.csv", "--pdf", "s.pdf", "--png", "s.png", "--json", "p1.json"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("cells-2026-12-02.csv"), qPrintable(run.err));
        QFile::remove("j/cells-2026-12-02.csv");
        const QMap<int, QVector<Slot>> first = readPlan("p1.csv");
        QCOMPARE(first.size(), 8);
        QSet<QString> firstIds;
        match::Rules rules;
        for (const QVector<Slot> &group : first) {
            QCOMPARE(group.size(), 20);
            double lo = 1e9, hi = 0, sum = 0, vLo = 1e9, vHi = 0;
            for (const Slot &s : group) {
                QCOMPARE(s.record, newest.value(s.id)); // no voided or superseded record
                firstIds.insert(s.id);
                lo = std::min(lo, s.r), hi = std::max(hi, s.r), sum += s.r;
                vLo = std::min(vLo, s.v), vHi = std::max(vHi, s.v);
            }
            QVERIFY((hi - lo) / (sum / 20) * 100 <= rules.rSpreadPct + 1e-9);
            QVERIFY((vHi - vLo) * 1000 <= rules.vSpreadMv + 1e-9);
        }
        QCOMPARE(firstIds.size(), 160);
        for (const char *name : {"s.pdf", "s.png", "p1.json"})
            QVERIFY2(QFileInfo(name).size() > 1000, name);
        // The sheet as an assembler works from it: the series order with its
        // ends, numbered slots, the spares by ID, the fields to sign.
        QProcess text;
        text.start("pdftotext", {"-layout", "s.pdf", "-"});
        if (text.waitForFinished(30000) && text.exitCode() == 0) {
            const QString sheet = QString::fromUtf8(text.readAllStandardOutput());
            for (const QString &said : {"串位 1/8（接 −）", "串位 8/8（接 +）", "8-20", "备用电芯（", "装配人", "复核"})
                QVERIFY2(sheet.contains(said), qPrintable(said));
        }
        const QString pack = first.first().first().pack;

        // The ledger keeps the second pack off the first one's cells; a
        // capacity file joined by ID leaves out the cells it does not name.
        QFile caps("caps.csv");
        QVERIFY(caps.open(QIODevice::WriteOnly));
        caps.write("cell_id,capacity_mah\n");
        for (const QString &id : newest.keys())
            if (!id.endsWith('7'))
                caps.write(QString("%1,%2\n").arg(id).arg(2500 + qHash(id) % 40).toUtf8());
        caps.close();
        run = runMatch(layout + QStringList {"--plan", "p2.csv", "--capacity", "caps.csv"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("容量极差") && run.out.contains("容量文件中没有它"), qPrintable(run.out));
        QSet<QString> secondIds;
        for (const QVector<Slot> &group : readPlan("p2.csv"))
            for (const Slot &s : group) {
                QVERIFY(!s.id.endsWith('7'));
                secondIds.insert(s.id);
            }
        QCOMPARE(secondIds.size(), 160);
        QVERIFY(!secondIds.intersects(firstIds));
        QVERIFY(first.first().first().pack != readPlan("p2.csv").first().first().pack);
        // About 390 usable, 320 placed: a third pack cannot be made, and nothing is written.
        run = runMatch(layout + QStringList {"--plan", "p3.csv"});
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.err.contains("电芯不够"), qPrintable(run.err));
        QVERIFY(!QFile::exists("p3.csv"));
        // A cancel frees the first pack's cells, once.
        QCOMPARE(runMatch({"--cancel", pack, "--journal-dir", "j"}).exitCode, 0);
        run = runMatch({"--cancel", pack, "--journal-dir", "j"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("已经取消"), qPrintable(run.err));
        QCOMPARE(runMatch(layout + QStringList {"--plan", "p3.csv"}).exitCode, 0);
        int lines = 0;
        for (const QString &name : QDir("j").entryList({"packs-*.csv"}))
            lines += testsupport::textFileLines("j/" + name).size() - 1;
        QCOMPARE(lines, 3 * 160 + 1);
    }

    // A lot at its second stage through the tool with K rules: every group
    // keeps ΔK, each planned cell's K is its record's, and cells without a
    // K or above --k-max are left out, each with its reason.
    void kRulesThroughTheTool()
    {
        QDir().mkpath("j");
        QFile f("j/cells-2026-12-08.csv");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(station::kCellsHeader) + "\n");
        QHash<QString, double> kOf;
        for (int i = 0; i < 120; ++i) {
            station::CellRecord r;
            r.id = QString("S-20261208-%1").arg(i + 1);
            r.time = QDateTime(QDate(2026, 12, 8), QTime(8, 0)).addSecs(i);
            r.station = "S";
            r.lot = "L1";
            r.cellId = QString("C%1").arg(i);
            r.rMilliOhm = 12.0 + 0.001 * ((i * 37) % 100);
            r.v = 3.65 + 0.0001 * (i % 10);
            r.verdict = meter::Verdict::Pass;
            r.stage = "OCV2";
            if (i % 15 != 7) // a few never measured at OCV1: no K
                r.kMvDay = i % 40 == 3 ? 1.5 : 0.1 + 0.005 * ((i * 53) % 160); // 0.1 … 0.9, and some fast ones
            kOf[r.cellId] = r.kMvDay;
            f.write(station::cellsCsvLine(r).toUtf8() + "\n");
        }
        f.close();
        const Run run = runMatch({"j", "--series", "4", "--parallel", "5", "--k-spread", "0.2", "--k-max", "1.0", "--plan", "k.csv"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        const QMap<int, QVector<Slot>> plan = readPlan("k.csv");
        QCOMPARE(plan.size(), 4);
        for (const QVector<Slot> &group : plan) {
            QCOMPARE(group.size(), 5);
            double lo = 1e9, hi = -1e9;
            for (const Slot &s : group) {
                QVERIFY2(std::isfinite(kOf[s.id]) && kOf[s.id] <= 1.0, qPrintable(s.id));
                QVERIFY2(std::fabs(s.k - kOf[s.id]) < 1e-4, qPrintable(s.id)); // the plan shows the record's K
                lo = std::min(lo, s.k), hi = std::max(hi, s.k);
            }
            QVERIFY2(hi - lo <= 0.2 + 1e-9, qPrintable(QString::number(hi - lo)));
        }
        // Why the others were left out: said per cell in the summary.
        QVERIFY2(run.out.contains("没有 K 值") && run.out.contains("K 1.5 mV/天"), qPrintable(run.out));
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing named") << QStringList {"--series", "2", "--parallel", "3", "--plan", "p.csv"} << 2 << "name files";
        QTest::newRow("an empty folder") << QStringList {"empty", "--series", "2", "--parallel", "3", "--plan", "p.csv"} << 2
                                         << "no cells-*.csv";
        QTest::newRow("no layout") << QStringList {"j"} << 2 << "--series";
        QTest::newRow("rules too tight") << QStringList {"j", "--series", "2", "--parallel", "10", "--r-spread", "0.001", "--plan", "p.csv"}
                                         << 3 << "受 ΔR ≤ 0.001% 限制";
    }

    void exitStatuses()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        QDir().mkpath("empty");
        LotShape shape;
        shape.cells = 40;
        QVERIFY(writeLot("j", generateLot(shape), shape.day));
        const Run run = runMatch(args);
        QCOMPARE(run.exitCode, status);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(!QFile::exists("p.csv"));
    }

    // A plan the ledger refuses changes nothing at the paths it was to go
    // to, whoever wrote what is there; a plan it takes is in place after.
    void aRefusedPlanChangesNoFile()
    {
        LotShape shape;
        shape.cells = 60;
        QVERIFY(writeLot("j", generateLot(shape), shape.day));
        const QStringList layout {"j", "--series", "2", "--parallel", "10", "--pack-id", "P1"};
        QCOMPARE(runMatch(layout + QStringList {"--plan", "first.csv"}).exitCode, 0);
        for (const char *name : {"mine.csv", "mine.json"}) {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("someone else's\n");
        }
        // The ledger's times carry their offset from UTC, as the journal's.
        const QString ledger = QDir("j").entryList({"packs-*.csv"}).value(0);
        const QString time = QString::fromUtf8(journal::csvFields(testsupport::textFileLines("j/" + ledger).value(1).toUtf8()).value(0));
        QVERIFY2(QRegularExpression("T\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$").match(time).hasMatch(), qPrintable(time));
        const Run run = runMatch(layout + QStringList {"--plan", "mine.csv", "--json", "mine.json", "--png", "mine.png"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("P1"), qPrintable(run.err));
        QCOMPARE(testsupport::textFileLines("mine.csv"), QStringList {"someone else's"});
        QCOMPARE(testsupport::textFileLines("mine.json"), QStringList {"someone else's"});
        QVERIFY(!QFile::exists("mine.png"));
        QCOMPARE(QDir(".").entryList({".zentrel-staged-*"}, QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // Two runs racing for one --plan path through two real processes: the
    // one the ledger took owns the file; the other touches nothing.
    void twoRunsRaceForOnePlanPath()
    {
        LotShape shape;
        shape.cells = 2000;
        QVERIFY(writeLot("j", generateLot(shape), shape.day));
        const QStringList args {"j", "--series", "60", "--parallel", "30", "--plan", "race.csv"};
        QProcess a, b;
        a.start(QStringLiteral(ZENTREL_MATCH_PATH), args);
        b.start(QStringLiteral(ZENTREL_MATCH_PATH), args);
        QVERIFY(a.waitForFinished(120000) && b.waitForFinished(120000));
        QCOMPARE(QSet<int>({a.exitCode(), b.exitCode()}).contains(0), true);
        QStringList ledger;
        for (const QString &name : QDir("j").entryList({"packs-*.csv"}))
            ledger += testsupport::textFileLines("j/" + name).mid(1);
        const QMap<int, QVector<Slot>> plan = readPlan("race.csv");
        QVERIFY(!plan.isEmpty());
        QSet<QString> packs;
        for (const QString &line : qAsConst(ledger))
            packs << QString::fromUtf8(journal::csvFields(line.toUtf8()).value(2));
        QCOMPARE(packs.size(), a.exitCode() == 0 && b.exitCode() == 0 ? 2 : 1);
        QVERIFY(packs.contains(plan.first().first().pack));
    }

    // Under a file-size limit the ledger cannot take the plan: the tool says
    // so and exits 1 (no SIGXFSZ), the ledger keeps no line of it, and no
    // plan file is left.
    void aFileSizeLimitLeavesTheLedgerAsItWas()
    {
        LotShape shape;
        shape.cells = 100;
        QVERIFY(writeLot("j", generateLot(shape), shape.day));
        QVERIFY(writeLot("k", generateLot(shape), shape.day));
        const QStringList layout {"--series", "8", "--parallel", "10"};
        // A limit the plan's file keeps and the ledger's day does not.
        QCOMPARE(runMatch(QStringList {"k"} + layout + QStringList {"--plan", "free.csv"}).exitCode, 0);
        const qint64 ledger = QFileInfo(QDir("k").filePath(QDir("k").entryList({"packs-*.csv"}).value(0))).size();
        const qint64 plan = QFileInfo("free.csv").size();
        QVERIFY2(ledger > plan + 2048, qPrintable(QString("%1 %2").arg(ledger).arg(plan)));
        const QString limit = QString::number((plan + ledger) / 2 / 1024); // bash counts in KiB
        QProcess p;
        p.start("bash", QStringList {"-c", "ulimit -f " + limit + " && exec \"$0\" \"$@\"", QStringLiteral(ZENTREL_MATCH_PATH), "j"}
                            + layout + QStringList {"--plan", "limited.csv"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains("packs-"), qPrintable(err));
        QVERIFY(!QFile::exists("limited.csv"));
        for (const QString &name : QDir("j").entryList({"packs-*.csv"}))
            QVERIFY2(testsupport::textFileLines("j/" + name).size() <= 1, qPrintable(name)); // a header at most
    }

    // In English the tool's words carry no full-width punctuation, nor do
    // the pieces it puts together (spares, a refusal with its folder).
    void englishWithoutFullWidthPunctuation()
    {
        LotShape shape;
        shape.cells = 40;
        QVERIFY(writeLot("j", generateLot(shape), shape.day));
        const Run plan = runMatch({"j", "--series", "2", "--parallel", "10", "--dry-run", "--lang", "en"});
        QCOMPARE(plan.exitCode, 0);
        QVERIFY2(plan.out.contains("Spares"), qPrintable(plan.out));
        const Run cancel = runMatch({"--cancel", "NOPE", "--journal-dir", "j", "--lang", "en"});
        QCOMPARE(cancel.exitCode, 1);
        for (const QString &text : {plan.out, plan.err, cancel.err})
            for (const QChar c : QStringLiteral("：（），；、"))
                QVERIFY2(!text.contains(c), qPrintable(text));
    }

    // A lock that cannot be made is not a lock someone holds.
    void aLockThatCannotBeMadeIsSaidSo()
    {
        LotShape shape;
        shape.cells = 40;
        QVERIFY(writeLot("j", generateLot(shape), shape.day));
        QVERIFY(QDir().mkpath("j/packs.lock")); // a folder where the lock file goes
        const Run run = runMatch({"j", "--series", "2", "--parallel", "3", "--plan", "p.csv"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("packs.lock") && !run.err.contains("被另一个程序占用"), qPrintable(run.err));
        QVERIFY(!QFile::exists("p.csv"));
    }

    // A day of the ledger that cannot be read leaves its cells' state
    // unknown: the match stops and names it.
    void anUnreadableLedgerDayStopsTheMatch()
    {
        LotShape shape;
        shape.cells = 40;
        QVERIFY(writeLot("j", generateLot(shape), shape.day));
        QVERIFY(::mkfifo("j/packs-2026-12-01.csv", 0600) == 0);
        const Run run = runMatch({"j", "--series", "2", "--parallel", "3", "--plan", "p.csv"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("packs-2026-12-01.csv"), qPrintable(run.err));
        QVERIFY(!QFile::exists("p.csv"));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_GUILESS_MAIN(TestMatch)
#include "test_match.moc"
