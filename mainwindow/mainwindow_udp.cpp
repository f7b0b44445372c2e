// The UDP network console.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "console/consoleformat.h"
#include "platform/desktop.h"
#include "storage/textfile.h"

#include <QDateTime>
#include <QHostAddress>
#include <QMessageBox>
#include <QTimer>
#include <QUdpSocket>

void MainWindow::init_UDP()
{
    udpSocket = new QUdpSocket(this);
    autoSendTimer = new QTimer(this);
    connect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::readData);
    connect(autoSendTimer, &QTimer::timeout, this, &MainWindow::on_btnSend_clicked);
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
        ui->txtMain->clear();
        consoleLineCount = 0;
        return;
    }
    if (consoleLineCount > 99) {
        ui->txtMain->clear();
        consoleLineCount = 0;
    }
    if (ui->ckShow->isChecked() && !console::alwaysShown(type))
        return;

    // Inserted as plain text: a datagram is shown character for character,
    // never interpreted as markup.
    const QColor colour(console::lineColour(type));
    ui->txtMain->setTextColor(colour);
    QTextCursor cursor(ui->txtMain->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(colour);
    if (!ui->txtMain->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(console::formatLine(QTime::currentTime(), type, data), format);
    ++consoleLineCount;
}

void MainWindow::on_btnListen_clicked()
{
    if (ui->btnListen->text() == QStringLiteral("监听")) {
        const console::TypedPort port = console::parsePort(ui->txtListenPort->text());
        // A send binds the socket to a port of the system's choosing; it is
        // let go first so that listening works whatever was sent before.
        if (udpSocket->state() != QAbstractSocket::UnconnectedState)
            udpSocket->abort();
        if (!port.valid) {
            append(console::ListenFailed,
                   QStringLiteral("端口“%1”不是 0-65535 的整数，未开始监听").arg(ui->txtListenPort->text()));
        } else if (udpSocket->bind(QHostAddress::AnyIPv4, quint16(port.value))) {
            ui->btnListen->setText(QStringLiteral("关闭"));
            // Port 0 lets the system choose; the operator needs to know which.
            append(console::Sent, port.value == 0
                       ? QStringLiteral("监听成功（端口 %1）").arg(udpSocket->localPort())
                       : QStringLiteral("监听成功"));
        } else {
            append(console::ListenFailed,
                   QStringLiteral("无法监听端口 %1：%2").arg(port.value).arg(udpSocket->errorString()));
        }
    } else {
        udpSocket->abort();
        ui->btnListen->setText(QStringLiteral("监听"));
    }
    Write_Config();
}

void MainWindow::readData()
{
    // A bounded batch per call: under a flood the event loop gets its turn
    // between batches; the socket signals again for what is left.
    constexpr int batch = 200;
    for (int handled = 0; handled < batch && udpSocket->hasPendingDatagrams(); ++handled) {
        QByteArray datagram;
        datagram.resize(int(qMax<qint64>(0, udpSocket->pendingDatagramSize())));
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size = udpSocket->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
        if (size < 0)
            continue;
        datagram.resize(int(size));
        const QString peer = sender.toString();
        if (peer.isEmpty())
            continue;
        const QString text = console::payloadText(datagram, ui->ckHexReceive->isChecked(),
                                                  ui->ckAscii->isChecked());
        append(console::Received, console::datagramLine(peer, senderPort, text));
    }
}

void MainWindow::sendData(QString ip, int port, QString data)
{
    const QString line = console::datagramLine(ip, port, data);
    const console::Outgoing out =
        console::encodeOutgoing(data, ui->ckHexSend->isChecked(), ui->ckAscii->isChecked());
    QString failure = out.refusal;
    if (failure.isEmpty() && (port < 0 || port > 65535))
        failure = QStringLiteral("端口 %1 超出 0-65535，未发送").arg(port);
    const QHostAddress address(ip);
    if (failure.isEmpty() && address.isNull())
        failure = QStringLiteral("“%1”不是有效的 IP 地址，未发送").arg(ip);
    if (failure.isEmpty() && udpSocket->writeDatagram(out.bytes, address, quint16(port)) != out.bytes.size())
        failure = udpSocket->errorString();
    if (failure.isEmpty())
        append(console::Sent, line);
    else
        append(console::SendFailed, line + QStringLiteral("  （%1）").arg(failure));
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
    const QString text = ui->txtMain->toPlainText();
    if (text.isEmpty())
        return;
    const QString folder = Desktop::consoleSaveFolder(QCoreApplication::applicationDirPath());
    // Two saves within a second must not share a name.
    const QString wanted = console::saveFileName(folder, QDateTime::currentDateTime());
    QString fileName = freeFileName(wanted);
    QString reason;
    if (fileName.isNull()) {
        fileName = wanted;
        reason = QStringLiteral("同名文件已有 %1 个，不覆盖").arg(kMaxNameSuffix + 1);
    }
    if (!reason.isEmpty() || !saveUtf8TextFile(fileName, text, &reason)) {
        // The console keeps what it showed.
        QMessageBox::warning(this, QStringLiteral("保存失败"),
                             QStringLiteral("接收窗口未能保存到 %1：%2").arg(fileName, reason));
        return;
    }
    statusBar()->showMessage(QStringLiteral("接收窗口已保存到 %1").arg(fileName), 5000);
    on_btnClear_clicked();
}
