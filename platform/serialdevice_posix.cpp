#include "serialdevice.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString notASerialDevice(const QString &port)
{
    const QByteArray path = QFile::encodeName(port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port);
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
