// Pack matching: the matcher on lots with known answers, and zentrel-match on
// a generated lot through its files: voids, re-measured cells, the ledger
// keeping a second pack off the first one's cells, a cancel freeing them, the
// plan's groups checked again from the plan file, and its exit statuses.
#include "lotgenerator.h"
#include "match/planfiles.h"
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

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
};
QMap<int, QVector<Slot>> readPlan(const QString &path)
{
    QMap<int, QVector<Slot>> groups;
    const QStringList lines = testsupport::textFileLines(path);
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = journal::csvFields(lines[i].toUtf8());
        if (f.size() == 8)
            groups[f[1].toInt()].append({QString::fromUtf8(f[0]), QString::fromUtf8(f[3]), QString::fromUtf8(f[7]),
                                         f[4].toDouble(), f[5].toDouble()});
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
        const QVector<match::Cell> cells = cellsOf(r, v, capacity);
        const match::Plan plan = match::matchCells(cells, rules);
        QCOMPARE(plan.ok, problem.isEmpty());
        if (!plan.ok) {
            QVERIFY2(plan.problem.contains(problem), qPrintable(plan.problem));
            QVERIFY(plan.groups.isEmpty());
            return;
        }
        QVERIFY2(plan.rgSpread < 1e-12, qPrintable(QString::number(plan.rgSpread)));
        if (rules.useCapacity)
            QVERIFY(plan.capacitySpread < 1e-12);
        QCOMPARE(plan.spares.size(), 1);
        QCOMPARE(cells[plan.spares.first()].id, spare);
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

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_GUILESS_MAIN(TestMatch)
#include "test_match.moc"
