// The plant's side: draining a broker's backlog into PostgreSQL through
// zentrel-ingest (reference: the same rows by psql's \copy), and the report
// over a month of ten million rows (reference: one plain scan of that month).
#include "benchsupport.h"
#include "plantservers.h"
#include "broker.h"
#include "ingest/database.h"
#include "postgres.h"

#include <QProcess>
#include <QThread>
#include <QTemporaryDir>

#include <libpq-fe.h>
#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace {

bool serversMissing()
{
    if (!Broker::program().isEmpty() && !Postgres::binDir().isEmpty())
        return false;
    std::printf("  mosquitto or PostgreSQL is missing (tools/dev.sh installs them); nothing measured\n");
    return true;
}

// Seconds a command takes, run to its end.
double timed(const QString &program, const QStringList &args, QString *output = nullptr)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(program, args);
    p.waitForFinished(-1);
    const double seconds = t.nsecsElapsed() / 1e9;
    if (p.exitCode() != 0)
        std::printf("  %s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitCode() == 0 ? seconds : -1;
}

// As timed, and the program's peak resident memory (MiB) through wait4.
double timedWithMemory(const QString &program, const QStringList &args, double *mebibytes)
{
    QElapsedTimer t;
    t.start();
    const pid_t pid = fork();
    if (pid == 0) {
        QList<QByteArray> bytes = {program.toLocal8Bit()};
        for (const QString &a : args)
            bytes << a.toLocal8Bit();
        std::vector<char *> argv;
        for (QByteArray &b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout))
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    *mebibytes = usage.ru_maxrss / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? t.nsecsElapsed() / 1e9 : -1;
}

QStringList psqlArgs(const Postgres &db, const QString &sql)
{
    const QString port = db.conninfo().section(':', 2).section('/', 0, 0);
    return {"-X", "-At", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p", port, "-U", "postgres", "-d", "plant", "-c", sql};
}

const char *const kColumns = "id,time,station,port,seq,r_mohm,v,verdict,r_text,v_text,r_range,v_range,r_low,r_high,v_low,v_high";

// Publishes each file's lines as messages (QoS 1) to its topic and returns
// once the broker has acknowledged every one (mosquitto_pub -l does not wait
// for that at the end of its input).
qint64 publishLines(quint16 port, const QVector<QPair<QString, QString>> &fileAndTopic)
{
    struct Count
    {
        std::atomic<qint64> acked {0};
    } count;
    mosquitto_lib_init();
    mosquitto *m = mosquitto_new("bench-stations", true, &count);
    mosquitto_max_inflight_messages_set(m, 1000);
    mosquitto_publish_callback_set(m, [](mosquitto *, void *c, int) { ++static_cast<Count *>(c)->acked; });
    if (mosquitto_connect(m, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS || mosquitto_loop_start(m) != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(m);
        return 0;
    }
    qint64 sent = 0;
    for (const auto &[path, topic] : fileAndTopic) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray t = topic.toUtf8();
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            if (!line.isEmpty() && mosquitto_publish(m, nullptr, t.constData(), line.size(), line.constData(), 1, false) == MOSQ_ERR_SUCCESS)
                ++sent;
        }
    }
    runUntil([&] { return count.acked.load() >= sent; }, 600000);
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
    return count.acked.load();
}

} // namespace

