// The frame path: the meter simulator in its own process, a real
// pseudo-terminal, and the real window (offscreen, four limits set, plot and
// receive window live).
#include "benchsupport.h"
#include "journal/journal.h"
#include "mainwindowprobe.h"
#include "meter/metersession.h"
#include "mqtt/publisher.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>

#include <QtTest/QTest>

namespace bench {

namespace {

class MeterRun
{
public:
    explicit MeterRun(const QStringList &simulatorOptions)
    {
        m_link = QDir::temp().filePath(QStringLiteral("zentrel-bench-%1").arg(QCoreApplication::applicationPid()));
        m_sim.start(QStringLiteral(ZENTREL_SIM_PATH),
                    QStringList{"--link", m_link, "--linger"} + simulatorOptions);
        m_sim.waitForStarted();
        runUntil([this] { return m_sim.canReadLine() || m_sim.state() != QProcess::Running; }, 10000);

        m_window.show();
        (void)QTest::qWaitForWindowExposed(&m_window);
        auto *ui = m_probe.ui();
        ui->lineEdit_R_DOWN->setText(QStringLiteral("0"));
        ui->lineEdit_R_UP->setText(QStringLiteral("100"));
        ui->lineEdit_V_DOWN->setText(QStringLiteral("0"));
        ui->lineEdit_V_UP->setText(QStringLiteral("5"));
        ui->radioButton_group->setChecked(true);
        ui->Check_Seria->click();
        ui->Receive_textEdit->clear();
        ui->PortBox->setCurrentIndex(ui->PortBox->findText(m_link));
        ui->BaudBox->setCurrentIndex(ui->BaudBox->count() - 1);
    }

    ~MeterRun()
    {
        if (m_journal) {
            m_probe.session()->removeSink(m_journal.get());
            m_window.setReadingArchive(QString(), {});
        }
        if (m_sim.state() != QProcess::NotRunning) {
            m_sim.terminate();
            m_sim.waitForFinished(5000);
        }
    }

    bool open()
    {
        m_probe.ui()->Open_Serial_Button->click();
        return m_probe.serialPort() != nullptr;
    }
    // Counted by the session as frames arrive (the window shows it at its own pace).
    quint32 decoded() const { return m_probe.session()->receiveCount(); }
    QString status() const { return m_window.statusBar()->currentMessage(); }
    MainWindowProbe &probe() { return m_probe; }
    // A journal in a scratch folder, as start-up adds one by default.
    void addJournal()
    {
        m_journal.reset(new journal::Journal(m_journalDir.path(), QStringLiteral("bench")));
        m_probe.session()->addSink(m_journal.get());
        journal::Journal *j = m_journal.get();
        m_window.setReadingArchive(m_journalDir.path(), [j] { return !j->paused() && j->waiting() == 0; });
    }
    journal::Journal *journal() const { return m_journal.get(); }
    QString journalFolder() const { return m_journalDir.path(); }
    // Frames the simulator wrote, once it has finished.
    qint64 sent()
    {
        m_sim.terminate();
        m_sim.waitForFinished(30000);
        const QString report = QString::fromLocal8Bit(m_sim.readAllStandardError());
        const int at = report.indexOf(QStringLiteral("sent "));
        return at < 0 ? -1 : report.mid(at + 5).section(' ', 0, 0).toLongLong();
    }

private:
    QProcess m_sim;
    QString m_link;
    MainWindow m_window;
    MainWindowProbe m_probe {m_window};
    QTemporaryDir m_journalDir;
    std::unique_ptr<journal::Journal> m_journal;
};

// mosquitto on 127.0.0.1 and a free port, and a counting subscriber.
class BrokerRun
{
public:
    BrokerRun()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        const QString program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {"/usr/sbin", "/usr/bin"});
        if (program.isEmpty())
            return;
        QFile conf(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("%1listener %2 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\n")
                       .arg(::geteuid() == 0 ? QStringLiteral("user root\n") : QString())
                       .arg(m_port)
                       .toUtf8());
        conf.close();
        m_broker.start(program, {"-c", conf.fileName()});
        m_broker.waitForStarted();
        runUntil([this] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            return s.waitForConnected(50);
        }, 5000);
        m_sub.start(QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")),
                    {"-h", "127.0.0.1", "-p", QString::number(m_port), "-t", "zentrel/#", "-q", "1"});
        m_sub.waitForStarted();
        QObject::connect(&m_sub, &QProcess::readyReadStandardOutput, [this] {
            m_received += m_sub.readAllStandardOutput().count('\n');
        });
        runUntil([] { return false; }, 300);
        m_ok = m_broker.state() == QProcess::Running && m_sub.state() == QProcess::Running;
    }
    ~BrokerRun()
    {
        for (QProcess *p : {&m_sub, &m_broker}) {
            p->terminate();
            p->waitForFinished(3000);
        }
    }
    bool ok() const { return m_ok; }
    quint16 port() const { return m_port; }
    qint64 received() const { return m_received; }

