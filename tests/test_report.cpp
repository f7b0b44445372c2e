// zentrel-report on generated files with known answers: statistics computed
// here from the same data, malformed and torn lines, a change of limits,
// several stations, a byte-order mark, cell records with a void, an empty
// folder, a file that cannot be read, and the PDF it writes.
#include "journal/journal.h"
#include "mqtt/outbox.h"
#include "report/reportdata.h"
#include "stats/capability.h"
#include "stats/controlchart.h"
#include "station/cellrecorder.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <numeric>
#include <QStandardPaths>

#include <cmath>
#include <sys/stat.h>

namespace {

// A typed scope as the CSV names it, for the cases' tables.
QString scopeOf(const QJsonValue &group)
{
    const QJsonObject s = group["scope"].toObject();
    const QString kind = s["kind"].toString();
    return kind == "all" ? "全部" : kind == "station" ? "工位 " + s["station"].toString() : kind == "cells" ? "单体 全部"
                                                                                      : "单体 批次 " + s["lot"].toString();
}


const QByteArray kBom = "\xEF\xBB\xBF";

QString readingLine(const QString &time, const QString &station, int seq, double r, double v, const QString &verdict,
                    const QString &limits = "10,20,3,4.5", const QString &contact = QString())
{
    return QString("%1,%2,/dev/ttyUSB0,%3,%4,%5,%6,%4mΩ,%5V,AUTO,AUTO,%7,%8\n")
        .arg(time, journal::csvField(station), QString::number(seq), journal::plainNumber(r), journal::plainNumber(v), verdict, limits,
             contact);
}

struct Run
{
    int exitCode = -1;
    QString out, err;
};

Run runReport(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(ZENTREL_REPORT_PATH), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup() { m_work.reset(); }

    void knownAnswersAcrossStationsAndLimits()
    {
        // Station A: ten readings under limits 10-20; then five under 12-18.
        // Station B: in a folder of its own, with a byte-order mark.
        const QVector<double> aFirst = {15.1, 14.9, 15.4, 15.0, 14.6, 15.2, 15.3, 14.8, 15.0, 15.5};
        const QVector<double> aSecond = {16.0, 16.2, 15.8, 16.1, 15.9};
        const QVector<double> b = {13.0, 13.4, 12.8, 13.1};
        QDir().mkpath("j/a");
        QDir().mkpath("j/b");
        {
            QFile f("j/a/readings-2026-12-07.csv");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kBom + QByteArray(journal::kHeader) + "\n");
            int seq = 0;
            for (double r : aFirst)
                f.write(readingLine("2026-12-07T08:00:00.000+08:00", "A", ++seq, r, 3.7, "PASS").toUtf8());
            f.write("not,a,journal,line\n");                                  // malformed
            for (double r : aSecond)
                f.write(readingLine("2026-12-07T09:00:00.000+08:00", "A", ++seq, r, 3.7, "PASS", "12,18,3,4.5").toUtf8());
            f.write(readingLine("2026-12-07T09:00:01.000+08:00", "A", ++seq, 99, 3.7, "NG", "12,18,3,4.5").left(40).toUtf8()); // torn
        }
        {
            QFile f("j/b/readings-2026-12-08.csv");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kBom + QByteArray(journal::kHeader) + "\n");
            int seq = 0;
            for (double r : b)
                f.write(readingLine("2026-12-08T10:00:00.000+08:00", "B \"east\", 2", ++seq, r, -3.6, r > 13.2 ? "NG" : "PASS").toUtf8());
            f.write(readingLine("2026-12-08T10:00:05.000+08:00", "B \"east\", 2", ++seq, 0, 0, "").replace(",0,0,", ",,,").toUtf8());
        }
        const Run run = runReport({"j", "--json", "table.json", "--csv", "table.csv"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("跳过 2 行"), qPrintable(run.out));
        QVERIFY2(run.out.contains("限值在数据中改变过"), qPrintable(run.out));

        QFile jf("table.json");
        QVERIFY(jf.open(QIODevice::ReadOnly));
        const QJsonObject root = QJsonDocument::fromJson(jf.readAll()).object();
        QCOMPARE(root.value("skipped").toInt(), 2);
        auto group = [&](const QString &scope, const QString &limitsPart) {
            for (const QJsonValue &g : root.value("groups").toArray())
                if (scopeOf(g) == scope && g["limits_text"].toString().contains(limitsPart))
                    return g.toObject();
            return QJsonObject();
        };
        auto check = [](const QJsonObject &g, const QVector<double> &data, double lo, double hi) {
            double sum = 0, sq = 0;
            for (double x : data)
                sum += x;
            const double mean = sum / data.size();
            for (double x : data)
                sq += (x - mean) * (x - mean);
            const double sd = std::sqrt(sq / (data.size() - 1));
            const QJsonObject r = g["r"].toObject();
            QCOMPARE(g["n"].toInt(), data.size());
            QVERIFY(std::fabs(r["mean"].toDouble() - mean) < 1e-9);
            QVERIFY(std::fabs(r["sd"].toDouble() - sd) < 1e-9);
            QVERIFY(std::fabs(r["pp"].toDouble() - (hi - lo) / (6 * sd)) < 1e-9);
            QVERIFY(std::fabs(r["ppk"].toDouble() - std::min(hi - mean, mean - lo) / (3 * sd)) < 1e-9);
            // One meaning of Cp: the capability's, with the within σ.
            QCOMPARE(r["cp"].toDouble(), g["capability"]["cp"]["value"].toDouble());
            QCOMPARE(r["cpk"].toDouble(), g["capability"]["cpk"]["value"].toDouble());
        };
        check(group("工位 A", "R 10–20"), aFirst, 10, 20);
        check(group("工位 A", "R 12–18"), aSecond, 12, 18);
        const QJsonObject stationB = group("工位 B \"east\", 2", "R 10–20");
        QCOMPARE(stationB["n"].toInt(), 5);
        QCOMPARE(stationB["ng"].toInt(), 1);
        QCOMPARE(stationB["no_verdict"].toInt(), 1);
        QVERIFY(std::fabs(stationB["yield"].toDouble() - 0.75) < 1e-12);
        QVERIFY(std::fabs(stationB["v"].toObject()["mean"].toDouble() + 3.6) < 1e-12);
        QCOMPARE(group("全部", "R 10–20")["n"].toInt(), 15);
        QFile cf("table.csv");
        QVERIFY(cf.open(QIODevice::ReadOnly));
        // Marked as UTF-8 for spreadsheets; Cp, Cpk, Pp, Ppk each with their interval.
        const QByteArray head = cf.readLine();
        QVERIFY2(head.startsWith("\xEF\xBB\xBFscope,limits,n,pass,ng"), head.constData());
        QVERIFY2(head.contains(",r_cp,r_cp_low,r_cp_high,r_cpk,r_cpk_low,r_cpk_high,r_pp,r_pp_low,r_pp_high,r_ppk,"), head.constData());

        // A date range picks days.
        const Run one = runReport({"j", "--from", "2026-12-08", "--json", "-"});
        QCOMPARE(one.exitCode, 0);
        QVERIFY(one.err.contains("1 个文件")); // the lines for a person on standard error beside the JSON
    }

