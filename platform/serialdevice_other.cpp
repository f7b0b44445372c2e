#include "serialdevice.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>

QString notASerialDevice(const QString &port)
{
    const QFileInfo info(port);
    if (info.isDir())
        return QStringLiteral("is a folder, not a serial port");
    if (info.isFile())
        return QStringLiteral("is a regular file, not a serial port");
    return QString();
}

QString serialDeviceIdentity(const QString &port)
{
    // COM3, com3 and \\.\COM3 are one port.
    QString name = port.toUpper();
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.mid(4);
    return name;
}

bool serialPortPresent(const QString &port)
{
    // One listing for every link that waits, at most once a second.
    static QStringList names;
    static QElapsedTimer listed;
    if (!listed.isValid() || listed.elapsed() >= 1000) {
        names.clear();
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            names << info.portName();
        listed.start();
    }
    return QFileInfo::exists(port) || names.contains(port, Qt::CaseInsensitive);
}
