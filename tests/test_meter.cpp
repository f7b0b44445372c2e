// The meter's frame decoding, readout texts, the framer, judgement and range
// stepping: plain logic, no widgets.
#include "meter/frameassembler.h"
#include "meter/judgement.h"
#include "meter/meterframe.h"
#include "meter/rangecontrol.h"

#include <QtTest>

#include <random>

using namespace meter;

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
}

class TestMeter : public QObject
{
    Q_OBJECT

private slots:
    void workedExample()
    {
        const Reading r = decodeFrame(hex("4002 40E201 01 01 102700"));
        QVERIFY(r.milliOhm);
        QVERIFY(!r.rOverload);
        QVERIFY(!r.vOverload);
        QVERIFY(!r.vNegative);
        QCOMPARE(int(r.rRangeCode), 2);
        QCOMPARE(int(r.vRangeCode), 1);
        QCOMPARE(r.r, 12.3456);
        QCOMPARE(r.v, 1.0);
        QCOMPARE(rRangeText(r.rRangeCode), QString("200mΩ"));
        QCOMPARE(vRangeText(r.vRangeCode), QString("20V"));
        QCOMPARE(rLabelText(r), QString("12.3456mΩ"));
        QCOMPARE(vLabelText(r), QString("1.0000V"));
        QCOMPARE(readingLine("1#", r), QString("1#  12.3456mΩ  1.0000V"));
    }