    // Each group's control charts over its readings in time order: the
    // files read day by day and station by station, the overall group
    // interleaved by time; limits from the average moving range. The
    // overall group of two stations goes unjudged by the rules.
    void controlChartsInTimeOrder()
    {
        const QVector<double> clean = {0.3, 1.4, -0.6, -0.2, 0.9, -1.3, 0.1, 0.5, -0.8, 1.1};
        const QDateTime t0(QDate(2026, 12, 7), QTime(23, 59, 0), Qt::OffsetFromUTC, 8 * 3600);
        struct Reading
        {
            QDateTime time;
            QString station;
            double r;
        };
        QVector<Reading> a, b;
        // A: four clean runs, then one point far above; across midnight.
        for (int i = 0; i <= 40; ++i)
            a.append({t0.addSecs(10 * i), "A", 15 + 0.1 * (i < 40 ? clean[i % 10] : 5.0)});
        // B: between A's readings, and at the same moments as A's last
        // ten (the same moment: by station name).
        for (int i = 0; i < 20; ++i)
            b.append({t0.addSecs(i < 10 ? 10 * i + 5 : 10 * (i + 21)), "B", 14 + 0.05 * clean[(i * 3) % 10]});
        // A's files are read after B's.
        QDir().mkpath("j/z");
        QDir().mkpath("j/b");
        for (const QVector<Reading> *readings : {&b, &a}) {
            for (const Reading &x : *readings) {
                QFile f(QString("j/%1/readings-%2.csv").arg(x.station == "A" ? "z" : "b", x.time.date().toString(Qt::ISODate)));
                const bool fresh = !f.exists();
                QVERIFY(f.open(QIODevice::Append));
                if (fresh)
                    f.write(QByteArray(journal::kHeader) + "\n");
                f.write(readingLine(journal::isoTime(x.time), x.station, 1, x.r, 3.7, "PASS").toUtf8());
            }
        }
        const Run run = runReport({"j", "--json", "table.json", "--signals", "signals.csv"});
        QCOMPARE(run.exitCode, 0);
        QFile jf("table.json");
        QVERIFY(jf.open(QIODevice::ReadOnly));
        const QJsonArray groups = QJsonDocument::fromJson(jf.readAll()).object()["groups"].toArray();
        auto spcOf = [&](const QString &scope) {
            for (const QJsonValue &g : groups)
                if (scopeOf(g) == scope)
                    return g["spc"].toObject()["r"].toObject();
            return QJsonObject();
        };
        QVector<Reading> all = a + b;
        std::stable_sort(all.begin(), all.end(), [](const Reading &x, const Reading &y) {
            return x.time != y.time ? x.time < y.time : x.station < y.station;
        });
        for (const auto &[scope, readings] : {std::pair<QString, QVector<Reading>>("工位 A", a), std::pair<QString, QVector<Reading>>("全部", all)}) {
            QVector<double> r;
            for (const Reading &x : readings)
                r << x.r;
            // Trial limits from every reading, then revised once without those beyond them.
            auto limitsOf = [](const QVector<double> &xs) {
                double sum = 0, ranges = 0;
                for (int i = 0; i < xs.size(); ++i)
                    sum += xs[i], ranges += i ? std::fabs(xs[i] - xs[i - 1]) : 0;
                stats::ControlLimits l;
                l.centre = sum / xs.size(), l.sigma = ranges / (xs.size() - 1) / 1.128, l.valid = true;
                return l;
            };
            // The overall group mixes A and B: charted on its trial limits, the rules not checked.
            const bool mixed = scope == "全部";
            const stats::ControlLimits trial = limitsOf(r);
            QVector<double> kept;
            for (double x : r)
                if (mixed || (x <= trial.ucl() && x >= trial.lcl()))
                    kept << x;
            const stats::ControlLimits revised = limitsOf(kept);
            const double cl = revised.centre, sigma = revised.sigma;
            const QJsonObject spc = spcOf(scope);
            QCOMPARE(spc["n"].toInt(), r.size());
            QCOMPARE(spc["set_aside"].toInt(), r.size() - kept.size());
            QCOMPARE(spc["revised"].toBool(), kept.size() < r.size());
            QCOMPARE(spc["rules_checked"].toBool(), !mixed);
            QCOMPARE(spc["mixed_stations"].toBool(), mixed);
            QCOMPARE(spc["subgroup"].toInt(), 1);
            for (const auto &[key, want] : {std::pair<QString, double>("cl", cl), {"sigma", sigma}, {"ucl", cl + 3 * sigma}, {"lcl", cl - 3 * sigma}})
                QVERIFY2(std::fabs(spc[key].toDouble() - want) < 1e-9, qPrintable(scope + " " + key));
            const QVector<stats::Signal> want = mixed ? QVector<stats::Signal>() : stats::nelsonSignals(r, revised);
            const QJsonArray got = spc["signals"].toArray();
            QCOMPARE(got.size(), want.size());
            for (int i = 0; i < want.size(); ++i) {
                QCOMPARE(got[i]["rule"].toInt(), want[i].rule);
                QCOMPARE(got[i]["index"].toInt(), want[i].index);
                QCOMPARE(got[i]["time"].toString(), journal::isoTime(readings[want[i].index].time.toLocalTime()));
                QCOMPARE(got[i]["value"].toDouble(), r[want[i].index]);
            }
        }
        // Station A's own: only the point far above, at its place.
        const QJsonArray aSignals = spcOf("工位 A")["signals"].toArray();
        QCOMPARE(aSignals.size(), 1);
        QCOMPARE(aSignals[0]["rule"].toInt(), 1);
        QCOMPARE(aSignals[0]["index"].toInt(), 40);
        QVERIFY2(run.out.contains("信号 规则1×1"), qPrintable(run.out));
        // Without them: the same table, no spc.
        const Run plain = runReport({"j", "--no-control-charts", "--json", "-"});
        QCOMPARE(plain.exitCode, 0);
        QVERIFY(!plain.out.contains("\"spc\"") && plain.out.contains("\"scope\""));
        QFile sf("signals.csv");
        QVERIFY(sf.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(sf.readAll()).contains(QString("工位 A,\"R 10–20 mΩ, V 3–4.5 V\",r,1,40,%1,15.5,")
                                                             .arg(journal::isoTime(a[40].time.toLocalTime()))));
    }

