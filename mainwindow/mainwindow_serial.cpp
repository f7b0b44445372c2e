// Serial link and measurement: ports, opening and closing, the frame road
// (counter, ranges, gate, readouts, judgement, receive-window line), the
// sampling interval and the range commands.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "link/meterlink.h"
#include "meter/rangecontrol.h"
#include "platform/linestate.h"
#include "platform/portsource.h"

#include <QDateTime>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QSerialPort>
#include <QTextBlock>
#include <QTimer>

// Translated where it is shown: a file-scope text exists before any catalogue.
extern const char *const kPlotFullNotice =
    QT_TRANSLATE_NOOP("MainWindow", "曲线已满 6000 点，读数照常显示和记录；按“Clear”重新开始绘图");

namespace {

QPalette verdictPalette(Qt::GlobalColor color)
{
    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(color, Qt::SolidPattern));
    return palette;
}

} // namespace

// ---- ports -------------------------------------------------------------------

void MainWindow::listSerialPorts()
{
    const QStringList names = PortSource::portNames();
    // The names go in at the cursor. Where that is the end of a reading line
    // (the usual place after readings were appended), they start on a line of
    // their own instead of being glued onto the reading.
    const QTextCursor cursor = ui->Receive_textEdit->textCursor();
    if (!names.isEmpty() && cursor.atEnd() && !cursor.block().text().isEmpty())
        ui->Receive_textEdit->insertPlainText(QStringLiteral("\n"));
    for (const QString &name : names) {
        ui->Receive_textEdit->insertPlainText(name + QStringLiteral("\r\n"));
        ui->PortBox->addItem(name);
    }
}

void MainWindow::on_Check_Seria_clicked()
{
    ui->PortBox->clear();
    listSerialPorts();
}

void MainWindow::on_Open_Serial_Button_clicked()
{
    QString reason;
    if (!openLink(ui->PortBox->currentText(), ui->BaudBox->currentText().toInt(), &reason)) {
        statusBar()->showMessage(tr("串口 %1 打开失败：%2").arg(ui->PortBox->currentText(), reason));
        QMessageBox::warning(nullptr, QStringLiteral("warning"), tr("串口打开失败！"),
                             QMessageBox::Retry, QMessageBox::NoButton);
    } else {
        statusBar()->clearMessage();
    }
    Write_Config();
}

bool MainWindow::reopenLink(const QString &port, int baud, QString *error)
{
    if (link->isOpen())
        return true;
    return openLink(port, baud, error);
}

bool MainWindow::openLink(const QString &port, int baud, QString *error)
{
    return link->open(port, baud, error);
}

void MainWindow::on_Close_Serial_Button_clicked()
{
    closeLink();
}

void MainWindow::closeLink()
{
    link->close();
}

void MainWindow::followLink()
{
    // The buttons and serialPort follow the link, whoever opened or closed
    // it (a button, the command line, a reconnect, a hang-up).
    connect(link, &meter::MeterLink::opened, this, [this] {
        serialPort = link->serialPort();
        ui->Open_Serial_Button->setEnabled(false);
        ui->Close_Serial_Button->setEnabled(true);
        ui->pushButton_R_RANG->setEnabled(true);
        ui->pushButton_V_RANG->setEnabled(true);
    });
    connect(link, &meter::MeterLink::closed, this, [this] {
        serialPort = nullptr;
        ui->Open_Serial_Button->setEnabled(true);
        ui->Close_Serial_Button->setEnabled(false);
        ui->pushButton_R_RANG->setEnabled(false);
        ui->pushButton_V_RANG->setEnabled(false);
    });
    connect(link, &meter::MeterLink::lost, this, [this](const QString &name, const QString &reason) {
        statusBar()->showMessage(
            tr("串口 %1 已断开（%2），连接已关闭；接好设备后请重新打开串口").arg(name, reason));
    });
}

