// zentrel-session: a scripted session of the real window, for memcheck:
// open the meter's port, take 200 frames with limits set, add a limit line,
// use the UDP console on 127.0.0.1, save both logs, close the link and the
// window. Exits 0 when every step happened.
//   valgrind --leak-check=full build/tools/zentrel-session
#include "mainwindow.h"

#include "app/startup.h"
#include "metersim/metersimulator.h"
#include "metersim/pseudoterminal.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
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
        auto find = [&](const char *name) { return window.findChild<QWidget *>(QLatin1String(name)); };
        auto click = [&](const char *name) { qobject_cast<QPushButton *>(find(name))->click(); };
        auto type = [&](const char *name, const QString &text) { qobject_cast<QLineEdit *>(find(name))->setText(text); };

        auto *ports = qobject_cast<QComboBox *>(find("PortBox"));
        click("Check_Seria");
        ports->setCurrentIndex(ports->findText(link));
        qobject_cast<QComboBox *>(find("BaudBox"))->setCurrentIndex(0);
        type("lineEdit_R_DOWN", "12.0");
        type("lineEdit_R_UP", "12.34");
        type("lineEdit_V_DOWN", "3.6");
        type("lineEdit_V_UP", "3.8");
        click("Open_Serial_Button");

        SimulatorOptions options;
        MeterSimulator meter(line, options);
        for (int i = 0; i < 200; i += 20) {
            QByteArray burst;
            for (int k = 0; k < 20; ++k)
                burst += meter.nextFrame();
            line.writeAll(burst);
            waitFor([] { return false; }, 20);
        }
        auto *counter = qobject_cast<QLabel *>(find("Receive_times_Label"));
        if (!waitFor([&] { return counter->text() == QLatin1String("R:200"); }, 60000))
            status = fail("taking 200 frames");
        const QString verdict = qobject_cast<QLabel *>(find("label_PASS_NG"))->text();
        if (verdict != QLatin1String("PASS") && verdict != QLatin1String("NG"))
            status = fail("judging");

        type("Line_Edit_Limit_name", "R上限");
        type("Line_Edit_Limit_data", "12.34");
        click("Button_Limit_set");
        click("Fix_Plot_Button");

        // The console: listen, take a datagram, send one back.
        QUdpSocket peer;
        peer.bind(QHostAddress(QHostAddress::LocalHost), 0);
        type("txtListenPort", "0");
        click("btnListen");
        const quint16 listenPort = window.findChild<QUdpSocket *>()->localPort();
        peer.writeDatagram(QByteArray("hello <b>console</b>"), QHostAddress(QHostAddress::LocalHost), listenPort);
        auto *console = qobject_cast<QTextEdit *>(find("txtMain"));
        if (!waitFor([&] { return console->toPlainText().contains(QLatin1String("hello")); }, 10000))
            status = fail("receiving a datagram");
        type("txtServerIP", "127.0.0.1");
        type("txtServerPort", QString::number(peer.localPort()));
        qobject_cast<QComboBox *>(find("cboxData"))->setEditText(QStringLiteral("reply 回复"));
        click("btnSend");
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
        click("Save_Serial_Button");
        if (QFileInfo(saved).size() == 0)
            status = fail("saving the receive window");
        const QDateTime beforeSave = QDateTime::currentDateTime().addSecs(-1);
        click("btnSave");
        if (!console->toPlainText().isEmpty())
            status = fail("saving the console");
        // The console file goes next to the program; it is not kept.
        const QDir programDir(QCoreApplication::applicationDirPath());
        const QFileInfoList written = programDir.entryInfoList({QStringLiteral("20*-*-*-*-*-*.txt")}, QDir::Files);
        for (const QFileInfo &file : written) {
            if (file.lastModified() >= beforeSave)
                QFile::remove(file.absoluteFilePath());
        }
        click("btnListen");
        click("Close_Serial_Button");
        window.close();
    }
    line.close();
    std::printf("zentrel-session: %s\n", status == 0 ? "every step done" : "a step failed");
    return status;
}
