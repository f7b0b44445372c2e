// A barcode scanner in real hands: keystrokes typed by xdotool (XTEST)
// through a real X server (Xvfb with openbox) into the station's window,
// 3 ms a key and Enter as a scanner types, 150 ms a key as a person does.
// The window runs in this process on the xcb platform; the cells come from
// the simulator's cell mode through a pseudo-terminal.
#include "stationrun.h"
#include "testsupport.h"

#include "station/ui/scancatcher.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace station;

namespace {

// Xvfb and openbox for this test alone, started before the application
// chooses its platform.
struct XDisplay
{
    pid_t server = -1;
    pid_t windowManager = -1;
    QString missing;

    static pid_t spawn(const std::string &program, std::vector<std::string> args)
    {
        args.insert(args.begin(), program);
        const pid_t pid = fork();
        if (pid == 0) {
            std::vector<char *> argv;
            for (std::string &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            freopen("/dev/null", "w", stderr);
            execvp(program.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }
    static bool found(const char *program)
    {
        const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    XDisplay()
    {
        for (const char *program : {"Xvfb", "openbox", "xdotool", "wmctrl"})
            if (!found(program))
                missing += QString(" %1").arg(program);
        if (!missing.isEmpty())
            return;
        const int number = 600 + int(getpid() % 300);
        const std::string display = ":" + std::to_string(number);
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        server = spawn("Xvfb", {display, "-screen", "0", "1366x768x24", "-nolisten", "tcp"});
        struct stat st {};
        for (int i = 0; i < 200 && stat(socket.c_str(), &st) != 0; ++i)
            usleep(50000); // the server's socket appears once it takes clients
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        windowManager = spawn("openbox", {});
        for (int i = 0; i < 200 && std::system("wmctrl -m >/dev/null 2>&1") != 0; ++i)
            usleep(50000); // until the window manager has the display
    }
    ~XDisplay()
    {
        for (pid_t pid : {windowManager, server})
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
    }
};

XDisplay *x = nullptr;

// Keys as XTEST types them, without waiting: the window takes them in its
// event loop while the test waits on what they cause.
void type(const QStringList &args)
{
    auto *tool = new QProcess;
    QObject::connect(tool, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), tool, &QObject::deleteLater);
    tool->start(QStringLiteral("xdotool"), args);
}

// Keys by their X names, as a scanner sends them (xdotool presses Shift
// for a capital), then Return.
QStringList keysOf(const QString &text)
{
    QStringList keys;
    for (QChar c : text)
        keys << (c == '-' ? QStringLiteral("minus") : c == '.' ? QStringLiteral("period") : QString(c));
    return keys;
}

void scan(const QString &code) { type(QStringList {"key", "--delay", "3"} + keysOf(code) + QStringList {"Return"}); }

// The cell-ID of the newest record (records are kept newest first).
QString newestId(const CellRecorder *st) { return st->records().empty() ? QString() : st->records().front().cellId; }

} // namespace

class TestScanning : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!x->missing.isEmpty())
            QSKIP(qPrintable("needs" + x->missing + " (tools/dev.sh installs them)"));
        m_work.reset(new testsupport::ScopedWorkDir);
        m_run.reset(new StationRun);
        m_run->identity = true;
        QVERIFY(m_run->start({"--cells", "400"}, m_work->file("journal")));
        m_run->window.show();
        m_run->window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_run->window, 10000));
        m_run->installed->station()->startLot("L1");
    }
    void cleanupTestCase() { m_run.reset(); }

    // Whatever has focus, a scan is the next cell's ID and nothing else.
    void aScanIsTheNextCellsId_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("code");
        QTest::newRow("the R-high field") << "lineEdit_R_UP" << "123456";
        QTest::newRow("the limit-set box") << "limitSetBox" << "CELL-A7";
        QTest::newRow("Fix, just pressed") << "Fix_Plot_Button" << "Cell-0042"; // Shift for the capital
        QTest::newRow("the plot") << "customPlot" << "CELL-PLOT";
        QTest::newRow("the ID field itself") << "cellIdEdit" << "CELL-OWN";
    }
    void aScanIsTheNextCellsId()
    {
        QFETCH(QString, focus);
        QFETCH(QString, code);
        CellRecorder *st = m_run->installed->station();
        auto *widget = m_run->window.findChild<QWidget *>(focus);
        QVERIFY(widget);
        auto *rHigh = m_run->probe.ui()->lineEdit_R_UP;
        const QString limit = rHigh->text();
        if (auto *button = qobject_cast<QPushButton *>(widget))
            button->click();
        widget->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY_WITH_TIMEOUT(widget->hasFocus(), 5000);
        scan(code);
        QTRY_COMPARE_WITH_TIMEOUT(newestId(st), code, 15000);
        QCOMPARE(rHigh->text(), limit);
        QVERIFY(!st->records().front().voided);
    }

    // A scan that arrives while "编号重复" is open answers nothing: the
    // earlier record stays, the question is closed by the operator, and the
    // scanned ID is the next record's.
    void aScanIntoTheRepeatQuestionVoidsNothing()
    {
        CellRecorder *st = m_run->installed->station();
        scan("REPEAT-1");
        QTRY_COMPARE_WITH_TIMEOUT(newestId(st), QString("REPEAT-1"), 15000);
        const std::size_t before = st->records().size();
        // The operator answers once the kept scan is said: Escape, 取消.
        auto *catcher = m_run->window.findChild<ScanCatcher *>();
        QVERIFY(catcher);
        QString kept;
        QMetaObject::Connection answered = connect(catcher, &ScanCatcher::scanKept, this, [&](const QString &text) {
            kept = text;
            type({"key", "Escape"});
        });
        QMessageBox *asked = nullptr;
        QTimer whenFocused; // X gives the question the keyboard a moment after it shows
        whenFocused.setInterval(10);
        connect(&whenFocused, &QTimer::timeout, this, [&] {
            if (asked && asked->isActiveWindow()) {
                whenFocused.stop();
                scan("NEXT-2"); // the next cell's scan, with its Enter
            }
        });
        testsupport::answerNextModal([&](QWidget *modal) {
            asked = qobject_cast<QMessageBox *>(modal);
            whenFocused.start();
        }, 20000);
        scan("REPEAT-1");
        QTRY_COMPARE_WITH_TIMEOUT(newestId(st), QString("NEXT-2"), 30000);
        disconnect(answered);
        QVERIFY(asked);
        QCOMPARE(kept, QString("NEXT-2"));
        QCOMPARE(st->records().size(), before + 1);
        for (const CellRecord &r : st->records())
            QVERIFY2(!r.voided, qPrintable(r.cellId));
        QCOMPARE(st->records()[1].cellId, QString("REPEAT-1"));
    }

    // A person types into a field at 150 ms a key: every key stays there.
    void aPersonsTypingStaysWhereItIsTyped()
    {
        auto *port = m_run->probe.ui()->txtServerPort;
        port->clear();
        port->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY_WITH_TIMEOUT(port->hasFocus(), 5000);
        type(QStringList {"key", "--delay", "150"} + keysOf("8080"));
        QTRY_COMPARE_WITH_TIMEOUT(port->text(), QString("8080"), 10000);
        // Enter after a person's typing is the field's own: the key after
        // it lands in the field, and no ID came of the typing.
        const QString pending = m_run->installed->station()->pendingId();
        type({"key", "--delay", "150", "Return", "9"});
        QTRY_COMPARE_WITH_TIMEOUT(port->text(), QString("80809"), 10000);
        QCOMPARE(m_run->installed->station()->pendingId(), pending);
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
    std::unique_ptr<StationRun> m_run;
};

int main(int argc, char *argv[])
{
    XDisplay display;
    x = &display;
    QApplication app(argc, argv);
    TestScanning test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_scanning.moc"