namespace {

// One backlog of four stations drained; with refusedEvery, that many's one
// message breaks a rule of the plant's own (a CHECK constraint), so the
// database refuses it and the ingest must find it. Drain seconds, or -1.
double drainBacklog(qint64 messages, int refusedEvery, bool copyReference, int ingests = 1)
{
    // The ingest's session holds the whole backlog while it is away.
    PlantServers servers;
    if (!servers.start())
        return -1;
    Broker &broker = servers.broker;
    QTemporaryDir &dir = servers.dir;
    Postgres &db = servers.db;
    QString error;
    // One ingest, or several sharing the stream (each its own session).
    std::vector<std::unique_ptr<QProcess>> ingest;
    for (int i = 0; i < ingests; ++i)
        ingest.emplace_back(new QProcess);
    // Its messages are dated November 2026, whenever it runs.
    auto argsOf = [&](int i) {
        QStringList args = {"--mqtt", QStringLiteral("127.0.0.1:%1").arg(broker.port()), "--db", db.conninfo(), "--lang", "en",
                            "--accept-days", "36500,1"};
        if (ingests > 1)
            args << "--share" << "bench" << "--client-id" << QStringLiteral("bench-ingest-%1").arg(i + 1);
        return args;
    };
    auto startIngest = [&](const char *waitFor) {
        for (int i = 0; i < ingests; ++i) {
            QProcess &p = *ingest[size_t(i)];
            p.start(QStringLiteral(ZENTREL_INGEST_PATH), argsOf(i));
            QByteArray said;
            if (!p.waitForStarted() || !runUntil([&] { return (said += p.readAllStandardError()).contains(waitFor); }, 60000))
                return false;
        }
        return true;
    };
    auto stopIngest = [&] {
        for (auto &p : ingest)
            p->terminate(), p->waitForFinished(30000);
    };
    // Once, so the broker knows the sessions and their subscriptions.
    if (!startIngest("broker 127.0.0.1")) {
        std::printf("  zentrel-ingest did not connect\n");
        return -1;
    }
    stopIngest();
    if (refusedEvery > 0)
        db.query(QStringLiteral("ALTER TABLE readings ADD CONSTRAINT plausible_r CHECK (r_mohm < 1000)"));
    qint64 refused = 0;

    // The backlog: four stations' readings, as their publishers send them.
    const int stations = 4;
    QElapsedTimer published;
    published.start();
    QVector<QPair<QString, QString>> files;
    for (int s = 0; s < stations; ++s) {
        const QString path = QDir(dir.path()).filePath(QStringLiteral("st%1.jsonl").arg(s));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        QByteArray lines;
        const qint64 each = messages / stations;
        for (qint64 i = 0; i < each; ++i) {
            const QTime t = QTime(0, 0).addMSecs(int((i * 500) % 86400000));
            const bool refuse = refusedEvery > 0 && (i + 1) % refusedEvery == 0;
            refused += refuse;
            const double r = refuse ? 5000 : 12 + 0.3 * std::sin(double(i) * 0.01 + s);
            lines += QStringLiteral("{\"id\":\"B%1/readings/2026-11-05/%2\",\"time\":\"2026-11-05T%3+00:00\",\"station\":\"B%1\","
                                    "\"port\":\"COM3\",\"seq\":%2,\"r_mohm\":%4,\"v\":3.7021,\"verdict\":\"PASS\",\"r_text\":\"%4mΩ\","
                                    "\"v_text\":\"3.7021V\",\"r_range\":\"AUTO\",\"v_range\":\"AUTO\",\"r_low\":11,\"r_high\":13,"
                                    "\"v_low\":3.6,\"v_high\":3.8}\n")
                         .arg(s).arg(i + 2).arg(t.toString(QStringLiteral("HH:mm:ss.zzz"))).arg(r, 0, 'f', 4).toUtf8();
            if (lines.size() > (1 << 20)) {
                file.write(lines);
                lines.clear();
            }
        }
        file.write(lines);
        files.append({path, QStringLiteral("zentrel/B%1/reading").arg(s)});
    }
    published.restart();
    const qint64 queued = publishLines(broker.port(), files);
    if (queued != messages) {
        std::printf("  the broker took %lld of %lld messages\n", queued, messages);
        return -1;
    }
    figure("messages queued for the ingest", double(messages), "");
    figure("publishing them (libmosquitto, QoS 1, acknowledged)", published.nsecsElapsed() / 1e9, "s");

    // The drain: from the ingest's start until every row is in.
    QElapsedTimer drained;
    drained.start();
    if (!startIngest("database connected")) {
        std::printf("  zentrel-ingest did not start\n");
        return -1;
    }
    const qint64 pid = ingest.front()->processId();
    double peakMiB = 0;
    // Watching must not load what it watches: one connection, and the rows
    // counted from the quarter-hour sums the trigger keeps, five times a
    // second (a psql and a count(*) per look took a third of the machine).
    PGconn *watch = PQconnectdb(db.conninfo().toUtf8().constData());
    auto rowsIn = [&]() -> qint64 {
        PGresult *r = PQexec(watch, "SELECT coalesce(sum(n), 0) FROM reading_quarters");
        const qint64 n = PQresultStatus(r) == PGRES_TUPLES_OK ? QByteArray(PQgetvalue(r, 0, 0)).toLongLong() : 0;
        PQclear(r);
        return n;
    };
    QElapsedTimer sinceLook;
    sinceLook.start();
    runUntil([&] {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("VmRSS:"))
                    peakMiB = std::max(peakMiB, line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0);
        if (sinceLook.elapsed() < 200)
            return false;
        sinceLook.restart();
        return rowsIn() >= messages - refused;
    }, 1800000);
    const double seconds = drained.nsecsElapsed() / 1e9;
    PQfinish(watch);
    QVector<double> cpu;
    for (auto &p : ingest)
        cpu << processCpu(p->processId());
    const qint64 rows = db.query(QStringLiteral("SELECT count(*) FROM readings")).toLongLong();
    const QString shares = db.query(QStringLiteral("SELECT string_agg(name || ' ' || rows, ', ' ORDER BY name) FROM ingest_status"));
    stopIngest();
    const qint64 rejects = db.query(QStringLiteral("SELECT count(*) FROM rejects")).toLongLong();
    figure("rows in the database", double(rows), "");
    if (refusedEvery > 0)
        figure("rejects (refused by the database's CHECK constraint)", double(rejects), "");
    figure("drain time", seconds, "s");
    figure("drain rate", double(rows) / seconds, "rows/s");
    for (int i = 0; i < cpu.size(); ++i)
        figure(ingests > 1 ? qPrintable(QStringLiteral("zentrel-ingest %1 CPU").arg(i + 1)) : "zentrel-ingest CPU", cpu[i], "s");
    figure("zentrel-ingest resident memory (peak seen)", peakMiB, "MiB");
    if (ingests > 1)
        std::printf("  rows each committed (ingest_status): %s\n", qPrintable(shares));
    if (rows != messages - refused || rejects != refused)
        return -1;
    if (!copyReference)
        return seconds;

