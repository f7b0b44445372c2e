#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "alarmsounds.h"
#include "meter/judgement.h"
#include "meter/meterreading.h"
#include "meter/metersession.h"
#include "meter/rangecontrol.h"

#include <QByteArray>
#include <QColor>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPoint>
#include <QString>

#include <functional>
#include <limits>
#include <memory>

#include <qcustomplot.h>

class ConsoleView;
class OverflowLog;
namespace meter {
class MeterLink;
}
namespace console {
class UdpTransport;
}

class QLabel;
class QLineEdit;
class QMouseEvent;
class QSerialPort;
class QTimer;
class QUdpSocket;

namespace Ui {
class MainWindow;
}

// The one window of the program and the owner of all its state. Its slots are
// kept thin and split by subsystem over several source files:
//   mainwindow.cpp           construction and teardown
//   mainwindow_serial.cpp    serial link, frames, readouts, judgement, ranges
//   mainwindow_plot.cpp      live plot, limit lines, plot interactions
//   mainwindow_log.cpp       receive window and saving it
//   mainwindow_udp.cpp       UDP console
//   mainwindow_settings.cpp  config.ini
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Doors for what is built around the window (app/windowcapabilities.cpp);
    // none of them is a slot.
    meter::MeterSession *meterSession() const { return session; }
    // Once a journal keeps every reading, lines leaving the full receive
    // window need no file of their own while it is healthy.
    void setReadingArchive(const QString &folder, std::function<bool()> healthy);
    // The serial link to the meter: opening, closing, hang-ups and
    // reconnecting live there; the window's buttons follow its signals.
    meter::MeterLink *meterLink() const { return link; }
    // Opens port at baud without asking anyone; false with the reason.
    bool reopenLink(const QString &port, int baud, QString *error);
    // Shows port and baud in the two boxes as if chosen there (config.ini is
    // not written).
    void showPortChoice(const QString &port, int baud);
    int chosenBaud() const;
    // Station mode sounds once per record; the per-reading sound then stays quiet.
    void setReadingSounds(bool on) { readingSounds = on; }
    // Off: the large PASS/NG is not the live reading's (a station shows its records' there).
    void setReadingVerdicts(bool on) { readingVerdicts = on; }
    // The sound the operator's scheme plays for a verdict (a record's).
    void playVerdictSound(meter::Verdict verdict);

private slots:
    // The order of these slots is the window's meta-object method order.
    void titleDoubleClick(QMouseEvent *event);
    void axisLabelDoubleClick(QCPAxis *axis, QCPAxis::SelectablePart part);
    void legendDoubleClick(QCPLegend *legend, QCPAbstractLegendItem *item);
    void selectionChanged();
    void mousePress();
    void mouseWheel();
    void addRandomGraph();
    void removeSelectedGraph();
    void removeAllGraphs();
    void contextMenuRequest(QPoint pos);
    void moveLegend();
    void graphClicked(QCPAbstractPlottable *plottable, int dataIndex);
    void on_Open_Serial_Button_clicked();
    void update();
    void on_Clear_Receive_Button_clicked();
    void on_Close_Serial_Button_clicked();
    void on_Save_Serial_Button_clicked();
    void on_Fix_Plot_Button_clicked();
    void on_Clear_Plot_Button_clicked();
    void on_Clear_Cal_Button_clicked();
    void on_btnListen_clicked();
    void on_btnClear_clicked();
    void append(int type, const QString &data, bool clear = false);
    void init_UDP();
    void readData();
    void sendData(QString ip, int port, QString data);
    void on_btnSend_clicked();
    void on_btnSave_clicked();
    void Write_Config();
    void Init_Config();
    void on_pushButton_R_RANG_clicked();
    void on_Check_Seria_clicked();
    void on_Button_Limit_set_clicked();
    void on_acq_freq_Box_currentIndexChanged(int index);
    void on_color_pushButton_clicked();
    void on_pushButton_V_RANG_clicked();

protected:
    // A language switched while running: the form's captions again, what
    // the program and the operator put into widgets since kept.
    void changeEvent(QEvent *event) override;