void MainWindow::showPortChoice(const QString &port, int baud)
{
    if (ui->PortBox->findText(port) < 0)
        ui->PortBox->addItem(port);
    ui->PortBox->setCurrentIndex(ui->PortBox->findText(port));
    const int index = ui->BaudBox->findText(QString::number(baud));
    if (index >= 0)
        ui->BaudBox->setCurrentIndex(index);
}

int MainWindow::chosenBaud() const
{
    return ui->BaudBox->currentText().toInt();
}

// ---- frames ------------------------------------------------------------------

void MainWindow::update()
{
    // The link hands the bytes to the session; the window sees the readings
    // as one of its consumers (showBurst).
    link->readAvailable();
}

void MainWindow::showBurst(const meter::ReadingBurst &burst)
{
    // Per frame: the codes, the plot's data, the sound decision and the
    // lines. What reaches the screen waits for flushScreen(), at most about
    // 10 times a second, and at once after a quiet spell.
    rRange = burst.rRangeCode;
    vRange = burst.vRangeCode;
    pendingScreen.receiveCount = burst.receiveCount;
    pendingScreen.rangeR = burst.rRangeText;
    pendingScreen.rangeV = burst.vRangeText;

    const QString stamp = ui->radioButton_monitor->isChecked()
        ? burst.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        : QString();
    bool anyPass = false, anyNg = false;
    meter::Verdict lastJudged = meter::Verdict::None;
    for (const meter::MeterReading &reading : burst.readings) {
        // The sequence number keeps counting past a full plot; only the plot stops.
        plotSampleCount = reading.seq;
        // An overload is no value: a gap in its curve (NaN), not a spike at
        // the display's limit that flattens every real reading.
        const double r = reading.decoded.rOverload ? qQNaN() : reading.decoded.r;
        const double v = reading.decoded.vOverload ? qQNaN() : reading.decoded.v;
        (appendLivePoint(r, v) ? pendingScreen.plotted : pendingScreen.plotFull) = true;
        if (reading.verdict != meter::Verdict::None) {
            lastJudged = reading.verdict;
            (reading.verdict == meter::Verdict::Ng ? anyNg : anyPass) = true;
        }
        // Monitor mode stamps the time; group mode numbers the reading.
        const QString prefix = stamp.isNull() ? QString::number(reading.seq) + QLatin1Char('#') : stamp;
        if (!pendingScreen.lines.isEmpty())
            pendingScreen.lines += QLatin1Char('\n');
        pendingScreen.lines += meter::readingLine(prefix, reading.decoded);
    }

    // One alarm for the burst; an NG anywhere in it is never drowned by a PASS.
    if (anyNg || anyPass) {
        const meter::Verdict loudest = anyNg ? meter::Verdict::Ng : meter::Verdict::Pass;
        if (readingSounds)
            alarmSounds->play(meter::soundFor(soundSchemeIndex(), loudest));
        pendingScreen.colour = lastJudged == meter::Verdict::Ng ? meter::Verdict::Ng : meter::Verdict::Pass;
    }
    // Every frame blanks the verdict: it shows only when the burst's last
    // frame was taken and judged.
    pendingScreen.verdict = meter::Verdict::None;
    if (!burst.readings.isEmpty() && burst.readings.last().frameCount == burst.receiveCount)
        pendingScreen.verdict = burst.readings.last().verdict;
    if (!burst.readings.isEmpty()) {
        pendingScreen.readingR = burst.readings.last().rText;
        pendingScreen.readingV = burst.readings.last().vText;
    }
    pendingScreen.dirty = true;
    requestScreenUpdate();
}

void MainWindow::requestScreenUpdate()
{
    constexpr qint64 spacingMs = 100;
    if (screenTimer->isActive())
        return;
    const qint64 since = lastScreenUpdate.isValid() ? lastScreenUpdate.elapsed() : spacingMs;
    if (since >= spacingMs)
        flushScreen();
    else
        screenTimer->start(int(spacingMs - since));
}