    // Reference: the same rows out to a file and in again by \copy.
    const QString csv = QDir(dir.path()).filePath(QStringLiteral("rows.csv"));
    timed(QStringLiteral("psql"), psqlArgs(db, QStringLiteral("\\copy (SELECT %1 FROM readings) TO '%2' WITH CSV").arg(kColumns, csv)));
    db.query(QStringLiteral("TRUNCATE readings, message_ids"));
    const double copy = timed(QStringLiteral("psql"), psqlArgs(db, QStringLiteral("\\copy readings (%1) FROM '%2' WITH CSV").arg(kColumns, csv)));
    std::printf("  reference (the same %lld rows into the same table by psql \\copy): %.1f s, %.0f rows/s; ratio %.2f of the reference's rate\n",
                rows, copy, double(rows) / copy, (double(rows) / seconds) / (double(rows) / copy));
    return seconds;
}

} // namespace

namespace {

// A hundred stations publishing live for `seconds` (2 readings/s and a cell
// record every 5 s each) through mosquitto to two ingests sharing the
// stream: the lag from a reading's time to its commit, each ingest's CPU,
// the database's growth. Seconds measured, or -1.
} // namespace

// Every 50 ms what is due: each station's reading every 500 ms, its cell
// record every 5 s, their moments spread over the period (QoS 1, times now).
// Seconds spent.
double publishStations(mosquitto *m, int stations, int seconds, qint64 *readings, qint64 *cells, const std::atomic<bool> *stop)
{
    QElapsedTimer run;
    run.start();
    for (qint64 tick = 0; run.elapsed() < qint64(seconds) * 1000 && !(stop && *stop); ++tick) {
        const qint64 at = tick * 50;
        while (run.elapsed() < at)
            QThread::usleep(1000);
        const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        for (int s = 0; s < stations; ++s) {
            if ((at + s * 5) % 500 < 50) {
                const qint64 n = ++*readings;
                const QByteArray topic = QStringLiteral("zentrel/P%1/reading").arg(s, 3, 10, QLatin1Char('0')).toUtf8();
                const QByteArray json = QStringLiteral("{\"id\":\"P%1/readings/%2\",\"time\":\"%3\",\"station\":\"P%1\",\"seq\":%2,"
                                                       "\"r_mohm\":%4,\"v\":3.7021,\"verdict\":\"PASS\",\"r_low\":11,\"r_high\":13}")
                                            .arg(s, 3, 10, QLatin1Char('0')).arg(n).arg(now).arg(12 + 0.1 * std::sin(n * 0.1), 0, 'f', 4)
                                            .toUtf8();
                mosquitto_publish(m, nullptr, topic.constData(), json.size(), json.constData(), 1, false);
            }
            if ((at + s * 50) % 5000 < 50) {
                const QByteArray topic = QStringLiteral("zentrel/P%1/cell").arg(s, 3, 10, QLatin1Char('0')).toUtf8();
                const QByteArray json = QStringLiteral("{\"id\":\"P%1/cells/%2\",\"time\":\"%3\",\"station\":\"P%1\",\"lot\":\"L1\","
                                                       "\"record\":\"P%1-%2\",\"cell_id\":\"C%2\",\"r_mohm\":12.1,\"v\":3.70,\"verdict\":\"PASS\"}")
                                            .arg(s, 3, 10, QLatin1Char('0')).arg(++*cells).arg(now).toUtf8();
                mosquitto_publish(m, nullptr, topic.constData(), json.size(), json.constData(), 1, false);
            }
        }
    }
    return run.nsecsElapsed() / 1e9;
}