    // Files read on several threads give the report one thread gives: two
    // stations' days across midnight and a change of limits, cell records
    // with a void of yesterday's record in today's file, numbers to the
    // last rounding of a sum.
    void severalThreadsReadAsOne()
    {
        QDir().mkpath("j/a");
        QDir().mkpath("j/b");
        const QByteArray cellsHeader = "time,station,operator,lot,record,cell_id,r_mohm,v,verdict,grade,set,r_range,v_range,settled_by,voids\n";
        for (int d = 0; d < 6; ++d) {
            const QDate day = QDate(2026, 12, 1).addDays(d);
            for (const QString station : {"A", "B"}) {
                QFile f(QString("j/%1/readings-%2.csv").arg(station.toLower(), day.toString(Qt::ISODate)));
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(kBom + QByteArray(journal::kHeader) + "\n");
                for (int i = 0; i < 900; ++i) {
                    const QDateTime t(day, QTime(0, 0).addSecs(96 * i), Qt::OffsetFromUTC, 8 * 3600);
                    const double r = (station == "A" ? 15 : 14) + 0.3 * std::sin(i * 0.37 + d) + (d == 4 && i > 300 ? 0.5 : 0);
                    f.write(readingLine(journal::isoTime(t), station, i + 1, r, 3.7 + 0.01 * std::cos(i * 1.1), r > 15.2 ? "NG" : "PASS",
                                        d < 3 ? "10,20,3,4.5" : "12,18,3,4.5")
                                .toUtf8());
                }
            }
            QFile c(QString("j/a/cells-%1.csv").arg(day.toString(Qt::ISODate)));
            QVERIFY(c.open(QIODevice::WriteOnly));
            c.write(kBom + cellsHeader);
            if (d > 0) // just after midnight: yesterday's fifth record voided
                c.write(QString("%1,A,op,L1,%2-9999,C5,30.0,3.7,VOID,NG,T1,AUTO,AUTO,3,%3-0005\n")
                            .arg(journal::isoTime(QDateTime(day, QTime(0, 0, 30), Qt::OffsetFromUTC, 8 * 3600)), day.toString("yyyyMMdd"),
                                 day.addDays(-1).toString("yyyyMMdd"))
                            .toUtf8());
            for (int k = 1; k <= 40; ++k)
                c.write(QString("%1,A,op,L%2,%3-%4,C%5,%6,3.7,PASS,%7,T1,AUTO,AUTO,3,\n")
                            .arg(journal::isoTime(QDateTime(day, QTime(9, 0).addSecs(60 * k), Qt::OffsetFromUTC, 8 * 3600)))
                            .arg(k % 3 + 1)
                            .arg(day.toString("yyyyMMdd"))
                            .arg(k, 4, 10, QChar('0'))
                            .arg(d * 100 + k)
                            .arg(12 + 0.2 * std::sin(k + d), 0, 'f', 4)
                            .arg(k % 4 ? "A" : "B")
                            .toUtf8());
        }
        const Run one = runReport({"j", "--jobs", "1", "--json", "-"}), three = runReport({"j", "--jobs", "3", "--json", "-"});
        QCOMPARE(one.exitCode, 0);
        QCOMPARE(three.exitCode, 0);
        const QJsonValue a = QJsonDocument::fromJson(one.out.toUtf8()).object(), b = QJsonDocument::fromJson(three.out.toUtf8()).object();
        QVERIFY(a["groups"].toArray().size() >= 8);
        int differences = 0;
        std::function<void(const QJsonValue &, const QJsonValue &, const QString &)> same = [&](const QJsonValue &x, const QJsonValue &y,
                                                                                               const QString &where) {
            if (x.isDouble() && y.isDouble()) {
                if (x.toDouble() != y.toDouble() && ++differences < 5)
                    qWarning("%s: %.12g vs %.12g", qPrintable(where), x.toDouble(), y.toDouble());
            } else if (x.isObject() && y.isObject() && x.toObject().keys() == y.toObject().keys()) {
                for (const QString &k : x.toObject().keys())
                    same(x.toObject()[k], y.toObject()[k], where + "." + k);
            } else if (x.isArray() && y.isArray() && x.toArray().size() == y.toArray().size()) {
                for (int i = 0; i < x.toArray().size(); ++i)
                    same(x.toArray()[i], y.toArray()[i], QString("%1[%2]").arg(where).arg(i));
            } else if (x != y && ++differences < 5) {
                qWarning("%s differs", qPrintable(where));
            }
        };
        same(a, b, "");
        QCOMPARE(differences, 0);
        QCOMPARE(one.out, three.out); // to the byte: each file's sums taken in the files' order
        // The void in the next day's file counted, whichever thread read it.
        for (const QJsonValue &g : a["groups"].toArray())
            if (scopeOf(g) == "单体 全部")
                QCOMPARE(g["n"].toInt(), 6 * 40 - 5);
    }

