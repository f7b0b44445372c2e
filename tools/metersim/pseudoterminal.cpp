#include "pseudoterminal.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(QString *error)
{
    close();
    m_fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0 || ::grantpt(m_fd) != 0 || ::unlockpt(m_fd) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(m_fd, name, sizeof name) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // Raw from the start, so that no byte of a frame is taken for a line
    // ending or a control character before the program opens its side.
    termios tio {};
    if (::tcgetattr(m_fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    // Opening and closing the other side once puts the line in the hung-up
    // state, so readerAttached() tells when a program really has it open.
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0)
        ::close(slave);
    return true;
}

bool PseudoTerminal::readerAttached() const
{
    if (m_fd < 0)
        return false;
    pollfd p {m_fd, POLLOUT, 0};
    ::poll(&p, 1, 0);
    return !(p.revents & POLLHUP);
}

bool PseudoTerminal::createLink(const QString &linkPath, QString *error)
{
    const QByteArray link = QFile::encodeName(linkPath);
    ::unlink(link.constData());
    if (::symlink(QFile::encodeName(m_slavePath).constData(), link.constData()) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_linkPath = linkPath;
    return true;
}

bool PseudoTerminal::writeAll(const QByteArray &bytes, int timeoutMs)
{
    if (m_fd < 0)
        return false;
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n > 0) {
            data += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        pollfd p {m_fd, POLLOUT, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
    }
    return true;
}

QByteArray PseudoTerminal::read(int timeoutMs)
{
    QByteArray out;
    if (m_fd < 0)
        return out;
    pollfd p {m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) {
        // Nobody has the line open: poll says so at once, every time. Wait
        // the time asked for rather than spin.
        if ((p.revents & POLLHUP) && timeoutMs > 0)
            ::usleep(useconds_t(timeoutMs) * 1000);
        return out;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    return out;
}

void PseudoTerminal::close()
{
    if (!m_linkPath.isEmpty()) {
        ::unlink(QFile::encodeName(m_linkPath).constData());
        m_linkPath.clear();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