    void readoutTables_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("rLabel");
        QTest::addColumn<QString>("vLabel");
        QTest::addColumn<QString>("line");
        // flags: bits 7-6 unit (01 mΩ), 5-4 R overload (10), 3-2 V overload (10)
        QTest::newRow("mΩ positive") << hex("40 00 102700 01 00 204E00") << "1.0000mΩ" << "2.0000V"
                                     << "P  1.0000mΩ  2.0000V";
        QTest::newRow("Ω positive") << hex("00 03 102700 01 00 204E00") << "1.0000Ω" << "2.0000V"
                                    << "P  1.0000Ω  2.0000V";
        QTest::newRow("unit pattern 11 is Ω") << hex("C0 03 102700 05 00 204E00") << "1.0000Ω" << "2.0000V"
                                              << "P  1.0000Ω  2.0000V";
        QTest::newRow("mΩ overload") << hex("60 00 102700 01 00 204E00") << "OL mΩ" << "2.0000V"
                                     << "P  OL mΩ  2.0000V";
        QTest::newRow("Ω overload") << hex("20 00 102700 01 00 204E00") << "OL Ω" << "2.0000V"
                                    << "P  OL Ω  2.0000V";
        QTest::newRow("R overload pattern 11 is no overload") << hex("70 00 102700 01 00 204E00")
                                                              << "1.0000mΩ" << "2.0000V" << "P  1.0000mΩ  2.0000V";
        QTest::newRow("negative V") << hex("40 00 102700 00 00 204E00") << "1.0000mΩ" << "-2.0000V"
                                    << "P  1.0000mΩ  -2.0000V";
        QTest::newRow("V overload positive") << hex("48 00 102700 01 00 204E00") << "1.0000mΩ" << " OL V"
                                             << "P  1.0000mΩ OL V";
        QTest::newRow("V overload negative") << hex("48 00 102700 00 00 204E00") << "1.0000mΩ" << "- OL V"
                                             << "P  1.0000mΩ- OL V";
        QTest::newRow("all overloaded, Ω, negative") << hex("28 00 102700 00 00 204E00") << "OL Ω" << "- OL V"
                                                     << "P  OL Ω- OL V";
        QTest::newRow("zero") << hex("40 00 000000 01 00 000000") << "0.0000mΩ" << "0.0000V"
                              << "P  0.0000mΩ  0.0000V";
        QTest::newRow("largest") << hex("40 00 FFFFFF 01 00 FFFFFF") << "1677.7215mΩ" << "1677.7215V"
                                 << "P  1677.7215mΩ  1677.7215V";
    }

    void readoutTables()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, rLabel);
        QFETCH(QString, vLabel);
        QFETCH(QString, line);
        const Reading r = decodeFrame(frame);
        QCOMPARE(rLabelText(r), rLabel);
        QCOMPARE(vLabelText(r), vLabel);
        QCOMPARE(readingLine("P", r), line);
    }

    void overloadStillCarriesTheMagnitude()
    {
        const Reading r = decodeFrame(hex("68 00 102700 01 00 204E00"));
        QVERIFY(r.rOverload && r.vOverload);
        QCOMPARE(r.r, 1.0);
        QCOMPARE(r.v, 2.0);
    }

    void shortAndEmptyChunks()
    {
        const Reading three = decodeFrame(hex("40 05 7B"));
        QCOMPARE(int(three.rRangeCode), 5);
        QCOMPARE(three.r, 0x7B / 10000.0);
        QCOMPARE(three.v, 0.0);
        QVERIFY(three.vNegative);
        QCOMPARE(int(three.vRangeCode), 0);
        QCOMPARE(vRangeText(three.vRangeCode), QString("2V"));

        const Reading none = decodeFrame(QByteArray());
        QVERIFY(!none.milliOhm);
        QVERIFY(!none.rOverload && !none.vOverload);
        QCOMPARE(none.r, 0.0);
        QCOMPARE(none.v, 0.0);
        QVERIFY(none.vNegative);

        // Bytes after the tenth are not part of the frame.
        QCOMPARE(decodeFrame(hex("4002 40E201 01 01 102700 FFFF")).v, 1.0);
    }

    void rangeTexts()
    {
        const QStringList r = {"2mΩ", "20mΩ", "200mΩ", "2Ω", "20Ω", "200Ω", "AUTO"};
        for (int code = 0; code < r.size(); ++code)
            QCOMPARE(rRangeText(code), r[code]);
        const QStringList v = {"2V", "20V", "100V", "AUTO"};
        for (int code = 0; code < v.size(); ++code)
            QCOMPARE(vRangeText(code), v[code]);
        for (int code : {7, 8, 127, 255, -1, -128})
            QVERIFY(rRangeText(code).isNull());
        for (int code : {4, 5, 255, -1})
            QVERIFY(vRangeText(code).isNull());
    }

    void encodeDecodeRoundTrip()
    {
        FrameFields f;
        f.milliOhm = false;
        f.rOverload = true;
        f.vNegative = true;
        f.rRangeCode = 4;
        f.vRangeCode = 2;
        f.rCounts = 0xABCDEF;
        f.vCounts = 0x010203;
        const QByteArray frame = encodeFrame(f);
        QCOMPARE(frame.size(), FrameSize);
        const Reading r = decodeFrame(frame);
        QVERIFY(!r.milliOhm && r.rOverload && !r.vOverload && r.vNegative);
        QCOMPARE(int(r.rRangeCode), 4);
        QCOMPARE(int(r.vRangeCode), 2);
        QCOMPARE(r.r, 0xABCDEF / 10000.0);
        QCOMPARE(r.v, 0x010203 / 10000.0);
    }

    // ---- framing ----

    void framerCutsPackedChunks()
    {
        FrameAssembler framer;
        QByteArray three;
        for (int i = 0; i < 3; ++i)
            three += QByteArray(10, char('a' + i));
        QCOMPARE(framer.push(three, 0), three);
        QCOMPARE(framer.pendingBytes(), 0);
        // Two and a half frames: the half waits for its rest.
        const QByteArray twoAndHalf = three.left(25);
        QCOMPARE(framer.push(twoAndHalf, 10), three.left(20));
        QCOMPARE(framer.pendingBytes(), 5);
        QCOMPARE(framer.push(three.mid(25, 5), 20), three.mid(20, 10));
        QCOMPARE(framer.pendingBytes(), 0);
    }

    void framerJoinsSplitFrames()
    {
        FrameAssembler framer;
        const QByteArray frame = hex("4002 40E201 01 01 102700");
        QVERIFY(framer.push(frame.left(1), 0).isEmpty());
        QVERIFY(framer.push(frame.mid(1, 4), 30).isEmpty());
        QCOMPARE(framer.push(frame.mid(5), 60), frame);
        // One byte at a time, each arriving within the stale time.
        QByteArray out;
        for (int i = 0; i < frame.size(); ++i)
            out += framer.push(frame.mid(i, 1), 100 + i * 99);
        QCOMPARE(out, frame);
        QCOMPARE(framer.discardedBytes(), quint64(0));
    }

    void framerDropsStalePartialFrames()
    {
        FrameAssembler framer;
        const QByteArray frame = hex("4002 40E201 01 01 102700");
        QVERIFY(framer.push(QByteArray(3, '\x55'), 1000).isEmpty());
        // Exactly 200 ms is not yet stale...
        QVERIFY(framer.push(QByteArray(1, '\x55'), 1200).isEmpty());
        QCOMPARE(framer.pendingBytes(), 4);
        // ...201 ms after the last byte is: the garbage goes, the frame is whole.
        QCOMPARE(framer.push(frame, 1401), frame);
        QCOMPARE(framer.discardedBytes(), quint64(4));
        QCOMPARE(framer.pendingBytes(), 0);
    }

    void framerRealignsAfterGarbageAndPause()
    {
        FrameAssembler framer;
        const QByteArray frame = hex("4002 40E201 01 01 102700");
        qint64 now = 0;
        // Seven garbage bytes and back-to-back frames: misaligned until a pause.
        QByteArray stream = QByteArray(7, '\x99') + frame + frame;
        const QByteArray misaligned = framer.push(stream, now);
        QCOMPARE(misaligned.size(), 20);
        QVERIFY(misaligned.left(10) != frame);
        QCOMPARE(framer.pendingBytes(), 7);
        now += 250;
        QCOMPARE(framer.push(frame + frame, now), frame + frame);
        QCOMPARE(framer.discardedBytes(), quint64(7));
        // An empty read changes nothing.
        QVERIFY(framer.push(QByteArray(), now + 1).isEmpty());
        framer.reset();
        QCOMPARE(framer.pendingBytes(), 0);
    }

    void checkedFramerRealignsOnItsOwn_data()
    {
        QTest::addColumn<int>("chunk"); // bytes per push; 0: all at once
        QTest::newRow("all at once") << 0;
        QTest::newRow("a frame a time") << 10;
        QTest::newRow("odd chunks") << 7;
        QTest::newRow("byte by byte") << 1;
    }

    void checkedFramerRealignsOnItsOwn()
    {
        QFETCH(int, chunk);
        FrameAssembler framer(FrameSize, 200, plausibleFrame);
        // Stray bytes between frames of different readings; no pause anywhere.
        QByteArray stream;
        QList<QByteArray> frames;
        int stray = 0;
        for (int i = 0; i < 40; ++i) {
            FrameFields f;
            f.rCounts = quint32(10000 + i * 1237);
            f.vCounts = quint32(37000 + i * 3);
            // Unit, ranges and polarity change now and then, as an operator
            // changes them; once at a stray byte.
            f.milliOhm = (i / 10) % 2 == 0;
            f.rRangeCode = quint8((i / 7) % 7);
            f.vRangeCode = quint8((i / 11) % 4);
            f.vNegative = (i / 13) % 2;
            frames << encodeFrame(f);
            if (i % 9 == 4) {
                stream += QByteArray(1 + i % 4, char(0x55 + i));
                stray += 1 + i % 4;
            }
            stream += frames.last();
        }
        QByteArray out;
        const int step = chunk == 0 ? stream.size() : chunk;
        for (int pos = 0; pos < stream.size(); pos += step)
            out += framer.push(stream.mid(pos, step), pos / 100);
        out += framer.push(QByteArray(), 10000); // the pause collects what waited to be compared
        // Every frame comes out once, whole and in order; only the stray bytes are lost.
        QList<QByteArray> cut;
        for (int pos = 0; pos + FrameSize <= out.size(); pos += FrameSize)
            cut << out.mid(pos, FrameSize);
        QCOMPARE(cut, frames);
        QCOMPARE(framer.discardedBytes(), quint64(stray));
    }

    // Every frame the protocol defines is a reading: any polarity byte (0
    // negative, anything else positive), any flag bits; only a range code
    // outside its table is no frame of a meter.
    void framesTheProtocolDefinesAreReadings_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("negative");
        QTest::newRow("polarity 0") << hex("40 02 40E201 00 01 102700") << true;
        QTest::newRow("polarity 1") << hex("40 02 40E201 01 01 102700") << false;
        QTest::newRow("polarity 0x80") << hex("40 02 40E201 80 01 102700") << false;
        QTest::newRow("polarity 0xFF") << hex("40 02 40E201 FF 01 102700") << false;
        QTest::newRow("flag bits 1-0 set") << hex("43 02 40E201 01 01 102700") << false;
        QTest::newRow("every flag bit set") << hex("FF 06 40E201 00 03 102700") << true;
    }
    void framesTheProtocolDefinesAreReadings()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, negative);
        QVERIFY(plausibleFrame(frame.constData()));
        QCOMPARE(decodeFrame(frame).vNegative, negative);
        // Back to back and a frame a time at the meter's pace: every one comes out.
        FrameAssembler packed(FrameSize, 200, plausibleFrame);
        QCOMPARE(packed.push(frame.repeated(5), 0) + packed.finish(), frame.repeated(5));
        FrameAssembler paced(FrameSize, 200, plausibleFrame);
        QByteArray out;
        for (int i = 0; i < 5; ++i)
            out += paced.push(frame, i * 500) + paced.push(QByteArray(), i * 500 + 210);
        QCOMPARE(out, frame.repeated(5));
        QCOMPARE(paced.discardedBytes(), quint64(0));
    }

    void framesOfUnknownRangesAreNoReadings()
    {
        FrameAssembler framer(FrameSize, 200, plausibleFrame);
        const QByteArray odd = hex("43 7F 102700 05 09 102700");
        const QByteArray good = hex("4002 40E201 01 01 102700");
        QVERIFY(!plausibleFrame(odd.constData()));
        QCOMPARE(framer.push(good.repeated(3), 0), good.repeated(3));
        QVERIFY(framer.push(odd, 10).isEmpty());
        QVERIFY(framer.holdsFrame());
        QVERIFY(framer.push(QByteArray(), 150).isEmpty());
        QVERIFY(framer.push(QByteArray(), 211).isEmpty());
        QCOMPARE(framer.discardedBytes(), quint64(10));
        QCOMPARE(framer.pendingBytes(), 0);
        // The frame after it is like the last one: the stream stayed in step.
        QCOMPARE(framer.push(odd + good, 300), QByteArray());
        QCOMPARE(framer.push(QByteArray(), 501), good);
        QCOMPARE(framer.discardedBytes(), quint64(20));
    }

    // After the line opens, frames wait until the stream is in step: three
    // back to back, or two alike each ending where the line pauses; then
    // the held ones come out too, in order, so none is lost.
    void framesAreHeldUntilTheStreamIsInStep()
    {
        QByteArray three;
        for (quint32 n = 1; n <= 3; ++n) {
            FrameFields f;
            f.rCounts = n;
            three += encodeFrame(f);
        }
        FrameAssembler packed(FrameSize, 200, plausibleFrame);
        QVERIFY(packed.push(three.left(10), 0).isEmpty());
        QVERIFY(packed.push(three.mid(10, 10), 20).isEmpty());
        QCOMPARE(packed.push(three.mid(20), 40), three);
        QVERIFY(packed.inStep());

        // At the meter's pace: a port opened between two frames gets whole
        // frames up to a pause, and the first is a reading at that pause.
        FrameAssembler opened(FrameSize, 200, plausibleFrame);
        QVERIFY(opened.push(three.left(10), 0).isEmpty());
        QVERIFY(opened.holdsFrame()); // the session collects at the pause
        QCOMPARE(opened.push(QByteArray(), 210), three.left(10));
        QCOMPARE(opened.push(three.mid(10, 10), 500), three.mid(10, 10));
        // A port opened inside a frame gets its tail first: then two alike
        // frames, each ending at a pause, put the stream in step.
        FrameAssembler inside(FrameSize, 200, plausibleFrame);
        QVERIFY(inside.push(three.right(4), 0).isEmpty());
        QVERIFY(inside.push(QByteArray(), 210).isEmpty());
        QVERIFY(inside.push(three.left(10), 500).isEmpty());
        QVERIFY(inside.push(QByteArray(), 710).isEmpty());
        QVERIFY(inside.push(three.mid(10, 10), 1000).isEmpty());
        QCOMPARE(inside.push(QByteArray(), 1210), three.left(20));
        QCOMPARE(inside.discardedBytes(), quint64(4));
        // A link that ends ends a burst like a pause; one that never put
        // the stream in step gives nothing of what it held.
        FrameAssembler closed(FrameSize, 200, plausibleFrame);
        QVERIFY(closed.push(three.left(10) + "\x07\x07\x07", 0).isEmpty());
        QVERIFY(closed.finish().isEmpty());
        QCOMPARE(closed.discardedBytes(), quint64(13));
    }

    // Shorted probes read next to nothing: a frame of zeros is plausible at
    // eight of its ten shifts. Frames of an unknown range among them must
    // not move the framer onto a shift, with or without pauses.
    void aShortedProbeAfterBadFramesReadsTrue_data()
    {
        QTest::addColumn<int>("chunk"); // bytes per push; 0: a frame a time at the meter's pace
        QTest::newRow("at the meter's pace") << 0;
        QTest::newRow("back to back, all at once") << 100000;
        QTest::newRow("back to back, odd chunks") << 7;
    }
    void aShortedProbeAfterBadFramesReadsTrue()
    {
        QFETCH(int, chunk);
        FrameFields f;
        f.rCounts = 3; // 0.0003 mΩ
        f.vCounts = 0;
        f.rRangeCode = 0;
        f.vRangeCode = 0;
        const QByteArray shorted = encodeFrame(f);
        QByteArray bad = shorted;
        bad[1] = char(9);
        const QByteArray stream = shorted.repeated(50) + bad.repeated(3) + shorted.repeated(150);
        FrameAssembler framer(FrameSize, 200, plausibleFrame);
        QByteArray out;
        if (chunk == 0) {
            for (int i = 0; i < stream.size() / FrameSize; ++i)
                out += framer.push(stream.mid(i * FrameSize, FrameSize), i * 500)
                       + framer.push(QByteArray(), i * 500 + 210);
        } else {
            for (int pos = 0; pos < stream.size(); pos += chunk)
                out += framer.push(stream.mid(pos, chunk), pos / 100);
        }
        out += framer.finish();
        QCOMPARE(out, shorted.repeated(200));
        QCOMPARE(framer.discardedBytes(), quint64(30));
    }

    // What a noisy line sends: nothing comes out that the meter did not send,
    // whatever the chunks. Numbered frames (R counts = the number, as the
    // simulator's --sequence) tell an invented reading from a sent one.
    void hostileStreams_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<int>("chunk"); // bytes per push, no pause; 0: a write of the meter at its pace
        QTest::newRow("10 MB of random bytes, chunks of 4096") << "random bytes" << 4096;
        QTest::newRow("10 MB of random bytes, chunks of 7") << "random bytes" << 7;
        QTest::newRow("random bytes at the meter's pace") << "random bytes" << 0;
        QTest::newRow("strays before each frame at the meter's pace") << "strays between frames" << 0;
        for (int chunk : {100000, 10, 7, 1}) {
            const QByteArray name = "unknown range codes, chunks of " + QByteArray::number(chunk);
            QTest::newRow(name.constData()) << "unknown range codes" << chunk;
        }
    }

    void hostileStreams()
    {
        QFETCH(QString, stream);
        QFETCH(int, chunk);
        std::mt19937 random(7);
        auto randomBytes = [&random](int n) {
            QByteArray bytes(n, Qt::Uninitialized);
            for (char &c : bytes)
                c = char(random() & 0xFF);
            return bytes;
        };
        QList<QByteArray> writes; // what the meter writes at once
        QSet<QByteArray> sent;
        if (stream == "random bytes") {
            const int total = chunk == 0 ? 2000000 : 10 * 1024 * 1024;
            for (int at = 0; at < total; at += 10)
                writes << randomBytes(10);
        }
        for (int n = 1; stream != "random bytes" && n <= 2000; ++n) {
            FrameFields f;
            f.rCounts = quint32(n);
            f.vCounts = 37012; // 3.7012 V: a frame read 8 bytes early is plausible too
            QByteArray frame = encodeFrame(f);
            QByteArray write;
            if (stream == "strays between frames")
                write = randomBytes(int(random() % 31));
            if (stream == "unknown range codes" && n % 50 >= 10 && n % 50 < 13)
                frame[1] = char(9); // three in a row that no meter sends
            else
                sent << frame;
            writes << write + frame;
        }
        FrameAssembler framer(FrameSize, 200, plausibleFrame);
        QByteArray out;
        quint64 in = 0;
        if (chunk == 0) {
            qint64 now = 0;
            for (const QByteArray &write : writes) {
                out += framer.push(write, now) + framer.push(QByteArray(), now + 210);
                now += 500;
                in += quint64(write.size());
            }
        } else {
            const QByteArray bytes = writes.join();
            for (int pos = 0; pos < bytes.size(); pos += chunk)
                out += framer.push(bytes.constData() + pos, qMin(chunk, bytes.size() - pos), 0);
            in = quint64(bytes.size());
        }
        out += framer.finish();
        int invented = 0;
        for (int pos = 0; pos + FrameSize <= out.size(); pos += FrameSize)
            invented += !sent.contains(out.mid(pos, FrameSize));
        QCOMPARE(invented, 0);
        // Every byte is in a frame passed on or counted as dropped.
        QCOMPARE(quint64(out.size()) + framer.discardedBytes(), in);
        if (stream == "unknown range codes")
            QCOMPARE(out.size(), sent.size() * FrameSize); // the frames around them are kept
        if (stream == "strays between frames")
            QVERIFY2(out.size() >= sent.size() * FrameSize * 99 / 100, qPrintable(QString::number(out.size() / FrameSize)));
    }

    // ---- judgement ----

    void limitsAreReadAsTyped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        QTest::addColumn<double>("value");
        QTest::newRow("empty") << "" << int(Limit::Empty) << 0.0;
        QTest::newRow("blanks") << "   " << int(Limit::Empty) << 0.0;
        QTest::newRow("number") << " 0.1 " << int(Limit::Number) << 0.1;
        QTest::newRow("negative") << "-2.5" << int(Limit::Number) << -2.5;
        QTest::newRow("exponent") << "1e3" << int(Limit::Number) << 1000.0;
        QTest::newRow("letters") << "abc" << int(Limit::Invalid) << 0.0;
        QTest::newRow("trailing letters") << "12mΩ" << int(Limit::Invalid) << 0.0;
        QTest::newRow("comma") << "1,5" << int(Limit::Invalid) << 0.0;
        QTest::newRow("nan") << "nan" << int(Limit::Invalid) << 0.0;
        QTest::newRow("inf") << "inf" << int(Limit::Invalid) << 0.0;
    }

    void limitsAreReadAsTyped()
    {
        QFETCH(QString, text);
        QFETCH(int, state);
        QFETCH(double, value);
        const Limit limit = parseLimit(text);
        QCOMPARE(int(limit.state), state);
        if (limit.state == Limit::Number)
            QCOMPARE(limit.value, value);
    }

    void verdicts_data()
    {
        QTest::addColumn<QStringList>("limits"); // R low, R high, V low, V high
        QTest::addColumn<double>("r");
        QTest::addColumn<double>("v");
        QTest::addColumn<int>("verdict");
        const QStringList typical = {"0", "10", "0", "5"};
        QTest::newRow("inside") << typical << 5.0 << 2.5 << int(Verdict::Pass);
        QTest::newRow("equal to upper limits") << typical << 10.0 << 5.0 << int(Verdict::Pass);
        QTest::newRow("equal to typed 0.1") << QStringList{"0.1", "10", "0", "5"} << 1000 / 10000.0 << 2.0
                                            << int(Verdict::Pass);
        QTest::newRow("equal to typed 3.7012") << QStringList{"0", "10", "3.7012", "5"} << 1.0
                                               << 37012 / 10000.0 << int(Verdict::Pass);
        QTest::newRow("R below") << typical << -0.0001 << 2.0 << int(Verdict::Ng);
        QTest::newRow("R above") << typical << 10.0001 << 2.0 << int(Verdict::Ng);
        QTest::newRow("V above") << typical << 1.0 << 5.0001 << int(Verdict::Ng);
        QTest::newRow("V below") << QStringList{"0", "10", "2", "4"} << 1.0 << 1.9999 << int(Verdict::Ng);
        QTest::newRow("crossed limits") << QStringList{"10", "0", "0", "5"} << 5.0 << 2.0 << int(Verdict::Ng);
        QTest::newRow("one empty") << QStringList{"0", "", "0", "5"} << 5.0 << 2.0 << int(Verdict::None);
        QTest::newRow("one blank") << QStringList{"0", "10", "  ", "5"} << 5.0 << 2.0 << int(Verdict::None);
        QTest::newRow("one not a number") << QStringList{"0", "10", "0", "x"} << 5.0 << 2.0 << int(Verdict::None);
    }

    void verdicts()
    {
        QFETCH(QStringList, limits);
        QFETCH(double, r);
        QFETCH(double, v);
        QFETCH(int, verdict);
        Limits l;
        l.rLow = parseLimit(limits[0]);
        l.rHigh = parseLimit(limits[1]);
        l.vLow = parseLimit(limits[2]);
        l.vHigh = parseLimit(limits[3]);
        QCOMPARE(int(judge(l, r, v)), verdict);
    }

    void soundSchemes()
    {
        using S = AlarmSound;
        const S ng[] = {S::Yichang, S::Ng, S::Dudu, S::Jingbao, S::None};
        const S pass[] = {S::Zhengchang, S::Pass, S::None, S::None, S::None};
        for (int scheme = 0; scheme < 5; ++scheme) {
            QCOMPARE(int(soundFor(scheme, Verdict::Ng)), int(ng[scheme]));
            QCOMPARE(int(soundFor(scheme, Verdict::Pass)), int(pass[scheme]));
            QCOMPARE(int(soundFor(scheme, Verdict::None)), int(S::None));
        }
        QCOMPARE(QString(alarmSoundResource(S::Dudu)), QString(":/wav/901040.wav"));
        QCOMPARE(QString(alarmSoundResource(S::Jingbao)), QString(":/wav/jingbao.wav"));
    }

    // ---- ranges and the gate ----

    void intervalDivisors()
    {
        // The interval box's items, in form order, and the frames each keeps.
        const QStringList items = {"0.5秒", "1秒", "2秒", "3秒", "4秒", "5秒", "6秒", "7秒", "8秒",
                                   "9秒", "10秒", "15秒", "20秒", "30秒", "60秒", "10分", "30分", "60分"};
        const quint32 expected[] = {1, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 30, 40, 60, 120, 1200, 3600, 7200};
        for (int i = 0; i < 18; ++i)
            QCOMPARE(divisorForIntervalText(items[i]), expected[i]);
        for (const char *odd : {"", "秒", "0秒", "0.3秒", "-1秒", "abc", "10", "1e12秒"})
            QCOMPARE(divisorForIntervalText(QString::fromUtf8(odd)), 0u);
        QVERIFY(gateAccepts(4, 4));
        QVERIFY(!gateAccepts(5, 4));
        QVERIFY(gateAccepts(7, 1));
        QVERIFY(!gateAccepts(7, 0));
    }

    void rangeStepping()
    {
        // R: 0..6 then back to 0; each code's command is 0x30 + code.
        qint8 code = 0;
        QList<int> sent;
        for (int i = 0; i < 8; ++i) {
            code = steppedCode(code, MaxRCode);
            sent << commandByte(code, MaxRCode, RCommandBase);
        }
        QCOMPARE(sent, QList<int>({0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x30, 0x31}));
        // V: AUTO (3) wraps to 2V (":").
        QCOMPARE(int(steppedCode(3, MaxVCode)), 0);
        QCOMPARE(commandByte(0, MaxVCode, VCommandBase), 0x3A);
        QCOMPARE(commandByte(3, MaxVCode, VCommandBase), 0x3D);
        // A reported FF steps to 0; a reported 7F becomes negative and sends nothing.
        QCOMPARE(int(steppedCode(qint8(-1), MaxRCode)), 0);
        QCOMPARE(int(steppedCode(qint8(0x7F), MaxRCode)), -128);
        QCOMPARE(commandByte(qint8(-128), MaxRCode, RCommandBase), -1);
        QCOMPARE(int(steppedCode(qint8(0x90), MaxRCode)), int(qint8(0x91)));
    }
};

QTEST_APPLESS_MAIN(TestMeter)
#include "test_meter.moc"
