// The console's byte/text notations in QUIHelper, rule by rule.
#include "quiwidget.h"

#include <QtTest>

namespace {
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}
} // namespace

class TestConversions : public QObject
{
    Q_OBJECT

private slots:
    void bytesToHex_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("three") << bytes({0x01, 0xAB, 0xFF}) << "01 AB FF";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("one") << bytes({0x00}) << "00";
    }
    void bytesToHex()
    {
        QFETCH(QByteArray, in);
        QFETCH(QString, out);
        QCOMPARE(QUIHelper::bytesToHexText(in), out);
    }

    void hexToBytes_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("mixed case") << "01 ab FF" << bytes({0x01, 0xAB, 0xFF});
        QTest::newRow("leading blanks") << "  0102" << bytes({0x01, 0x02});
        QTest::newRow("odd digit dropped") << "ABC" << bytes({0xAB});
        QTest::newRow("blank inside a pair") << "A B" << bytes({0x9F});
        QTest::newRow("0G") << "0G" << bytes({0xFF});
        QTest::newRow("G0") << "G0" << bytes({0xF0});
        QTest::newRow("GG") << "GG" << bytes({0xEF});
        QTest::newRow("1 2") << "1 2" << bytes({0x0F});
        QTest::newRow("chinese is invalid") << "中0" << bytes({0xF0});
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("only blanks") << "   " << QByteArray();
        QTest::newRow("trailing blank after pair") << "7f " << bytes({0x7F});
    }
    void hexToBytes()
    {
        QFETCH(QString, in);
        QFETCH(QByteArray, out);
        QCOMPARE(QUIHelper::hexTextToBytes(in), out);
    }

    void bytesToEscaped_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("example") << bytes({0x02, 'A', 0x20, 0x5C, 0x7F, 0x80, 0x0D, 0x0A})
                                 << "\\STXA\\x20\\x5C\\x7F\\x80\\CR\\LF";
        QTest::newRow("high bytes lower case") << bytes({0xAB, 0xFF}) << "\\xab\\xff";
        QTest::newRow("SO H") << bytes({0x0E, 0x48}) << "\\SOH";
        QTest::newRow("NUL US") << bytes({0x00, 0x1F}) << "\\NUL\\US";
        QTest::newRow("printable") << QByteArray("a~!") << "a~!";
    }
    void bytesToEscaped()
    {
        QFETCH(QByteArray, in);
        QFETCH(QString, out);
        QCOMPARE(QUIHelper::bytesToEscapedText(in), out);
    }

    void escapedToBytes_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("example") << "\\STXA\\x20\\x5C\\x7F\\x80\\CR\\LF"
                                 << bytes({0x02, 'A', 0x20, 0x5C, 0x7F, 0x80, 0x0D, 0x0A});
        QTest::newRow("SOH") << "\\SOH" << bytes({0x01});
        QTest::newRow("SO then X") << "\\SOX" << bytes({0x0E, 'X'});
        QTest::newRow("SO at end") << "\\SO" << bytes({0x0E});
        QTest::newRow("DC5") << "\\DC5" << QByteArray("5");
        QTest::newRow("one hex digit") << "\\x4" << bytes({0x04});
        QTest::newRow("bad hex") << "\\xZZ" << bytes({0x00});
        QTest::newRow("x at end") << "\\x" << bytes({0x00});
        QTest::newRow("two backslashes") << "\\\\" << bytes({0x5C});
        QTest::newRow("Nz") << "\\Nz" << QByteArray("z");
        QTest::newRow("NUx") << "\\NUx" << QByteArray("x");
        QTest::newRow("DEL") << "\\DEL" << QByteArray("EL");
        QTest::newRow("unknown escape") << "\\q" << QByteArray("\\q");
        QTest::newRow("lone backslash") << "ab\\" << QByteArray("ab\\");
        QTest::newRow("lower case names") << "\\nul" << QByteArray("\\nul");
        QTest::newRow("upper X") << "\\X41" << QByteArray("\\X41");
        QTest::newRow("backslash as third letter") << "\\NU\\x41" << QByteArray("\\x41");
        QTest::newRow("name start at end") << "\\N" << QByteArray();
        QTest::newRow("chinese") << "中a" << QByteArray("?a");
        QTest::newRow("all two-letter names") << "\\BS\\HT\\LF\\VT\\FF\\CR\\SI\\EM\\FS\\GS\\RS\\US"
                                              << bytes({8, 9, 10, 11, 12, 13, 15, 25, 28, 29, 30, 31});
        QTest::newRow("three-letter names") << "\\NUL\\NAK\\STX\\SYN\\SUB\\ETX\\ETB\\EOT\\ENQ\\ESC\\ACK\\BEL\\CAN\\DLE\\DC1\\DC4"
                                            << bytes({0, 21, 2, 22, 26, 3, 23, 4, 5, 27, 6, 7, 24, 16, 17, 20});
    }
    void escapedToBytes()
    {
        QFETCH(QString, in);
        QFETCH(QByteArray, out);
        QCOMPARE(QUIHelper::escapedTextToBytes(in), out);
    }

    void twoDigitHex()
    {
        QCOMPARE(QUIHelper::twoDigitHex(0), QString("00"));
        QCOMPARE(QUIHelper::twoDigitHex(10), QString("0a"));
        QCOMPARE(QUIHelper::twoDigitHex(255), QString("ff"));
        QCOMPARE(QUIHelper::twoDigitHex(4096), QString("1000"));
    }

    void roundTripsOfEveryByte()
    {
        QByteArray all;
        for (int v = 0; v < 256; ++v)
            all.append(char(v));
        QCOMPARE(QUIHelper::hexTextToBytes(QUIHelper::bytesToHexText(all)), all);
        // 0x0E is directly followed by 0x0F here, never by 'H': unchanged.
        QCOMPARE(QUIHelper::escapedTextToBytes(QUIHelper::bytesToEscapedText(all)), all);
        for (int v = 0; v < 256; ++v) {
            const QByteArray one(1, char(v));
            QCOMPARE(QUIHelper::escapedTextToBytes(QUIHelper::bytesToEscapedText(one)), one);
            QCOMPARE(QUIHelper::hexTextToBytes(QUIHelper::bytesToHexText(one)), one);
        }
        // The one ambiguity: SO followed by 'H' reads back as SOH.
        QCOMPARE(QUIHelper::escapedTextToBytes(QUIHelper::bytesToEscapedText(bytes({0x0E, 0x48}))), bytes({0x01}));
        QCOMPARE(QUIHelper::escapedTextToBytes(QUIHelper::bytesToEscapedText(bytes({0x0E, 0x49}))), bytes({0x0E, 0x49}));
    }
};

QTEST_APPLESS_MAIN(TestConversions)
#include "test_conversions.moc"