private:
    friend class MainWindowProbe; // white-box access for the tests
    friend class OperatorHands;   // scripted programs act through the widgets

    // construction
    void styleReadouts();
    void setupPlot();
    void createLiveGraphs();
    void setLimitColor(const QColor &color);

    // serial link and measurement
    void listSerialPorts();
    void closeLink();
    bool openLink(const QString &port, int baud, QString *error);
    void followLink();
    void showLimits(const meter::Limits &limits);
    // The window as a consumer of the session's readings.
    void showBurst(const meter::ReadingBurst &burst);
    void requestScreenUpdate();
    void flushScreen();
    int soundSchemeIndex() const;
    void tieComboItems();
    meter::Limits readLimits();
    void markLimitField(QLineEdit *field, meter::Limit::State state);
    void markField(QLineEdit *field, bool invalid, const QString &why);
    void sendRangeCommand(const QByteArray &command);
    void showPlotFullNotice();
    void hidePlotFullNotice();

    void watchLimitFields();

    // receive window
    void trimReceiveWindow();

    // UDP console
    void applyAutoSend();

    // plot
    bool appendLivePoint(double r, double v);
    void exportPlot(const QString &format);

    Ui::MainWindow *ui;

    // The members from serialPort to autoSendTimer are the window's own by
    // design and stay although some only mirror others: receiveBuffer holds
    // just the chunk of one update(), the colour components repeat
    // limitColor, the command arrays repeat meter::commandByte, and the
    // counters and codes are the window's copies of the session's.
    QSerialPort *serialPort = nullptr;
    QByteArray receiveBuffer;
    quint32 sendCount = 0;
    quint32 receiveCount = 0;
    quint32 plotSampleCount = 0;
    quint32 sampleDivisor = 1;
    qint8 rRange = 0;
    qint8 vRange = 0;
    QColor limitColor;
    int limitRed = 0;
    int limitGreen = 0;
    int limitBlue = 0;
    QByteArray rangeCommandR[meter::MaxRCode + 1];
    QByteArray rangeCommandV[meter::MaxVCode + 1];
    AlarmSounds *alarmSounds = nullptr;
    QUdpSocket *udpSocket = nullptr; // owned by udpTransport
    console::UdpTransport *udpTransport = nullptr;
    QTimer *autoSendTimer = nullptr;
    int consoleLineCount = 0;
    ConsoleView *consoleView = nullptr; // txtMain's lines, paced and capped
    bool restoringSettings = false; // config.ini is being applied: start nothing

    // The bytes-in path: framing, counting, gate, numbering, judging. The
    // counters and codes above are the window's copies of what it reports.
    meter::MeterSession *session = nullptr;
    std::unique_ptr<meter::ReadingSink> screenSink;
    quint64 shownDiscarded = 0; // framer's dropped bytes, as on the "R:" tooltip
    QLabel *plotFullLabel = nullptr; // the full-plot state, on the status bar's right

    // What the readings since the last screen update leave on screen.
    struct PendingScreen
    {
        bool dirty = false;
        quint32 receiveCount = 0;
        QString rangeR, rangeV;
        QString lines;                 // receive-window lines not yet shown
        QString readingR, readingV;    // the last reading, null when none came
        meter::Verdict verdict = meter::Verdict::None; // after the last frame
        meter::Verdict colour = meter::Verdict::None;  // of the last judged reading
        bool plotted = false, plotFull = false;
        // Leftmost key the new points draw at (their line starts at the point
        // before them): right of the visible range, the picture is unchanged.
        double plottedFrom = std::numeric_limits<double>::infinity();
    };
    PendingScreen pendingScreen;
    QTimer *screenTimer = nullptr;
    QElapsedTimer lastScreenUpdate;
    meter::Verdict shownColour = meter::Verdict::None;
    bool receiveCounterFixed = false;

    // The receive window keeps at most this many lines below its notice line.
    int receiveWindowCap = 200000;
    std::unique_ptr<OverflowLog> overflowLog;
    bool overflowNoticeShown = false;
    QElapsedTimer overflowRetry;
    QString archiveFolder;
    quint64 archivedLines = 0;
    std::function<bool()> archiveHealthy;
    meter::MeterLink *link = nullptr;
    bool readingSounds = true;
    bool readingVerdicts = true;
    bool showingLimits = false; // the limits in force are being written into the fields
};

#endif // MAINWINDOW_H
