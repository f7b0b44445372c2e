#include "mainwindow.h"
#include "link/meterlink.h"
#include "ui_mainwindow.h"

#include "platform/demorandom.h"
#include "storage/overflowlog.h"

#include <QDateTime>
#include <QPalette>
#include <QSerialPort>
#include <QTextDocument>
#include <QTextOption>
#include <QTimer>
#include <QUdpSocket>

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
    tieComboItems();

    // Readings come from the session; the screen is the last of its consumers.
    session = new meter::MeterSession(this);
    screenSink.reset(new meter::FunctionSink([this](const meter::ReadingBurst &burst) { showBurst(burst); }));
    session->addSink(screenSink.get(), meter::MeterSession::Phase::Display);
    link = new meter::MeterLink(session, this);
    followLink();

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
    session->setLimits(readLimits());
    setupPlot();
    screenTimer = new QTimer(this);
    screenTimer->setSingleShot(true);
    screenTimer->setTimerType(Qt::PreciseTimer);
    connect(screenTimer, &QTimer::timeout, this, &MainWindow::flushScreen);

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
    session->removeSink(screenSink.get());
    delete link; // closes the line
    serialPort = nullptr;

    delete alarmSounds;
    delete ui;
}

void MainWindow::tieComboItems()
{
    // Behaviour follows an item's text, not its place in the form: a
    // reordered or renamed item fails here, at once, rather than silently
    // thinning or sounding differently.
    for (int i = 0; i < ui->acq_freq_Box->count(); ++i) {
        const quint32 divisor = meter::divisorForIntervalText(ui->acq_freq_Box->itemText(i));
        if (divisor == 0)
            qFatal("acq_freq_Box: no interval for item \"%s\"", qPrintable(ui->acq_freq_Box->itemText(i)));
        ui->acq_freq_Box->setItemData(i, divisor);
    }
    for (int i = 0; i < ui->comboBox_sounds->count(); ++i) {
        const int scheme = meter::soundSchemeForText(ui->comboBox_sounds->itemText(i));
        if (scheme < 0)
            qFatal("comboBox_sounds: no sound scheme for item \"%s\"", qPrintable(ui->comboBox_sounds->itemText(i)));
        ui->comboBox_sounds->setItemData(i, scheme);
    }
}

int MainWindow::soundSchemeIndex() const
{
    const QVariant scheme = ui->comboBox_sounds->currentData();
    return scheme.isValid() ? scheme.toInt() : -1;
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
    // Readings are Latin text: no ligature or kerning shaping, a third of the
    // cost of laying out each new line.
    small.setStyleStrategy(QFont::PreferNoShaping);
    ui->Receive_textEdit->setFont(small);
    // Undo would keep every appended reading a second time, and Ctrl+Z would
    // take readings out of what 保存数据 saves.
    ui->Receive_textEdit->setUndoRedoEnabled(false);
    // Left to right said once: otherwise every line's direction is worked out
    // from its characters, again for every line whenever the oldest lines
    // leave and the rest move up (half the cost of that step).
    QTextOption direction = ui->Receive_textEdit->document()->defaultTextOption();
    direction.setTextDirection(Qt::LeftToRight);
    ui->Receive_textEdit->document()->setDefaultTextOption(direction);

    // The readouts sit at fixed places on the plot and never change size: said
    // so, a new text does not ask the window to lay itself out again.
    for (QLabel *readout : {ui->label_R, ui->label_V, ui->label_PASS_NG})
        readout->setFixedSize(readout->size());
}

extern const char *const kPlotFullNotice; // mainwindow_serial.cpp

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange && ui) {
        // retranslateUi sets every caption of the form, the readouts and
        // typed fields too: those are kept as they are.
        QHash<QLineEdit *, QString> typed;
        for (QLineEdit *edit : findChildren<QLineEdit *>())
            typed.insert(edit, edit->text());
        QHash<QAbstractButton *, QString> pressed {{ui->pushButton_R_RANG, ui->pushButton_R_RANG->text()},
                                                   {ui->pushButton_V_RANG, ui->pushButton_V_RANG->text()}};
        QHash<QLabel *, QString> shown;
        for (QLabel *label : {ui->label_R, ui->label_V, ui->label_PASS_NG, ui->Receive_times_Label, ui->Send_times_Label})
            shown.insert(label, label->text());
        const bool listening = udpSocket && udpSocket->state() == QAbstractSocket::BoundState;
        const QString title = windowTitle();
        ui->retranslateUi(this);
        for (auto it = typed.cbegin(); it != typed.cend(); ++it)
            it.key()->setText(it.value());
        for (auto it = pressed.cbegin(); it != pressed.cend(); ++it)
            it.key()->setText(it.value());
        for (auto it = shown.cbegin(); it != shown.cend(); ++it)
            it.key()->setText(it.value());
        ui->btnListen->setText(listening ? tr("关闭") : tr("监听"));
        setWindowTitle(title);
        if (plotFullLabel)
            plotFullLabel->setText(tr(kPlotFullNotice));
    }
    QMainWindow::changeEvent(event);
}
