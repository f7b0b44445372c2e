// config.ini: a first start, the round trip of the eleven keys, hand-edited
// values, and when the file is written.
#include "meterline.h"
#include "settings/commandline.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSettings>

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

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
