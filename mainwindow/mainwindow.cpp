#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "platform/demorandom.h"
#include "storage/overflowlog.h"

#include <QDateTime>
#include <QPalette>
#include <QSerialPort>
#include <QTimer>

#include <cstdlib>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    // Seeded again by start-up; this one only matters for a window built
    // without the usual start-up (tests).
    const uint now = QDateTime::currentDateTime().toTime_t();
    std::srand(now);
    DemoRandom::seed(now);

    ui->setupUi(this); // also connects the on_<object>_<signal> slots

    alarmSounds = new AlarmSounds;

    sendCount = 0;
    receiveCount = 0;
    plotSampleCount = 0;
    rRange = 0;
    vRange = 0;
    sampleDivisor = 1;

    for (int code = 0; code <= meter::MaxRCode; ++code)
        rangeCommandR[code] = QByteArray(1, char(meter::RCommandBase + code));
    for (int code = 0; code <= meter::MaxVCode; ++code)
        rangeCommandV[code] = QByteArray(1, char(meter::VCommandBase + code));

    setLimitColor(Qt::green);
    styleReadouts();
    watchLimitFields();
    setupPlot();
    replotTimer = new QTimer(this);
    replotTimer->setSingleShot(true);
    replotTimer->setTimerType(Qt::PreciseTimer); // never early, so the redraw is not put off twice
    connect(replotTimer, &QTimer::timeout, this, &MainWindow::requestReplot);
    holdTimer = new QTimer(this);
    holdTimer->setSingleShot(true);
    connect(holdTimer, &QTimer::timeout, this, &MainWindow::update);

    ui->Close_Serial_Button->setEnabled(false);
    ui->pushButton_R_RANG->setEnabled(false);
    ui->pushButton_V_RANG->setEnabled(false);

    listSerialPorts();

    ui->label_9->setText(tr("<a href = ''>Zentrel v1.0</a>"));
    ui->label_9->setOpenExternalLinks(true);

    init_UDP();
    Init_Config();

    createLiveGraphs();
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
}

MainWindow::~MainWindow()
{
    // The link is not closed here on purpose: the port goes with the process.
    delete serialPort;
    delete alarmSounds;
    delete ui;
}

void MainWindow::styleReadouts()
{
    QFont big;
    big.setPointSize(26);
    ui->label_R->setFont(big);
    ui->label_V->setFont(big);
    ui->label_PASS_NG->setFont(big);

    QPalette blue;
    blue.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::blue, Qt::SolidPattern));
    ui->label_R->setPalette(blue);
    ui->pushButton_R_RANG->setPalette(blue);
    ui->label_V->setPalette(blue);
    ui->pushButton_V_RANG->setPalette(blue);

    QFont range;
    range.setPointSize(16);
    for (QPushButton *button : {ui->pushButton_R_RANG, ui->pushButton_V_RANG}) {
        button->setFont(range);
        button->setText(QStringLiteral("AUTO"));
        button->setFlat(true);
    }

    QFont small;
    small.setPointSize(7);
    ui->Receive_textEdit->setFont(small);
}
