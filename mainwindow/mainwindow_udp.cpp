// The UDP network console.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QTimer>
#include <QUdpSocket>

void MainWindow::init_UDP()
{
    udpSocket = new QUdpSocket(this);
    autoSendTimer = new QTimer(this);
    connect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::readData);
    connect(autoSendTimer, &QTimer::timeout, this, &MainWindow::on_btnSend_clicked);
}

void MainWindow::append(int type, const QString &data, bool clear)
{
    Q_UNUSED(type)
    Q_UNUSED(data)
    Q_UNUSED(clear)
}

void MainWindow::on_btnListen_clicked() {}
void MainWindow::readData() {}
void MainWindow::sendData(QString ip, int port, QString data)
{
    Q_UNUSED(ip)
    Q_UNUSED(port)
    Q_UNUSED(data)
}
void MainWindow::on_btnSend_clicked() {}
void MainWindow::on_btnClear_clicked() {}
void MainWindow::on_btnSave_clicked() {}
