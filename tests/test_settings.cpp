// config.ini: a first start, the round trip of the eleven keys, hand-edited
// values, when the file is written, and files built to kill the reader
// (a list claiming 2^31 entries, binary bytes, a FIFO, a folder, 20 MB).
#include "meterline.h"
#include "settings/commandline.h"
#include "settings/configfile.h"
#include "settings/inifile.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>

using testsupport::readFile;
using testsupport::writeFile;

class TestSettings : public QObject
{
    Q_OBJECT

private:
    static void writeConfig(const QByteArray &text)
    {
        QFile f("config.ini");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    void firstStartWithoutFile()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QCOMPARE(ui->txtServerPort->text(), QString("0"));
        QCOMPARE(ui->txtListenPort->text(), QString("0"));
        QVERIFY(ui->txtServerIP->text().isEmpty());
        for (QCheckBox *box : {ui->ckHexReceive, ui->ckHexSend, ui->ckAscii, ui->ckShow, ui->ckAutoSend})
            QVERIFY(!box->isChecked());
        QCOMPARE(ui->PortBox->currentIndex(), -1);
        // No stored rate: the usual 9600 rather than a blank box.
        QCOMPARE(ui->BaudBox->currentText(), QString("9600"));
        QCOMPARE(ui->cboxInterval->currentIndex(), -1);
        QVERIFY(!p.autoSendTimer()->isActive());
        // Reading never creates the file.
        QVERIFY(!QFile::exists("config.ini"));
    }

    void roundTripOfAllKeys()
    {
        MeterLine meter; // a port that exists, so PortName can be restored
        QVERIFY(meter.ok());
        {
            MainWindow w;
            MainWindowProbe p(w);
            auto *ui = p.ui();
            ui->PortBox->setCurrentIndex(ui->PortBox->findText(meter.link()));
            ui->BaudBox->setCurrentIndex(ui->BaudBox->findText("115200"));
            ui->ckHexReceive->setChecked(true);
            ui->ckHexSend->setChecked(false);
            ui->ckAscii->setChecked(true);
            ui->ckShow->setChecked(true);
            ui->ckAutoSend->setChecked(true);
            ui->cboxInterval->setCurrentIndex(ui->cboxInterval->findText("20000"));
            ui->txtServerIP->setText(" 127.0.0.1 ");
            ui->txtServerPort->setText(" 6000 ");
            ui->txtListenPort->setText("abc");
            QMetaObject::invokeMethod(&w, "Write_Config");
        }
        QFile f("config.ini");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        const QStringList keys = {"PortName", "BaudRate", "ckHexReceive", "ckHexSend", "ckAscii", "ckShow",
                                  "ckAutoSend", "AutoTime", "ServerIP", "ServerPort", "ListenPort"};
        for (const QString &key : keys)
            QVERIFY2(text.contains(QRegularExpression("(^|\\n)" + key + "=")), qPrintable(key));
        QVERIFY(text.contains("[Serial]") && text.contains("[UDP_Server]"));
        QVERIFY(text.contains("BaudRate=115200"));
        QVERIFY(text.contains("ckHexReceive=true"));
        QVERIFY(text.contains("ckHexSend=false"));
        QVERIFY(text.contains("AutoTime=20000"));
        QVERIFY(text.contains("ServerIP=127.0.0.1"));
        QVERIFY(text.contains("ServerPort=6000"));
        QVERIFY(text.contains("ListenPort=0"));

        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QCOMPARE(ui->PortBox->currentText(), meter.link());
        QCOMPARE(ui->BaudBox->currentText(), QString("115200"));
        QVERIFY(ui->ckHexReceive->isChecked());
        QVERIFY(!ui->ckHexSend->isChecked());
        QVERIFY(ui->ckAscii->isChecked());
        QVERIFY(ui->ckShow->isChecked());
        QVERIFY(ui->ckAutoSend->isChecked());
        QCOMPARE(ui->cboxInterval->currentText(), QString("20000"));
        QCOMPARE(ui->txtServerIP->text(), QString("127.0.0.1"));
        QCOMPARE(ui->txtServerPort->text(), QString("6000"));
        QCOMPARE(ui->txtListenPort->text(), QString("0"));
        // A restored timed send is shown checked but starts nothing.
        QVERIFY(!p.autoSendTimer()->isActive());
        // Restoring starts nothing else.
        QVERIFY(!p.serialPort());
        QCOMPARE(ui->btnListen->text(), QString("监听"));
    }

