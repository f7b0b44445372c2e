#include "serialdevice.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Where the serial port library looks for a short name.
QString systemLocation(const QString &port)
{
    return port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
}

} // namespace

QString serialDeviceIdentity(const QString &port)
{
    const QString location = systemLocation(port);
    struct stat st;
    if (::stat(QFile::encodeName(location).constData(), &st) == 0) {
        if (S_ISCHR(st.st_mode))
            return QStringLiteral("device %1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
        return QStringLiteral("file %1:%2").arg(st.st_dev).arg(st.st_ino);
    }
    return QDir::cleanPath(location);
}

QString notASerialDevice(const QString &port)
{
    const QByteArray path = QFile::encodeName(systemLocation(port));
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return QString(); // not there (yet)
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("is a folder, not a serial port");
    if (S_ISREG(st.st_mode))
        return QStringLiteral("is a regular file, not a serial port");
    if (!S_ISCHR(st.st_mode))
        return QStringLiteral("is a FIFO or socket, not a serial port");
    // A character device that is no terminal (/dev/null, /dev/zero).
    const int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return QString(); // busy or not permitted: opening it says why later
    const bool tty = ::isatty(fd);
    ::close(fd);
    return tty ? QString() : QStringLiteral("is a device but no serial port");
}

bool serialPortPresent(const QString &port)
{
    // The name is the device's path (or its name under /dev): no listing of
    // every port is needed to know whether it is there.
    struct stat st;
    return ::stat(QFile::encodeName(systemLocation(port)).constData(), &st) == 0;
}
