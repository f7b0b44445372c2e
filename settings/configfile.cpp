#include "configfile.h"

#include <QFileInfo>
#include <QSettings>

namespace {

// Integers are read through their text: anything that is not one reads as 0.
int integerOf(const QVariant &value)
{
    return value.toString().toInt();
}

} // namespace

ConnectionSettings readConnectionSettings(const QString &path)
{
    QSettings file(path, QSettings::IniFormat);
    ConnectionSettings s;
    s.portName = file.value("/Serial/PortName").toString();
    s.baudRate = integerOf(file.value("Serial/BaudRate"));
    s.hexReceive = file.value("/UDP_Server/ckHexReceive").toBool();
    s.hexSend = file.value("UDP_Server/ckHexSend").toBool();
    s.ascii = file.value("UDP_Server/ckAscii").toBool();
    s.pause = file.value("UDP_Server/ckShow").toBool();
    s.autoSend = file.value("UDP_Server/ckAutoSend").toBool();
    s.autoTime = integerOf(file.value("UDP_Server/AutoTime"));
    s.serverIp = file.value("UDP_Server/ServerIP").toString();
    s.serverPort = integerOf(file.value("UDP_Server/ServerPort"));
    s.listenPort = integerOf(file.value("UDP_Server/ListenPort"));
    return s;
}

bool writeConnectionSettings(const QString &path, const ConnectionSettings &s, QString *error)
{
    QSettings file(path, QSettings::IniFormat);
    file.setValue("/Serial/PortName", s.portName);
    file.setValue("Serial/BaudRate", s.baudRate);
    file.setValue("/UDP_Server/ckHexReceive", s.hexReceive);
    file.setValue("UDP_Server/ckHexSend", s.hexSend);
    file.setValue("UDP_Server/ckAscii", s.ascii);
    file.setValue("UDP_Server/ckShow", s.pause);
    file.setValue("UDP_Server/ckAutoSend", s.autoSend);
    file.setValue("UDP_Server/AutoTime", s.autoTime);
    file.setValue("UDP_Server/ServerIP", s.serverIp);
    file.setValue("UDP_Server/ServerPort", s.serverPort);
    file.setValue("UDP_Server/ListenPort", s.listenPort);
    file.sync();
    if (file.status() == QSettings::NoError)
        return true;
    if (error) {
        const QFileInfo info(path);
        *error = info.isDir() ? QStringLiteral("同名文件夹挡住了设置文件")
                              : QStringLiteral("设置文件不可写");
    }
    return false;
}