namespace {

double steadyPlant(int seconds)
{
    PlantServers servers;
    if (!servers.start())
        return -1;
    Broker &broker = servers.broker;
    Postgres &db = servers.db;
    std::vector<std::unique_ptr<QProcess>> ingest;
    for (int i = 1; i <= 2; ++i) {
        ingest.emplace_back(new QProcess);
        ingest.back()->start(QStringLiteral(ZENTREL_INGEST_PATH), {"--mqtt", QStringLiteral("127.0.0.1:%1").arg(broker.port()), "--db",
                                                                   db.conninfo(), "--lang", "en", "--share", "plant", "--client-id",
                                                                   QStringLiteral("ingest-%1").arg(i)});
        QByteArray said;
        if (!ingest.back()->waitForStarted()
            || !runUntil([&] { return (said += ingest.back()->readAllStandardError()).contains("broker 127.0.0.1"); }, 60000)) {
            std::printf("  zentrel-ingest did not connect\n");
            return -1;
        }
    }
    const double sizeBefore = db.query(QStringLiteral("SELECT pg_database_size('plant')")).toDouble();
    const double cpuBefore[2] = {processCpu(ingest[0]->processId()), processCpu(ingest[1]->processId())};
    mosquitto_lib_init();
    mosquitto *m = mosquitto_new("bench-stations", true, nullptr);
    mosquitto_max_inflight_messages_set(m, 0);
    if (mosquitto_connect(m, "127.0.0.1", broker.port(), 60) != MOSQ_ERR_SUCCESS || mosquitto_loop_start(m) != MOSQ_ERR_SUCCESS)
        return -1;
    const int stations = 100;
    qint64 readings = 0, cells = 0;
    const double spent = publishStations(m, stations, seconds, &readings, &cells);
    runUntil([&] { return db.query(QStringLiteral("SELECT (SELECT count(*) FROM readings) + (SELECT count(*) FROM cells)")).toLongLong() >= readings + cells; },
             300000);
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
    figure("stations", stations, "");
    figure("readings published (2/s each)", double(readings), "");
    figure("cell records published (1 in 5 s each)", double(cells), "");
    figure("seconds", spent, "s");
    const QStringList lag = db.query(QStringLiteral("SELECT percentile_cont(ARRAY[0.5, 0.99]) WITHIN GROUP (ORDER BY extract(epoch FROM received - time))"
                                                    " FROM readings"))
                                .remove('{').remove('}').split(',');
    figure("lag from a reading's time to its transaction, p50", lag.value(0).toDouble() * 1000, "ms");
    figure("lag, p99", lag.value(1).toDouble() * 1000, "ms");
    for (int i = 0; i < 2; ++i)
        figure(qPrintable(QStringLiteral("ingest-%1 CPU (share of one core)").arg(i + 1)),
               (processCpu(ingest[size_t(i)]->processId()) - cpuBefore[i]) / spent * 100, "%");
    std::printf("  rows each committed (ingest_status): %s\n",
                qPrintable(db.query(QStringLiteral("SELECT string_agg(name || ' ' || rows, ', ' ORDER BY name) FROM ingest_status"))));
    const double grown = db.query(QStringLiteral("SELECT pg_database_size('plant')")).toDouble() - sizeBefore;
    figure("the database's growth, a day at this rate (tables and indexes)", grown / spent * 86400 / 1073741824.0, "GiB");
    figure("rows a day at this rate", double(readings + cells) / spent * 86400, "");
    for (auto &p : ingest)
        p->terminate(), p->waitForFinished(30000);
    return spent;
}

} // namespace

