// The application shell: the window's widget tree and wiring, start-up
// helpers, compiled-in resources and the real program's start and close.
#include "mainwindowprobe.h"
#include "metersim/pseudoterminal.h"
#include "platform/demorandom.h"
#include "quiwidget.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QTranslator>
#include <QtEndian>

class TestShell : public QObject
{
    Q_OBJECT

private:
    static QString caption(QWidget *w)
    {
        if (auto *label = qobject_cast<QLabel *>(w))
            return label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            return button->text();
        return QString();
    }
    static QStringList items(QComboBox *box)
    {
        QStringList list;
        for (int i = 0; i < box->count(); ++i)
            list << box->itemText(i);
        return list;
    }

private slots:
    void initTestCase()
    {
        qputenv("HOME", QDir::currentPath().toLocal8Bit()); // keep the user's folders out of it
    }

    void widgetKindsAndCaptions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        const QList<QStringList> rows = {
            {"customPlot", "QCustomPlot", ""},
            {"label_R", "QLabel", ""}, {"label_V", "QLabel", ""}, {"label_PASS_NG", "QLabel", ""},
            {"pushButton_R_RANG", "QPushButton", "AUTO"}, {"pushButton_V_RANG", "QPushButton", "AUTO"},
            {"Fix_Plot_Button", "QPushButton", "Fix"}, {"Clear_Plot_Button", "QPushButton", "Clear"},
            {"label_9", "QLabel", "<a href = ''>Zentrel v1.0</a>"},
            {"Clear_Cal_Button", "QPushButton", "清空计数"},
            {"Receive_times_Label", "QLabel", "R:0"}, {"Send_times_Label", "QLabel", "S:0"},
            {"seria", "QTabWidget", ""}, {"tab", "QWidget", ""}, {"tab_2", "QWidget", ""},
            {"Check_Seria", "QPushButton", "检测端口号："}, {"PortBox", "QComboBox", ""},
            {"label_3", "QLabel", " 波特率："}, {"BaudBox", "QComboBox", ""},
            {"Open_Serial_Button", "QPushButton", "打开串口"}, {"Close_Serial_Button", "QPushButton", "关闭串口"},
            {"label_Limit_name", "QLabel", "名称"}, {"Line_Edit_Limit_name", "QLineEdit", ""},
            {"label_Limit_data", "QLabel", "值"}, {"Line_Edit_Limit_data", "QLineEdit", ""},
            {"label_2", "QLabel", "颜色"}, {"color_pushButton", "QPushButton", ""},
            {"Button_Limit_set", "QPushButton", "添加界线"}, {"label_8", "QLabel", "     报警设置"},
            {"label_5", "QLabel", "R<"}, {"lineEdit_R_DOWN", "QLineEdit", ""},
            {"label_6", "QLabel", "mΩ  R>"}, {"lineEdit_R_UP", "QLineEdit", ""}, {"label_11", "QLabel", "mΩ"},
            {"label_12", "QLabel", "V<"}, {"lineEdit_V_DOWN", "QLineEdit", ""},
            {"label_13", "QLabel", "(V)  V>"}, {"lineEdit_V_UP", "QLineEdit", ""}, {"label", "QLabel", "(V)"},
            {"label_14", "QLabel", "音源选择："}, {"comboBox_sounds", "QComboBox", ""},
            {"label_4", "QLabel", "采集频率："}, {"acq_freq_Box", "QComboBox", ""},
            {"label_7", "QLabel", "     接收窗口"},
            {"radioButton_monitor", "QRadioButton", "监控模式"}, {"radioButton_group", "QRadioButton", "组测模式"},
            {"Receive_textEdit", "QTextEdit", ""},
            {"Save_Serial_Button", "QPushButton", "保存数据"}, {"Clear_Receive_Button", "QPushButton", "清空窗口"},
            {"ckHexReceive", "QCheckBox", "16进制接收"}, {"ckHexSend", "QCheckBox", "16进制发送"},
            {"ckAscii", "QCheckBox", "ASCII控制字符"}, {"ckShow", "QCheckBox", "暂停显示"},
            {"ckAutoSend", "QCheckBox", "定时发送"}, {"cboxInterval", "QComboBox", ""},
            {"labServerIP", "QLabel", "远程IP地址"}, {"txtServerIP", "QLineEdit", ""},
            {"labServerPort", "QLabel", "远程端口"}, {"txtServerPort", "QLineEdit", ""},
            {"labListenPort", "QLabel", "监听端口"}, {"txtListenPort", "QLineEdit", ""},
            {"btnListen", "QPushButton", "监听"}, {"btnSave", "QPushButton", "保存"},
            {"btnClear", "QPushButton", "清空"}, {"label_10", "QLabel", "接收窗口"},
            {"txtMain", "QTextEdit", ""}, {"cboxData", "QComboBox", ""}, {"btnSend", "QPushButton", "发送"},
            {"toolBar", "QToolBar", ""}, {"menuBar", "QMenuBar", ""}, {"statusBar", "QStatusBar", ""},
            {"centralWidget", "QWidget", ""},
        };
        for (const QStringList &row : rows)
            QTest::newRow(qPrintable(row[0])) << row[0] << row[1] << row[2];
    }

    void widgetKindsAndCaptions()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        MainWindow w;
        auto *widget = w.findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QVERIFY2(widget->inherits(qPrintable(kind)), widget->metaObject()->className());
        QCOMPARE(caption(widget), text);
    }

    void comboBoxItemsInOrder()
    {
        MainWindow w;
        MainWindowProbe p(w);
        QCOMPARE(items(p.ui()->BaudBox),
                 QStringList({"9600", "1200", "2400", "4800", "14400", "19200", "38400", "56000",
                              "57600", "115200", "128000", "230400", "256000"}));
        QCOMPARE(items(p.ui()->comboBox_sounds),
                 QStringList({"正常/异常", "PASS/NG", "咚咚", "警报", "无声音"}));
        QCOMPARE(items(p.ui()->acq_freq_Box),
                 QStringList({"0.5秒", "1秒", "2秒", "3秒", "4秒", "5秒", "6秒", "7秒", "8秒", "9秒",
                              "10秒", "15秒", "20秒", "30秒", "60秒", "10分", "30分", "60分"}));
        QCOMPARE(items(p.ui()->cboxInterval),
                 QStringList({"500", "1000", "2000", "3000", "4000", "5000", "10000", "20000",
                              "100000", "200000"}));
        QVERIFY(p.ui()->cboxData->isEditable());
        QCOMPARE(p.ui()->cboxData->count(), 0);
        QVERIFY(!p.ui()->PortBox->isEditable());
        QCOMPARE(p.ui()->comboBox_sounds->currentIndex(), 0);
        QCOMPARE(p.ui()->acq_freq_Box->currentIndex(), 0);
    }

    void sizeLimitsAndPolicies()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        struct Limit { QWidget *w; int minW, maxW; };
        const Limit fixedWidths[] = {
            {ui->Fix_Plot_Button, 60, 60}, {ui->Clear_Plot_Button, 60, 60},
            {ui->Clear_Cal_Button, 60, 60}, {ui->Receive_times_Label, 80, 80},
            {ui->Send_times_Label, 80, 80}, {ui->label_9, 120, 100},
            {ui->PortBox, 100, 100}, {ui->label_3, 80, 80}, {ui->BaudBox, 100, 100},
            {ui->Open_Serial_Button, 90, 90}, {ui->Close_Serial_Button, 90, 90},
            {ui->label_8, 50, 100}, {ui->label_14, 80, 80}, {ui->comboBox_sounds, 100, 100},
            {ui->label_4, 80, 80}, {ui->acq_freq_Box, 100, 100}, {ui->label_7, 100, 100},
            {ui->Receive_textEdit, 210, 210}, {ui->Save_Serial_Button, 90, 90},
            {ui->Clear_Receive_Button, 90, 90}, {ui->seria, 220, 220},
        };
        for (const Limit &l : fixedWidths) {
            QVERIFY2(l.w->minimumWidth() == l.minW, qPrintable(l.w->objectName()));
            QVERIFY2(l.w->maximumWidth() == l.maxW, qPrintable(l.w->objectName()));
        }
        const QPair<QWidget *, int> minimumOnly[] = {
            {ui->color_pushButton, 128}, {ui->label_5, 20}, {ui->lineEdit_R_DOWN, 45},
            {ui->label_6, 45}, {ui->lineEdit_R_UP, 45}, {ui->label_12, 20},
            {ui->lineEdit_V_DOWN, 45}, {ui->label_13, 45}, {ui->lineEdit_V_UP, 45}};
        for (const auto &m : minimumOnly)
            QVERIFY2(m.first->minimumWidth() == m.second, qPrintable(m.first->objectName()));
        QCOMPARE(ui->seria->minimumHeight(), 680);
        QCOMPARE(ui->Receive_textEdit->minimumHeight(), 50);
        QCOMPARE(ui->seria->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(ui->seria->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(ui->customPlot->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(ui->customPlot->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(ui->Fix_Plot_Button->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(ui->Receive_times_Label->frameShape(), QFrame::Box);
        QCOMPARE(ui->Receive_times_Label->frameShadow(), QFrame::Raised);
        QCOMPARE(ui->Receive_textEdit->frameShape(), QFrame::StyledPanel);
        QCOMPARE(ui->Receive_textEdit->frameShadow(), QFrame::Sunken);
        QCOMPARE(ui->Receive_textEdit->tabStopDistance(), 50.0);
        QVERIFY(ui->label_9->openExternalLinks());
    }

    void readoutsSitOverThePlotAtFixedPlaces()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QList<QPair<QWidget *, QRect>> places = {
            {ui->label_R, QRect(170, 50, 261, 51)}, {ui->pushButton_R_RANG, QRect(60, 70, 101, 31)},
            {ui->pushButton_V_RANG, QRect(60, 110, 101, 31)}, {ui->label_V, QRect(170, 90, 261, 51)},
            {ui->label_PASS_NG, QRect(60, 150, 181, 51)}};
        for (const QSize &size : {QSize(742, 819), QSize(1200, 950), QSize(700, 760)}) {
            w.resize(size);
            QCoreApplication::processEvents();
            for (const auto &place : places) {
                QCOMPARE(place.first->parentWidget(), static_cast<QWidget *>(ui->customPlot));
                QCOMPARE(place.first->geometry(), place.second);
            }
            QCOMPARE(ui->seria->width(), 220);
        }
    }

    void initialState()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QCOMPARE(w.objectName(), QString("MainWindow"));
        QCOMPARE(w.size(), QSize(742, 819));
        QCOMPARE(ui->seria->currentIndex(), 0);
        QCOMPARE(ui->seria->count(), 2);
        QCOMPARE(ui->seria->tabText(0), QString("串口通信"));
        QCOMPARE(ui->seria->tabText(1), QString("网络通信"));
        QVERIFY(!ui->seria->tabIcon(0).isNull());
        QVERIFY(!ui->seria->tabIcon(1).isNull());
        QVERIFY(ui->Open_Serial_Button->isEnabled());
        QVERIFY(!ui->Close_Serial_Button->isEnabled());
        QVERIFY(!ui->pushButton_R_RANG->isEnabled());
        QVERIFY(!ui->pushButton_V_RANG->isEnabled());
        QVERIFY(ui->radioButton_monitor->isChecked());
        QVERIFY(!ui->radioButton_group->isChecked());
        QVERIFY(ui->radioButton_monitor->autoExclusive());
        QVERIFY(ui->label_R->text().isEmpty());
        QVERIFY(ui->label_V->text().isEmpty());
        QVERIFY(ui->label_PASS_NG->text().isEmpty());
        QVERIFY(!p.serialPort());
        QCOMPARE(p.receiveCount(), 0u);
        QCOMPARE(p.sendCount(), 0u);
        QCOMPARE(p.plotSampleCount(), 0u);
        QCOMPARE(p.sampleDivisor(), 1u);
        QCOMPARE(int(p.rRange()), 0);
        QCOMPARE(int(p.vRange()), 0);
        QCOMPARE(p.limitColor(), QColor(Qt::green));
        QCOMPARE(ui->color_pushButton->styleSheet(), QString("background-color:#00ff00"));
        const char expected[] = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36};
        for (int i = 0; i < 7; ++i)
            QCOMPARE(p.rangeCommandR(i), QByteArray(1, expected[i]));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(p.rangeCommandV(i), QByteArray(1, char(0x3A + i)));

        const QList<QAction *> actions = ui->toolBar->actions();
        QStringList texts, names;
        for (QAction *a : actions) {
            texts << a->text();
            names << a->objectName();
        }
        QCOMPARE(texts, QStringList({"新建", "编辑", "工具", "关于"}));
        QCOMPARE(names, QStringList({"action_2", "action", "action_3", "action_4"}));
        QCOMPARE(ui->toolBar->windowTitle(), QString("toolBar"));
        QCOMPARE(w.toolBarArea(ui->toolBar), Qt::TopToolBarArea);
        QVERIFY(ui->menuBar->actions().isEmpty());
        QVERIFY(ui->statusBar->currentMessage().isEmpty());
        QVERIFY(!p.autoSendTimer()->isActive());
    }

    void readoutStyling()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QCOMPARE(ui->label_R->font().pointSize(), 26);
        QCOMPARE(ui->label_V->font().pointSize(), 26);
        QCOMPARE(ui->label_PASS_NG->font().pointSize(), 26);
        QCOMPARE(ui->pushButton_R_RANG->font().pointSize(), 16);
        QCOMPARE(ui->pushButton_V_RANG->font().pointSize(), 16);
        QCOMPARE(ui->Receive_textEdit->font().pointSize(), 7);
        QVERIFY(ui->pushButton_R_RANG->isFlat());
        QVERIFY(ui->pushButton_V_RANG->isFlat());
        for (QWidget *blue : {static_cast<QWidget *>(ui->label_R), static_cast<QWidget *>(ui->label_V),
                              static_cast<QWidget *>(ui->pushButton_R_RANG),
                              static_cast<QWidget *>(ui->pushButton_V_RANG)}) {
            for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
                QCOMPARE(blue->palette().brush(group, QPalette::WindowText).color(), QColor(Qt::blue));
        }
    }

    void slotsInMetaObjectOrder()
    {
        const QStringList expected = {
            "titleDoubleClick(QMouseEvent*)",
            "axisLabelDoubleClick(QCPAxis*,QCPAxis::SelectablePart)",
            "legendDoubleClick(QCPLegend*,QCPAbstractLegendItem*)",
            "selectionChanged()", "mousePress()", "mouseWheel()", "addRandomGraph()",
            "removeSelectedGraph()", "removeAllGraphs()", "contextMenuRequest(QPoint)", "moveLegend()",
            "graphClicked(QCPAbstractPlottable*,int)", "on_Open_Serial_Button_clicked()", "update()",
            "on_Clear_Receive_Button_clicked()", "on_Close_Serial_Button_clicked()",
            "on_Save_Serial_Button_clicked()", "on_Fix_Plot_Button_clicked()",
            "on_Clear_Plot_Button_clicked()", "on_Clear_Cal_Button_clicked()", "on_btnListen_clicked()",
            "on_btnClear_clicked()", "append(int,QString,bool)", "append(int,QString)", "init_UDP()",
            "readData()", "sendData(QString,int,QString)", "on_btnSend_clicked()", "on_btnSave_clicked()",
            "Write_Config()", "Init_Config()", "on_pushButton_R_RANG_clicked()", "on_Check_Seria_clicked()",
            "on_Button_Limit_set_clicked()", "on_acq_freq_Box_currentIndexChanged(int)",
            "on_color_pushButton_clicked()", "on_pushButton_V_RANG_clicked()"};
        const QMetaObject &mo = MainWindow::staticMetaObject;
        QStringList actual;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
            const QMetaMethod m = mo.method(i);
            QCOMPARE(m.methodType(), QMetaMethod::Slot);
            QCOMPARE(m.access(), QMetaMethod::Private);
            actual << QString::fromLatin1(m.methodSignature());
        }
        QCOMPARE(actual, expected);
    }

    void startUpHelpers()
    {
        QUIHelper::setLocaleCodecUtf8();
        QCOMPARE(QTextCodec::codecForLocale()->name(), QByteArray("UTF-8"));
        // Seeding from the clock: the demonstration source starts where the
        // seed of this moment (ms + s·1000 of the minute) starts it.
        auto clockSeed = [] {
            const QTime t = QTime::currentTime();
            return t.msec() + t.second() * 1000;
        };
        const int before = clockSeed();
        QUIHelper::seedRandomFromClock();
        const int after = clockSeed();
        const int drawn = DemoRandom::next();
        bool seededThen = false;
        for (int s = before; !seededThen && s != (after + 1) % 60000; s = (s + 1) % 60000) {
            DemoRandom::seed(uint(s));
            seededThen = DemoRandom::next() == drawn;
        }
        QVERIFY2(seededThen, qPrintable(QString("no seed from %1 to %2 ms draws %3").arg(before).arg(after).arg(drawn)));
        // A seed repeats its sequence.
        DemoRandom::seed(42);
        const int a = DemoRandom::next();
        DemoRandom::seed(42);
        QCOMPARE(DemoRandom::next(), a);
        for (int i = 0; i < 1000; ++i)
            QVERIFY(DemoRandom::next() <= 32767);
    }

    void ipv4Text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ipv4");
        QTest::newRow("loopback") << "127.0.0.1" << true;
        QTest::newRow("leading zeros") << "01.002.3.4" << true;
        QTest::newRow("top") << "255.255.255.255" << true;
        QTest::newRow("256") << "256.1.1.1" << false;
        QTest::newRow("three groups") << "1.2.3" << false;
        QTest::newRow("five groups") << "1.2.3.4.5" << false;
        QTest::newRow("four digits") << "1.2.3.0004" << false;
        QTest::newRow("ipv6") << "::1" << false;
        QTest::newRow("trailing blank") << "1.2.3.4 " << false;
        QTest::newRow("empty") << "" << false;
    }

    void ipv4Text()
    {
        QFETCH(QString, text);
        QFETCH(bool, ipv4);
        QCOMPARE(QUIHelper::isIPv4Text(text), ipv4);
    }

    void titleAddress_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("only loopback") << QStringList{"127.0.0.1", "::1"} << "127.0.0.1";
        QTest::newRow("10 before 192") << QStringList{"10.0.0.5", "192.168.3.7"} << "192.168.3.7";
        QTest::newRow("first 192 wins") << QStringList{"192.0.2.1", "192.168.1.20"} << "192.0.2.1";
        QTest::newRow("only 172") << QStringList{"172.16.0.9"} << "127.0.0.1";
        QTest::newRow("none") << QStringList{} << "127.0.0.1";
        QTest::newRow("ipv6 never") << QStringList{"fe80::1921:6810", "192.168.1.5"} << "192.168.1.5";
        QTest::newRow("bad text skipped") << QStringList{"192.168.1.256", "192.168.1.9"} << "192.168.1.9";
    }

    void titleAddress()
    {
        QFETCH(QStringList, addresses);
        QFETCH(QString, chosen);
        QCOMPARE(QUIHelper::chooseTitleAddress(addresses), chosen);
        QVERIFY(QUIHelper::isIPv4Text(QUIHelper::hostIPv4Address()));
    }

    void resourcesOpen()
    {
        const QStringList paths = {":/qt_zh_CN.qm", ":/widgets.qm", ":/new/prefix2/USB2",
                                   ":/new/prefix2/network2.ico", ":/wav/901040.wav", ":/wav/ng.wav",
                                   ":/wav/jingbao.wav", ":/wav/pass.wav", ":/wav/yichang.wav",
                                   ":/wav/dudu.wav", ":/wav/zhengchang.wav"};
        for (const QString &path : paths) {
            QFile f(path);
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
            QVERIFY2(f.size() > 100, qPrintable(path));
        }
        QVERIFY(!QIcon(":/new/prefix2/USB2").pixmap(32).isNull());
        QVERIFY(!QIcon(":/new/prefix2/network2.ico").pixmap(32).isNull());

        struct Wav { const char *path; int channels, rate, bits; };
        const Wav wavs[] = {{":/wav/901040.wav", 1, 11025, 8}, {":/wav/jingbao.wav", 1, 11025, 8},
                            {":/wav/ng.wav", 2, 44100, 16}, {":/wav/pass.wav", 2, 44100, 16},
                            {":/wav/yichang.wav", 2, 44100, 16}, {":/wav/zhengchang.wav", 2, 44100, 16}};
        for (const Wav &wav : wavs) {
            QFile f(wav.path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray h = f.read(44);
            QCOMPARE(h.left(4), QByteArray("RIFF"));
            QCOMPARE(h.mid(8, 4), QByteArray("WAVE"));
            QCOMPARE(qFromLittleEndian<quint16>(h.constData() + 20), quint16(1)); // PCM
            QCOMPARE(int(qFromLittleEndian<quint16>(h.constData() + 22)), wav.channels);
            QCOMPARE(int(qFromLittleEndian<quint32>(h.constData() + 24)), wav.rate);
            QCOMPARE(int(qFromLittleEndian<quint16>(h.constData() + 34)), wav.bits);
        }
        QFile a(":/wav/901040.wav"), b(":/wav/dudu.wav");
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QCOMPARE(a.readAll(), b.readAll());
    }

    void catalogsTranslateQtTexts()
    {
        QTranslator qt, widgets;
        QVERIFY(qt.load(":/qt_zh_CN.qm"));
        QVERIFY(widgets.load(":/widgets.qm"));
        // A real catalogue, not one that only names its dependencies.
        QCOMPARE(qt.translate("QFileDialog", "&Save"), QString("保存(&S)"));
        QCOMPARE(qt.translate("QColorDialog", "&Red:"), QString("红(&R)："));
        QCOMPARE(widgets.translate("QWidgetTextControl", "&Copy"), QString("复制(&C)"));
        QCOMPARE(widgets.translate("QWidgetTextControl", "Select All"), QString("全选"));
    }

    void rightClickMenusAreChinese()
    {
        QUIHelper::installTranslationFile(":/qt_zh_CN.qm");
        QUIHelper::installTranslationFile(":/widgets.qm");
        MainWindow w;
        MainWindowProbe p(w);
        for (QTextEdit *edit : {p.ui()->Receive_textEdit, p.ui()->txtMain}) {
            QScopedPointer<QMenu> menu(edit->createStandardContextMenu());
            QStringList texts;
            for (QAction *a : menu->actions())
                texts << a->text().section('\t', 0, 0);
            QVERIFY2(texts.contains("复制(&C)"), qPrintable(texts.join('|')));
            QVERIFY2(texts.contains("全选"), qPrintable(texts.join('|')));
            // The project's own catalogue wins over Qt's wording.
            QVERIFY2(texts.contains("撤销(&U)"), qPrintable(texts.join('|')));
        }
        QScopedPointer<QMenu> lineMenu(p.ui()->txtServerIP->createStandardContextMenu());
        QStringList texts;
        for (QAction *a : lineMenu->actions())
            texts << a->text();
        QVERIFY2(texts.join('|').contains("粘贴"), qPrintable(texts.join('|')));
    }

    void checkPortsListsOncePerClick()
    {
        PseudoTerminal meter;
        QVERIFY(meter.open());
        const QString link = QDir::temp().filePath(QString("zentrel-test-%1").arg(QCoreApplication::applicationPid()));
        QVERIFY(meter.createLink(link));

        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        // Other programs' virtual ports may come and go meanwhile, so only
        // this one is counted, and no name may be listed twice.
        auto listedOnce = [ui] {
            QStringList names;
            for (int i = 0; i < ui->PortBox->count(); ++i)
                names << ui->PortBox->itemText(i);
            return names.removeDuplicates() == 0;
        };
        QCOMPARE(ui->PortBox->findText(link) >= 0, true);
        QVERIFY(listedOnce());
        QCOMPARE(ui->Receive_textEdit->toPlainText().count(link), 1);

        QTest::mouseClick(ui->Check_Seria, Qt::LeftButton);
        QVERIFY(listedOnce());
        QVERIFY(ui->PortBox->findText(link) >= 0);
        QCOMPARE(ui->Receive_textEdit->toPlainText().count(link), 2);
        QTest::mouseClick(ui->Check_Seria, Qt::LeftButton);
        QVERIFY(listedOnce());
        QCOMPARE(ui->Receive_textEdit->toPlainText().count(link), 3);
        // One name per line.
        QVERIFY(ui->Receive_textEdit->toPlainText().split('\n').contains(link));
    }

    void toolbarActionsDoNothing()
    {
        MainWindow w;
        MainWindowProbe p(w);
        const QString before = p.ui()->Receive_textEdit->toPlainText();
        for (QAction *a : p.ui()->toolBar->actions())
            a->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(p.ui()->Receive_textEdit->toPlainText(), before);
        QCOMPARE(p.ui()->seria->currentIndex(), 0);
    }

    void closingTheWindowEndsTheLoop()
    {
        auto *w = new MainWindow;
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTimer::singleShot(50, w, &QWidget::close);
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        guard.start(10000);
        QCOMPARE(QApplication::exec(), 0);
    }

    void programStartsAndClosesUnderX()
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        const QString wm = QStandardPaths::findExecutable("openbox");
        const QString wmctrl = QStandardPaths::findExecutable("wmctrl");
        if (xvfb.isEmpty() || wm.isEmpty() || wmctrl.isEmpty())
            QSKIP("Xvfb, openbox and wmctrl are needed to drive the real program");
        const QString display = QString(":%1").arg(100 + QCoreApplication::applicationPid() % 500);
        QProcess server;
        server.start(xvfb, {display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        QVERIFY(server.waitForStarted());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        auto wmctrlSays = [&](const QStringList &args) {
            QProcess probe;
            probe.setProcessEnvironment(env);
            probe.start(wmctrl, args);
            probe.waitForFinished(2000);
            return QString::fromUtf8(probe.readAllStandardOutput());
        };
        // The window manager, once the display takes clients, and then until it
        // has taken over the display.
        QProcess windowManager;
        windowManager.setProcessEnvironment(env);
        bool managed = false;
        for (int i = 0; i < 200 && !managed; ++i) {
            if (windowManager.state() == QProcess::NotRunning) {
                windowManager.start(wm, QStringList());
                windowManager.waitForStarted();
            }
            managed = wmctrlSays({"-m"}).contains("Name:");
            if (!managed)
                QTest::qWait(50);
        }
        QVERIFY2(managed, "the window manager did not come up");

        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(ZENTREL_APP_PATH), QStringList());
        QVERIFY(app.waitForStarted());
        bool shown = false;
        for (int i = 0; i < 300 && !shown; ++i) {
            shown = wmctrlSays({"-l"}).contains("Zentrel  本机IP: ");
            if (!shown)
                QTest::qWait(50);
        }
        QVERIFY2(shown, "the window did not appear");
        wmctrlSays({"-c", "Zentrel  本机IP"});
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        windowManager.terminate();
        windowManager.waitForFinished(3000);
        server.terminate();
        server.waitForFinished(3000);
    }

    // The real program on a machine without a display: what it says, and its exit status.
    void commandLineOnAServer_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("--help") << QStringList {"--help"} << 0 << "--journal-dir";
        QTest::newRow("--version") << QStringList {"--version"} << 0 << ZENTREL_VERSION;
        QTest::newRow("--port /dev/null") << QStringList {"--port", "/dev/null"} << 2 << "no serial port";
        QTest::newRow("--port a folder") << QStringList {"--port", "/"} << 2 << "folder";
        QTest::newRow("--port a file") << QStringList {"--port", "config.ini"} << 2 << "regular file";
        QTest::newRow("--port with a line break") << QStringList {"--port", "/dev/ttyS0\n/dev/ttyS1"} << 2 << "line break";
        QTest::newRow("--mqtt empty host") << QStringList {"--mqtt", ":1883"} << 2 << "host is empty";
        QTest::newRow("--mqtt bad port") << QStringList {"--mqtt", "[::1]:0"} << 2 << "1 to 65535";
    }
    void commandLineOnAServer()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        testsupport::ScopedWorkDir work;
        testsupport::writeFile("config.ini", "");
        if (args.contains("config.ini"))
            args.replace(args.indexOf("config.ini"), work.file("config.ini"));
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(work.path());
        app.start(QStringLiteral(ZENTREL_APP_PATH), args);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(app.readAllStandardOutput() + app.readAllStandardError());
        QVERIFY2(out.contains(says), qPrintable(out));
    }
};

QTEST_MAIN(TestShell)
#include "test_shell.moc"
