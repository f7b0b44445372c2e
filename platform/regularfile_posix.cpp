#include "regularfile.h"
#include "platform/punctuation.h"

#include <QCoreApplication>

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString reasonOf(const QString &path, int error)
{
    switch (error) {
    case ELOOP:
        return QCoreApplication::translate("Files", "%1 是符号链接，不跟随").arg(path);
    case EISDIR:
        return QCoreApplication::translate("Files", "%1 是一个文件夹").arg(path);
    case ENXIO: // a FIFO without a reader, a device without its driver
        return QCoreApplication::translate("Files", "%1 不是普通文件（管道、设备或套接字）").arg(path);
    default:
        return punctuation::reason(path, QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace

bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if ((mode & QIODevice::ReadWrite) == QIODevice::ReadWrite)
        flags |= O_RDWR | O_CREAT;
    else if (mode & QIODevice::WriteOnly)
        flags |= O_WRONLY | O_CREAT;
    else
        flags |= O_RDONLY;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    if (mode & QIODevice::Truncate)
        flags |= O_TRUNC;
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(reasonOf(path, errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool dir = S_ISDIR(st.st_mode);
        ::close(fd);
        return fail(dir ? reasonOf(path, EISDIR)
                        : QCoreApplication::translate("Files", "%1 不是普通文件（管道、设备或套接字）").arg(path));
    }
    // Reads and writes of a regular file never block anyway; the flag was
    // only there so that opening could not.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, mode & ~QIODevice::Truncate, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(punctuation::reason(path, file.errorString()));
    }
    return true;
}

bool pathStillNamesFile(const QFile &file, const QString &path)
{
    struct stat open, named;
    const int fd = file.handle();
    if (fd < 0 || ::fstat(fd, &open) != 0)
        return false;
    if (::lstat(QFile::encodeName(path).constData(), &named) != 0)
        return false;
    return S_ISREG(named.st_mode) && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool openFileSharedWithOthers(const QFile &file)
{
    struct stat st;
    return file.handle() < 0 || ::fstat(file.handle(), &st) != 0 || (st.st_mode & (S_IRWXG | S_IRWXO)) != 0;
}

void ignoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

bool replaceFileWith(const QString &from, const QString &to, QString *reason)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (reason)
        *reason = punctuation::reason(QStringLiteral("%1 → %2").arg(from, to), QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}