private:
    QTemporaryDir m_dir;
    QProcess m_broker, m_sub;
    quint16 m_port = 0;
    qint64 m_received = 0;
    bool m_ok = false;
};

// The peer of publishing: mosquitto_pub sending as many records of the same
// size, one message per line at QoS 1, to the same broker and subscriber.
Reference mosquittoPubReference(BrokerRun &broker, int records)
{
    Reference r;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("mosquitto_pub"));
    if (program.isEmpty())
        return r;
    QByteArray lines;
    for (int i = 1; i <= records; ++i)
        lines += QStringLiteral("{\"time\":\"2026-12-07T10:28:58.123+08:00\",\"station\":\"bench\",\"port\":\"/tmp/m\","
                                "\"seq\":%1,\"r_mohm\":12.3456,\"v\":3.7012,\"verdict\":\"PASS\",\"r_range\":\"AUTO\","
                                "\"v_range\":\"AUTO\"}\n").arg(i).toUtf8();
    const qint64 before = broker.received();
    QProcess pub;
    pub.start(program, {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-t", "zentrel/reference", "-q", "1", "-l"});
    if (!pub.waitForStarted(5000))
        return r;
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = processCpu(pub.processId());
    pub.write(lines);
    double cpu = cpu0;
    runUntil([&] {
        cpu = qMax(cpu, processCpu(pub.processId()));
        return broker.received() - before >= records;
    }, 300000);
    r.wall = wall.nsecsElapsed() / 1e9;
    r.cpu = cpu - cpu0;
    r.items = broker.received() - before;
    pub.closeWriteChannel();
    pub.waitForFinished(10000);
    r.ok = r.items > 0;
    return r;
}

mqtt::PublisherSettings publisherSettings(quint16 port)
{
    mqtt::PublisherSettings s;
    s.client.host = QStringLiteral("127.0.0.1");
    s.client.port = port;
    s.client.clientId = QStringLiteral("zentrel-bench-%1").arg(QCoreApplication::applicationPid());
    s.topicPrefix = QStringLiteral("zentrel/bench");
    return s;
}

} // namespace

int publishing(int seconds)
{
    heading("publishing: 2,560 frames/s through a pseudo-terminal, journal and MQTT on, to mosquitto and a subscriber");
    BrokerRun broker;
    if (!broker.ok()) {
        std::printf("  mosquitto or mosquitto_sub is missing (tools/dev.sh installs them); nothing measured\n");
        return 0;
    }
    const qint64 frames = 2560LL * seconds;
    MeterRun run({"--interval", "0.390625", "--count", QString::number(frames)});
    run.addJournal();
    mqtt::Publisher publisher(run.journalFolder(), publisherSettings(broker.port()));
    QString error;
    if (!publisher.start(&error)) {
        std::printf("  could not start publishing: %s\n", qPrintable(error));
        return 1;
    }
    runUntil([&] { return publisher.isConnected(); }, 5000);
    StallMeter stalls;
    stalls.start();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    if (!run.open())
        return 1;
    runUntil([&] { return run.decoded() >= frames && broker.received() >= frames; }, seconds * 3000 + 60000);
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    figure("frames decoded", run.decoded(), "");
    figure("records received by the subscriber", double(broker.received()), "");
    figure("records/s end to end", broker.received() / elapsed, "records/s");
    figure("CPU time per record (whole program)", cpu / qMax<quint32>(1, run.decoded()) * 1e6, "us");
    figure("longest event-loop stall", stalls.longestMs(), "ms");
    const Reference peer = mosquittoPubReference(broker, int(qMin<qint64>(frames, 100000)));
    if (peer.ok)
        std::printf("  reference (mosquitto_pub, %lld records of the same size, QoS 1): %.0f records/s, %.3f us CPU each; "
                    "ratio of CPU per record %.2f\n",
                    qlonglong(peer.items), peer.perSecond(), peer.cpuPerItemUs(),
                    cpu / qMax<quint32>(1, run.decoded()) * 1e6 / qMax(1e-9, peer.cpuPerItemUs()));
    return 0;
}

