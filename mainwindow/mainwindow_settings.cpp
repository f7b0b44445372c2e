// config.ini: the connection choices and the console's fields.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QSettings>

namespace {

const QString kConfigFile = QStringLiteral("config.ini");

// Typed numbers are stored as integers; text that is not one is stored as 0.
int typedInteger(const QString &text)
{
    return text.trimmed().toInt();
}

void selectExactItem(QComboBox *box, const QString &text)
{
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

} // namespace

void MainWindow::Write_Config()
{
    QSettings settings(kConfigFile, QSettings::IniFormat);
    settings.setValue("/Serial/PortName", ui->PortBox->currentText());
    settings.setValue("Serial/BaudRate", ui->BaudBox->currentText().toInt());
    settings.setValue("/UDP_Server/ckHexReceive", ui->ckHexReceive->isChecked());
    settings.setValue("UDP_Server/ckHexSend", ui->ckHexSend->isChecked());
    settings.setValue("UDP_Server/ckAscii", ui->ckAscii->isChecked());
    settings.setValue("UDP_Server/ckShow", ui->ckShow->isChecked());
    settings.setValue("UDP_Server/ckAutoSend", ui->ckAutoSend->isChecked());
    settings.setValue("UDP_Server/AutoTime", ui->cboxInterval->currentText().toInt());
    settings.setValue("UDP_Server/ServerIP", ui->txtServerIP->text().trimmed());
    settings.setValue("UDP_Server/ServerPort", typedInteger(ui->txtServerPort->text()));
    settings.setValue("UDP_Server/ListenPort", typedInteger(ui->txtListenPort->text()));
}

void MainWindow::Init_Config()
{
    QSettings settings(kConfigFile, QSettings::IniFormat);
    selectExactItem(ui->PortBox, settings.value("/Serial/PortName").toString());
    selectExactItem(ui->BaudBox, QString::number(settings.value("Serial/BaudRate").toString().toInt()));
    ui->ckHexReceive->setChecked(settings.value("/UDP_Server/ckHexReceive").toBool());
    ui->ckHexSend->setChecked(settings.value("UDP_Server/ckHexSend").toBool());
    ui->ckAscii->setChecked(settings.value("UDP_Server/ckAscii").toBool());
    ui->ckShow->setChecked(settings.value("UDP_Server/ckShow").toBool());
    ui->ckAutoSend->setChecked(settings.value("UDP_Server/ckAutoSend").toBool());
    selectExactItem(ui->cboxInterval, QString::number(settings.value("UDP_Server/AutoTime").toString().toInt()));
    ui->txtServerIP->setText(settings.value("UDP_Server/ServerIP").toString());
    ui->txtServerPort->setText(QString::number(settings.value("UDP_Server/ServerPort").toString().toInt()));
    ui->txtListenPort->setText(QString::number(settings.value("UDP_Server/ListenPort").toString().toInt()));
}
