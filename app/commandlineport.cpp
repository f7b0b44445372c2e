#include "commandlineport.h"

#include "link/meterlink.h"
#include "mainwindow.h"

#include <QCoreApplication>
#include <QStatusBar>
#include <QTimer>

namespace {

// The texts keep the window's capabilities' context, and so their translations.
void open(MainWindow &window, const QString &port, int baud)
{
    window.showPortChoice(port, baud);
    QString error;
    if (window.reopenLink(port, baud, &error)) {
        window.statusBar()->showMessage(QCoreApplication::translate("WindowCapabilities", "串口 %1 已打开（%2 波特）").arg(port).arg(baud), 5000);
        return;
    }
    window.statusBar()->showMessage(QCoreApplication::translate("WindowCapabilities", "串口 %1 打开失败：%2").arg(port, error), 10000);
    if (window.meterLink()->reconnects())
        window.meterLink()->waitFor(port, baud);
}

} // namespace

void openPortFromCommandLine(MainWindow &window, const StartOptions &options, QObject *context)
{
    if (options.port.isEmpty())
        return;
    int baud = options.baud > 0 ? options.baud : window.chosenBaud();
    if (baud <= 0)
        baud = 9600;
    const QString port = options.port;
    MainWindow *w = &window;
    QTimer::singleShot(0, context, [w, port, baud] { open(*w, port, baud); });
}