int drain(int records)
{
    heading("draining a backlog of 100,000 records to mosquitto and a subscriber");
    BrokerRun broker;
    if (!broker.ok()) {
        std::printf("  mosquitto or mosquitto_sub is missing (tools/dev.sh installs them); nothing measured\n");
        return 0;
    }
    // A journal written while the broker was away: the cursor at its start.
    QTemporaryDir folder;
    {
        meter::MeterSession session;
        journal::Journal journal(folder.path(), QStringLiteral("bench"));
        session.addSink(&journal);
        meter::FrameFields f;
        QByteArray chunk;
        for (int i = 1; i <= records; ++i) {
            f.rCounts = quint32(i);
            f.vCounts = 37000;
            chunk += meter::encodeFrame(f);
            if (chunk.size() >= 10000 || i == records) {
                session.feed(chunk);
                chunk.clear();
            }
        }
        journal.close();
    }
    QFile cursor(QDir(folder.path()).filePath(QStringLiteral("mqtt-cursor.json")));
    cursor.open(QIODevice::WriteOnly);
    cursor.write(QStringLiteral("{\"readings\":{\"day\":\"%1\",\"offset\":0,\"line\":0},\"cells\":{}}")
                     .arg(QDate::currentDate().toString(Qt::ISODate))
                     .toUtf8());
    cursor.close();
    mqtt::Publisher publisher(folder.path(), publisherSettings(broker.port()));
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QString error;
    if (!publisher.start(&error)) {
        std::printf("  could not start publishing: %s\n", qPrintable(error));
        return 1;
    }
    runUntil([&] { return broker.received() >= records && publisher.backlog() == 0; }, 300000);
    const double elapsed = wall.nsecsElapsed() / 1e9;
    figure("records received by the subscriber", double(broker.received()), "");
    figure("time to drain", elapsed, "s");
    figure("records/s through one mosquitto", broker.received() / elapsed, "records/s");
    const double ours = (cpuSeconds() - cpu0) / qMax(1, records) * 1e6;
    const double ourRate = broker.received() / elapsed;
    figure("CPU time per record (publisher)", ours, "us");
    const Reference peer = mosquittoPubReference(broker, records);
    if (peer.ok)
        std::printf("  reference (mosquitto_pub, the same number of records of the same size, QoS 1): %.0f records/s, "
                    "%.3f us CPU each; ratio of rates %.2f, of CPU per record %.2f\n",
                    peer.perSecond(), peer.cpuPerItemUs(), ourRate / qMax(1e-9, peer.perSecond()),
                    ours / qMax(1e-9, peer.cpuPerItemUs()));
    return 0;
}

int framePath(int seconds, bool withJournal)
{
    heading(withJournal ? "frame path: 2,560 frames/s back to back through a pseudo-terminal, journal on"
                        : "frame path: 2,560 frames/s back to back through a pseudo-terminal, journal off");
    const qint64 frames = 2560LL * seconds;
    const QStringList stream = {"--interval", "0.390625", "--count", QString::number(frames)};
    const Reference floor = bareStreamReference(stream);
    MeterRun run(stream);
    if (withJournal)
        run.addJournal();
    StallMeter stalls;
    stalls.start();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    if (!run.open()) {
        std::printf("  could not open the simulator's port\n");
        return 1;
    }
    // The rate is taken from the first decoded frame to the last.
    qint64 firstNs = -1;
    runUntil([&] {
        if (firstNs < 0 && run.decoded() > 0)
            firstNs = wall.nsecsElapsed();
        return run.decoded() >= frames;
    }, seconds * 3000 + 30000);
    const double elapsed = (wall.nsecsElapsed() - qMax<qint64>(0, firstNs)) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const qint64 sent = run.sent();
    figure("frames sent by the simulator", double(sent), "");
    figure("frames decoded", run.decoded(), "");
    figure("frames lost (sent - decoded)", double(sent - qint64(run.decoded())), "");
    figure("frames/s processed (first to last frame)", (run.decoded() - 1) / elapsed, "frames/s");
    figure("CPU time per frame", cpu / qMax<quint32>(1, run.decoded()) * 1e6, "us");
    figure("longest event-loop stall", stalls.longestMs(), "ms");
    reference("bare reader of the same stream, CPU per frame", floor, cpu / qMax<quint32>(1, run.decoded()) * 1e6, "us");
    if (run.journal()) {
        run.journal()->close();
        figure("lines in the journal", double(run.journal()->linesWritten()), "");
    }
    return 0;
}

