#include "operatorhands.h"

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QUdpSocket>

void OperatorHands::refreshPorts() { m_window.ui->Check_Seria->click(); }

void OperatorHands::choosePort(const QString &port, int baudIndex)
{
    m_window.ui->PortBox->setCurrentIndex(m_window.ui->PortBox->findText(port));
    m_window.ui->BaudBox->setCurrentIndex(baudIndex);
}

void OperatorHands::typeLimits(const QString &rLow, const QString &rHigh, const QString &vLow, const QString &vHigh)
{
    m_window.ui->lineEdit_R_DOWN->setText(rLow);
    m_window.ui->lineEdit_R_UP->setText(rHigh);
    m_window.ui->lineEdit_V_DOWN->setText(vLow);
    m_window.ui->lineEdit_V_UP->setText(vHigh);
}

void OperatorHands::openPort() { m_window.ui->Open_Serial_Button->click(); }
void OperatorHands::closePort() { m_window.ui->Close_Serial_Button->click(); }
void OperatorHands::plotByGroup() { m_window.ui->radioButton_group->setChecked(true); }
void OperatorHands::chooseSound(int index) { m_window.ui->comboBox_sounds->setCurrentIndex(index); }
void OperatorHands::fixPlot() { m_window.ui->Fix_Plot_Button->click(); }

void OperatorHands::addLimitLine(const QString &name, const QString &value)
{
    m_window.ui->Line_Edit_Limit_name->setText(name);
    m_window.ui->Line_Edit_Limit_data->setText(value);
    m_window.ui->Button_Limit_set->click();
}

void OperatorHands::saveReceiveWindow() { m_window.ui->Save_Serial_Button->click(); }
QString OperatorHands::receiveCount() const { return m_window.ui->Receive_times_Label->text(); }
QString OperatorHands::verdict() const { return m_window.ui->label_PASS_NG->text(); }

void OperatorHands::listen(const QString &port)
{
    m_window.ui->txtListenPort->setText(port);
    m_window.ui->btnListen->click();
}

quint16 OperatorHands::listeningOn() const
{
    return m_window.udpSocket ? m_window.udpSocket->localPort() : 0;
}

QString OperatorHands::consoleText() const { return m_window.ui->txtMain->toPlainText(); }

void OperatorHands::send(const QString &ip, const QString &port, const QString &text)
{
    m_window.ui->txtServerIP->setText(ip);
    m_window.ui->txtServerPort->setText(port);
    m_window.ui->cboxData->setEditText(text);
    m_window.ui->btnSend->click();
}

void OperatorHands::saveConsole() { m_window.ui->btnSave->click(); }