    void cellRecordsWithAVoid()
    {
        QFile f("cells-2026-12-07.csv");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kBom + "time,station,operator,lot,record,cell_id,r_mohm,v,verdict,grade,set,r_range,v_range,settled_by,voids\n");
        f.write("2026-12-07T08:00:00.000+08:00,S,op,L1,20261207-1,C1,12.1,3.7,PASS,A,T1,AUTO,AUTO,3,\n");
        f.write("2026-12-07T08:00:02.000+08:00,S,op,L1,20261207-2,C2,12.9,3.7,PASS,B,T1,AUTO,AUTO,3,\n");
        f.write("2026-12-07T08:00:04.000+08:00,S,op,L1,20261207-3,C3,30.0,3.7,NG,NG,T1,AUTO,AUTO,3,\n");
        f.write("2026-12-07T08:00:05.000+08:00,S,op,L1,20261207-4,C3,30.0,3.7,VOID,NG,T1,AUTO,AUTO,3,20261207-3\n");
        f.write("2026-12-07T08:00:06.000+08:00,S,op,L2,20261207-5,C4,12.2,3.7,PASS,A,T1,AUTO,AUTO,3,\n");
        // Another station's file merged in, its header written again: its
        // record of the same number is not the one S voided.
        f.write("time,station,operator,lot,record,cell_id,r_mohm,v,verdict,grade,set,r_range,v_range,settled_by,voids\n");
        f.write("2026-12-07T08:00:07.000+08:00,T,op,L1,20261207-3,C9,12.0,3.7,PASS,A,T1,AUTO,AUTO,3,\n");
        f.close();
        const Run run = runReport({".", "--json", "-"});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject root = QJsonDocument::fromJson(run.out.mid(run.out.indexOf('{')).toUtf8()).object();
        QJsonObject lot1;
        for (const QJsonValue &g : root["groups"].toArray())
            if (scopeOf(g) == "单体 批次 L1")
                lot1 = g.toObject();
        QCOMPARE(lot1["n"].toInt(), 3); // the voided record does not count
        QCOMPARE(lot1["grades"].toObject()["A"].toInt(), 2);
        QCOMPARE(lot1["grades"].toObject()["B"].toInt(), 1);
        int all = -1;
        for (const QJsonValue &g : root["groups"].toArray())
            if (scopeOf(g) == "单体 全部")
                all = g["n"].toInt();
        QCOMPARE(all, 4); // the header written again is no record
    }

    void eachReadingOnceAndOnlyReadings()
    {
        // A folder that also links to itself, a header written again, values
        // no meter can show, and limits the wrong way round.
        QDir().mkpath("c");
        QVERIFY(QFile::link(QDir("c").absolutePath(), "c/again"));
        const QVector<double> good = {10, 20, 30, 40};
        QFile f("c/readings-2026-12-07.csv");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(journal::kHeader) + "\n");
        for (int i = 0; i < 2; ++i)
            f.write(readingLine("2026-12-07T10:00:00.000+08:00", "A", i + 1, good[i], 3.7, "NG", "50,10,3,4.5").toUtf8());
        f.write(QByteArray(journal::kHeader) + "\n");
        f.write(readingLine("2026-12-07T10:00:01.000+08:00", "A", 3, 1e308, 3.7, "NG", "50,10,3,4.5").toUtf8());
        f.write(readingLine("2026-12-07T10:00:01.000+08:00", "A", 4, 15, 2000, "NG", "50,10,3,4.5").toUtf8());
        for (int i = 2; i < 4; ++i)
            f.write(readingLine("2026-12-07T10:00:02.000+08:00", "A", i + 3, good[i], 3.7, "NG", "50,10,3,4.5").toUtf8());
        f.close();
        const Run run = runReport({"c", "--json", "-"});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject root = QJsonDocument::fromJson(run.out.mid(run.out.indexOf('{')).toUtf8()).object();
        QCOMPARE(root["skipped"].toInt(), 2);
        QJsonObject all;
        for (const QJsonValue &g : root["groups"].toArray())
            if (scopeOf(g) == "全部")
                all = g.toObject();
        QCOMPARE(all["n"].toInt(), good.size());
        QCOMPARE(all["r"].toObject()["mean"].toDouble(), 25.0);
        for (const char *index : {"cp", "cpk", "pp", "ppk"})
            QVERIFY(all["r"].toObject()[index].isNull());
        const Run text = runReport({"c"});
        QVERIFY2(text.out.contains("R 的下限高于上限"), qPrintable(text.out));
        // A range that ends before it starts says so.
        const Run empty = runReport({"c", "--from", "2026-12-08", "--to", "2026-12-07"});
        QCOMPARE(empty.exitCode, 2);
        QVERIFY2(empty.err.contains("range is empty"), qPrintable(empty.err));
    }

    // Readings in levels, one level a cell, as a station in cell mode
    // makes them (settling, then settled, contact by contact), a classic
    // station measuring cell after cell (no contact column), and a steady
    // process with a few readings out: revision never charts nothing.
    void readingsInLevels_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<bool>("byContact");
        QTest::addColumn<bool>("revised");
        QTest::addColumn<bool>("unrevised");
        QTest::newRow("cell mode, 100 cells") << "contacts" << true << false << false;
        QTest::newRow("classic, 100 cells") << "levels" << false << false << true;
        QTest::newRow("steady, 3 out") << "steady" << false << true << false;
    }
    void readingsInLevels()
    {
        QFETCH(QString, shape);
        QFETCH(bool, byContact);
        QFETCH(bool, revised);
        QFETCH(bool, unrevised);
        QDir().mkpath("l");
        QFile f("l/readings-2026-12-07.csv");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kBom + QByteArray(journal::kHeader) + "\n");
        const QDateTime t0(QDate(2026, 12, 7), QTime(9, 0), Qt::OffsetFromUTC, 8 * 3600);
        int seq = 0;
        auto write = [&](double r, const QString &contact) {
            const QString time = journal::isoTime(t0.addMSecs(500LL * seq));
            f.write(readingLine(time, "S1", ++seq, r, 3.7, r >= 10 && r <= 20 ? "PASS" : "NG", "10,20,3,4.5", contact).toUtf8());
        };
        for (int cell = 0; cell < 100; ++cell) {
            // Cells spread ±1.5 mΩ; the meter's noise within a contact ±2 µΩ.
            const double level = 15 + 0.5 * stats::normalQuantile(((cell * 37) % 100 + 0.5) / 100);
            for (int k = 0; k < 6; ++k) {
                const double noise = (k % 2 ? 0.002 : -0.002);
                if (shape == "steady")
                    write(15 + 0.3 * stats::normalQuantile(((cell * 6 + k) * 37 % 600 + 0.5) / 600) + (cell % 40 == 7 && k == 0 ? 4 : 0), "");
                else
                    write(level + noise, shape == "levels" ? "" : k == 0 ? "settling" : "settled");
            }
        }
        f.close();
        const Run run = runReport({"l", "--json", "table.json"});
        QCOMPARE(run.exitCode, 0);
        QFile jf("table.json");
        QVERIFY(jf.open(QIODevice::ReadOnly));
        const QJsonArray groups = QJsonDocument::fromJson(jf.readAll()).object()["groups"].toArray();
        QCOMPARE(groups.size(), 2); // 全部 and 工位 S1
        for (const QJsonValue &g : groups) {
            const QJsonObject r = g["spc"]["r"].toObject();
            // V all alike (3.7): no chart, however its mean rounds.
            QVERIFY(g["spc"]["v"]["cl"].isNull() && g["spc"]["v"]["signals"].toArray().isEmpty());
            QCOMPARE(r["by_contact"].toBool(), byContact);
            // Charted, or withheld with the cells' capability theirs.
            QCOMPARE(r["cl"].isNull(), byContact);
            QCOMPARE(g.toObject().contains("capability"), true);
            QCOMPARE(g["capability"]["pp"]["value"].isNull(), byContact);
            QCOMPARE(r["set_aside"].toInt() > 0, revised);
            QCOMPARE(r["unrevised"].toInt() > 0, unrevised);
            if (!byContact)
                QVERIFY2(r["set_aside"].toInt() <= 600 / 4, qPrintable(QJsonDocument(r).toJson()));
        }
        const Run text = runReport({"l", "--pdf", "l.pdf"});
        QCOMPARE(text.exitCode, 0);
        QCOMPARE(text.out.contains("控制图和能力：无。读数是一次次接触测的"), byContact);
        QCOMPARE(text.out.contains("控制限未修正：600 个读数中"), unrevised);
        QVERIFY(!text.out.contains("R 0"));
    }

    // The table as a workbook, read back from its XML: the CSV's columns,
    // numbers as numbers (to the CSV's places), names as text, none empty.
    void theTableAsAWorkbook()
    {
        if (QStandardPaths::findExecutable("unzip").isEmpty())
            QSKIP("unzip is not installed (tools/dev.sh installs it)");
        QDir().mkpath("w");
        QFile f("w/readings-2026-12-07.csv");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kBom + QByteArray(journal::kHeader) + "\n");
        for (int i = 0; i < 30; ++i)
            f.write(readingLine(QString("2026-12-07T10:00:%1.000+08:00").arg(i, 2, 10, QChar('0')), i % 2 ? "东 1" : "=S2", i, 14 + (i % 7) * 0.1,
                                3.7, "PASS")
                        .toUtf8());
        f.close();
        const Run run = runReport({"w", "--xlsx", "t.xlsx", "--csv", "t.csv"});
        QCOMPARE(run.exitCode, 0);
        auto part = [](const QString &name) {
            QProcess unzip;
            unzip.start("unzip", {"-p", "t.xlsx", name});
            unzip.waitForFinished(30000);
            return unzip.readAllStandardOutput();
        };
        QStringList shared;
        QXmlStreamReader strings(part("xl/sharedStrings.xml"));
        while (strings.readNextStartElement() || !strings.atEnd())
            if (strings.isStartElement() && strings.name() == QLatin1String("t"))
                shared << strings.readElementText();
        // (row, column) → the value as the CSV writes it; numbers marked.
        QMap<QPair<int, int>, QPair<QString, bool>> cells;
        QXmlStreamReader sheet(part("xl/worksheets/sheet1.xml"));
        int row = -1, column = 0;
        while (!sheet.atEnd()) {
            sheet.readNext();
            if (sheet.isStartElement() && sheet.name() == QLatin1String("row"))
                ++row, column = 0;
            if (!sheet.isStartElement() || sheet.name() != QLatin1String("c"))
                continue;
            const QString ref = sheet.attributes().value("r").toString();
            column = 0;
            for (QChar ch : ref)
                if (ch.isLetter())
                    column = column * 26 + (ch.unicode() - 'A' + 1);
            const bool text = sheet.attributes().value("t") == QLatin1String("s");
            sheet.readNextStartElement(); // <v>
            const QString v = sheet.readElementText();
            cells.insert({row, column - 1}, {text ? shared.value(v.toInt()) : v, !text});
        }
        const QStringList csv = testsupport::textFileLines("t.csv");
        QCOMPARE(csv.size(), 4); // the header, 全部 and two stations
        for (int r = 0; r < csv.size(); ++r) {
            QStringList fields;
            for (const QByteArray &field : journal::csvFields(csv[r].toUtf8()))
                fields << QString::fromUtf8(field);
            for (int c = 0; c < fields.size(); ++c) {
                const auto cell = cells.value({r, c});
                bool number = false;
                const double x = fields[c].toDouble(&number);
                QVERIFY2(cell.second == (number && r > 0), qPrintable(QString("%1,%2: %3").arg(r).arg(c).arg(fields[c])));
                if (cell.second)
                    QVERIFY2(std::fabs(cell.first.toDouble() - x) <= 0.5 * std::pow(10.0, -3) * std::max(1.0, std::fabs(x)),
                             qPrintable(QString("%1,%2: %3 vs %4").arg(r).arg(c).arg(cell.first, fields[c])));
                else
                    QCOMPARE(cell.first, fields[c].startsWith("'") ? fields[c].mid(1) : fields[c]);
            }
        }
        QCOMPARE(cells.value({1, 0}).first, QString("全部"));
    }

    // K as the station judged it, on records as it writes them: a rest too
    // short and an OCV1 beyond 60 days give none (said why), a cell measured
    // twice at OCV2 counts once, an OCV1 stamped after OCV2 (a clock set
    // back) makes no group of its own.
    void kAsTheStationJudgedIt()
    {
        const QDateTime day0(QDate(2026, 11, 1), QTime(9, 0), Qt::OffsetFromUTC, 8 * 3600);
        QMap<QDate, QStringList> files;
        auto record = [&](const QString &cell, const QString &stage, const QDateTime &at, double v, double k, const QString &note,
                          const QString &reason = QString()) {
            station::CellRecord r;
            r.time = at, r.station = "S", r.lot = "L1", r.cellId = cell, r.rMilliOhm = 15, r.v = v, r.stage = stage;
            r.id = QString("S-%1-%2").arg(at.toString("yyyyMMdd")).arg(files[at.date()].size() + 1);
            r.verdict = reason.isEmpty() ? meter::Verdict::Pass : meter::Verdict::Ng;
            r.kMvDay = k, r.kNote = note, r.reason = reason;
            files[at.date()] << station::cellsCsvLine(r);
        };
        const QDateTime ocv2 = day0.addDays(62);
        record("C1", "OCV1", ocv2.addDays(-7), 3.70, NAN, "");
        record("C1", "OCV2", ocv2, 3.69, 10.0 / 7, "");
        record("C2", "OCV1", ocv2.addDays(-7), 3.70, NAN, "");
        record("C2", "OCV2", ocv2.addSecs(60), 3.68, 20.0 / 7, "", "K");
        record("C3", "OCV1", ocv2.addDays(-1), 3.70, NAN, "");
        record("C3", "OCV2", ocv2.addSecs(120), 3.69, NAN, station::kShortRest);
        record("C4", "OCV1", day0, 3.70, NAN, "");
        record("C4", "OCV2", ocv2.addSecs(180), 3.69, NAN, station::kNoEarlier);
        record("C5", "OCV1", ocv2.addDays(-7), 3.70, NAN, "");
        record("C5", "OCV2", ocv2.addSecs(240), 3.60, 100.0 / 7, "", "K");
        record("C5", "OCV2", ocv2.addDays(1), 3.695, 5.0 / 8, ""); // measured again the next day: this one counts
        record("C1", "OCV1", ocv2.addSecs(300), 3.69, NAN, "");  // a clock set back: OCV1 after OCV2
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QFile f(QString("cells-%1.csv").arg(it.key().toString(Qt::ISODate)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kBom + QByteArray(station::kCellsHeader) + "\n" + it.value().join("\n").toUtf8() + "\n");
        }
        const Run run = runReport({".", "--json", "-"});
        QCOMPARE(run.exitCode, 0);
        const QJsonArray k = QJsonDocument::fromJson(run.out.toUtf8()).object()["k"].toArray();
        QCOMPARE(k.size(), 1); // OCV1 → OCV2 only
        const QJsonObject g = k[0].toObject();
        QCOMPARE(g["from_stage"].toString() + " → " + g["stage"].toString(), QString("OCV1 → OCV2"));
        QCOMPARE(g["n"].toInt(), 3); // C1, C2, C5 once
        QVERIFY2(std::fabs(g["mean"].toDouble() - (10.0 / 7 + 20.0 / 7 + 5.0 / 8) / 3) < 1e-4, qPrintable(QJsonDocument(g).toJson()));
        QCOMPARE(g["beyond"].toArray(), QJsonArray {"C2"});
        QCOMPARE(g["no_k"].toObject(), (QJsonObject {{"no-earlier", 1}, {"short-rest", 1}}));
        const Run text = runReport({"."});
        QVERIFY2(text.out.contains("没有 K 的电池：没有前一工序的记录 1、静置天数不足 1"), qPrintable(text.out));
    }

    // A histogram framed on the bulk: far outliers (a lifted probe's
    // readings) are counted at the edge, not binned with the bulk in one bar.
    void farOutliersSqueezeNoHistogram_data()
    {
        QTest::addColumn<double>("outlier"); // NaN: none
        QTest::addColumn<int>("below");
        QTest::addColumn<int>("above");
        QTest::newRow("none") << double(NAN) << 0 << 0;
        QTest::newRow("20 far above") << 150.0 << 0 << 20;
        QTest::newRow("20 far below") << 0.5 << 20 << 0;
    }
    void farOutliersSqueezeNoHistogram()
    {
        QFETCH(double, outlier);
        QFETCH(int, below);
        QFETCH(int, above);
        QVector<double> values;
        for (int i = 1; i <= 1000; ++i)
            values << 15 + 0.3 * stats::normalQuantile((i - 0.5) / 1000);
        for (int i = 0; i < 20 && std::isfinite(outlier); ++i)
            values << outlier;
        QVector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double p) { return sorted[int(p * (sorted.size() - 1))]; };
        report::Histogram h = report::Histogram::frameBulk(sorted.first(), at(0.25), at(0.75), sorted.last(), 10, 20);
        for (double x : values)
            h.count(x);
        QCOMPARE(int(h.below), below);
        QCOMPARE(int(h.above), above);
        QCOMPARE(int(std::accumulate(h.counts.begin(), h.counts.end(), 0.0)), 1000);
        // The limits in view, the bulk over several bins.
        QVERIFY(h.lo <= 10 && h.lo + h.width * report::kHistogramBins >= 20);
        QVERIFY(*std::max_element(h.counts.begin(), h.counts.end()) < 400);
    }

    void recordsAcrossLinesAndVersions()
    {
        // An older version's cell records, one with a line break pasted into
        // its ID; then this version's, under its header with the bounds in
        // force, one graded "=X". A journal whose port name holds a line break.
        const QByteArray oldHeader = "time,station,operator,lot,record,cell_id,r_mohm,v,verdict,grade,set,r_range,v_range,settled_by,voids";
        const QVector<double> t2 = {14, 15, 17};
        {
            QFile f("cells-2026-12-07.csv");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kBom + oldHeader + "\n");
            f.write("2026-12-07T08:00:00.000+08:00,S,op,L1,S-20261207-1,\"C1\nC1b\",12,3.7,PASS,A,T1,AUTO,AUTO,3,\n");
            f.write("2026-12-07T08:00:01.000+08:00,S,op,L1,S-20261207-2,C2,13,3.7,PASS,A,T1,AUTO,AUTO,3,\n");
            f.close();
            // This version goes on in the same day's file: its header first.
            journal::DailyCsv cells(".", "cells", station::kCellsHeader);
            for (int i = 0; i < t2.size(); ++i)
                cells.append(QDate(2026, 12, 7), QString("2026-12-07T09:00:0%1.000+08:00,S,op,L1,S-20261207-%2,C%2,%3,3.7,PASS,%4,T2,AUTO,AUTO,3,,10,20,3,4.5,,,,,,\n")
                            .arg(i).arg(i + 3).arg(t2[i]).arg(journal::csvField(i ? "A" : "=X")).toUtf8());
            QVERIFY(!cells.paused());
            QFile j("readings-2026-12-07.csv");
            QVERIFY(j.open(QIODevice::WriteOnly));
            j.write(QByteArray(journal::kHeader) + "\n");
            for (int i = 0; i < 4; ++i)
                j.write(readingLine("2026-12-07T10:00:00.000+08:00", "A", i + 1, 15, 3.7, "PASS").replace("/dev/ttyUSB0", "\"tty\nUSB0\"").toUtf8());
        }
        const Run run = runReport({".", "--json", "-", "--csv", "table.csv"});
        QCOMPARE(run.exitCode, 0);
        // Standard output is the JSON and nothing else: a script parses it whole.
        QJsonParseError parsed;
        const QJsonObject root = QJsonDocument::fromJson(run.out.toUtf8(), &parsed).object();
        QVERIFY2(parsed.error == QJsonParseError::NoError, qPrintable(run.out.left(200)));
        QCOMPARE(root["skipped"].toInt(), 0);
        QMap<QString, QJsonObject> groups; // "scope | limits"
        for (const QJsonValue &g : root["groups"].toArray())
            groups[scopeOf(g) + " | " + g["limits_text"].toString()] = g.toObject();
        // The limits as numbers, null where not set.
        const QJsonObject limits = groups["全部 | R 10–20 mΩ, V 3–4.5 V"]["limits"].toObject();
        QCOMPARE(limits["r_low"].toDouble(), 10.0);
        QCOMPARE(limits["v_high"].toDouble(), 4.5);
        QVERIFY(groups["单体 全部 | 限值组 T1"]["limits"].toObject()["r_low"].isNull());
        QCOMPARE(groups["全部 | R 10–20 mΩ, V 3–4.5 V"]["n"].toInt(), 4);
        QCOMPARE(groups["单体 全部 | 限值组 T1"]["n"].toInt(), 2);
        QVERIFY(groups["单体 全部 | 限值组 T1"]["r"].toObject()["cp"].isNull()); // no bounds known
        const QJsonObject r2 = groups["单体 全部 | 限值组 T2: R 10–20 mΩ, V 3–4.5 V"]["r"].toObject();
        const double mean = (14 + 15 + 17) / 3.0;
        const double sd = std::sqrt((std::pow(14 - mean, 2) + std::pow(15 - mean, 2) + std::pow(17 - mean, 2)) / 2);
        QVERIFY2(std::fabs(r2["pp"].toDouble() - 10 / (6 * sd)) < 1e-9, qPrintable(QJsonDocument(r2).toJson()));
        QVERIFY(std::fabs(r2["ppk"].toDouble() - (20 - mean) / (3 * sd)) < 1e-9);
        // Capability as the packages give it: Pp from the overall σ, with its interval.
        const QJsonObject capability = groups["单体 全部 | 限值组 T2: R 10–20 mΩ, V 3–4.5 V"]["capability"].toObject();
        QVERIFY(std::fabs(capability["pp"].toObject()["value"].toDouble() - 10 / (6 * sd)) < 1e-9);
        QVERIFY(capability["pp"].toObject()["low"].toDouble() < capability["pp"].toObject()["value"].toDouble());
        QCOMPARE(capability["n"].toInt(), 3);
        // The grade a spreadsheet would run is guarded in the report's CSV.
        QVERIFY(testsupport::textFileLines("table.csv").join('\n').contains(",'=X:1 A:2"));
        // The outbox sends each record once, the one across two lines too.
        mqtt::Outbox box(".", "cells", {"r_mohm", "r_low"});
        box.startAtBeginning();
        const QVector<mqtt::Message> messages = box.read(100);
        QCOMPARE(messages.size(), 5);
        const QJsonObject first = QJsonDocument::fromJson(messages[0].payload).object();
        const QJsonObject last = QJsonDocument::fromJson(messages[4].payload).object();
        QCOMPARE(first["cell_id"].toString(), QString("C1\nC1b"));
        QCOMPARE(last["r_low"].toDouble(), 10.0);
        QCOMPARE(last["r_mohm"].toDouble(), 17.0);
    }

    void clearFailures()
    {
        QDir().mkdir("empty");
        Run run = runReport({"empty"});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("no readings-*.csv or cells-*.csv in empty"), qPrintable(run.err));

        // A day file that is no file: named, with the reason; the rest is read.
        QDir().mkdir("j");
        QVERIFY(::mkfifo("j/readings-2026-12-07.csv", 0600) == 0);
        QFile ok("j/readings-2026-12-08.csv");
        QVERIFY(ok.open(QIODevice::WriteOnly));
        ok.write(QByteArray(journal::kHeader) + "\n" + readingLine("2026-12-08T10:00:00.000+08:00", "A", 1, 15, 3.7, "PASS").toUtf8());
        ok.close();
        run = runReport({"j"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("readings-2026-12-07.csv") && run.err.contains("不是普通文件"), qPrintable(run.err));
        QVERIFY(run.out.contains("1 行"));
    }

    // Under a file-size limit the report says which output it could not
    // write and exits 1 (no SIGXFSZ), into a file or on standard output.
    void aFileSizeLimitIsSaid_data()
    {
        QTest::addColumn<QString>("shell"); // after the limit; $0 is the report
        QTest::addColumn<QString>("said");
        QTest::newRow("--json FILE") << "exec \"$0\" j --json table.json" << "table.json";
        QTest::newRow("--json - into a file") << "exec \"$0\" j --json - > out.json" << "standard output";
        QTest::newRow("--pdf FILE") << "exec \"$0\" j --pdf report.pdf" << "report.pdf";
        QTest::newRow("--signals FILE") << "exec \"$0\" j --signals signals.csv" << "signals.csv";
    }
    void aFileSizeLimitIsSaid()
    {
        QFETCH(QString, shell);
        QFETCH(QString, said);
        QDir().mkdir("j");
        QFile day("j/readings-2026-12-08.csv");
        QVERIFY(day.open(QIODevice::WriteOnly));
        day.write(QByteArray(journal::kHeader) + "\n");
        for (int i = 0; i < 400; ++i)
            day.write(readingLine(QString("2026-12-08T10:%1:%2.000+08:00").arg(i / 60, 2, 10, QChar('0')).arg(i % 60, 2, 10, QChar('0')),
                                  QString("S%1").arg(i % 7), i, 12 + (i % 13) * 0.01, 3.7, "PASS").toUtf8());
        day.close();
        QProcess p;
        p.start("bash", {"-c", "ulimit -f 1 && " + shell, QStringLiteral(ZENTREL_REPORT_PATH)});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains(said + ": File too large"), qPrintable(err));
    }

    // The pages in order, on A4 and on Letter, and their text layer exactly
    // as drawn: every digit, Chinese as Chinese (not the Kangxi radicals a
    // CJK font shares glyphs with), a long station name whole.
    void pdfWithTheExpectedPages_data()
    {
        QTest::addColumn<QString>("paper");
        QTest::addColumn<int>("width"); // of a page's image at 150 dpi
        QTest::addColumn<QByteArray>("mediaBox");
        QTest::newRow("A4") << "a4" << 1240 << QByteArray("595.000000 842.000000");
        QTest::newRow("Letter") << "letter" << 1275 << QByteArray("612.000000 792.000000");
    }
    void pdfWithTheExpectedPages()
    {
        QFETCH(QString, paper);
        QFETCH(int, width);
        QFETCH(QByteArray, mediaBox);
        const QString longName = "B_Formation_Line_07_Station_Number_Twelve_Right";
        QDir().mkpath("j/a");
        QDir().mkpath("j/b");
        for (const QString station : {"a", "b"}) {
            QFile f("j/" + station + "/readings-2026-12-07.csv");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(journal::kHeader) + "\n");
            for (int i = 0; i < 500; ++i)
                f.write(readingLine(QDateTime(QDate(2026, 12, 7), QTime(8, 0)).addSecs(i * 2).toString(Qt::ISODateWithMs) + "+08:00",
                                    station == "a" ? "A" : longName, i + 1, 15 + std::sin(i) * (station == "a" ? 1 : 2), 3.7, "PASS",
                                    "11.5,18.5,3,4.5")
                            .toUtf8());
        }
        const Run run = runReport({"j", "--pdf", "report.pdf", "--png", "page", "--paper", paper, "--json", "table.json"});
        QCOMPARE(run.exitCode, 0);
        QFile pdf("report.pdf");
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        QVERIFY(bytes.startsWith("%PDF-"));
        QVERIFY(bytes.contains("/MediaBox [0 0 " + mediaBox));
        // Cover, table, histograms, run chart, box plots; then for each of
        // the three groups its control charts and its R capability (V is
        // constant: no capability).
        QCOMPARE(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page "), 11);
        for (int page = 1; page <= 11; ++page)
            QCOMPARE(QImage(QString("page-%1.png").arg(page)).width(), width);
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        if (pdftotext.isEmpty())
            QSKIP("pdftotext is missing (Debian: poppler-utils; tools/dev.sh installs it)");
        // A page's text, or that of a strip of it (x and width in points).
        auto pageText = [&](int page, int x = -1, int w = 0) {
            QProcess text;
            QStringList args = {"-f", QString::number(page), "-l", QString::number(page)};
            if (x >= 0)
                args << "-x" << QString::number(x) << "-y" << "0" << "-W" << QString::number(w) << "-H" << "2000";
            text.start(pdftotext, args << "report.pdf" << "-");
            text.waitForFinished(60000);
            return QString::fromUtf8(text.readAllStandardOutput()).simplified();
        };
        auto unwrapped = [](QString s) { return s.remove(QRegularExpression("\\s")); };
        QString all;
        for (int page = 1; page <= 11; ++page)
            all += pageText(page);
        for (const QChar c : all)
            QVERIFY2(c.unicode() < 0x2E80 || c.unicode() > 0x2FDF, qPrintable(QString("radical U+%1").arg(c.unicode(), 4, 16)));
        const QString cover = pageText(1);
        QVERIFY2(cover.contains("2026-12-07") && cover.contains("j/a/readings-2026-12-07.csv"), qPrintable(cover));
        QVERIFY2(unwrapped(cover).contains(unwrapped("A、" + longName)), qPrintable(cover));
        // The table: each group's numbers as the JSON has them, the long name whole.
        const QString table = pageText(2);
        const QString scopes = pageText(2, 43, 60); // the first column
        QVERIFY2(unwrapped(scopes).contains("工位" + longName), qPrintable(scopes));
        QVERIFY2(table.contains("R 11.5–18.5 mΩ, V 3–4.5 V") || unwrapped(table).contains("R11.5–18.5mΩ,V3–4.5V"), qPrintable(table));
        QFile jf("table.json");
        QVERIFY(jf.open(QIODevice::ReadOnly));
        const QJsonArray groups = QJsonDocument::fromJson(jf.readAll()).object()["groups"].toArray();
        QCOMPARE(groups.size(), 3);
        for (const QJsonValue &g : groups) {
            for (const QString &n : {QString::number(g["r"]["mean"].toDouble(), 'f', 4), QString::number(g["r"]["sd"].toDouble(), 'f', 4),
                                     QString::number(g["r"]["cpk"].toDouble(), 'f', 2), QString::number(g["n"].toInt())})
                QVERIFY2(table.contains(n), qPrintable(n + " in " + table));
        }
        // Station A's control charts (individuals: 500 readings) and its
        // capability, the indices and their intervals as computed.
        const QString stationA = pageText(8);
        QVERIFY2(stationA.contains("工位 A") && stationA.contains("单值图") && stationA.contains("移动极差图") && stationA.contains("UCL")
                     && stationA.contains("LCL") && stationA.contains("不是规格限"),
                 qPrintable(stationA));
        const QString capabilityA = pageText(9);
        const QJsonObject c = groups[1]["capability"].toObject();
        QVERIFY2(capabilityA.contains("过程能力：工位 A — R (mΩ)") && capabilityA.contains("正态概率图"), qPrintable(capabilityA));
        for (const QString key : {"cp", "cpk", "pp", "ppk"}) {
            const QJsonObject e = c[key].toObject();
            const QString line = QString("%1 %2 [%3, %4]").arg(key == "cpk" ? "Cpk" : key == "ppk" ? "Ppk" : key == "cp" ? "Cp" : "Pp")
                                     .arg(e["value"].toDouble(), 0, 'f', 2).arg(e["low"].toDouble(), 0, 'f', 2).arg(e["high"].toDouble(), 0, 'f', 2);
            QVERIFY2(capabilityA.contains(line), qPrintable(line + " in " + capabilityA));
        }
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestReport)
#include "test_report.moc"
