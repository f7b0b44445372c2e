#include "serialdevice.h"

#include <QFileInfo>

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
