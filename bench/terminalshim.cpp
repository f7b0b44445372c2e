// Preloaded into the reference serial terminal (CuteCom) by `zentrel-bench
// onscreen`, so that it reads the simulator's pseudo-terminal as it would a
// real port:
// - A pseudo-terminal has no modem lines; the terminal asks for them, takes
//   the ENOTTY for a port error and closes and reopens forever. Here the
//   modem-line ioctls on /dev/pts descriptors succeed (DSR, CTS and DCD up).
// - Its hex output is not kept in its settings: once its window exists the
//   shim ticks "Hex output" and presses "Open" (device and rate come from its
//   settings file), then says "terminal-shim: open" on stderr.
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

namespace {

bool isPseudoTerminal(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    // Unix98 pseudo-terminal slaves: majors 136-143.
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

void openWhenShown()
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer] {
        QWidget *hex = nullptr;
        QWidget *open = nullptr;
        for (QWidget *w : QApplication::allWidgets()) {
            if (w->objectName() == QLatin1String("m_check_hex_out"))
                hex = w;
            else if (w->objectName() == QLatin1String("m_bt_open"))
                open = w;
        }
        auto *box = qobject_cast<QCheckBox *>(hex);
        auto *button = qobject_cast<QPushButton *>(open);
        if (!box || !button || !button->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        box->setChecked(true);
        button->click();
        std::fprintf(stderr, "terminal-shim: open\n");
    });
    timer->start(200);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(openWhenShown)

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    using Real = int (*)(int, unsigned long, ...);
    static Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "ioctl"));
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    const int result = real(fd, request, argument);
    if (result == 0 || (errno != ENOTTY && errno != EINVAL))
        return result;
    switch (request) {
    case TIOCMGET:
        if (!isPseudoTerminal(fd))
            return result;
        *static_cast<int *>(argument) = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
        return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        return isPseudoTerminal(fd) ? 0 : result;
    default:
        return result;
    }
}
