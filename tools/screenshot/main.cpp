// zentrel-screenshot: renders the main window with live readings from the
// meter simulator into a PNG, for the README. Run it offscreen:
//   QT_QPA_PLATFORM=offscreen zentrel-screenshot docs/screenshot.png
#include "mainwindow.h"

#include "metersim/metersimulator.h"
#include "metersim/pseudoterminal.h"
#include "app/startup.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshot.png");

    PseudoTerminal line;
    const QString link = QStringLiteral("/tmp/zentrel-screenshot-%1").arg(QCoreApplication::applicationPid());
    if (!line.open() || !line.createLink(link)) {
        std::fprintf(stderr, "cannot create the simulator's port\n");
        return 1;
    }

    MainWindow window;
    applyStartupSettings(window);
    window.show();

    auto find = [&](const char *name) { return window.findChild<QWidget *>(QLatin1String(name)); };
    auto *ports = qobject_cast<QComboBox *>(find("PortBox"));
    ports->setCurrentIndex(ports->findText(link));
    qobject_cast<QComboBox *>(find("BaudBox"))->setCurrentIndex(0);
    qobject_cast<QLineEdit *>(find("lineEdit_R_DOWN"))->setText(QStringLiteral("12.0"));
    qobject_cast<QLineEdit *>(find("lineEdit_R_UP"))->setText(QStringLiteral("12.6"));
    qobject_cast<QLineEdit *>(find("lineEdit_V_DOWN"))->setText(QStringLiteral("3.6"));
    qobject_cast<QLineEdit *>(find("lineEdit_V_UP"))->setText(QStringLiteral("3.8"));
    qobject_cast<QRadioButton *>(find("radioButton_group"))->setChecked(true);
    qobject_cast<QComboBox *>(find("comboBox_sounds"))->setCurrentIndex(4);
    qobject_cast<QPushButton *>(find("Open_Serial_Button"))->click();

    SimulatorOptions options;
    options.rRange = 2;
    options.vRange = 1;
    MeterSimulator meter(line, options);
    int sent = 0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        if (sent++ < 40) {
            line.writeAll(meter.nextFrame());
            return;
        }
        feed.stop();
        qobject_cast<QPushButton *>(find("Fix_Plot_Button"))->click();
        // A limit line added after Fix, so the view stays on the readings.
        qobject_cast<QLineEdit *>(find("Line_Edit_Limit_name"))->setText(QStringLiteral("参考线"));
        qobject_cast<QLineEdit *>(find("Line_Edit_Limit_data"))->setText(QStringLiteral("8"));
        qobject_cast<QPushButton *>(find("Button_Limit_set"))->click();
        QTimer::singleShot(200, [&] {
            const bool ok = window.grab().save(out);
            std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(out));
            app.exit(ok ? 0 : 1);
        });
    });
    feed.start(30);
    return app.exec();
}
