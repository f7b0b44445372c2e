// config.ini: the connection choices and the console's fields.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "console/consoleformat.h"
#include "settings/configfile.h"

namespace {

const QString kConfigFile = QStringLiteral("config.ini");

void selectExactItem(QComboBox *box, const QString &text)
{
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

} // namespace

void MainWindow::Write_Config()
{
    ConnectionSettings s;
    s.portName = ui->PortBox->currentText();
    s.baudRate = ui->BaudBox->currentText().toInt();
    s.hexReceive = ui->ckHexReceive->isChecked();
    s.hexSend = ui->ckHexSend->isChecked();
    s.ascii = ui->ckAscii->isChecked();
    s.pause = ui->ckShow->isChecked();
    s.autoSend = ui->ckAutoSend->isChecked();
    s.autoTime = ui->cboxInterval->currentText().toInt();
    s.serverIp = ui->txtServerIP->text().trimmed();
    s.serverPort = ui->txtServerPort->text().trimmed().toInt();
    s.listenPort = ui->txtListenPort->text().trimmed().toInt();
    QString reason;
    if (!writeConnectionSettings(kConfigFile, s, &reason))
        statusBar()->showMessage(tr("设置未能保存到 %1：%2").arg(kConfigFile, reason), 10000);
}

void MainWindow::Init_Config()
{
    const ConnectionSettings s = readConnectionSettings(kConfigFile);
    restoringSettings = true;
    selectExactItem(ui->PortBox, s.portName);
    selectExactItem(ui->BaudBox, QString::number(s.baudRate));
    // A first start (or a rate that is no item) opens at the usual 9600
    // rather than a blank box that would ask the port for 0 baud.
    if (ui->BaudBox->currentIndex() < 0)
        selectExactItem(ui->BaudBox, QStringLiteral("9600"));
    ui->ckHexReceive->setChecked(s.hexReceive);
    ui->ckHexSend->setChecked(s.hexSend);
    ui->ckAscii->setChecked(s.ascii);
    ui->ckShow->setChecked(s.pause);
    ui->ckAutoSend->setChecked(s.autoSend);
    selectExactItem(ui->cboxInterval, QString::number(s.autoTime));
    ui->txtServerIP->setText(s.serverIp);
    ui->txtServerPort->setText(QString::number(s.serverPort));
    ui->txtListenPort->setText(QString::number(s.listenPort));
    restoringSettings = false;
    if (s.notRegular)
        statusBar()->showMessage(tr("%1 不是普通文件，未读取设置").arg(kConfigFile), 10000);
    else if (!s.ignoredKeys.isEmpty())
        statusBar()->showMessage(tr("%1 中 %2 的值无法读取，已忽略")
                                     .arg(kConfigFile, s.ignoredKeys.join(QStringLiteral("、"))), 10000);
    if (ui->ckAutoSend->isChecked())
        append(console::Notice,
               tr("定时发送未启动：勾选状态来自上次的设置，重新勾选“定时发送”或选择间隔后才开始发送"));
}
