// The meter session without a window: bytes in, in any chunks, readings out
// to its sinks, numbered, gated, judged and with the ranges in force.
#include "meter/metersession.h"
#include "meter/rangecontrol.h"
#include "mainwindowprobe.h"
#include "meterline.h"
#include "testsupport.h"

#include <QComboBox>

#include <ctime>

using namespace meter;

namespace {

Limits limits(double rLow, double rHigh, double vLow, double vHigh)
{
    Limits l;
    l.rLow = parseLimit(QString::number(rLow));
    l.rHigh = parseLimit(QString::number(rHigh));
    l.vLow = parseLimit(QString::number(vLow));
    l.vHigh = parseLimit(QString::number(vHigh));
    return l;
}

// Keeps what it is handed, and the order sinks were called in.
struct Recorder : ReadingSink
{
    QString name;
    QStringList *calls = nullptr;
    QVector<MeterReading> readings;
    QVector<ReadingBurst> bursts;
    void takeBurst(const ReadingBurst &burst) override
    {
        bursts << burst;
        readings += burst.readings;
        if (calls)
            *calls << name;
    }
};

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void everyReadingOnceInOrder_data()
    {
        QTest::addColumn<QList<int>>("cuts"); // chunk sizes, repeated over the stream
        QTest::newRow("frame by frame") << QList<int>{10};
        QTest::newRow("split frames") << QList<int>{3, 7, 1, 9, 4};
        QTest::newRow("packed frames") << QList<int>{30, 20, 50};
        QTest::newRow("byte by byte") << QList<int>{1};
        QTest::newRow("mixed") << QList<int>{13, 27, 5, 55};
    }

    void everyReadingOnceInOrder()
    {
        QFETCH(QList<int>, cuts);
        MeterSession session;
        Recorder sink;
        session.addSink(&sink);
        session.linkOpened("/dev/test");
        QByteArray stream;
        for (int i = 1; i <= 100; ++i)
            stream += frameOf(quint32(i) * 100, 37000);
        int pos = 0;
        for (int k = 0; pos < stream.size(); ++k) {
            const int n = cuts[k % cuts.size()];
            session.feed(stream.mid(pos, n));
            pos += n;
        }
        QCOMPARE(sink.readings.size(), 100);
        for (int i = 0; i < 100; ++i) {
            QCOMPARE(sink.readings[i].seq, quint32(i + 1));
            QCOMPARE(sink.readings[i].decoded.r, (i + 1) * 100 / 10000.0);
            QCOMPARE(sink.readings[i].frameCount, quint32(i + 1));
        }
        QCOMPARE(session.receiveCount(), 100u);
        int frames = 0;
        for (const ReadingBurst &b : sink.bursts)
            frames += b.frames;
        QCOMPARE(frames, 100);
    }

    void gateNumberingAndCounters()
    {
        MeterSession session;
        Recorder sink;
        session.addSink(&sink);
        session.setDivisor(3);
        QByteArray stream;
        for (int i = 1; i <= 10; ++i)
            stream += frameOf(quint32(i), 1);
        session.feed(stream);
        // Frames 3, 6 and 9 pass the gate and are numbered 1, 2, 3.
        QCOMPARE(sink.readings.size(), 3);
        QCOMPARE(sink.readings[0].decoded.r, 3 / 10000.0);
        QCOMPARE(sink.readings[2].seq, 3u);
        QCOMPARE(sink.readings[2].frameCount, 9u);
        QCOMPARE(sink.bursts.last().receiveCount, 10u);
        QCOMPARE(sink.bursts.last().frames, 10);

        // A cleared plot restarts the numbering; cleared counters the count.
        session.restartNumbering();
        session.clearReceiveCount();
        session.setDivisor(1);
        session.setDivisor(0); // ignored: there is no gate that takes nothing
        session.feed(frameOf(5, 5));
        QCOMPARE(sink.readings.last().seq, 1u);
        QCOMPARE(sink.readings.last().frameCount, 1u);
        QCOMPARE(session.divisor(), 1u);
    }

    void verdictsLimitsRangesAndTime()
    {
        MeterSession session;
        Recorder sink;
        session.addSink(&sink);
        const QDateTime fixed(QDate(2026, 12, 7), QTime(10, 28, 58, 123));
        session.setClock([fixed] { return fixed; });
        session.setLimits(limits(0, 10, 0, 5));
        session.feed(frameOf(50000, 37000, 1, 0));                          // 5 mΩ, 3.7 V: PASS
        session.feed(frameOf(15000, 37000, 3, 1, false));                   // 1.5 Ω = 1,500 mΩ: NG
        session.feed(frameOf(50000, 37000, 6, 3, true, false, true));       // R overload: no verdict
        session.setLimits(Limits());
        session.feed(frameOf(50000, 37000));                                // no limits: no verdict
        QCOMPARE(sink.readings.size(), 4);
        const MeterReading &pass = sink.readings[0];
        QCOMPARE(int(pass.verdict), int(Verdict::Pass));
        QCOMPARE(pass.rText, QString("5.0000mΩ"));
        QCOMPARE(pass.vText, QString("3.7000V"));
        QCOMPARE(pass.rRangeText, QString("20mΩ"));
        QCOMPARE(pass.vRangeText, QString("2V"));
        QCOMPARE(pass.time, fixed);
        QCOMPARE(pass.limits.rHigh.value, 10.0);
        QCOMPARE(int(sink.readings[1].verdict), int(Verdict::Ng));
        QCOMPARE(sink.readings[1].rMilliOhms(), 1500.0);
        QCOMPARE(int(sink.readings[2].verdict), int(Verdict::None));
        QVERIFY(sink.readings[2].overloaded());
        QCOMPARE(sink.readings[2].rText, QString("OL mΩ"));
        QCOMPARE(int(sink.readings[3].verdict), int(Verdict::None));
        QVERIFY(!sink.readings[3].limits.usable());
    }

