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
