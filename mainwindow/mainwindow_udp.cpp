// The UDP network console.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "console/consoleformat.h"
#include "console/udptransport.h"
#include "consoleview.h"
#include "platform/ui/desktop.h"
#include "storage/textfile.h"

#include <QDateTime>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QUdpSocket>

void MainWindow::init_UDP()
{
    // The transport owns the socket; udpSocket is the window's view of it.
    udpTransport = new console::UdpTransport(this);
    udpSocket = udpTransport->socket();
    autoSendTimer = new QTimer(this);
    connect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::readData);
    connect(udpTransport, &console::UdpTransport::line, this,
            [this](int type, const QString &text) { append(type, text); });
    connect(autoSendTimer, &QTimer::timeout, this, &MainWindow::on_btnSend_clicked);
    consoleView = new ConsoleView(ui->txtMain, [] { return Desktop::consoleSaveFolder(QCoreApplication::applicationDirPath()); }, this);
    connect(consoleView, &ConsoleView::shown, this, [this](int lines) { consoleLineCount += lines; });
    // In a flood the screen sets the pace: reading waits while too many lines do.
    connect(consoleView, &ConsoleView::roomAgain, this, [this] {
        if (udpSocket->hasPendingDatagrams())
            readData();
    });
    connect(consoleView, &ConsoleView::trouble, this, [this](const QString &message) { statusBar()->showMessage(message, 10000); });
    connect(udpTransport, &console::UdpTransport::smallBuffer, this, [this](qint64 granted, qint64 wanted) {
        statusBar()->showMessage(tr("系统只给了 %1 KiB 的接收缓冲区（请求 %2 KiB）：大量数据报突发时可能丢失")
                                     .arg(granted / 1024).arg(wanted / 1024), 15000);
    });
    // Timed sending follows the check box and the interval once the operator
    // touches either in this run; restoring them from config.ini starts
    // nothing, so half-typed text never goes out on its own.
    connect(ui->ckAutoSend, &QCheckBox::toggled, this, [this] { applyAutoSend(); });
    connect(ui->cboxInterval, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { applyAutoSend(); });
}

void MainWindow::applyAutoSend()
{
    if (restoringSettings)
        return;
    bool ok = false;
    const int intervalMs = ui->cboxInterval->currentText().toInt(&ok);
    if (ui->ckAutoSend->isChecked() && ok && intervalMs > 0)
        autoSendTimer->start(intervalMs);
    else
        autoSendTimer->stop();
}

void MainWindow::append(int type, const QString &data, bool clear)
{
    if (clear) {
        consoleView->clear();
        consoleLineCount = 0;
        return;
    }
    if (ui->ckShow->isChecked() && !console::alwaysShown(type))
        return;
    // Formatted as it comes, shown with the next screen update; past the cap
    // the oldest lines move to a file rather than the console emptying.
    consoleView->add(type, data);
}

void MainWindow::on_btnListen_clicked()
{
    if (ui->btnListen->text() == tr("监听")) {
        if (udpTransport->listen(ui->txtListenPort->text()))
            ui->btnListen->setText(tr("关闭"));
    } else {
        udpTransport->close();
        ui->btnListen->setText(tr("监听"));
    }
    Write_Config();
}

void MainWindow::readData()
{
    if (consoleView->full())
        return; // roomAgain() reads on
    udpTransport->readBatch(ui->ckHexReceive->isChecked(), ui->ckAscii->isChecked());
}

void MainWindow::sendData(QString ip, int port, QString data)
{
    udpTransport->send(ip, port, data, ui->ckHexSend->isChecked(), ui->ckAscii->isChecked());
}

void MainWindow::on_btnSend_clicked()
{
    const QString data = ui->cboxData->currentText();
    if (data.isEmpty())
        return;
    sendData(ui->txtServerIP->text().trimmed(), ui->txtServerPort->text().trimmed().toInt(), data);
}

void MainWindow::on_btnClear_clicked()
{
    append(console::Sent, QString(), true);
}

void MainWindow::on_btnSave_clicked()
{
    consoleView->flush(); // what arrived before the press is saved with the rest
    const QString text = consoleView->shownText();
    const QString moved = consoleView->overflowPath();
    if (text.isEmpty() && moved.isEmpty())
        return;
    const QString folder = Desktop::consoleSaveFolder(QCoreApplication::applicationDirPath());
    // Two saves within a second must not share a name.
    const QString wanted = console::saveFileName(folder, QDateTime::currentDateTime());
    QString fileName = freeFileName(wanted);
    QString reason;
    if (fileName.isNull()) {
        fileName = wanted;
        reason = tr("同名文件已有 %1 个，不覆盖").arg(kMaxNameSuffix + 1);
    }
    if (!reason.isEmpty()
        || !(moved.isEmpty() ? saveUtf8TextFile(fileName, text, &reason) : saveUtf8TextFileAfter(fileName, moved, text, &reason))) {
        // The console keeps what it showed.
        QMessageBox::warning(this, tr("保存失败"),
                             tr("接收窗口未能保存到 %1：%2").arg(fileName, reason));
        return;
    }
    statusBar()->showMessage(tr("接收窗口已保存到 %1").arg(fileName), 5000);
    on_btnClear_clicked();
}