    void handEditedValues_data()
    {
        QTest::addColumn<QByteArray>("ckShow");
        QTest::addColumn<bool>("checked");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("no") << QByteArray("no") << true;
        QTest::newRow("true") << QByteArray("true") << true;
        QTest::newRow("FALSE") << QByteArray("FALSE") << false;
        QTest::newRow("False") << QByteArray("False") << false;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("empty") << QByteArray("") << false;
    }

    void handEditedValues()
    {
        QFETCH(QByteArray, ckShow);
        QFETCH(bool, checked);
        writeConfig("[Serial]\nPortName=/dev/zentrel-gone\nBaudRate=abc\n"
                    "[UDP_Server]\nckShow=" + ckShow + "\nServerPort=abc\nListenPort=12x\nAutoTime=777\n"
                    "ServerIP=10.0.0.1\n");
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QCOMPARE(ui->ckShow->isChecked(), checked);
        QCOMPARE(ui->PortBox->currentIndex(), -1);
        QCOMPARE(ui->BaudBox->currentText(), QString("9600"));
        QCOMPARE(ui->cboxInterval->currentIndex(), -1);
        QCOMPARE(ui->txtServerPort->text(), QString("0"));
        QCOMPARE(ui->txtListenPort->text(), QString("0"));
        QCOMPARE(ui->txtServerIP->text(), QString("10.0.0.1"));
    }

    void baudRateMatchesByNumber()
    {
        writeConfig("[Serial]\nBaudRate=9600\n[UDP_Server]\nAutoTime=500\n");
        MainWindow w;
        MainWindowProbe p(w);
        QCOMPARE(p.ui()->BaudBox->currentIndex(), 0);
        QCOMPARE(p.ui()->cboxInterval->currentIndex(), 0);
    }