    // Without a clock of its own the session stamps local time: the instant
    // and the offset the system gives, in several zones.
    void itsClockIsLocalTime()
    {
        const QByteArray zone = qgetenv("TZ");
        for (const char *tz : {"UTC", "Asia/Shanghai", "America/St_Johns", "Europe/Berlin"}) {
            qputenv("TZ", tz);
            tzset();
            MeterSession session;
            Recorder sink;
            session.addSink(&sink);
            const QDateTime before = QDateTime::currentDateTime();
            session.feed(frameOf(50000, 37000).repeated(3)); // three in a row: in step at once
            const QDateTime after = QDateTime::currentDateTime();
            QCOMPARE(sink.readings.size(), 3);
            const QDateTime at = sink.readings[0].time;
            QVERIFY(at >= before && at <= after);
            QCOMPARE(at.offsetFromUtc(), before.offsetFromUtc());
            // The wall-clock time of that instant here, whatever hour it turned.
            QCOMPARE(at.time(), QDateTime::fromMSecsSinceEpoch(at.toMSecsSinceEpoch()).time());
        }
        if (zone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        tzset();
    }

    void recordSinksComeBeforeTheScreen()
    {
        MeterSession session;
        QStringList calls;
        Recorder screen, journal, publisher;
        screen.name = "screen";
        journal.name = "journal";
        publisher.name = "publisher";
        for (Recorder *r : {&screen, &journal, &publisher})
            r->calls = &calls;
        session.addSink(&screen, MeterSession::Phase::Display);
        session.addSink(&journal);
        session.addSink(&publisher);
        session.addSink(&journal); // once is enough
        QSignalSpy handled(&session, &MeterSession::burstHandled);
        session.feed(frameOf(1, 1).repeated(3));
        QCOMPARE(calls, QStringList({"journal", "publisher", "screen"}));
        QCOMPARE(handled.count(), 1);
        session.removeSink(&publisher);
        calls.clear();
        session.feed(frameOf(2, 2));
        QCOMPARE(calls, QStringList({"journal", "screen"}));
    }

    void aStrayByteCostsNoReading()
    {
        MeterSession session;
        Recorder sink;
        session.addSink(&sink);
        session.linkOpened("/dev/test");
        session.feed(QByteArray(1, '\x55') + frameOf(10000, 10000).left(6));
        session.feed(frameOf(10000, 10000).mid(6) + frameOf(20000, 20000) + frameOf(30000, 30000));
        // Where frames start again is settled by more bytes or by the pause.
        QTRY_COMPARE_WITH_TIMEOUT(sink.readings.size(), 3, 2000);
        QCOMPARE(sink.readings[1].decoded.r, 2.0);
        QCOMPARE(session.framer().discardedBytes(), quint64(1));
    }

    void aHeldFrameIsCollectedByItself()
    {
        // A frame no meter sends, alone on the line: dropped after the stale
        // time without any further bytes, and said. A good frame after stray
        // bytes waits for a second like it, each ending at a pause.
        MeterSession session;
        Recorder sink;
        session.addSink(&sink);
        QSignalSpy dropped(&session, &MeterSession::bytesDropped);
        session.linkOpened("/dev/test");
        session.feed(frameOf(10000, 10000, 0x7F, 0x09));
        QTRY_COMPARE_WITH_TIMEOUT(session.framer().discardedBytes(), quint64(10), 2000);
        QCOMPARE(sink.readings.size(), 0);
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.last().first().toULongLong(), 10ull);
        session.feed(QByteArray(2, '\x5A') + frameOf(20000, 10000));
        QTRY_COMPARE_WITH_TIMEOUT(session.framer().discardedBytes(), quint64(12), 2000);
        QCOMPARE(sink.readings.size(), 0);
        session.feed(frameOf(30000, 10000));
        QTRY_COMPARE_WITH_TIMEOUT(sink.readings.size(), 2, 2000);
        QCOMPARE(sink.readings.first().decoded.r, 2.0);
        QCOMPARE(session.framer().discardedBytes(), quint64(12));
    }

    void comboItemsCarryTheirMeaning()
    {
        testsupport::ScopedWorkDir work;
        MainWindow w;
        MainWindowProbe p(w);
        QComboBox *interval = p.ui()->acq_freq_Box;
        for (int i = 0; i < interval->count(); ++i)
            QCOMPARE(interval->itemData(i).toUInt(), divisorForIntervalText(interval->itemText(i)));
        // Picking an item works by what it says, wherever it sits.
        const int tenMinutes = interval->findText("10分");
        interval->insertItem(0, interval->itemText(tenMinutes), interval->itemData(tenMinutes));
        interval->setCurrentIndex(0);
        QCOMPARE(p.sampleDivisor(), 1200u);
        QCOMPARE(p.session()->divisor(), 1200u);
        QComboBox *sounds = p.ui()->comboBox_sounds;
        for (int i = 0; i < sounds->count(); ++i)
            QCOMPARE(sounds->itemData(i).toInt(), soundSchemeForText(sounds->itemText(i)));
    }
};

QTEST_MAIN(TestSession)
#include "test_session.moc"
