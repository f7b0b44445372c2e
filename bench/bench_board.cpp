// The line board live: 100 stations at 2 readings/s through the broker and
// zentrel-ingest, zentrel-board with 5 pages open in Chromium. Figures: the
// delay from the ingest's commit to a page's update, the board's CPU and
// memory, a page's load time with 100 tiles. References in the same run: the
// commit's notice heard by a bare LISTEN client, the board's questions asked
// by a bare client, the board's JSON fetched alone.
#include "benchsupport.h"
#include "plantservers.h"
#include "broker.h"
#include "plantdb/boarddb.h"
#include "plantdb/changes.h"
#include "platform/sockets.h"
#include "postgres.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace bench {

namespace {

double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

void spread(const char *name, const std::vector<double> &v, const char *unit)
{
    std::printf("  %-44s p50 %9.1f  p99 %9.1f %s (%zu)\n", name, quantile(v, 0.5), quantile(v, 0.99), unit, v.size());
    std::fflush(stdout);
}

double residentPeakMiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// A bare client LISTENing as the board does: each notice's delay from the
// ingest's commit, until told to stop.
void listenBare(const QString &conninfo, std::atomic<bool> *stop, std::vector<double> *delays)
{
    plantdb::Connection c = plantdb::connect(conninfo, "bench-listen");
    const QByteArray sql = QByteArray("LISTEN ") + plantdb::kChangeChannel;
    plantdb::Result(PQexec(c.get(), sql.constData()));
    while (!*stop) {
        platform::waitReadableFor(PQsocket(c.get()), 200);
        PQconsumeInput(c.get());
        while (PGnotify *n = PQnotifies(c.get())) {
            const double t = QJsonDocument::fromJson(QByteArray(n->extra)).object().value("t").toDouble();
            delays->push_back(double(QDateTime::currentMSecsSinceEpoch()) - t);
            PQfreemem(n);
        }
    }
}

} // namespace