int nominalRate(int seconds)
{
    heading("nominal rate: 2 frames/s");
    const Reference floor = bareStreamReference({"--interval", "500", "--count", QString::number(2 * seconds)});
    MeterRun run({"--interval", "500"});
    if (!run.open()) {
        std::printf("  could not open the simulator's port\n");
        return 1;
    }
    runUntil([&] { return run.decoded() >= 2; }, 5000); // settle
    const double cpu0 = cpuSeconds();
    const quint32 first = run.decoded();
    QElapsedTimer wall;
    wall.start();
    QEventLoop idle; // no polling of our own: it would cost more than the window does
    QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double cpu = cpuSeconds() - cpu0;
    figure("frames in the window", run.decoded() - first, "");
    figure("CPU share of one core", cpu / (wall.nsecsElapsed() / 1e9) * 100.0, "%");
    if (floor.ok)
        std::printf("  reference (bare reader of the same stream): %.4f %% of one core; ratio %.1f\n",
                    floor.cpu / floor.wall * 100.0, (cpu / (wall.nsecsElapsed() / 1e9)) / qMax(1e-9, floor.cpu / floor.wall));
    return 0;
}

int dayOfReadings(qint64 frames)
{
    heading("a day of readings: 172,800 frames as fast as the program takes them");
    const QStringList stream = {"--interval", "0", "--count", QString::number(frames)};
    const Reference floor = bareStreamReference(stream);
    MeterRun run(stream);
    struct Sample { quint32 frames; double cpu; double rss; };
    QVector<Sample> samples;
    samples.push_back({0, cpuSeconds(), residentMiB()});
    if (!run.open()) {
        std::printf("  could not open the simulator's port\n");
        return 1;
    }
    QElapsedTimer wall;
    wall.start();
    QTimer sampler;
    QElapsedTimer progress;
    progress.start();
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples.push_back({run.decoded(), cpuSeconds(), residentMiB()});
        if (progress.elapsed() > 10000) {
            progress.restart();
            std::printf("  ... %u frames after %.0f s %s\n", run.decoded(), wall.elapsed() / 1000.0, qPrintable(run.status()));
            std::fflush(stdout);
        }
    });
    sampler.start(20);
    runUntil([&] { return run.decoded() >= frames; }, 600000);
    sampler.stop();
    samples.push_back({run.decoded(), cpuSeconds(), residentMiB()});
    const double elapsed = wall.nsecsElapsed() / 1e9;

    // CPU per frame over the 10,000 frames that follow each mark (before the last):
    // the process clock counts in 10 ms ticks.
    auto at = [&](quint32 mark) {
        int i = 0;
        while (i + 1 < samples.size() && samples[i].frames < mark)
            ++i;
        return i;
    };
    std::printf("  %10s %14s %18s\n", "frames", "resident MiB", "CPU us per frame");
    for (quint32 mark : {0u, 6000u, 50000u, quint32(frames)}) {
        const quint32 from = mark == quint32(frames) ? mark - 10000 : mark;
        const int a = at(from), b = at(from + 10000);
        const double perFrame = (samples[b].cpu - samples[a].cpu) / qMax<quint32>(1, samples[b].frames - samples[a].frames) * 1e6;
        std::printf("  %10u %14.1f %18.1f\n", mark, samples[at(mark)].rss, perFrame);
    }
    figure("frames decoded", run.decoded(), "");
    figure("frames lost (sent - decoded)", double(run.sent() - qint64(run.decoded())), "");
    figure("wall time", elapsed, "s");
    figure("frames/s", run.decoded() / elapsed, "frames/s");
    if (floor.ok)
        std::printf("  reference (bare reader of the same stream): %.0f frames/s, %.3f us CPU per frame; "
                    "ratio of rates %.2f, of CPU per frame %.1f\n",
                    floor.perSecond(), floor.cpuPerItemUs(), (run.decoded() / elapsed) / floor.perSecond(),
                    (samples.last().cpu - samples.first().cpu) / qMax<quint32>(1, run.decoded()) * 1e6 / qMax(1e-9, floor.cpuPerItemUs()));
    return 0;
}