int plantScale(int seconds, qint64 messages)
{
    heading("a plant of 100 stations: two ingests sharing the stream, live, then a backlog drained by one and by two");
    if (serversMissing())
        return 0;
    if (steadyPlant(seconds) < 0)
        return 1;
    std::printf(" the backlog, one ingest (with the same-run reference):\n");
    const double one = drainBacklog(messages, 0, true, 1);
    std::printf(" the backlog, two ingests sharing it:\n");
    const double two = drainBacklog(messages, 0, false, 2);
    if (one < 0 || two < 0)
        return 1;
    std::printf("  ratio: two ingests drain in %.2f of one's time\n", two / one);
    return 0;
}

int ingestBacklog(qint64 messages)
{
    heading("the plant's intake: a broker's backlog drained into PostgreSQL by zentrel-ingest");
    if (serversMissing())
        return 0;
    return drainBacklog(messages, 0, true) < 0;
}

int brokerAutosave(qint64 messages)
{
    heading("the broker's queue on disk: mosquitto saving it more often, beside its default (a save every 30 min)");
    if (serversMissing())
        return 0;
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("lines.jsonl"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        for (qint64 i = 0; i < messages; ++i)
            file.write(QStringLiteral("{\"id\":\"B/readings/2026-11-05/%1\",\"time\":\"2026-11-05T10:00:00+00:00\",\"station\":\"B\","
                                      "\"r_mohm\":12.5,\"v\":3.7,\"verdict\":\"PASS\"}\n")
                           .arg(i + 2)
                           .toUtf8());
    }
    // The default, then saves more and more often: every 10 s, every 1,000
    // changes, every change (the only way to lose nothing the broker took).
    const struct
    {
        const char *conf, *name;
    } settings[] = {{"", "default: a save every 30 min (the same-run reference)"},
                    {"autosave_interval 10\n", "autosave_interval 10 (every 10 s)"},
                    {"autosave_on_changes true\nautosave_interval 1000\n", "autosave_on_changes true, autosave_interval 1000"},
                    {"autosave_on_changes true\nautosave_interval 1\n", "autosave_on_changes true, autosave_interval 1"}};
    double seconds[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        QTemporaryDir folder;
        Broker broker(folder.path(), QStringLiteral("max_queued_messages 0\n") + QLatin1String(settings[k].conf));
        if (!broker.start())
            return 1;
        // The ingest's session, away: every message is queued for it.
        QProcess::execute(QStringLiteral("mosquitto_sub"), {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-c", "-i",
                                                            "bench-queue", "-q", "1", "-t", "zentrel/#", "-W", "1"});
        QElapsedTimer t;
        t.start();
        const qint64 taken = publishLines(broker.port(), {{path, QStringLiteral("zentrel/B/reading")}});
        seconds[k] = t.nsecsElapsed() / 1e9;
        if (taken != messages)
            return 1;
        std::printf(" %s:\n", settings[k].name);
        figure("messages queued, acknowledged to the station", double(taken), "");
        figure("publishing them (QoS 1)", seconds[k], "s");
        figure("rate", double(taken) / seconds[k], "messages/s");
        if (k > 0)
            std::printf("  ratio: %.2f of the default's time\n", seconds[k] / seconds[0]);
    }
    return 0;
}