int boardLive(int seconds)
{
    heading("the line board: 100 stations live, 5 pages open in Chromium");
    const QString node = QStandardPaths::findExecutable("node");
    if (Broker::program().isEmpty() || Postgres::binDir().isEmpty() || node.isEmpty() || !QFile::exists("/usr/bin/chromium")) {
        std::printf("  mosquitto, PostgreSQL, node or chromium is missing (tools/dev.sh installs them); nothing measured\n");
        return 0;
    }
    PlantServers servers;
    if (!servers.start())
        return 1;
    Broker &broker = servers.broker;
    Postgres &db = servers.db;
    QString error;
    QProcess ingest;
    ingest.start(QStringLiteral(ZENTREL_INGEST_PATH), {"--mqtt", QStringLiteral("127.0.0.1:%1").arg(broker.port()), "--db", db.conninfo(), "--lang", "en"});
    QByteArray said;
    if (!runUntil([&] { return (said += ingest.readAllStandardError()).contains("broker 127.0.0.1"); }, 60000)) {
        std::printf("  zentrel-ingest did not connect: %s\n", said.constData());
        return 1;
    }
    // A shift's cell records already in (a record every 5 s at each station,
    // one in twenty NG): the day's figures are asked over these.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime from = std::max(now.addSecs(-8 * 3600), QDateTime(now.date(), QTime(0, 1), Qt::UTC));
    const qint64 each = from.secsTo(now) / 5;
    QElapsedTimer filling;
    filling.start();
    db.query(QStringLiteral("INSERT INTO cells (id, time, station, lot, set, record, cell_id, r_mohm, v, verdict) "
                            "SELECT st || '/cells/shift/' || i, '%1'::timestamptz + i * interval '5 seconds', st, 'L1', 'S1', st || '-shift-' || i, "
                            "'C' || st || i, 12 + (i %% 7) * 0.05, 3.7, CASE WHEN i %% 20 = 0 THEN 'NG' ELSE 'PASS' END "
                            "FROM generate_series(0, 99) s, LATERAL (SELECT 'P' || lpad(s::text, 3, '0') AS st) n, generate_series(0, %2 - 1) i")
                 .arg(from.toString(Qt::ISODate))
                 .arg(each)
                 .replace(QStringLiteral("%%"), QStringLiteral("%")));
    db.query(QStringLiteral("ANALYZE cells"));
    figure("a shift's cell records, already in", db.query(QStringLiteral("SELECT count(*) FROM cells")).toDouble(), "");
    figure("putting them in (generate_series)", filling.nsecsElapsed() / 1e9, "s");
    mosquitto_lib_init();
    mosquitto *m = mosquitto_new("bench-stations", true, nullptr);
    mosquitto_max_inflight_messages_set(m, 0);
    if (mosquitto_connect(m, "127.0.0.1", broker.port(), 60) != MOSQ_ERR_SUCCESS || mosquitto_loop_start(m) != MOSQ_ERR_SUCCESS)
        return 1;
    const int stations = 100;
    qint64 readings = 0, cells = 0;
    publishStations(m, stations, 6, &readings, &cells); // every station known before the board starts
    QProcess board;
    const quint16 port = freePort();
    board.start(QStringLiteral(ZENTREL_BOARD_PATH), {"--db", db.conninfo(), "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    said.clear();
    if (!runUntil([&] { return (said += board.readAllStandardError()).contains("serving"); }, 30000)) {
        std::printf("  zentrel-board did not start: %s\n", said.constData());
        return 1;
    }
    QProcess pages;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CHROMIUM", "/usr/bin/chromium");
    pages.setProcessEnvironment(env);
    pages.start(node, {QStringLiteral(ZENTREL_BENCH_PAGES), QStringLiteral("http://127.0.0.1:%1/").arg(port), QString::number(stations), "5",
                       QString::number(seconds)});
    QByteArray pagesSaid;
    // The pages load while the stations publish.
    std::atomic<bool> published {false};
    std::thread publishing([&] { publishStations(m, stations, 3600, &readings, &cells, &published); });
    if (!runUntil([&] { return (pagesSaid += pages.readAllStandardError()).contains("pages open"); }, 120000)) {
        std::printf("  the pages did not open: %s\n", pagesSaid.constData());
        published = true;
        publishing.join();
        return 1;
    }
    std::atomic<bool> stop {false};
    std::vector<double> bare;
    std::thread listener(listenBare, db.conninfo(), &stop, &bare);
    // The database's side of the board: its connections' server processes.
    auto backendsCpu = [&](const char *application) {
        double sum = 0;
        for (const QString &pid : db.query(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name = '%1'").arg(application))
                                      .split('\n', Qt::SkipEmptyParts))
            sum += processCpu(pid.toLongLong());
        return sum;
    };
    const double backends0 = backendsCpu("zentrel-board"), ingestBackends0 = backendsCpu("zentrel-ingest");
    const double cpu0 = processCpu(board.processId()), ingestCpu0 = processCpu(ingest.processId());
    QElapsedTimer wall;
    wall.start();
    pages.waitForFinished(qint64(seconds) * 1000 + 120000);
    const double spent = wall.nsecsElapsed() / 1e9;
    const double cpu = processCpu(board.processId()) - cpu0, ingestCpu = processCpu(ingest.processId()) - ingestCpu0;
    const double backends = backendsCpu("zentrel-board") - backends0, ingestBackends = backendsCpu("zentrel-ingest") - ingestBackends0;
    stop = true;
    listener.join();
    const QJsonObject o = QJsonDocument::fromJson(pages.readAllStandardOutput()).object();
    auto numbers = [&](const char *key) {
        std::vector<double> v;
        for (const QJsonValue &x : o.value(key).toArray())
            v.push_back(x.toDouble());
        return v;
    };
    // The board's questions for every station, asked by a bare client.
    plantdb::BoardDb bareDb(plantdb::connect(db.conninfo(), "bench-questions"));
    QStringList names;
    bareDb.stations(QDateTime::currentMSecsSinceEpoch(), &names, &error);
    std::vector<double> asked;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        QVector<plantdb::StationPulse> p;
        QVector<plantdb::StationDay> d;
        bareDb.pulses(names, now, &p, &error);
        bareDb.days(names, QDateTime(QDate::currentDate(), QTime(0, 0)).toMSecsSinceEpoch(), now, &d, &error);
        asked.push_back(t.nsecsElapsed() / 1e6);
    }
    figure("stations", stations, "");
    figure("seconds measured", spent, "s");
    spread("commit to a page's update (5 pages)", numbers("latencies"), "ms");
    spread("reference: commit to a bare LISTEN client", bare, "ms");
    figure("board CPU (share of one core)", cpu / spent * 100, "%");
    figure("reference: the ingest's CPU, the same rows", ingestCpu / spent * 100, "%");
    figure("PostgreSQL's CPU for the board's questions", backends / spent * 100, "%");
    figure("reference: PostgreSQL's CPU for the ingest", ingestBackends / spent * 100, "%");
    figure("board peak memory", residentPeakMiB(board.processId()), "MiB");
    spread("a page's load, to 100 tiles", numbers("load"), "ms");
    spread("reference: the board's JSON fetched alone", numbers("json"), "ms");
    spread("reference: all 100 tiles' questions, bare client", asked, "ms");
    published = true;
    publishing.join();
    board.terminate();
    board.waitForFinished(20000);
    ingest.terminate();
    ingest.waitForFinished(20000);
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, true);
    mosquitto_destroy(m);
    return 0;
}

} // namespace bench
