// Station mode: one record per cell from a real pseudo-terminal and the
// simulator's cell mode, IDs by scanning, sets by name, void, manual
// capture, statistics checked against a computation of the test's own, and
// a records file that survives a kill.
#include "app/windowcapabilities.h"
#include "settings/configfile.h"
#include "settings/language.h"
#include "meterline.h"
#include "mqtt/outbox.h"
#include "journal/csvrecords.h"
#include "journal/journal.h"
#include "link/meterlink.h"
#include "station/cellcapture.h"
#include "stats/lotstats.h"
#include "station/cellrecorder.h"
#include "station/ui/lotcharts.h"
#include "station/ui/plotfollower.h"
#include "station/ui/recordstable.h"
#include <qcustomplot.h>
#include "station/ui/scancatcher.h"
#include "station/ui/stationdock.h"
#include "testsupport.h"
#include "stationrun.h"
#include "lotgenerator.h"
#include "match/ui/packdialog.h"

#include <QDockWidget>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QMenu>
#include <QMenuBar>
#include <QHeaderView>
#include <QDoubleSpinBox>
#include <QTextDocument>
#include <QSpinBox>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>

#include <csignal>
#include <cmath>

using namespace station;
using namespace stats;

namespace {

const char *kSets = R"({"sets": [
  {"name": "T1", "r": {"low": 10, "high": 20}, "v": {"low": 3.0, "high": 4.5},
   "grades": [{"name": "A", "rLow": 14.0, "rHigh": 14.9, "bin": "1号料框", "colour": "#1565c0"}, {"name": "B", "rLow": 14.9, "rHigh": 15.4},
              {"name": "C", "rLow": 15.4, "rHigh": 16.0}]},
  {"name": "T2", "r": {"reference": 15, "percent": 50}, "v": {"low": 3.0, "high": 4.5}}]})";

void writeSets()
{
    QFile f("limitsets.json");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kSets);
}

// The rows below the header.
QStringList csvRows(const QString &path)
{
    return testsupport::textFileLines(path).mid(1);
}

meter::MeterReading reading(double rMilliOhm, double v, bool lifted = false, qint64 ms = 0)
{
    meter::MeterReading r;
    r.decoded.milliOhm = true;
    r.decoded.r = rMilliOhm;
    r.decoded.v = v;
    r.decoded.vNegative = false;
    r.decoded.rOverload = r.decoded.vOverload = lifted;
    r.time = QDateTime::fromMSecsSinceEpoch(ms);
    r.frameCount = quint32(ms / 100); // a meter at 100 ms a frame
    return r;
}

// The simulator's cell values with --r 15 (see MeterSimulator::cellValue).
double simulatedR(int cell)
{
    double r = 15.0 * (1.0 + 0.02 * double((cell * 7) % 5 - 2));
    return cell % 5 == 0 ? r * 3 : r;
}

// A line's fields as a spreadsheet reads them: RFC 4180 quoting undone.
QStringList spreadsheetFields(const QString &line)
{
    QStringList out = {QString()};
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        if (line[i] == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"')
            out.last() += line[i++];
        else if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ',' && !quoted)
            out << QString();
        else
            out.last() += line[i];
    }
    return out;
}

// One contact of the probes as the meter sends it (lifted, six readings,
// lifted), handed to the session in one read: the program stalled while
// the meter went on.
void contactInOneRead(meter::MeterSession &session, double r, double v)
{
    const QByteArray lifted = frameOf(0, 0, 6, 3, true, false, true, true);
    QByteArray bytes = lifted;
    for (int i = 0; i < 6; ++i)
        bytes += frameOf(quint32(std::lround(r * 10000)), quint32(std::lround(std::fabs(v) * 10000)), 6, 3, true, v < 0);
    session.feed(bytes + lifted);
}

// A station fed by a real session, with a clock of its own.
struct SessionStation
{
    CellRecorder station;
    meter::MeterSession session;
    SessionStation(const QString &folder) : station(folder, QStringLiteral("S1"))
    {
        session.setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(10, 0)); });
        session.linkOpened(QStringLiteral("ttyTEST"));
        session.addSink(&station);
    }
    ~SessionStation() { session.removeSink(&station); }
    // The record lines written, each as the header's names to its fields.
    QVector<QMap<QString, QString>> rows()
    {
        QFile f(station.file()->fileFor(QDate(2026, 12, 7)));
        QVector<QMap<QString, QString>> out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        journal::RecordReader reader(f);
        QByteArray record;
        reader.next(&record);
        const QList<QByteArray> header = journal::csvFields(record.mid(3));
        while (reader.next(&record)) {
            const QList<QByteArray> fields = journal::csvFields(record);
            QMap<QString, QString> row;
            for (int i = 0; i < header.size(); ++i)
                row[header[i]] = QString::fromUtf8(fields.value(i));
            out << row;
        }
        return out;
    }
};

} // namespace