int ingestRefused(qint64 messages)
{
    heading("the plant's intake: a backlog with 1 message in 1,000 refused by the database, beside a clean one");
    if (serversMissing())
        return 0;
    std::printf(" clean backlog (the same-run reference):\n");
    const double clean = drainBacklog(messages, 0, false);
    std::printf(" 1 in 1,000 refused:\n");
    const double refused = drainBacklog(messages, 1000, false);
    if (clean < 0 || refused < 0)
        return 1;
    std::printf("  ratio: %.2f of the clean backlog's drain time\n", refused / clean);
    return 0;
}

int reportDatabase(qint64 rows)
{
    heading("zentrel-report --db over a month of readings in PostgreSQL");
    if (serversMissing())
        return 0;
    Postgres db;
    QString error;
    if (!db.start(&error)) {
        std::printf("  PostgreSQL did not start: %s\n", qPrintable(error));
        return 1;
    }
    {
        ingest::Database schema;
        if (!schema.open(db.conninfo(), &error)) {
            std::printf("  %s\n", qPrintable(error));
            return 1;
        }
    }
    // November 2026: forty stations, a day's partition at a time, a stable
    // process's normal scatter; a change of limits halfway for a quarter of them.
    QElapsedTimer loading;
    loading.start();
    const qint64 perDay = rows / 30;
    for (int day = 1; day <= 30; ++day) {
        const QString date = QStringLiteral("2026-11-%1").arg(day, 2, 10, QLatin1Char('0'));
        const QString next = day == 30 ? QStringLiteral("2026-12-01") : QStringLiteral("2026-11-%1").arg(day + 1, 2, 10, QLatin1Char('0'));
        const QString sql = QStringLiteral(
            "CREATE TABLE readings_%1 PARTITION OF readings FOR VALUES FROM ('%2 00:00:00+00') TO ('%3 00:00:00+00');"
            "INSERT INTO readings (%4) SELECT 'B' || lpad((i %% 40)::text, 2, '0') || '/readings/%2/' || i, "
            "'%2 00:00:00+00'::timestamptz + (i * 86400.0 / %5) * interval '1 second', 'B' || lpad((i %% 40)::text, 2, '0'), 'COM3', i, "
            "round(r::numeric, 4), round((3.7 + 0.005 * z2)::numeric, 4), "
            "CASE WHEN r > 12.3 THEN 'NG' ELSE 'PASS' END, '', '', 'AUTO', 'AUTO', "
            "CASE WHEN i %% 4 = 0 AND %6 > 15 THEN 11.5 ELSE 11 END, 13, 3.6, 3.8"
            " FROM (SELECT i, 12 + 0.12 * z1 AS r, z2 FROM (SELECT i, sqrt(-2 * ln(1 - random())) * cos(2 * pi() * random()) AS z1,"
            "  sqrt(-2 * ln(1 - random())) * sin(2 * pi() * random()) AS z2 FROM generate_series(0, %5 - 1) AS i) n) g")
                                .arg(date.mid(0, 10).remove('-'), date, next, QString::fromLatin1(kColumns))
                                .arg(perDay).arg(day)
                                .replace(QStringLiteral("%%"), QStringLiteral("%"));
        // A stable process: normal scatter, the same every run.
        if (db.query(QStringLiteral("SELECT setseed(%1); ").arg(day / 31.0) + sql, &error) == QStringLiteral("\x01")) {
            std::printf("  loading day %d: %s\n", day, qPrintable(error));
            return 1;
        }
    }
    db.query(QStringLiteral("VACUUM ANALYZE readings"));
    figure("rows in the month", db.query(QStringLiteral("SELECT count(*) FROM readings")).toDouble(), "");
    figure("loading them (generate_series, two indexes)", loading.nsecsElapsed() / 1e9, "s");
    // What the ingest does a minute after each quarter of an hour ends, all at once.
    QElapsedTimer packing;
    packing.start();
    db.query(QStringLiteral("SELECT reading_series_seal('0', 1000000)"));
    figure("packing the month's readings for the control charts (the ingest: each quarter as it ends)", packing.nsecsElapsed() / 1e9, "s");
    db.query(QStringLiteral("VACUUM ANALYZE reading_series"));
    figure("the packed readings", db.query(QStringLiteral("SELECT pg_total_relation_size('reading_series')")).toDouble() / 1048576.0, "MiB");
    figure("table and indexes", db.query(QStringLiteral("SELECT sum(pg_total_relation_size(c.oid)) FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid")).toDouble() / 1048576.0, "MiB");

    // Local days are UTC days here, so the month is its thirty partitions.
    qputenv("TZ", "UTC");
    QTemporaryDir out;
    const QStringList month = {"--db", db.conninfo(), "--from", "2026-11-01", "--to", "2026-11-30"};
    QVector<double> runs, scans;
    for (int i = 0; i < 3; ++i) {
        runs << timed(QStringLiteral(ZENTREL_REPORT_PATH), month + QStringList {"--json", QDir(out.path()).filePath("month.json")});
        scans << timed(QStringLiteral("psql"),
                       psqlArgs(db, QStringLiteral("SELECT count(*), avg(r_mohm) FROM readings WHERE time >= '2026-11-01Z' AND time < '2026-12-01Z'")));
    }
    std::sort(runs.begin(), runs.end());
    std::sort(scans.begin(), scans.end());
    figure("the month's report, table and JSON with control charts (median of 3)", runs[1], "s");
    figure("the same without control charts (--no-control-charts: the sums only)",
           timed(QStringLiteral(ZENTREL_REPORT_PATH), month + QStringList {"--no-control-charts", "--json", QDir(out.path()).filePath("sums.json")}), "s");
    double mebibytes = 0;
    figure("the month's report with its PDF",
           timedWithMemory(QStringLiteral(ZENTREL_REPORT_PATH), month + QStringList {"--pdf", QDir(out.path()).filePath("month.pdf")}, &mebibytes), "s");
    figure("its peak resident memory", mebibytes, "MiB");
    std::printf("  reference (one plain scan of the month: count and mean of R, psql, median of 3): %.2f s; ratio %.2f\n",
                scans[1], runs[1] / scans[1]);
    // What the control charts read, read by psql into nothing: the packed
    // readings, and (as before them) the rows themselves.
    const double packed = timed(QStringLiteral("psql"), psqlArgs(db, QStringLiteral(
        "COPY (SELECT quarter, station, r_low, r_high, v_low, v_high, points FROM reading_series"
        " WHERE quarter >= '2026-11-01Z' AND quarter < '2026-12-01Z' ORDER BY quarter, station) TO STDOUT (FORMAT binary)")) + QStringList {"-o", "/dev/null"});
    std::printf("  reference (the packed readings by binary COPY into nothing, psql): %.2f s; ratio %.2f\n", packed, runs[1] / packed);
    const double copy = timed(QStringLiteral("psql"), psqlArgs(db, QStringLiteral(
        "COPY (SELECT station, time, r_mohm, v, r_low, r_high, v_low, v_high FROM readings"
        " WHERE time >= '2026-11-01Z' AND time < '2026-12-01Z') TO STDOUT (FORMAT binary)")) + QStringList {"-o", "/dev/null"});
    std::printf("  (the same rows unpacked by binary COPY into nothing, psql: %.2f s)\n", copy);
    return 0;
}

} // namespace bench