    void writtenAtEachCallSiteOnly()
    {
        {
            MainWindow w;
            MainWindowProbe p(w);
            auto *ui = p.ui();
            // Changing fields writes nothing.
            ui->ckAscii->setChecked(true);
            ui->txtServerIP->setText("127.0.0.1");
            ui->BaudBox->setCurrentIndex(3);
            QVERIFY(!QFile::exists("config.ini"));

            // A listen press writes, in both branches.
            ui->txtListenPort->setText("0");
            ui->btnListen->click();
            QCOMPARE(ui->btnListen->text(), QString("关闭"));
            QVERIFY(QFile::exists("config.ini"));
            QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("UDP_Server/ckAscii").toBool(), true);
            QFile::remove("config.ini");
            ui->btnListen->click();
            QVERIFY(QFile::exists("config.ini"));
            QFile::remove("config.ini");

            // An open attempt writes, failed or not.
            ui->PortBox->addItem("/nonexistent/zentrel-port");
            ui->PortBox->setCurrentIndex(ui->PortBox->count() - 1);
            testsupport::answerNextModal();
            ui->Open_Serial_Button->click();
            QVERIFY(QFile::exists("config.ini"));
            QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("Serial/PortName").toString(),
                     QString("/nonexistent/zentrel-port"));
            QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("Serial/BaudRate").toInt(), 4800);
            QFile::remove("config.ini");

            MeterLine meter;
            QVERIFY(meter.connectWindow(w));
            QVERIFY(QFile::exists("config.ini"));
            QFile::remove("config.ini");
            // Closing writes nothing.
            ui->Close_Serial_Button->click();
            QVERIFY(!QFile::exists("config.ini"));
        }
        // Nor does the end of the program.
        QVERIFY(!QFile::exists("config.ini"));
    }

    void emptyAndBrokenFilesReadAsMissing()
    {
        writeConfig("");
        {
            MainWindow w;
            QCOMPARE(MainWindowProbe(w).ui()->txtListenPort->text(), QString("0"));
        }
        writeConfig(QByteArray("\x00\xff\xfe[[[=\n\x01\x02", 10));
        {
            MainWindow w;
            QCOMPARE(MainWindowProbe(w).ui()->txtServerPort->text(), QString("0"));
            QCOMPARE(MainWindowProbe(w).ui()->BaudBox->currentText(), QString("9600"));
        }
    }

    // --mqtt and [MQTT] Host take a host in any of its forms.
    void hostAndPortForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("name") << "broker.plant" << "broker.plant" << 0;
        QTest::newRow("name:port") << "broker.plant:8883" << "broker.plant" << 8883;
        QTest::newRow("bare IPv6") << "::1" << "::1" << 0;
        QTest::newRow("[IPv6]:port") << "[::1]:1884" << "::1" << 1884;
        QTest::newRow("[IPv6]") << "[fe80::1]" << "fe80::1" << 0;
    }
    void hostAndPortForms()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QString h, reason;
        int p = -1;
        QVERIFY2(parseHostPort(text, &h, &p, &reason), qPrintable(reason));
        QCOMPARE(h, host);
        QCOMPARE(p, port);
    }


    // ---- files built to kill the reader ----------------------------------------

    void settingsThatWouldKillTheReader_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("ignored");
        QTest::newRow("a list claiming 2^31 entries")
            << QByteArray("[Serial]\nPortName=@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n"
                          "[UDP_Server]\nListenPort=4321\n")
            << "Serial/PortName";
        QTest::newRow("quoted") << QByteArray("[Serial]\nPortName=\"@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\"\n"
                                              "[UDP_Server]\nListenPort=4321\n")
                                << "Serial/PortName";
        QTest::newRow("inside a list") << QByteArray("[UDP_Server]\nServerIP=a, @Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n"
                                                     "ListenPort=4321\n")
                                       << "UDP_Server/ServerIP";
        QTest::newRow("geometry") << QByteArray("[UDP_Server]\nServerIP=@Rect(1 2 3 4)\nListenPort=4321\n")
                                  << "UDP_Server/ServerIP";
    }

    void settingsThatWouldKillTheReader()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, ignored);
        writeFile("config.ini", content);
        MainWindow w;
        MainWindowProbe p(w);
        QCOMPARE(p.ui()->txtListenPort->text(), QString("4321"));
        QCOMPARE(p.ui()->BaudBox->currentText(), QString("9600"));
        QVERIFY2(w.statusBar()->currentMessage().contains(ignored), qPrintable(w.statusBar()->currentMessage()));
        // Writing keeps the other keys and leaves nothing unsafe behind.
        p.ui()->txtListenPort->setText("0");
        p.ui()->btnListen->click();
        const ini::Document again = ini::read("config.ini");
        QVERIFY(again.ignored.isEmpty());
        QVERIFY(!readFile("config.ini").contains("@Variant"));
    }

    void readerAgreesWithQSettings()
    {
        // Whatever QSettings writes, the careful reader reads the same.
        QSettings written("written.ini", QSettings::IniFormat);
        const QStringList texts = {"plain", " padded ", "中文 端口", "a,b", "\"quoted\"", "semi;colon",
                                   "@at", "@@double", "back\\slash", "tab\there", "line\nbreak", "",
                                   QString::fromUtf8("é\x01\x7f"), "x=y", "/dev/ttyUSB0", "%41%",
                                   QString::fromLatin1("nul\0inside", 10), QString::fromLatin1("\xff" "7.0")};
        for (int i = 0; i < texts.size(); ++i)
            written.setValue(QString("Sec/key%1").arg(i), texts[i]);
        written.setValue("Sec/list", QStringList{"one", "two three", "中"});
        written.setValue("Sec/bytes", QByteArray("\x00\x01xyz", 5));
        written.setValue("Sec/slash/inner key", 7);
        written.setValue("topLevel", true);
        written.sync();
        const ini::Document doc = ini::read("written.ini");
        QVERIFY(doc.ignored.isEmpty());
        for (int i = 0; i < texts.size(); ++i)
            QCOMPARE(doc.values.value(QString("Sec/key%1").arg(i)).toString(), texts[i]);
        QCOMPARE(doc.values.value("Sec/list").toStringList(), QStringList({"one", "two three", "中"}));
        QCOMPARE(doc.values.value("Sec/bytes").toByteArray(), QByteArray("\x00\x01xyz", 5));
        QCOMPARE(doc.values.value("Sec/slash/inner key").toString(), QString("7"));
        QCOMPARE(doc.values.value("topLevel").toString(), QString("true"));
        // Hand edits: comments, blanks, continuation lines, Latin-1 bytes.
        const ini::Document hand = ini::parse("; note\n[S]\nk = \" sp \" ; c\nw=a\\\n b\n\n[General]\ng=1\nraw=\xe9\n");
        QCOMPARE(hand.values.value("S/k").toString(), QString(" sp "));
        QCOMPARE(hand.values.value("S/w").toString(), QString("a b"));
        QCOMPARE(hand.values.value("g").toString(), QString("1"));
        QCOMPARE(hand.values.value("raw").toString(), QString::fromLatin1("\xe9"));
    }

    void settingsFileThatIsAFifo()
    {
        QVERIFY(testsupport::makeFifo("config.ini"));
        // Opening a FIFO for reading blocks until a writer comes: the window
        // must be built without touching it.
        MainWindow w;
        MainWindowProbe p(w);
        QVERIFY2(w.statusBar()->currentMessage().contains("config.ini"), qPrintable(w.statusBar()->currentMessage()));
        p.ui()->txtListenPort->setText("0");
        p.ui()->btnListen->click();
        QVERIFY2(w.statusBar()->currentMessage().contains("config.ini"), qPrintable(w.statusBar()->currentMessage()));
        QVERIFY(testsupport::isFifo("config.ini"));
    }

    void binarySettingsAreRewrittenWithoutAFalseAlarm()
    {
        static const char binary[] = "\x00\xff\xfe[[[=\n\x01\x02\n[UDP_Server]\nServerPort=77\n";
        writeFile("config.ini", QByteArray(binary, int(sizeof binary) - 1));
        MainWindow w;
        MainWindowProbe p(w);
        QCOMPARE(p.ui()->txtServerPort->text(), QString("77"));
        w.statusBar()->clearMessage();
        p.ui()->txtListenPort->setText("0");
        p.ui()->btnListen->click();
        QVERIFY2(w.statusBar()->currentMessage().isEmpty(), qPrintable(w.statusBar()->currentMessage()));
        QCOMPARE(readConnectionSettings("config.ini").serverPort, 77);
    }

    void brokenSettingsFiles()
    {
        // Huge: 20 MB of text around a valid section.
        {
            QFile f("config.ini");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[UDP_Server]\nListenPort=4321\n");
            QByteArray junk(1 << 20, 'x');
            for (int i = 0; i < 20; ++i)
                f.write("[junk" + QByteArray::number(i) + "]\nkey=" + junk + "\n");
        }
        {
            MainWindow w;
            QCOMPARE(MainWindowProbe(w).ui()->txtListenPort->text(), QString("4321"));
        }
        // A folder in the file's place: reads as missing, and writing says it failed.
        QVERIFY(QFile::remove("config.ini"));
        QVERIFY(QDir().mkdir("config.ini"));
        MainWindow w;
        MainWindowProbe p(w);
        QCOMPARE(p.ui()->txtServerPort->text(), QString("0"));
        p.ui()->txtListenPort->setText("0");
        p.ui()->btnListen->click();
        QVERIFY2(w.statusBar()->currentMessage().contains("config.ini"), qPrintable(w.statusBar()->currentMessage()));
        QVERIFY(QFileInfo("config.ini").isDir());
    }


    // ---- first start -----------------------------------------------------------

    void firstStartOpensAt9600()
    {
        LinkedWindow lw;
        QCOMPARE(lw.ui->BaudBox->currentText(), QString("9600"));
        QVERIFY(lw.meter.ok());
        lw.ui->Check_Seria->click();
        lw.ui->PortBox->setCurrentIndex(lw.ui->PortBox->findText(lw.meter.link()));
        lw.ui->Open_Serial_Button->click();
        QVERIFY(lw.probe.serialPort());
        QCOMPARE(lw.probe.serialPort()->baudRate(), 9600);
        QFile f("config.ini");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("BaudRate=9600"));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
