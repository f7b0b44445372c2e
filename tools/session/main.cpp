// zentrel-session: a scripted session of the real window, for memcheck:
// open the meter's port, take 200 frames with limits set, add a limit line,
// use the UDP console on 127.0.0.1, save both logs, close the link and the
// window. Exits 0 when every step happened.
//   valgrind --leak-check=full build/tools/zentrel-session
#include "mainwindow.h"
#include "platform/regularfile.h"
#include "operatorhands.h"

#include "app/startup.h"
#include "metersim/metersimulator.h"
#include "metersim/pseudoterminal.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>
#include <functional>

namespace {

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    // A real wait for events, woken every 10 ms to look again.
    while (!done() && clock.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

int fail(const char *step)
{
    std::fprintf(stderr, "zentrel-session: %s failed\n", step);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    ignoreFileSizeLimitSignal(); // a size limit fails the write, as a full disk does
    QApplication app(argc, argv);
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());

    PseudoTerminal line;
    const QString link = QDir::temp().filePath(QStringLiteral("zentrel-session-%1").arg(QCoreApplication::applicationPid()));
    if (!line.open() || !line.createLink(link))
        return fail("creating the meter's port");

    int status = 0;
    {
        MainWindow window;
        applyStartupSettings(window);
        window.show();
        OperatorHands hands(window);
        hands.refreshPorts();
        hands.choosePort(link, 0);
        hands.typeLimits(QStringLiteral("12.0"), QStringLiteral("12.34"), QStringLiteral("3.6"), QStringLiteral("3.8"));
        hands.openPort();

        SimulatorOptions options;
        MeterSimulator meter(line, options);
        for (int i = 0; i < 200; i += 20) {
            QByteArray burst;
            for (int k = 0; k < 20; ++k)
                burst += meter.nextFrame();
            line.writeAll(burst);
            waitFor([] { return false; }, 20);
        }
        if (!waitFor([&] { return hands.receiveCount() == QLatin1String("R:200"); }, 60000))
            status = fail("taking 200 frames");
        const QString verdict = hands.verdict();
        if (verdict != QLatin1String("PASS") && verdict != QLatin1String("NG"))
            status = fail("judging");

        hands.addLimitLine(QStringLiteral("R上限"), QStringLiteral("12.34"));
        hands.fixPlot();

        // The console: listen, take a datagram, send one back.
        QUdpSocket peer;
        peer.bind(QHostAddress(QHostAddress::LocalHost), 0);
        hands.listen(QStringLiteral("0"));
        const quint16 listenPort = hands.listeningOn();
        peer.writeDatagram(QByteArray("hello <b>console</b>"), QHostAddress(QHostAddress::LocalHost), listenPort);
        if (!waitFor([&] { return hands.consoleText().contains(QLatin1String("hello")); }, 10000))
            status = fail("receiving a datagram");
        hands.send(QStringLiteral("127.0.0.1"), QString::number(peer.localPort()), QStringLiteral("reply 回复"));
        if (!waitFor([&] { return peer.hasPendingDatagrams(); }, 10000))
            status = fail("sending a datagram");

        // Save the receive window through its dialog, then the console.
        const QString saved = scratch.filePath(QStringLiteral("readings.txt"));
        QTimer::singleShot(200, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(saved);
            static_cast<QDialog *>(dialog)->accept();
        });
        hands.saveReceiveWindow();
        if (QFileInfo(saved).size() == 0)
            status = fail("saving the receive window");
        const QDateTime beforeSave = QDateTime::currentDateTime().addSecs(-1);
        hands.saveConsole();
        if (!hands.consoleText().isEmpty())
            status = fail("saving the console");
        // The console file goes next to the program; it is not kept.
        const QDir programDir(QCoreApplication::applicationDirPath());
        const QFileInfoList written = programDir.entryInfoList({QStringLiteral("20*-*-*-*-*-*.txt")}, QDir::Files);
        for (const QFileInfo &file : written) {
            if (file.lastModified() >= beforeSave)
                QFile::remove(file.absoluteFilePath());
        }
        hands.listen(QStringLiteral("0"));
        hands.closePort();
        window.close();
    }
    line.close();
    std::printf("zentrel-session: %s\n", status == 0 ? "every step done" : "a step failed");
    return status;
}