class TestStation : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    void statisticsAgreeWithAPlainComputation()
    {
        const QVector<double> data = {12.1, 12.4, 11.9, 12.0, 12.6, 12.2, 11.8, 12.3, 12.5, 12.2};
        RunningStats s;
        for (double x : data)
            s.add(x);
        double sum = 0, sq = 0;
        for (double x : data)
            sum += x;
        const double mean = sum / data.size();
        for (double x : data)
            sq += (x - mean) * (x - mean);
        const double sigma = std::sqrt(sq / (data.size() - 1));
        QVERIFY(qFuzzyCompare(s.mean(), mean));
        QVERIFY(qFuzzyCompare(s.stddev(), sigma));
        QCOMPARE(s.min(), 11.8);
        QCOMPARE(s.max(), 12.6);
        QVERIFY(qFuzzyCompare(pp(s, 11, 13.5), (13.5 - 11) / (6 * sigma)));
        QVERIFY(qFuzzyCompare(ppk(s, 11, 13.5), std::min(13.5 - mean, mean - 11) / (3 * sigma)));
        // Only with both limits and two values.
        QVERIFY(std::isnan(pp(s, NAN, 13.5)));
        RunningStats one;
        one.add(1);
        QVERIFY(std::isnan(one.stddev()) && std::isnan(ppk(one, 0, 2)));
    }

    void enteredTextIsChecked_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("a scanned ID") << "CELL-0001" << true;
        QTest::newRow("128 characters") << QString(128, 'x') << true;
        QTest::newRow("129 characters") << QString(129, 'x') << false;
        QTest::newRow("a pasted line break") << "C1\nC2" << false;
        QTest::newRow("a carriage return") << "C1\rC2" << false;
        QTest::newRow("an escape sequence") << "C1\x1b[2J" << false;
        QTest::newRow("a tab inside") << "C1\tC2" << false;
        QTest::newRow("a line separator") << QString("C1") + QChar(0x2028) + "C2" << false;
    }
    void enteredTextIsChecked()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        station::CellRecorder s(m_work->file("j"), "S1");
        QSignalSpy notes(&s, &station::CellRecorder::note);
        s.enterCode(text);
        QCOMPARE(s.pendingId() == text, accepted);
        QCOMPARE(notes.isEmpty(), accepted);
        s.startLot(text);
        QCOMPARE(s.lot() == text, accepted);
        // The names config.ini gives every record are held to the same.
        QFile ini("config.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Station]\nName=" + QString(text).replace("\n", "\\n").replace("\r", "\\r").toUtf8() + "\nOperator=Li\n");
        ini.close();
        const ExtraSettings settings = readExtraSettings("config.ini");
        QCOMPARE(settings.stationName == text, accepted || text.size() > kMaxEnteredLength);
        QCOMPARE(settings.refused.isEmpty(), accepted || text.size() > kMaxEnteredLength);
        QCOMPARE(settings.operatorName, QString("Li"));
    }

    void limitSetFile()
    {
        LimitSetStore store;
        QString error;
        QVERIFY(store.load("missing.json", &error)); // no file: no sets
        writeSets();
        QVERIFY(store.load("limitsets.json", &error));
        QCOMPARE(store.sets().size(), 2);
        const LimitSet *t2 = store.find(" T2 ");
        QVERIFY(t2 && t2->r.relative);
        QCOMPARE(t2->r.lowValue(), 7.5);
        QCOMPARE(t2->r.highValue(), 22.5);
        QCOMPARE(store.find("T1")->gradeFor(15.5, meter::Verdict::Pass), QString("C"));
        QCOMPARE(store.find("T1")->gradeFor(15.5, meter::Verdict::Ng), QString("NG"));
        QCOMPARE(store.find("T1")->gradeFor(30, meter::Verdict::Pass), QString());
        // A lock keeps a hash, never the password.
        store.setPassword("geheim-123");
        QVERIFY(store.save("saved.json", &error));
        QFile saved("saved.json");
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray savedText = saved.readAll();
        QVERIFY(!savedText.contains("geheim-123"));
        // A salted, slow hash with its salt and count; no bare SHA-256.
        QVERIFY(savedText.contains("pbkdf2Sha256") && savedText.contains("salt") && savedText.contains("iterations"));
        QVERIFY(!savedText.contains("editPasswordSha256"));
        LimitSetStore again;
        QVERIFY(again.load("saved.json", &error));
        QVERIFY(again.locked());
        QVERIFY(!again.unlocks("wrong"));
        QVERIFY(again.unlocks("geheim-123"));
        QCOMPARE(again.find("T1")->grades.size(), 3);
        QCOMPARE(again.find("T1")->grade("A")->bin, QString("1号料框")); // bin and colour kept
        QCOMPARE(again.find("T1")->grade("A")->colour, QString("#1565c0"));
        QVERIFY(!savedText.contains("\"bin\": \"\"")); // none written for a grade without
        // A file locked by an older version (bare SHA-256) still unlocks.
        QFile legacy("legacy.json");
        QVERIFY(legacy.open(QIODevice::WriteOnly));
        legacy.write(R"({"editPasswordSha256": ")"
                     + QCryptographicHash::hash("alt-pw", QCryptographicHash::Sha256).toHex() + R"(", "sets": []})");
        legacy.close();
        QVERIFY(again.load("legacy.json", &error));
        QVERIFY(again.locked() && !again.unlocks("wrong") && again.unlocks("alt-pw"));
        // A broken file says where and why.
        QFile broken("broken.json");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{\"sets\": [");
        broken.close();
        QVERIFY(!again.load("broken.json", &error));
        QVERIFY2(error.contains("broken.json"), qPrintable(error));
    }

    void limitSetFileIsReadStrictly_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("R only") << R"("r": {"low": 10, "high": 20})" << "";
        QTest::newRow("V only, relative") << R"("v": {"reference": 3.7, "percent": 5})" << "";
        QTest::newRow("an empty bound, as saved") << R"("r": {}, "v": {"low": 3, "high": 4})" << "";
        QTest::newRow("a bound as text") << R"("r": {"low": "11.5", "high": 20})" << "r.low 不是数字";
        QTest::newRow("a bound missing") << R"("r": {"low": 11.5})" << "r.high 缺少";
        QTest::newRow("percent over 100") << R"("r": {"reference": 15, "percent": 150})" << "r.percent";
        QTest::newRow("percent below 0") << R"("v": {"reference": 3.7, "percent": -10})" << "v.percent";
        QTest::newRow("low above high") << R"("v": {"low": 4.2, "high": 3.6})" << "v.low";
        QTest::newRow("a grade's bound as text") << R"("grades": [{"name": "A", "rLow": "1", "rHigh": 2}])" << "grades[0].rLow";
        QTest::newRow("a grade's bin as a number") << R"("grades": [{"name": "A", "rLow": 1, "rHigh": 2, "bin": 1}])" << "grades[0].bin";
        QTest::newRow("stages and K") << R"("stage": "OCV2", "kFrom": "OCV1", "minRestDays": 3, "k": {"high": 1.0},
            "grades": [{"name": "A", "rLow": 1, "rHigh": 2, "kLow": 0, "kHigh": 0.5}])" << "";
        QTest::newRow("K bounded below only") << R"("kFrom": "OCV1", "k": {"low": -0.5})" << "";
        QTest::newRow("K as text") << R"("k": {"high": "1"})" << "k.high 不是数字";
        QTest::newRow("K low above high") << R"("k": {"low": 2, "high": 1})" << "k.low";
        QTest::newRow("a negative rest") << R"("kFrom": "OCV1", "minRestDays": -1)" << "minRestDays";
        QTest::newRow("a missing K passes") << R"("kFrom": "OCV1", "k": {"high": 1}, "kMissing": "pass", "ngBin": "不良品框")" << "";
        QTest::newRow("a missing K, neither pass nor ng") << R"("kFrom": "OCV1", "kMissing": "hold")" << "kMissing";
        QTest::newRow("retest an NG") << R"("r": {"low": 1, "high": 2}, "retestNg": true)" << "";
        QTest::newRow("retest as text") << R"("retestNg": "yes")" << "retestNg";
        QTest::newRow("a stage as a number") << R"("stage": 2)" << "stage";
        QTest::newRow("a grade's K band upside down") << R"("grades": [{"name": "A", "rLow": 1, "rHigh": 2, "kLow": 1, "kHigh": 0}])" << "grades[0].kLow";
        QTest::newRow("the same name twice") << R"("r": {"low": 1, "high": 2}}, {"name": "X", "r": {"low": 3, "high": 4})" << "同名";
    }
    void limitSetFileIsReadStrictly()
    {
        QFETCH(QString, set);
        QFETCH(QString, refusal);
        QFile f("limitsets.json");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QString(R"({"sets": [{"name": "good", "r": {"low": 1, "high": 2}}, {"name": "X", %1}]})").arg(set).toUtf8());
        f.close();
        LimitSetStore store;
        QString error;
        QCOMPARE(store.load("limitsets.json", &error), refusal.isEmpty());
        QVERIFY(store.find("good"));
        if (refusal.isEmpty()) {
            QVERIFY(store.find("X"));
            // Saved and read back, it is the same set.
            QVERIFY(store.save("again.json", &error));
            LimitSetStore again;
            QVERIFY2(again.load("again.json", &error), qPrintable(error));
            const LimitSet *a = store.find("X"), *b = again.find("X");
            QVERIFY(b);
            QCOMPARE(b->stage, a->stage);
            QCOMPARE(b->kFrom, a->kFrom);
            QCOMPARE(b->minRestDays, a->minRestDays);
            QCOMPARE(b->kMissingPasses, a->kMissingPasses);
            QCOMPARE(b->retestNg, a->retestNg);
            QCOMPARE(b->ngBin, a->ngBin);
            QCOMPARE(std::isnan(b->kLow) ? -99.0 : b->kLow, std::isnan(a->kLow) ? -99.0 : a->kLow);
            QCOMPARE(std::isnan(b->kHigh) ? -99.0 : b->kHigh, std::isnan(a->kHigh) ? -99.0 : a->kHigh);
            for (int i = 0; i < a->grades.size(); ++i)
                QCOMPARE(b->grades[i].kHigh, a->grades[i].kHigh);
        } else {
            QVERIFY2(error.contains("“X”") && error.contains(refusal), qPrintable(error));
            QCOMPARE(store.find("X") != nullptr, refusal == "同名"); // the first of two keeps its place
        }
    }

    // A set judges by the bounds it has; the frames of a contact that all
    // come in one read (a stall) still settle it: settling is counted in the
    // meter's frames.
    void recordsByTheSetsOwnBoundsAfterAStall_data()
    {
        QTest::addColumn<QString>("set"); // empty: none, the four fields judge
        QTest::addColumn<double>("r");
        QTest::addColumn<double>("v");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("grade");
        QTest::addColumn<QString>("bounds"); // r_low,r_high,v_low,v_high as written
        QTest::newRow("R only, inside") << "R" << 15.5 << 3.7 << "PASS" << "C" << "10,20,,";
        QTest::newRow("R only, outside") << "R" << 25.0 << 3.7 << "NG" << "NG" << "10,20,,";
        QTest::newRow("V only, probes reversed") << "V" << 99.0 << -3.7 << "PASS" << "" << ",,3,4.5";
        QTest::newRow("V only, outside") << "V" << 15.0 << 4.8 << "NG" << "NG" << ",,3,4.5";
        QTest::newRow("R and V, V outside") << "RV" << 15.5 << 2.9 << "NG" << "NG" << "7.5,22.5,3,4.5";
        QTest::newRow("no bounds at all") << "none" << 15.5 << 3.7 << "" << "" << ",,,";
        QTest::newRow("no set: the four fields") << "" << 25.0 << 3.7 << "NG" << "NG" << "10,20,3,4.5";
    }
    void recordsByTheSetsOwnBoundsAfterAStall()
    {
        QFETCH(QString, set);
        QFETCH(double, r);
        QFETCH(double, v);
        QFile f("limitsets.json");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"sets": [
            {"name": "R", "r": {"low": 10, "high": 20}, "grades": [{"name": "C", "rLow": 15.4, "rHigh": 16.0}]},
            {"name": "V", "v": {"low": 3.0, "high": 4.5}},
            {"name": "RV", "r": {"reference": 15, "percent": 50}, "v": {"low": 3.0, "high": 4.5}},
            {"name": "none"}]})");
        f.close();
        SessionStation s(m_work->file("j"));
        QString error;
        QVERIFY2(s.station.sets().load("limitsets.json", &error), qPrintable(error));
        QVERIFY(set.isEmpty() || s.station.selectSet(set));
        s.session.setLimits({meter::parseLimit("10"), meter::parseLimit("20"), meter::parseLimit("3"), meter::parseLimit("4.5")});
        contactInOneRead(s.session, r, v);
        const auto rows = s.rows();
        QCOMPARE(rows.size(), 1);
        QTEST(rows[0]["verdict"], "verdict");
        QTEST(rows[0]["grade"], "grade");
        QTEST(QStringList({rows[0]["r_low"], rows[0]["r_high"], rows[0]["v_low"], rows[0]["v_high"]}).join(','), "bounds");
    }

    // A set with "retestNg" records an NG only when the next contact of the
    // same cell says NG too; a PASS on the second contact is the record. A
    // new cell scanned in between starts its own.
    void anNgIsMeasuredTwiceWhereTheSetAsks_data()
    {
        QTest::addColumn<bool>("retest");
        QTest::addColumn<QList<double>>("contacts"); // R of each contact, mΩ
        QTest::addColumn<QStringList>("recorded");   // verdicts written, in order
        QTest::newRow("NG, then NG") << true << QList<double> {30, 31} << QStringList {"NG"};
        QTest::newRow("NG, then PASS") << true << QList<double> {30, 15} << QStringList {"PASS"};
        QTest::newRow("PASS at once") << true << QList<double> {15} << QStringList {"PASS"};
        QTest::newRow("NG, NG, then the next cell's NG") << true << QList<double> {30, 30, 30} << QStringList {"NG"};
        QTest::newRow("no retest asked") << false << QList<double> {30, 15} << QStringList {"NG", "PASS"};
    }
    void anNgIsMeasuredTwiceWhereTheSetAsks()
    {
        QFETCH(bool, retest);
        QFETCH(QList<double>, contacts);
        QFETCH(QStringList, recorded);
        QFile f("limitsets.json");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QString(R"({"sets": [{"name": "R", "r": {"low": 10, "high": 20}, "retestNg": %1}]})")
                    .arg(retest ? "true" : "false").toUtf8());
        f.close();
        SessionStation s(m_work->file("j"));
        QString error;
        QVERIFY2(s.station.sets().load("limitsets.json", &error), qPrintable(error));
        QVERIFY(s.station.selectSet("R"));
        QSignalSpy notes(&s.station, &CellRecorder::note);
        for (double r : contacts)
            contactInOneRead(s.session, r, 3.7);
        QStringList verdicts;
        for (const auto &row : s.rows())
            verdicts << row["verdict"];
        QCOMPARE(verdicts, recorded);
        if (retest && contacts.first() > 20) {
            QVERIFY(!notes.isEmpty());
            QVERIFY2(notes.first().first().toString().contains("再测一次"), qPrintable(notes.first().first().toString()));
        }
        QFile::remove("limitsets.json");
    }

    // Self-discharge through the real station: a lot measured at OCV1, the
    // same cells a week later at OCV2 (the session's clock moved on): each
    // cell's K is its own voltage drop per day of rest, a fast-falling cell
    // is NG with the reason K, a cell rested too short or never measured at
    // OCV1 gets no K and says why, a re-measured OCV1 record stands for the
    // voided one, and grades take their K band.
    void selfDischargeAcrossStages()
    {
        QFile f("limitsets.json");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"sets": [
            {"name": "S1", "stage": "OCV1", "r": {"low": 10, "high": 20}, "v": {"low": 3.0, "high": 4.5}},
            {"name": "S2", "stage": "OCV2", "kFrom": "OCV1", "minRestDays": 3, "k": {"high": 1.0},
             "r": {"low": 10, "high": 20}, "v": {"low": 3.0, "high": 4.5},
             "grades": [{"name": "K1", "rLow": 10, "rHigh": 20, "kHigh": 0.4}, {"name": "K2", "rLow": 10, "rHigh": 20}]},
            {"name": "S2P", "stage": "OCV2", "kFrom": "OCV1", "minRestDays": 3, "k": {"high": 1.0}, "kMissing": "pass",
             "r": {"low": 10, "high": 20}, "v": {"low": 3.0, "high": 4.5},
             "grades": [{"name": "K1", "rLow": 10, "rHigh": 20, "kHigh": 0.4}, {"name": "K2", "rLow": 10, "rHigh": 20}]}]})");
        f.close();
        const QString folder = m_work->file("j");
        QDateTime now(QDate(2026, 12, 1), QTime(10, 0), Qt::OffsetFromUTC, 8 * 3600);
        auto measure = [&](CellRecorder &station, meter::MeterSession &session, const QString &cell, double v) {
            station.enterCode(cell);
            contactInOneRead(session, 15.0, v);
        };
        auto run = [&](const QString &set, const std::function<void(CellRecorder &, meter::MeterSession &)> &body) {
            CellRecorder station(folder, "S1");
            meter::MeterSession session;
            session.setClock([&now] { return now; });
            session.linkOpened("ttyTEST");
            session.addSink(&station);
            QString error;
            QVERIFY2(station.sets().load("limitsets.json", &error), qPrintable(error));
            QVERIFY(station.selectSet(set));
            body(station, session);
            session.removeSink(&station);
        };
        // OCV1 on the 1st: C1..C4; C5 measured, then re-measured (the first voided).
        const QMap<QString, double> ocv1 = {{"C1", 3.7000}, {"C2", 3.6900}, {"C3", 3.7100}, {"C4", 3.6800}, {"C5", 3.7050}};
        run("S1", [&](CellRecorder &st, meter::MeterSession &session) {
            QCOMPARE(st.stage(), QString("OCV1"));
            for (auto it = ocv1.cbegin(); it != ocv1.cend(); ++it)
                measure(st, session, it.key(), it.key() == "C5" ? 3.6000 : it.value());
            QSignalSpy duplicate(&st, &CellRecorder::duplicateId);
            st.enterCode("C5");
            QCOMPARE(duplicate.size(), 1);
            st.remeasure("C5");
            contactInOneRead(session, 15.0, ocv1["C5"]);
        });
        // C6 at OCV1 on the 6th: two days before OCV2, short of three.
        now = now.addDays(5);
        run("S1", [&](CellRecorder &st, meter::MeterSession &session) { measure(st, session, "C6", 3.7000); });
        // OCV2 on the 8th, a week after the first: C3 falls fast; C7 was never at OCV1.
        now = QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::OffsetFromUTC, 8 * 3600);
        const QMap<QString, double> ocv2 = {{"C1", 3.6986}, {"C2", 3.6872}, {"C3", 3.6960}, {"C4", 3.6779}, {"C5", 3.7036},
                                            {"C6", 3.6990}, {"C7", 3.7000}};
        QVector<CellRecord> got;
        run("S2", [&](CellRecorder &st, meter::MeterSession &session) {
            QCOMPARE(st.stage(), QString("OCV2"));
            for (auto it = ocv2.cbegin(); it != ocv2.cend(); ++it)
                measure(st, session, it.key(), it.value());
            for (auto r = st.records().crbegin(); r != st.records().crend(); ++r)
                got << *r;
        });
        // A set that lets a missing K pass grades such a cell as before.
        run("S2P", [&](CellRecorder &st, meter::MeterSession &session) {
            measure(st, session, "C8", 3.7000);
            QCOMPARE(st.records().front().kNote, QString(station::kNoEarlier));
            QCOMPARE(st.records().front().verdict, meter::Verdict::Pass);
            QCOMPARE(st.records().front().grade, QString("K2")); // no K: not the grade that asks for one
        });
        QCOMPARE(got.size(), ocv2.size());
        for (const CellRecord &r : got) {
            QCOMPARE(r.stage, QString("OCV2"));
            const QString why = r.cellId;
            // Without a K a set that bounds K cannot tell a micro-short: NG by K.
            if (r.cellId == "C7") {
                QCOMPARE(r.kNote, QString(station::kNoEarlier));
                QVERIFY(std::isnan(r.kMvDay));
                QCOMPARE(r.verdict, meter::Verdict::Ng);
                QCOMPARE(r.reason, QString("K"));
                QCOMPARE(r.grade, QString("NG"));
                continue;
            }
            if (r.cellId == "C6") {
                QCOMPARE(r.kNote, QString(station::kShortRest));
                QCOMPARE(r.restDays, 2.0);
                QVERIFY(std::isnan(r.kMvDay));
                QCOMPARE(r.verdict, meter::Verdict::Ng);
                QCOMPARE(r.reason, QString("K"));
                continue;
            }
            const double k = (ocv1[r.cellId] - ocv2[r.cellId]) * 1000.0 / 7.0;
            QCOMPARE(r.restDays, 7.0);
            QVERIFY2(std::fabs(r.kMvDay - k) < 1e-6, qPrintable(why + " " + QString::number(r.kMvDay)));
            QCOMPARE(r.verdict, k > 1.0 ? meter::Verdict::Ng : meter::Verdict::Pass);
            QCOMPARE(r.reason, QString(k > 1.0 ? "K" : ""));
            QCOMPARE(r.grade, k > 1.0 ? QString("NG") : k <= 0.4 ? QString("K1") : QString("K2"));
        }
        // And the file says the same, column by column.
        const QStringList rows = csvRows(QDir(folder).filePath("cells-2026-12-08.csv"));
        QCOMPARE(rows.size(), ocv2.size() + 1); // and C8
        const QStringList header = QString(station::kCellsHeader).split(',');
        for (const QString &row : rows) {
            const QStringList cells = row.split(',');
            auto at = [&](const char *name) { return cells.value(header.indexOf(name)); };
            if (at("cell_id") == "C3")
                QVERIFY2(at("verdict") == "NG" && at("reason") == "K" && at("stage") == "OCV2" && at("rest_days") == "7", qPrintable(row));
            if (at("cell_id") == "C7")
                QVERIFY2(at("k_mv_day").isEmpty() && at("k_note") == "no-earlier", qPrintable(row));
        }
    }

    // The simulator plays a lot at its second stage: the same cells a week
    // on (the first stage's records dated back by the test), each lower by
    // its own drop, every fourth falling fast; the real station works each
    // cell's K out from its two records, and the fast ones are NG by K.
    void theSimulatorPlaysTwoStages()
    {
        QFile f("limitsets.json");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"sets": [{"name": "OCV1", "stage": "OCV1", "r": {"low": 10, "high": 20}},
                             {"name": "OCV2", "stage": "OCV2", "kFrom": "OCV1", "minRestDays": 3, "k": {"high": 1.0},
                              "r": {"low": 10, "high": 20}}]})");
        f.close();
        const QString folder = m_work->file("journal");
        auto play = [&](const QString &set, const QStringList &sim) {
            QVector<CellRecord> out;
            StationRun run;
            if (!run.start(QStringList {"--cells", "8", "--out-every", "0"} + sim, folder))
                return out;
            CellRecorder *st = run.installed->station();
            if (!st->selectSet(set))
                return out;
            int next = 1;
            auto scan = [&] { st->enterCode(QString("CELL-%1").arg(next++)); };
            scan();
            QObject::connect(st, &CellRecorder::recorded, st, [&] { scan(); });
            QElapsedTimer waited;
            waited.start();
            while (st->records().size() < 8 && waited.elapsed() < 30000)
                QTest::qWait(20);
            for (auto r = st->records().crbegin(); r != st->records().crend(); ++r)
                out << *r;
            return out;
        };
        const QVector<CellRecord> first = play("OCV1", {});
        QCOMPARE(first.size(), 8);
        // Dated back a week, into that day's file.
        const QString today = QDir(folder).filePath(QString("cells-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate)));
        QStringList lines = testsupport::textFileLines(today);
        for (int i = 1; i < lines.size(); ++i) {
            const int comma = lines[i].indexOf(',');
            lines[i] = journal::isoTime(QDateTime::fromString(lines[i].left(comma), Qt::ISODateWithMs).addDays(-7)) + lines[i].mid(comma);
        }
        QFile back(QDir(folder).filePath(QString("cells-%1.csv").arg(QDate::currentDate().addDays(-7).toString(Qt::ISODate))));
        QVERIFY(back.open(QIODevice::WriteOnly));
        back.write(lines.join('\n').toUtf8() + '\n');
        back.close();
        QVERIFY(QFile::remove(today));
        const QVector<CellRecord> second = play("OCV2", {"--rest-days", "7", "--k", "0.3", "--fast-every", "4"});
        QCOMPARE(second.size(), 8);
        for (int i = 0; i < 8; ++i) {
            const CellRecord &a = first[i], &b = second[i];
            QCOMPARE(b.cellId, a.cellId);
            const double rest = double(a.time.addDays(-7).msecsTo(b.time)) / 86400000.0;
            const double k = (a.v - b.v) * 1000 / rest;
            QVERIFY2(std::fabs(b.restDays - rest) < 1e-6 && std::fabs(b.kMvDay - k) < 1e-6, qPrintable(QString("%1 %2").arg(b.kMvDay).arg(k)));
            const bool fast = (i + 1) % 4 == 0;
            QVERIFY2(fast ? k > 1.2 : k > 0.2 && k < 0.4, qPrintable(QString("cell %1: K %2").arg(i + 1).arg(k)));
            QCOMPARE(b.verdict, fast ? meter::Verdict::Ng : meter::Verdict::Pass);
            QCOMPARE(b.reason, QString(fast ? "K" : ""));
        }
    }

    // What a spreadsheet would run as a formula is written guarded, and
    // every reader gives back what was entered.
    void fieldsASpreadsheetWouldRun_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("guarded");
        QTest::newRow("a link formula") << R"(=HYPERLINK("http://x","y"))" << true;
        QTest::newRow("a command") << "+cmd|' /C calc'!A0" << true;
        QTest::newRow("a sum") << "-1+1" << true;
        QTest::newRow("an at-sign") << "@SUM(A1)" << true;
        QTest::newRow("guarded already") << "'=A1" << true;
        QTest::newRow("a plain quote") << "'A1" << false;
        QTest::newRow("a plain ID") << "C-001" << false;
    }
    void fieldsASpreadsheetWouldRun()
    {
        QFETCH(QString, id);
        QFETCH(bool, guarded);
        SessionStation s(m_work->file("j"));
        s.station.enterCode(id);
        contactInOneRead(s.session, 15, 3.7);
        QCOMPARE(s.rows().value(0)["cell_id"], id);
        // As a spreadsheet sees the field: quotes undone, nothing taken off.
        const QStringList lines = testsupport::textFileLines(s.station.file()->fileFor(QDate(2026, 12, 7)));
        QCOMPARE(spreadsheetFields(lines.value(1)).value(5), guarded ? "'" + id : id);
        // The outbox publishes what was entered.
        mqtt::Outbox box(m_work->file("j"), "cells", {});
        box.startAtBeginning();
        const QVector<mqtt::Message> messages = box.read(10);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(messages[0].payload).object()["cell_id"].toString(), id);
    }

    void captureRules()
    {
        CaptureSettings settings;
        settings.settleMs = 500;
        settings.framePeriodMs = 100;
        CellCapture c(settings);
        using E = CellCapture::Event;
        QCOMPARE(c.feed(reading(0, 0, true, 0)), E::None);
        // Agreeing readings before the settling delay are not taken.
        for (qint64 t : {100, 200, 300, 400})
            QCOMPARE(c.feed(reading(15.0, 3.7, false, t)), E::None);
        QCOMPARE(c.feed(reading(15.01, 3.701, false, 600)), E::Captured);
        // Held: no second record until the probes are lifted.
        QCOMPARE(c.feed(reading(15.0, 3.7, false, 700)), E::None);
        QCOMPARE(c.feed(reading(0, 0, true, 800)), E::None);
        // A contact that never settles says so when lifted.
        for (qint64 t = 900; t < 2000; t += 100)
            QCOMPARE(c.feed(reading(t % 200 ? 15.0 : 16.0, 3.7, false, t)), E::None);
        QCOMPARE(c.feed(reading(0, 0, true, 2000)), E::Unsettled);
        // V outside its band keeps a cell from settling too.
        QCOMPARE(c.feed(reading(15.0, 3.70, false, 3000)), E::None);
        QCOMPARE(c.feed(reading(15.0, 3.72, false, 3600)), E::None);
        QCOMPARE(c.feed(reading(15.0, 3.70, false, 3700)), E::None);
        QCOMPARE(c.feed(reading(15.0, 3.70, false, 3800)), E::None);
        QCOMPARE(c.feed(reading(15.0, 3.70, false, 3900)), E::Captured);
    }

    // By default a record is of a known cell: none before a lot is named,
    // none for a contact without a scanned ID; a scan typed while another
    // field has focus lands in the ID field (a person's typing stays where
    // it is typed); the same ID again is re-measured only when asked, the
    // earlier record voided just before the new one; and a restart goes on
    // with the lot and its figures.
    void identityAtEntry()
    {
        const QString folder = m_work->file("journal");
        QString cells;
        QString firstRecord;
        {
            StationRun run;
            run.identity = true;
            QVERIFY(run.start({"--cells", "40"}, folder));
            run.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&run.window));
            CellRecorder *st = run.installed->station();
            auto *need = run.window.findChild<QLabel *>("stationNeed");
            auto *note = run.window.findChild<QLabel *>("stationNote");
            auto *cellId = run.window.findChild<QLineEdit *>("cellIdEdit");
            QVERIFY(need && note && cellId);
            QTRY_VERIFY_WITH_TIMEOUT(cellId->hasFocus(), 5000); // a scan right after start lands here
            QVERIFY2(need->text().contains("新批次"), qPrintable(need->text()));
            QTRY_VERIFY2_WITH_TIMEOUT(note->text().contains("请先开始批次"), qPrintable(note->text()), 10000);
            st->startLot("L1");
            QCOMPARE(need->text(), QString("先扫码"));
            note->clear();
            QTRY_COMPARE_WITH_TIMEOUT(note->text(), QString("先扫码"), 10000);
            QCOMPARE(int(st->records().size()), 0);

            // A person types into the console's port at a person's pace: it stays there.
            QLineEdit *port = run.probe.ui()->txtServerPort;
            port->setFocus();
            port->clear();
            QTest::keyClicks(port, "12", Qt::NoModifier, 2 * ScanCatcher::kGapMs);
            QTRY_COMPARE_WITH_TIMEOUT(port->text(), QString("12"), 3000);
            // A scanner types into it: the ID field takes it.
            QTest::keyClicks(port, "CELL-7");
            QTest::keyClick(port, Qt::Key_Return);
            QCOMPARE(port->text(), QString("12"));
            QCOMPARE(st->pendingId(), QString("CELL-7"));
            QTRY_COMPARE_WITH_TIMEOUT(int(st->records().size()), 1, 10000);
            firstRecord = st->records().front().id;
            QCOMPARE(st->records().front().cellId, QString("CELL-7"));
            QTRY_VERIFY_WITH_TIMEOUT(cellId->hasFocus(), 3000);

            // The same ID again: asked, and re-measured.
            QString asked;
            testsupport::answerNextModal([&asked](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                QVERIFY(box);
                asked = box->text();
                for (QAbstractButton *b : box->buttons())
                    if (b->text() == "重测")
                        b->click();
            });
            cellId->setText("CELL-7");
            QTest::keyClick(cellId, Qt::Key_Return);
            QVERIFY2(asked.contains("CELL-7") && asked.contains(firstRecord), qPrintable(asked));
            QTRY_COMPARE_WITH_TIMEOUT(int(st->records().size()), 2, 10000);
            QVERIFY(st->records()[1].voided);
            QCOMPARE(st->stats().total(), 1);
            cells = st->file()->fileFor(QDate::currentDate());
        }
        const QStringList rows = csvRows(cells);
        QCOMPARE(rows.size(), 3);
        const QStringList voidLine = spreadsheetFields(rows[1]), again = spreadsheetFields(rows[2]);
        const int voids = QString(station::kCellsHeader).split(',').indexOf("voids");
        QCOMPARE(voidLine.value(voids), firstRecord);
        QCOMPARE(again.value(5), QString("CELL-7"));
        QVERIFY(again.value(voids).isEmpty());
        QVERIFY(testsupport::readFile("config.ini").contains("Lot=L1"));

        // The next start goes on with the lot: its one record counted, the
        // voided one not, and CELL-7 known.
        StationRun run;
        run.identity = true;
        QVERIFY(run.start({"--cells", "1"}, folder));
        CellRecorder *st = run.installed->station();
        QCOMPARE(st->lot(), QString("L1"));
        QCOMPARE(st->stats().total(), 1);
        QCOMPARE(int(st->records().size()), 2);
        QString duplicate;
        QObject::connect(st, &CellRecorder::duplicateId, st, [&duplicate](const QString &id) { duplicate = id; });
        testsupport::answerNextModal(); // cancelled
        st->enterCode("CELL-7");
        QCOMPARE(duplicate, QString("CELL-7"));
        QVERIFY(st->pendingId().isEmpty());
    }

    // In station mode each journal line says where the probes were: open
    // (lifted), settling, then settled from the record's reading on, for
    // every contact; a line's R is there exactly when it was in contact.
    void theJournalSaysTheContact()
    {
        const QString folder = m_work->file("journal");
        StationRun run;
        QVERIFY(run.start({"--cells", "3"}, folder));
        CellRecorder *st = run.installed->station();
        QTRY_COMPARE_WITH_TIMEOUT(int(st->records().size()), 3, 20000);
        run.installed->journal()->flush();
        const QStringList lines = testsupport::textFileLines(run.installed->journal()->fileFor(QDate::currentDate()));
        const int contact = QString(journal::kHeader).split(',').indexOf("contact");
        const int r = 4;
        QCOMPARE(contact, 15);
        QString runs; // one letter per run of equal states: o, s (settling), S (settled)
        for (const QString &line : lines.mid(1)) {
            const QStringList f = spreadsheetFields(line);
            const QString state = f.value(contact);
            QVERIFY2(state == "open" || state == "settling" || state == "settled", qPrintable(line));
            QCOMPARE(f.value(r).isEmpty(), state == "open");
            const QChar letter = state == "open" ? 'o' : state == "settling" ? 's' : 'S';
            if (runs.isEmpty() || runs.back() != letter)
                runs += letter;
        }
        QVERIFY2(QRegularExpression("^o?(sSo){2}sS").match(runs).hasMatch(), qPrintable(runs));
    }

    // The dock at arm's length: the grade with its bin in its colour, NG
    // said once; the records table sorted by R as numbers, NG rows tinted,
    // the record's id in full on hover; the histogram's bins a tenth of the
    // limits' span with whole-number counts; the control chart of the lot's
    // records with its limits.
    void theDockReadsAtArmsLength()
    {
        writeSets();
        StationRun run;
        QVERIFY(run.start({"--cells", "10", "--out-every", "5"}, m_work->file("journal")));
        CellRecorder *st = run.installed->station();
        st->selectSet("T1");
        QTRY_COMPARE_WITH_TIMEOUT(int(st->records().size()), 10, 30000);
        auto *verdict = run.window.findChild<QLabel *>("cellVerdictLabel");
        auto *grade = run.window.findChild<QLabel *>("cellGradeLabel");
        QCOMPARE(verdict->text(), QString("NG")); // cell 10: three times R
        QVERIFY(grade->text().isEmpty());
        for (const CellRecord &r : st->records()) // the dock shows one as it comes
            if (r.grade == "A") {
                emit st->recorded(r);
                break;
            }
        QCOMPARE(grade->text(), QString("A · 1号料框"));
        QVERIFY2(grade->styleSheet().contains("#1565c0"), qPrintable(grade->styleSheet()));

        auto *table = run.window.findChild<RecordsTable *>("recordsTable");
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 10);
        const int rColumn = 4;
        table->sortItems(rColumn, Qt::AscendingOrder);
        QVector<double> rs;
        for (int row = 0; row < table->rowCount(); ++row) {
            rs << table->item(row, rColumn)->text().toDouble();
            const bool ng = table->item(row, 2)->text().startsWith("NG"); // "NG · R": what failed beside it
            QCOMPARE(table->item(row, 0)->background().color() == QColor(253, 224, 224), ng);
            QVERIFY(table->item(row, 0)->toolTip().startsWith(st->records().front().station + "-"));
        }
        QVERIFY(std::is_sorted(rs.begin(), rs.end()));
        QVERIFY(rs.last() > 40); // 45 mΩ after 15 mΩ: numbers, not text

        auto *histogram = run.window.findChild<QCustomPlot *>("lotHistogram");
        auto *bars = qobject_cast<QCPBars *>(histogram->plottable(0));
        QVERIFY(bars);
        QCOMPARE(bars->width(), 0.9); // (20 - 10) / 10, less the gap
        for (auto it = bars->data()->constBegin(); it != bars->data()->constEnd(); ++it)
            QCOMPARE(std::fmod(it->key - 10.5, 1.0), 0.0);
        auto *ticker = dynamic_cast<QCPAxisTickerFixed *>(histogram->yAxis->ticker().data());
        QVERIFY(ticker && ticker->tickStep() == 1);
        auto *chart = run.window.findChild<QCustomPlot *>("lotControlChart");
        QCOMPARE(chart->graph(0)->dataCount(), 10);
    }

    // The lot's control limits come from its first 25 PASS records: the NG
    // cells among them (every fifth, at three times R) neither centre nor
    // widen them, and the dock says what the limits came from.
    void controlLimitsFromPassRecords()
    {
        writeSets();
        StationRun run;
        QVERIFY(run.start({"--cells", "31", "--out-every", "5"}, m_work->file("journal")));
        CellRecorder *st = run.installed->station();
        st->selectSet("T1");
        QTRY_VERIFY_WITH_TIMEOUT(st->control().stillNeeded() == 0, 60000);
        QVector<double> pass;
        int ng = 0;
        for (auto r = st->records().crbegin(); r != st->records().crend() && pass.size() < 25; ++r)
            r->verdict == meter::Verdict::Pass ? pass.append(r->rMilliOhm) : void(++ng);
        QCOMPARE(pass.size(), 25);
        QVERIFY(ng >= 5);
        const stats::ControlLimits limits = st->control().rLimits();
        QCOMPARE(limits.centre, stats::individualsLimits(pass).centre);
        QVERIFY2(limits.ucl() < 20, qPrintable(QString::number(limits.ucl()))); // an NG cell is at 45 mΩ
        auto *status = run.window.findChild<QLabel *>("controlStatusLabel");
        QVERIFY2(status->text().contains("25 个合格电池"), qPrintable(status->text()));
    }

    void twentyCellsTwentyRecords()
    {
        writeSets();
        const QString folder = m_work->file("journal");
        StationRun run;
        QVERIFY(run.start({"--cells", "20", "--out-every", "5"}, folder));
        CellRecorder *st = run.installed->station();
        auto *cellId = run.window.findChild<QLineEdit *>("cellIdEdit");
        QVERIFY(cellId);
        // The set is chosen by scanning its name; then the first cell's code.
        cellId->setText("T1");
        QTest::keyClick(cellId, Qt::Key_Return);
        QCOMPARE(run.probe.ui()->lineEdit_R_UP->text(), QString("20"));
        int next = 1;
        auto scan = [&] {
            cellId->setText(QString("CELL-%1").arg(next++));
            QTest::keyClick(cellId, Qt::Key_Return);
        };
        scan();
        QObject::connect(st, &CellRecorder::recorded, st, [&] { scan(); });
        QTRY_COMPARE_WITH_TIMEOUT(int(st->records().size()), 20, 30000);
        QTest::qWait(600); // one more lift after the last cell: nothing more
        QCOMPARE(int(st->records().size()), 20);
        QStringList expectedGrades;
        for (int i = 0; i < 20; ++i) {
            const CellRecord &r = st->records()[size_t(19 - i)];
            const int cell = i + 1;
            QCOMPARE(r.cellId, QString("CELL-%1").arg(cell));
            QVERIFY2(std::fabs(r.rMilliOhm - simulatedR(cell)) < 0.05, qPrintable(QString::number(r.rMilliOhm)));
            QCOMPARE(int(r.verdict), int(cell % 5 == 0 ? meter::Verdict::Ng : meter::Verdict::Pass));
            const double rr = simulatedR(cell);
            const QString grade = cell % 5 == 0 ? "NG" : rr < 14.9 ? "A" : rr < 15.4 ? "B" : "C";
            QCOMPARE(r.grade, grade);
            QCOMPARE(r.setName, QString("T1"));
            QVERIFY(r.settledBy >= 3);
        }
        QCOMPARE(st->stats().pass, 16);
        QCOMPARE(st->stats().ng, 4);
        const QStringList rows = csvRows(st->file()->fileFor(QDate::currentDate()));
        QCOMPARE(rows.size(), 20);
        QVERIFY(rows.first().contains(",CELL-1,"));

        // A new set restarts the statistics and says so.
        QSignalSpy stats(st, &CellRecorder::statsChanged);
        cellId->setText("T2");
        QTest::keyClick(cellId, Qt::Key_Return);
        QCOMPARE(st->stats().total(), 0);
        QVERIFY(!stats.isEmpty() && stats.last().at(0).toString().contains("T2"));
        QCOMPARE(run.probe.ui()->lineEdit_R_DOWN->text(), QString("7.5"));
    }

    // The lot's control chart at the station: limits from the first 25
    // records (said while fewer), a shift of the process at the 30th cell
    // signalled at once in amber with the chime, carried by the record,
    // and gone only when acknowledged.
    void controlSignalAtTheStation()
    {
        const QString folder = m_work->file("journal");
        StationRun run;
        QVERIFY(run.start({"--cells", "31", "--out-every", "0", "--stable-process", "--shift-from", "30"}, folder));
        CellRecorder *st = run.installed->station();
        int chimes = 0;
        run.installed->stationDock()->setSignalSound([&chimes] { ++chimes; });
        auto *status = run.window.findChild<QLabel *>("controlStatusLabel");
        auto *alarm = run.window.findChild<QWidget *>("controlAlarm");
        auto *alarmText = run.window.findChild<QLabel *>("controlAlarmText");
        QVERIFY(status && alarm && alarmText);
        struct Fired
        {
            QString id;
            unsigned r, v;
        };
        QVector<Fired> signalled;
        QObject::connect(st, &CellRecorder::outOfControl, st,
                         [&](const CellRecord &r, unsigned rRules, unsigned vRules) { signalled.append({r.id, rRules, vRules}); });
        QString saidAtTen;
        QObject::connect(st, &CellRecorder::statsChanged, st, [&] {
            if (st->records().size() == 10)
                saidAtTen = status->text();
        });
        QObject::connect(st, &CellRecorder::recorded, st, [&] {
            // Nothing before the shift, and the alarm only with a signal.
            QCOMPARE(alarm->isVisibleTo(&run.window), !signalled.isEmpty());
        });
        QTRY_COMPARE_WITH_TIMEOUT(int(st->records().size()), 31, 60000);
        QVERIFY2(saidAtTen.contains("15"), qPrintable(saidAtTen));
        QVERIFY2(status->text().contains("15.0"), qPrintable(status->text()));
        // Cell 30 is the first beyond: rule 1 on R, at once; 31 is beyond
        // again and the second of two beyond 2σ̂ (rule 5).
        QCOMPARE(signalled.size(), 2);
        QCOMPARE(signalled[0].id, st->records()[1].id);
        QCOMPARE(signalled[0].r, 1u);
        QCOMPARE(signalled[0].v, 0u);
        QCOMPARE(signalled[1].r, 1u | 1u << 4);
        QCOMPARE(chimes, 2);
        QVERIFY(alarm->isVisibleTo(&run.window));
        QVERIFY2(alarmText->text().contains(stats::ruleText(1)) && alarmText->text().contains(st->records()[0].id),
                 qPrintable(alarmText->text()));
        // The record carries it: in the file's spc column.
        const QStringList rows = csvRows(st->file()->fileFor(QDate::currentDate()));
        QCOMPARE(rows.size(), 31);
        const int spc = QString(station::kCellsHeader).split(',').indexOf("spc");
        for (int i = 0; i < rows.size(); ++i)
            QVERIFY2(rows[i].split(',').value(spc) == (i == 30 ? "R1 R5" : i == 29 ? "R1" : ""), qPrintable(rows[i]));
        // Acknowledged: gone, and no chime again.
        QTest::mouseClick(run.window.findChild<QPushButton *>("acknowledgeSignalButton"), Qt::LeftButton);
        QVERIFY(!alarm->isVisibleTo(&run.window));
        // A new lot starts the limits again.
        st->startLot("L2");
        QVERIFY2(status->text().contains(QString::number(stats::LotControl::kBaseline)), qPrintable(status->text()));
    }

    void unsettledCellGivesNoRecord()
    {
        const QString folder = m_work->file("journal");
        StationRun run;
        QVERIFY(run.start({"--cells", "4", "--out-every", "0", "--unsteady-cell", "3"}, folder));
        CellRecorder *st = run.installed->station();
        QSignalSpy unsettled(st, &CellRecorder::unsettled);
        QString shown; // what the dock says when it happens
        QObject::connect(st, &CellRecorder::unsettled, st,
                         [&] { shown = run.window.findChild<QLabel *>("stationNote")->text(); });
        QTRY_COMPARE_WITH_TIMEOUT(unsettled.count(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(int(st->records().size()), 3, 20000);
        QTest::qWait(600);
        QCOMPARE(int(st->records().size()), 3);
        QVERIFY2(shown.contains("未稳定"), qPrintable(shown));
    }

    // The live plot frames the readings (R 12 mΩ beside V 3.7 V) until the
    // operator takes the view; "Fix" gives it back.
    // The large verdict over the plot is the record's, never a live
    // reading's: PASS with grade and bin, NG with what failed and the bin
    // for NG cells, cleared by a new lot; the window's own PASS/NG, which
    // judges each reading by the four classic limits, is gone.
    void theLargeVerdictIsTheRecords_data()
    {
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("grade");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("says");
        QTest::newRow("PASS") << int(meter::Verdict::Pass) << "B" << "" << QStringList {"PASS", "B · 2号料框"};
        QTest::newRow("NG (R)") << int(meter::Verdict::Ng) << "NG" << "R" << QStringList {"NG", "内阻超限 → 不良品框"};
        QTest::newRow("NG (K), R inside") << int(meter::Verdict::Ng) << "NG" << "K" << QStringList {"NG", "K 值超限 → 不良品框"};
        QTest::newRow("NG (R, V)") << int(meter::Verdict::Ng) << "NG" << "R V" << QStringList {"NG", "内阻超限 · 电压超限"};
    }
    void theLargeVerdictIsTheRecords()
    {
        QFETCH(int, verdict);
        QFETCH(QString, grade);
        QFETCH(QString, reason);
        QFETCH(QStringList, says);
        QFile sets("limitsets.json");
        QVERIFY(sets.open(QIODevice::WriteOnly));
        sets.write(R"({"sets": [{"name": "S", "r": {"low": 10, "high": 16}, "ngBin": "不良品框",
                       "grades": [{"name": "B", "rLow": 10, "rHigh": 16, "bin": "2号料框"}]}]})");
        sets.close();
        LinkedWindow lw;
        StartOptions options;
        options.station = true;
        options.journalDir = m_work->file("journal");
        WindowCapabilities installed(lw.window, options);
        CellRecorder *st = installed.station();
        QVERIFY(st->selectSet("S"));
        auto *big = lw.window.findChild<QLabel *>("stationVerdict");
        QVERIFY(big);
        QVERIFY(lw.ui->label_PASS_NG->isHidden());
        CellRecord r;
        r.id = "T-20261210-1";
        r.verdict = meter::Verdict(verdict);
        r.grade = grade;
        r.reason = reason;
        r.rMilliOhm = 15;
        emit st->recorded(r);
        QTextDocument shown;
        shown.setHtml(big->text());
        const QString text = shown.toPlainText();
        for (const QString &part : says)
            QVERIFY2(text.contains(part), qPrintable(text));
        // Live readings judged by other limits change nothing of it.
        lw.ui->lineEdit_R_DOWN->setText("1");
        lw.ui->lineEdit_R_UP->setText("2");
        QVERIFY(lw.link());
        QVERIFY(lw.meter.send(frameOf(150000, 37000).repeated(3)));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), quint32(3), 5000);
        shown.setHtml(big->text());
        QCOMPARE(shown.toPlainText(), text);
        QVERIFY(lw.ui->label_PASS_NG->text().trimmed().isEmpty());
        st->startLot("NEXT");
        QVERIFY(big->text().isEmpty());
        QCOMPARE(lw.window.findChild<QLabel *>("cellVerdictLabel")->text(), QString("—")); // the dock's too
        QFile::remove("limitsets.json");
    }

    // One far record (a 36 mΩ contact among cells of 15) does not squeeze
    // the good cells into one bar: both charts scale to the bulk and show
    // it at their edge, in red; the histogram with and without limits.
    void chartsScaleToTheBulk_data()
    {
        QTest::addColumn<double>("rLow");
        QTest::addColumn<double>("rHigh");
        QTest::newRow("limits 10 to 20") << 10.0 << 20.0;
        QTest::newRow("no limits") << double(NAN) << double(NAN);
    }
    void chartsScaleToTheBulk()
    {
        QFETCH(double, rLow);
        QFETCH(double, rHigh);
        QVector<double> values;
        std::deque<CellRecord> records;
        for (int i = 0; i < 30; ++i) {
            CellRecord r;
            r.setName = "S";
            r.rMilliOhm = i == 17 ? 36.0 : 15.0 + 0.04 * (i % 7) - 0.12;
            values << r.rMilliOhm;
            records.push_front(r);
        }
        QCustomPlot histogram;
        drawHistogram(&histogram, values, rLow, rHigh);
        QVERIFY2(histogram.xAxis->range().upper < 30, qPrintable(QString::number(histogram.xAxis->range().upper)));
        double counted = 0, far = 0;
        for (int i = 0; i < histogram.plottableCount(); ++i) {
            auto *bars = qobject_cast<QCPBars *>(histogram.plottable(i));
            QVERIFY(bars);
            for (auto it = bars->data()->constBegin(); it != bars->data()->constEnd(); ++it)
                (bars->pen().color() == Qt::red ? far : counted) += it->value;
        }
        QCOMPARE(counted + far, 30.0); // every record is counted
        QCOMPARE(far, 1.0);            // the far one at the edge, marked
        QCustomPlot chart;
        drawControlChart(&chart, records, "S", stats::ControlLimits());
        QVERIFY2(chart.yAxis->range().upper < 30, qPrintable(QString::number(chart.yAxis->range().upper)));
        int marked = 0;
        for (int i = 0; i < chart.graphCount(); ++i)
            if (chart.graph(i)->objectName() == "beyondScale")
                marked += chart.graph(i)->dataCount();
        QCOMPARE(marked, 1);
    }

    // A station's screen is often 1366×768: the window in station mode fits
    // it (a title bar of 30 px above) with at least eight records in view,
    // in both languages, and the dock keeps its width as its texts change.
    void theStationFitsABenchScreen_data()
    {
        QTest::addColumn<bool>("english");
        QTest::newRow("中文") << false;
        QTest::newRow("English") << true;
    }
    void theStationFitsABenchScreen()
    {
        QFETCH(bool, english);
        if (english)
            language::install(language::Language::English);
        MainWindow window;
        StartOptions options;
        options.station = true;
        options.journalDir = m_work->file("journal");
        WindowCapabilities installed(window, options);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize screen(1366, 768 - 30);
        const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
        auto *dock = window.findChild<station::StationDock *>();
        auto *table = window.findChild<station::RecordsTable *>();
        QVERIFY(dock && table);
        QVERIFY2(least.width() <= screen.width() && least.height() <= screen.height(),
                 qPrintable(QString("window at least %1×%2; dock at least %3×%4")
                                .arg(least.width()).arg(least.height())
                                .arg(dock->minimumSizeHint().width()).arg(dock->minimumSizeHint().height())));
        window.resize(screen);
        QTRY_COMPARE_WITH_TIMEOUT(window.size(), screen, 5000);
        const int rowHeight = table->verticalHeader()->defaultSectionSize();
        QVERIFY2(table->viewport()->height() >= 8 * rowHeight,
                 qPrintable(QString("%1 px for rows of %2").arg(table->viewport()->height()).arg(rowHeight)));
        // Long texts in the cell's column wrap; the dock stays as wide.
        const int width = dock->width();
        auto *need = window.findChild<QLabel *>("stationNeed");
        need->setText(QString(200, QChar(0x6D4B)));
        installed.station()->note(QString(300, 'x'));
        QCoreApplication::processEvents();
        QTRY_COMPARE_WITH_TIMEOUT(dock->width(), width, 2000);
        if (english)
            language::install(language::Language::Chinese);
    }

    void thePlotFollowsTheReadings()
    {
        LinkedWindow lw;
        StartOptions options;
        options.station = true;
        options.journalDir = m_work->file("journal");
        WindowCapabilities installed(lw.window, options);
        QVERIFY(lw.link());
        auto *follower = installed.findChild<station::PlotFollower *>();
        QVERIFY(follower);
        QCustomPlot *plot = lw.ui->customPlot;
        auto frames = [&](quint32 r, int n) {
            const quint32 before = lw.probe.receiveCount();
            for (int i = 0; i < n; ++i)
                if (!lw.meter.send(frameOf(r, 37000)))
                    return false;
            return QTest::qWaitFor([&] { return lw.probe.receiveCount() == before + quint32(n); }, 5000);
        };
        auto shows = [&](double low, double high) {
            const QCPRange y = plot->yAxis->range();
            return y.contains(low) && y.contains(high) && y.size() < (high - low) * 1.6;
        };
        QVERIFY(frames(120000, 3));
        QTRY_VERIFY2_WITH_TIMEOUT(shows(3.7, 12), qPrintable(QString("%1..%2").arg(plot->yAxis->range().lower).arg(plot->yAxis->range().upper)), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(plot->xAxis->range().contains(1) && plot->xAxis->range().contains(3), 5000);
        QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(plot->width() / 2, plot->height() / 2));
        QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(plot->width() / 2, plot->height() / 2));
        QVERIFY(!follower->following()); // the operator's view now
        lw.ui->Fix_Plot_Button->click();
        QVERIFY(follower->following());
        QVERIFY(frames(400000, 2));
        QTRY_VERIFY2_WITH_TIMEOUT(shows(3.7, 40), qPrintable(QString("%1..%2").arg(plot->yAxis->range().lower).arg(plot->yAxis->range().upper)), 5000);
    }

    void manualCaptureAndVoid()
    {
        LinkedWindow lw;
        StartOptions options;
        options.station = true;
        options.journalDir = m_work->file("journal");
        WindowCapabilities installed(lw.window, options);
        QVERIFY(lw.link());
        CellRecorder *st = installed.station();
        benchWithoutIdentity(st);
        // Contact with readings that keep moving: no capture on its own.
        for (int i = 0; i < 6; ++i) {
            QVERIFY(lw.meter.send(frameOf(quint32(150000 + (i % 2) * 20000), 37000)));
            QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), quint32(i + 1), 3000);
        }
        QCOMPARE(int(st->records().size()), 0);
        lw.window.findChild<QPushButton *>("captureButton")->click();
        QCOMPARE(int(st->records().size()), 1);
        QCOMPARE(st->records().front().settledBy, 1);
        const QString id = st->records().front().id;
        QString asked;
        testsupport::answerNextModal([&asked](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            asked = box->text();
            box->button(QMessageBox::Yes)->click();
        });
        lw.window.findChild<QPushButton *>("voidButton")->click();
        QCOMPARE(asked, "作废 记录 " + id + "?"); // asked once, naming it
        QCOMPARE(lw.window.findChild<QLabel *>("cellVerdictLabel")->text(), QString("已作废"));
        QCOMPARE(st->stats().total(), 0);
        const QStringList rows = csvRows(st->file()->fileFor(QDate::currentDate()));
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows[1].contains("," + id + ","));
        QVERIFY(rows[1].contains(",VOID,"));
    }

    void packingTheCurrentLotFromTheMenu()
    {
        // Two lots in the journal folder; the dialog matches the current one.
        for (const QString &lot : {QString("L-PACK"), QString("L-OTHER")}) {
            LotShape shape;
            shape.cells = 60;
            shape.lot = lot;
            shape.idPrefix = lot.right(1);
            shape.seed = lot.size();
            QVERIFY(writeLot(m_work->file("journal"), generateLot(shape), shape.day));
        }
        StartOptions options;
        options.station = true;
        options.journalDir = m_work->file("journal");
        MainWindow w;
        WindowCapabilities installed(w, options);
        installed.station()->startLot("L-PACK");
        QAction *entry = nullptr;
        for (QAction *a : w.findChild<QMenu *>("stationMenu")->actions())
            if (a->text() == "配组…")
                entry = a;
        QVERIFY(entry);
        entry->trigger();
        auto *dialog = w.findChild<match::PackDialog *>("packDialog");
        QVERIFY(dialog);
        const QList<QSpinBox *> spins = dialog->findChildren<QSpinBox *>();
        spins[0]->setValue(4);
        spins[1]->setValue(10);
        auto button = [&](const QString &text) {
            for (QPushButton *b : dialog->findChildren<QPushButton *>())
                if (b->text() == text)
                    return b;
            return static_cast<QPushButton *>(nullptr);
        };
        button("配组")->click();
        QLabel *summary = nullptr;
        for (QLabel *l : dialog->findChildren<QLabel *>())
            if (l->text().contains("电池包"))
                summary = l;
        QVERIFY(summary);
        QVERIFY2(summary->text().contains("4 串 × 10 并"), qPrintable(summary->text()));
        button("记入配组账")->click();
        QVERIFY2(summary->text().contains("已记入配组账"), qPrintable(summary->text()));
        const QStringList files = QDir(m_work->file("journal")).entryList({"packs-*.csv"});
        QCOMPARE(files.size(), 1);
        const QStringList rows = csvRows(m_work->file("journal/" + files.first()));
        QCOMPARE(rows.size(), 40);
        for (const QString &row : rows)
            QVERIFY2(row.contains(",L-PACK,"), qPrintable(row));
        // K rules as zentrel-match takes them: these cells have no K, so a
        // K-max leaves every one out.
        auto *kMax = dialog->findChild<QDoubleSpinBox *>("packKMax");
        QVERIFY(kMax && dialog->findChild<QDoubleSpinBox *>("packKSpread"));
        QCOMPARE(kMax->text(), QString("不限"));
        kMax->setValue(1.0);
        button("配组")->click();
        QVERIFY2(summary->text().contains("可用 0 个"), qPrintable(summary->text()));
        dialog->close();
    }

    void theSetInForceIsRemembered()
    {
        writeSets();
        QFile ini("config.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Station]\nSet=T2\n");
        ini.close();
        StartOptions options;
        options.journalDir = m_work->file("journal");
        options.station = true;
        {
            MainWindow w;
            WindowCapabilities installed(w, options);
            QVERIFY(installed.station()->activeSet());
            QCOMPARE(installed.station()->activeSet()->name, QString("T2"));
            installed.station()->selectSet("T1");
        }
        QCOMPARE(readExtraSettings("config.ini").stationSet, QString("T1"));
        // A set that is gone since: said, and none is active.
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[Station]\nSet=Gone\n");
        ini.close();
        MainWindow w;
        WindowCapabilities installed(w, options);
        QVERIFY(!installed.station()->activeSet());
        auto *note = w.findChild<QLabel *>("stationNote");
        QVERIFY(note);
        QVERIFY2(note->text().contains("Gone"), qPrintable(note->text()));
    }

    void aLockOnAFileTheOperatorMayWriteIsSaid()
    {
        LimitSetStore store;
        LimitSet set;
        set.name = "T1";
        store.put(set);
        store.setPassword("pw");
        QString error;
        QVERIFY(store.save("limitsets.json", &error));
        StartOptions options;
        options.journalDir = m_work->file("journal");
        options.station = true;
        MainWindow w;
        WindowCapabilities installed(w, options);
        auto *note = w.findChild<QLabel *>("stationNote");
        QVERIFY(note);
        QVERIFY2(note->text().contains("可写") && note->text().contains("limitsets.json"), qPrintable(note->text()));
    }

    void oneSoundPerRecord_data()
    {
        QTest::addColumn<bool>("stationMode");
        QTest::newRow("classic: a sound per reading") << false;
        QTest::newRow("station: none per reading") << true;
    }
    void oneSoundPerRecord()
    {
        QFETCH(bool, stationMode);
        StartOptions options;
        options.journalDir = m_work->file("journal");
        options.station = stationMode;
        LinkedWindow lw;
        WindowCapabilities installed(lw.window, options);
        if (stationMode)
            benchWithoutIdentity(installed.station());
        int sounds = 0;
        lw.probe.alarmSounds()->setObserver([&sounds](meter::AlarmSound) { ++sounds; });
        lw.ui->lineEdit_R_DOWN->setText("0");
        lw.ui->lineEdit_R_UP->setText("100");
        lw.ui->lineEdit_V_DOWN->setText("0");
        lw.ui->lineEdit_V_UP->setText("5");
        QVERIFY(lw.link());
        for (quint32 i = 1; i <= 3; ++i) {
            QVERIFY(lw.meter.send(frameOf(150000, 37000)));
            QTRY_COMPARE_WITH_TIMEOUT(lw.window.meterSession()->receiveCount(), i, 5000);
        }
        // In station mode the only sound is the one record's (three frames
        // at the meter's pace settle a contact).
        QCOMPARE(sounds, stationMode ? int(installed.station()->records().size()) : 3);
        QVERIFY(!stationMode || installed.station()->records().size() == 1);
    }

    void classicWindowHasNoStation()
    {
        // With the journal and reconnecting on (the defaults), the window's
        // widgets are exactly those of the window alone until there is
        // something to say.
        MainWindow w;
        const int widgets = w.findChildren<QWidget *>().size();
        StartOptions options;
        options.journalDir = m_work->file("journal");
        WindowCapabilities installed(w, options);
        QVERIFY(!w.findChild<QDockWidget *>());
        QVERIFY(w.menuBar()->actions().isEmpty());
        QVERIFY(!installed.station());
        QVERIFY(installed.journal() && w.meterLink()->reconnects());
        QCOMPARE(w.findChildren<QWidget *>().size(), widgets);
    }

    void recordsSurviveAKill()
    {
        const QString link = QDir::temp().filePath(QString("zentrel-test-kill-%1").arg(QCoreApplication::applicationPid()));
        QProcess sim;
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "20", "--cells", "50",
                                                     "--contact-ms", "300", "--lift-ms", "100", "--linger"});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 5000);
        {
            QFile ini(m_work->file("config.ini"));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[Station]\nEnabled=true\nSettleMs=100\nRequireLot=false\nRequireId=false\n");
        }
        const QString folder = m_work->file("journal");
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(m_work->path());
        app.start(QStringLiteral(ZENTREL_APP_PATH), {"--port", link, "--journal-dir", folder});
        QVERIFY(app.waitForStarted());
        const QString cells = QDir(folder).filePath(QDate::currentDate().toString("'cells-'yyyy-MM-dd'.csv'"));
        QTRY_VERIFY_WITH_TIMEOUT(csvRows(cells).size() >= 3, 20000);
        const QStringList seen = csvRows(cells);
        ::kill(pid_t(app.processId()), SIGKILL);
        QVERIFY(app.waitForFinished(5000));
        const QStringList after = csvRows(cells);
        QVERIFY(after.size() >= seen.size());
        QCOMPARE(after.mid(0, seen.size()), seen);
        for (const QString &row : after) // whole lines, every column
            QCOMPARE(row.count(','), QString(station::kCellsHeader).count(','));
        sim.terminate();
        sim.waitForFinished(5000);
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestStation)
#include "test_station.moc"