void MainWindow::flushScreen()
{
    if (!pendingScreen.dirty)
        return;
    screenTimer->stop();
    lastScreenUpdate.start();
    // Nothing is shown that is not out of the process: the journal first.
    session->flushRecords();
    PendingScreen p;
    std::swap(p, pendingScreen);

    // The counter's width is fixed by the form; once the window is laid out
    // its height is fixed too, so a new count does not lay the window out again.
    if (!receiveCounterFixed && ui->Receive_times_Label->isVisible()) {
        ui->Receive_times_Label->setFixedHeight(ui->Receive_times_Label->height());
        receiveCounterFixed = true;
    }
    // The counter the window shows, and its copy, move together.
    receiveCount = p.receiveCount;
    ui->Receive_times_Label->setText(QStringLiteral("R:") + QString::number(receiveCount));
    const quint64 discarded = session->framer().discardedBytes();
    if (discarded != shownDiscarded) {
        shownDiscarded = discarded;
        ui->Receive_times_Label->setToolTip(
            tr("已丢弃 %1 个不成帧的字节（错位或中断的数据）").arg(shownDiscarded));
        // Said where it is seen: a noisy line otherwise goes unnoticed.
        statusBar()->showMessage(tr("已丢弃 %1 个不成帧的字节").arg(shownDiscarded), 10000);
    }
    if (ui->pushButton_R_RANG->text() != p.rangeR)
        ui->pushButton_R_RANG->setText(p.rangeR);
    if (ui->pushButton_V_RANG->text() != p.rangeV)
        ui->pushButton_V_RANG->setText(p.rangeV);
    if (readingVerdicts && p.colour != meter::Verdict::None && p.colour != shownColour) {
        static const QPalette red = verdictPalette(Qt::red);
        static const QPalette green = verdictPalette(Qt::green);
        ui->label_PASS_NG->setPalette(p.colour == meter::Verdict::Ng ? red : green);
        shownColour = p.colour;
    }
    const QString verdict = p.verdict == meter::Verdict::Ng ? QStringLiteral("NG")
                            : p.verdict == meter::Verdict::Pass ? QStringLiteral("PASS")
                                                                : QStringLiteral(" ");
    if (readingVerdicts && ui->label_PASS_NG->text() != verdict)
        ui->label_PASS_NG->setText(verdict);
    if (!p.readingR.isNull()) {
        ui->label_R->setText(p.readingR);
        ui->label_V->setText(p.readingV);
    }
    if (!p.lines.isEmpty()) {
        // The new lines, one paragraph each, in one edit.
        ui->Receive_textEdit->append(p.lines);
        trimReceiveWindow();
    }
    // Paced with the rest of the screen; new points change the curves' layer
    // only (the library redraws everything when its buffers are stale), and
    // nothing at all while they fall right of what the axis shows.
    if (p.plotted && p.plottedFrom <= ui->customPlot->xAxis->range().upper)
        ui->customPlot->layer(QStringLiteral("main"))->replot();
    if (p.plotFull)
        showPlotFullNotice();
}

void MainWindow::showPlotFullNotice()
{
    // A permanent widget on the right: it never hides another message, and
    // other messages never hide it. Made on first need only.
    if (!plotFullLabel) {
        plotFullLabel = new QLabel(tr(kPlotFullNotice), this);
        plotFullLabel->setObjectName(QStringLiteral("plotFullLabel"));
        statusBar()->addPermanentWidget(plotFullLabel);
    }
    if (plotFullLabel->isHidden())
        plotFullLabel->show();
}

void MainWindow::hidePlotFullNotice()
{
    if (plotFullLabel)
        plotFullLabel->hide();
}

// ---- judgement -----------------------------------------------------------------

meter::Limits MainWindow::readLimits()
{
    meter::Limits limits;
    limits.rLow = meter::parseLimit(ui->lineEdit_R_DOWN->text());
    limits.rHigh = meter::parseLimit(ui->lineEdit_R_UP->text());
    limits.vLow = meter::parseLimit(ui->lineEdit_V_DOWN->text());
    limits.vHigh = meter::parseLimit(ui->lineEdit_V_UP->text());
    return limits;
}

