#include "portsource.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

QStringList PortSource::portNames()
{
    return hostPorts() + virtualPorts();
}

QStringList PortSource::hostPorts()
{
    QStringList names;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        names << info.portName();
    names.sort();
    return names;
}

QStringList PortSource::defaultVirtualFolders()
{
    return {QStringLiteral("/dev"), QStringLiteral("/tmp")};
}

QStringList PortSource::virtualPorts(const QStringList &folders)
{
    QStringList names;
    for (const QString &folder : folders) {
        QDir dir(folder);
        const QFileInfoList entries =
            dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &entry : entries) {
            if (!entry.isSymLink())
                continue;
            const QString target = entry.canonicalFilePath();
            if (target.startsWith(QLatin1String("/dev/pts/")))
                names << entry.absoluteFilePath();
        }
    }
    return names;
}