int weekOfReadings(qint64 frames, bool withJournal)
{
    heading(withJournal ? "a week of readings: 1,209,600 frames back to back, journal on"
                        : "a week of readings: 1,209,600 frames back to back, journal off");
    // The window's overflow file goes to a scratch data folder.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const QStringList stream = {"--interval", "0", "--count", QString::number(frames)};
    const Reference floor = bareStreamReference(stream);
    MeterRun run(stream);
    if (withJournal)
        run.addJournal();
    struct Sample { quint32 frames; double rss; };
    QVector<Sample> samples;
    if (!run.open()) {
        std::printf("  could not open the simulator's port\n");
        return 1;
    }
    StallMeter stalls;
    stalls.start();
    QElapsedTimer wall;
    wall.start();
    QTimer sampler;
    QElapsedTimer progress;
    progress.start();
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples.push_back({run.decoded(), residentMiB()});
        if (progress.elapsed() > 10000) {
            progress.restart();
            std::printf("  ... %u frames after %.0f s\n", run.decoded(), wall.elapsed() / 1000.0);
            std::fflush(stdout);
        }
    });
    sampler.start(50);
    // Ends early when nothing more arrives for 15 s (a lost frame).
    quint32 lastCount = 0;
    QElapsedTimer quiet;
    quiet.start();
    runUntil([&] {
        if (run.decoded() != lastCount) {
            lastCount = run.decoded();
            quiet.restart();
        }
        return run.decoded() >= frames || quiet.elapsed() > 15000;
    }, 1800000);
    sampler.stop();
    samples.push_back({run.decoded(), residentMiB()});
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double longest = stalls.longestMs();
    // The last lines reach the window with its next screen update.
    runUntil([&] { return run.probe().receiveCount() >= run.decoded(); }, 5000);

    std::printf("  %10s %14s\n", "frames", "resident MiB");
    for (quint32 mark : {100000u, 200000u, 300000u, 600000u, 900000u, quint32(frames)}) {
        int i = 0;
        while (i + 1 < samples.size() && samples[i].frames < mark)
            ++i;
        std::printf("  %10u %14.1f\n", samples[i].frames, samples[i].rss);
    }
    // Every reading in the window or in the overflow file, once, in order.
    QTextEdit *edit = run.probe().ui()->Receive_textEdit;
    const QStringList window = edit->toPlainText().split('\n');
    const QDir folder(data.filePath(QStringLiteral("zentrel/journal")));
    const QStringList files = folder.entryList({QStringLiteral("receive-window-*.txt")}, QDir::Files);
    QStringList spilled;
    if (files.size() == 1) {
        QFile file(folder.filePath(files.first()));
        if (file.open(QIODevice::ReadOnly))
            spilled = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    quint64 inOrder = 0;
    auto check = [&](const QString &line) {
        if (line.startsWith(QString::number(inOrder + 1) + QLatin1Char('#')))
            ++inOrder;
    };
    if (run.journal()) {
        // With a journal the window keeps its last lines; the journal has all.
        run.journal()->close();
        inOrder = run.journal()->linesWritten();
    } else {
        for (const QString &line : spilled)
            check(line);
        for (const QString &line : window)
            check(line);
    }
    figure("frames decoded", run.decoded(), "");
    figure("frames lost (sent - decoded)", double(run.sent() - qint64(run.decoded())), "");
    figure("lines in the window", window.size(), "");
    figure("lines in the overflow file", spilled.size(), "");
    figure("readings found once and in order", double(inOrder), "");
    figure("longest stall of the event loop", longest, "ms");
    figure("bytes the framer dropped", double(run.probe().frameAssembler().discardedBytes()), "");
    figure("wall time", elapsed, "s");
    if (floor.ok)
        std::printf("  reference (bare reader of the same stream): %.1f s; ratio %.2f\n", floor.wall,
                    elapsed / qMax(1e-9, floor.wall));
    qunsetenv("XDG_DATA_HOME");
    return inOrder == quint64(frames) ? 0 : 1;
}

} // namespace bench