void MainWindow::markLimitField(QLineEdit *field, meter::Limit::State state)
{
    markField(field, state == meter::Limit::Invalid, tr("不是数字：此限值无效，读数不作判定"));
}

void MainWindow::markField(QLineEdit *field, bool invalid, const QString &why)
{
    if (field->property("invalidLimit").toBool() == invalid)
        return;
    field->setProperty("invalidLimit", invalid);
    field->setStyleSheet(invalid ? QStringLiteral("QLineEdit { border: 2px solid red; }") : QString());
    field->setToolTip(invalid ? why : QString());
}

void MainWindow::on_Clear_Cal_Button_clicked()
{
    flushScreen(); // what arrived before the press is counted before it
    sendCount = 0;
    receiveCount = 0;
    session->clearReceiveCount();
    ui->Send_times_Label->setText(QStringLiteral("S:") + QString::number(sendCount));
    ui->Receive_times_Label->setText(QStringLiteral("R:") + QString::number(receiveCount));
}

// ---- sampling interval and range commands ----------------------------------------

void MainWindow::on_acq_freq_Box_currentIndexChanged(int /*index*/)
{
    const quint32 divisor = ui->acq_freq_Box->currentData().toUInt();
    if (divisor != 0) {
        sampleDivisor = divisor;
        session->setDivisor(divisor);
    }
}

void MainWindow::sendRangeCommand(const QByteArray &command)
{
    if (!serialPort)
        return;
    if (serialPort->write(command) == command.size()) {
        sendCount += quint32(command.size());
        ui->Send_times_Label->setText(QStringLiteral("S:") + QString::number(sendCount));
    }
}

void MainWindow::on_pushButton_R_RANG_clicked()
{
    rRange = meter::steppedCode(rRange, meter::MaxRCode);
    if (meter::commandByte(rRange, meter::MaxRCode, meter::RCommandBase) >= 0)
        sendRangeCommand(rangeCommandR[rRange]);
}

void MainWindow::on_pushButton_V_RANG_clicked()
{
    vRange = meter::steppedCode(vRange, meter::MaxVCode);
    if (meter::commandByte(vRange, meter::MaxVCode, meter::VCommandBase) >= 0)
        sendRangeCommand(rangeCommandV[vRange]);
}

void MainWindow::watchLimitFields()
{
    // A limit that is not a number is marked as soon as it is typed, so the
    // operator knows why no verdict shows.
    for (QLineEdit *field : {ui->lineEdit_R_DOWN, ui->lineEdit_R_UP, ui->lineEdit_V_DOWN, ui->lineEdit_V_UP}) {
        connect(field, &QLineEdit::textChanged, this, [this, field](const QString &text) {
            markLimitField(field, meter::parseLimit(text).state);
            if (!showingLimits)
                session->setLimits(readLimits());
        });
    }
    // Limits set elsewhere (a limit set) are shown in the fields.
    connect(session->limitsInForce(), &meter::LimitsInForce::changed, this, &MainWindow::showLimits);
}

void MainWindow::showLimits(const meter::Limits &limits)
{
    // A field is rewritten only when it says something else, so typing in
    // one is never undone; an invalid limit in force leaves its field as typed.
    auto show = [](QLineEdit *field, const meter::Limit &limit) {
        if (limit.state == meter::Limit::Invalid || meter::parseLimit(field->text()) == limit)
            return;
        field->setText(limit.state == meter::Limit::Number ? QString::number(limit.value, 'g', 10) : QString());
    };
    // All four first: one field's change must not send the others' old
    // values back as the limits in force.
    showingLimits = true;
    show(ui->lineEdit_R_DOWN, limits.rLow);
    show(ui->lineEdit_R_UP, limits.rHigh);
    show(ui->lineEdit_V_DOWN, limits.vLow);
    show(ui->lineEdit_V_UP, limits.vHigh);
    showingLimits = false;
}

void MainWindow::playVerdictSound(meter::Verdict verdict)
{
    alarmSounds->play(meter::soundFor(soundSchemeIndex(), verdict));
}
