// The UDP console with real sockets, on 127.0.0.1 only: listening, receiving
// and sending in the three notations, pause, bursts, the cap, timed
// sending, saving, the mended failures, fields that are no ports, datagrams
// built to hurt, and a console that never sends on its own.
#include "console/consoleformat.h"
#include "mainwindowprobe.h"
#include "platform/ui/desktop.h"
#include "storage/textfile.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextEdit>

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

void sendTo(Ui::MainWindow *ui, const QString &ip, int port, const QString &data)
{
    ui->txtServerIP->setText(ip);
    ui->txtServerPort->setText(QString::number(port));
    ui->cboxData->setEditText(data);
    ui->btnSend->click();
}

// A datagram into the console's listening port must show up there.
bool consoleReceives(MainWindowProbe &p, const QByteArray &payload)
{
    QUdpSocket peer;
    peer.bind(kLoopback, 0);
    peer.writeDatagram(payload, kLoopback, p.udpSocket()->localPort());
    QElapsedTimer clock;
    clock.start();
    while (!p.consoleText().contains(QString::fromUtf8(payload)) && clock.elapsed() < 3000)
        QTest::qWait(10);
    return p.consoleText().contains(QString::fromUtf8(payload));
}

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private:
    // A console listening on a free port of its own choosing.
    struct Console
    {
        MainWindow window;
        MainWindowProbe probe {window};
        Ui::MainWindow *ui = probe.ui();

        bool listen()
        {
            ui->txtListenPort->setText("0");
            ui->btnListen->click();
            return ui->btnListen->text() == QStringLiteral("关闭");
        }
        quint16 port() const { return probe.udpSocket()->localPort(); }
        // Lines reach the edit with the next screen update: waits for it.
        void settle() const
        {
            if (!QTest::qWaitFor([this] { return probe.consoleView()->waiting() == 0; }, 10000))
                qWarning("console lines still waiting after 10 s");
        }
        QStringList lines() const
        {
            settle();
            const QString text = ui->txtMain->toPlainText();
            return text.isEmpty() ? QStringList() : text.split('\n');
        }
        QString lastLine() const { return lines().value(lines().size() - 1); }
        // The data of the last line, after "时间[...] label: ".
        QString lastData() const { return lastLine().section(": ", 1); }
        QColor lastColour() const
        {
            settle();
            return ui->txtMain->document()->lastBlock().begin().fragment().charFormat().foreground().color();
        }
        void sendTo(int port, const QString &data)
        {
            ui->txtServerIP->setText("127.0.0.1");
            ui->txtServerPort->setText(QString::number(port));
            ui->cboxData->setEditText(data);
            ui->btnSend->click();
        }
    };

    // A peer on 127.0.0.1 that sends to the console and takes what it sends.
    struct Peer
    {
        QUdpSocket socket;
        Peer() { socket.bind(kLoopback, 0); }
        quint16 port() const { return socket.localPort(); }
        void send(const QByteArray &bytes, quint16 to) { socket.writeDatagram(bytes, kLoopback, to); }
        QByteArray take(int timeoutMs = 3000)
        {
            QElapsedTimer clock;
            clock.start();
            while (!socket.hasPendingDatagrams() && clock.elapsed() < timeoutMs)
                QTest::qWait(5);
            if (!socket.hasPendingDatagrams())
                return QByteArray();
            QByteArray bytes(int(socket.pendingDatagramSize()), '\0');
            socket.readDatagram(bytes.data(), bytes.size());
            return bytes;
        }
    };

    static void receive(Console &c, Peer &peer, const QByteArray &bytes)
    {
        const int before = c.probe.consoleLineCount();
        peer.send(bytes, c.port());
        QTRY_VERIFY_WITH_TIMEOUT(c.probe.consoleLineCount() != before, 3000);
    }

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    void lineFormat()
    {
        const QTime t(9, 5, 7, 42);
        QCOMPARE(console::formatLine(t, console::Sent, "a\r\nb%1"), QString("时间[09:05:07 042] 发送: ab%1"));
        QCOMPARE(console::formatLine(t, console::Received, "x"), QString("时间[09:05:07 042] 接收: x"));
        QCOMPARE(console::formatLine(t, 7, "x"), QString("时间[09:05:07 042] 接收: x"));
        QCOMPARE(console::lineColour(console::Sent), QString("darkgreen"));
        QCOMPARE(console::lineColour(console::Received), QString("red"));
        QCOMPARE(console::datagramLine("127.0.0.1", 5, "%2 %1"), QString("[127.0.0.1:5] %2 %1"));
        QCOMPARE(console::saveFileName("/x", QDateTime(QDate(2024, 5, 1), QTime(14, 3, 27))),
                 QString("/x/2024-05-01-14-03-27.txt"));
        const console::TypedPort p1 = console::parsePort(" 70000 ");
        QCOMPARE(p1.value, 70000);
        QVERIFY(!p1.valid);
        for (const char *typed : {"abc", " 0x50 ", "１２３４", "99999999999999999999", "", "12 3", "+5"})
            QVERIFY2(!console::parsePort(QString::fromUtf8(typed)).valid, typed);
        QCOMPARE(console::parsePort(" 0 ").value, 0);
        QVERIFY(console::parsePort(" 0 ").valid);
        QVERIFY(!console::parsePort("-1").valid);
        QVERIFY(console::parsePort("65535").valid);
        QVERIFY(!console::encodeOutgoing("0G", true, false).refusal.isEmpty());
        QVERIFY(!console::encodeOutgoing("ABC", true, false).refusal.isEmpty());
        QVERIFY(!console::encodeOutgoing("A B", true, false).refusal.isEmpty());
        QCOMPARE(console::encodeOutgoing(" 01ab  FF ", true, false).bytes, QByteArray::fromHex("01abff"));
        QVERIFY(console::encodeOutgoing("", true, false).refusal.isEmpty());
        // An installed program's folder cannot be written: the user's documents instead.
        QCOMPARE(Desktop::consoleSaveFolder(m_work->path()), m_work->path());
        const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(Desktop::consoleSaveFolder("/nonexistent/zentrel-app-folder"), docs.isEmpty() ? QDir::homePath() : docs);
    }

    void listenAndReceiveInEachNotation()
    {
        Console c;
        QVERIFY(c.listen());
        QVERIFY(c.port() != 0);
        // Port 0 was typed: the line names the port the system chose.
        QVERIFY(QRegularExpression(QString("^时间\\[\\d\\d:\\d\\d:\\d\\d \\d{3}\\] 发送: 监听成功（端口 %1）$").arg(c.port()))
                    .match(c.lastLine()).hasMatch());
        QCOMPARE(c.lastColour(), QColor("darkgreen"));
        Peer peer;
        const QString from = QString("[127.0.0.1:%1] ").arg(peer.port());

        receive(c, peer, QByteArray("AB\r\nCD"));
        QCOMPARE(c.lastData(), from + "ABCD");
        QCOMPARE(c.lastColour(), QColor("red"));
        QVERIFY(c.lastLine().contains(" 接收: "));

        receive(c, peer, QByteArray("ab\0cd", 5));
        QCOMPARE(c.lastData(), from + "ab");
        receive(c, peer, QString("中文").toUtf8());
        QCOMPARE(c.lastData(), from + "中文");

        c.ui->ckHexReceive->setChecked(true);
        receive(c, peer, QByteArray("ab\0cd", 5));
        QCOMPARE(c.lastData(), from + "61 62 00 63 64");
        c.ui->ckAscii->setChecked(true); // hex wins while both are checked
        receive(c, peer, QByteArray("\x01", 1));
        QCOMPARE(c.lastData(), from + "01");
        c.ui->ckHexReceive->setChecked(false);
        receive(c, peer, QByteArray("\x02" "A \\\x80", 5));
        QCOMPARE(c.lastData(), from + "\\STXA\\x20\\x5C\\x80");

        // Stop listening: the caption goes back and nothing more arrives.
        c.ui->btnListen->click();
        QCOMPARE(c.ui->btnListen->text(), QString("监听"));
        QCOMPARE(c.probe.udpSocket()->state(), QAbstractSocket::UnconnectedState);
    }

    void markupIsShownAsText()
    {
        Console c;
        QVERIFY(c.listen());
        Peer peer;
        const QString html = "<img src=\"x.png\"><a href=\"http://x\">link</a> <b>bold</b> &amp; %1";
        receive(c, peer, html.toUtf8());
        QCOMPARE(c.lastData(), QString("[127.0.0.1:%1] ").arg(peer.port()) + html);
        QVERIFY(!c.ui->txtMain->toHtml().contains("<img"));
    }

    void sendInEachNotation()
    {
        Console c;
        Peer peer;
        c.sendTo(peer.port(), "中文 text");
        QCOMPARE(peer.take(), QString("中文 text").toUtf8());
        QCOMPARE(c.lastData(), QString("[127.0.0.1:%1] 中文 text").arg(peer.port()));
        QCOMPARE(c.lastColour(), QColor("darkgreen"));

        c.ui->ckHexSend->setChecked(true);
        c.sendTo(peer.port(), "01 ab FF");
        QCOMPARE(peer.take(), QByteArray::fromHex("01abff"));
        QCOMPARE(c.lastData(), QString("[127.0.0.1:%1] 01 ab FF").arg(peer.port()));

        c.ui->ckHexSend->setChecked(false);
        c.ui->ckAscii->setChecked(true);
        c.sendTo(peer.port(), "\\STXA\\x20\\CR\\LF");
        QCOMPARE(peer.take(), QByteArray("\x02" "A \r\n"));
        QVERIFY(c.lastLine().contains(" 发送: "));

        // Empty data sends nothing and adds no line.
        const int lines = c.probe.consoleLineCount();
        c.sendTo(peer.port(), "");
        QVERIFY(peer.take(200).isEmpty());
        QCOMPARE(c.probe.consoleLineCount(), lines);
    }

    void failedSendsSayWhy()
    {
        Console c;
        Peer peer;
        // Hex text that is not hex, or has a lone digit, is refused.
        c.ui->ckHexSend->setChecked(true);
        for (const QString &bad : {QString("0G"), QString("ABC"), QString("A B")}) {
            c.sendTo(peer.port(), bad);
            QVERIFY(peer.take(150).isEmpty());
            QVERIFY2(c.lastLine().contains(" 发送失败: "), qPrintable(c.lastLine()));
            QVERIFY(c.lastData().startsWith(QString("[127.0.0.1:%1] %2").arg(peer.port()).arg(bad)));
            QCOMPARE(c.lastColour(), QColor("red"));
        }
        c.ui->ckHexSend->setChecked(false);

        // A bad address or port is not sent and says so.
        c.ui->txtServerIP->setText("not-an-address");
        c.ui->txtServerPort->setText(QString::number(peer.port()));
        c.ui->cboxData->setEditText("x");
        c.ui->btnSend->click();
        QVERIFY(c.lastLine().contains(" 发送失败: [not-an-address:"));

        // 70000 is not a port: nothing goes to 4464 either.
        QUdpSocket wrapped;
        const bool watching = wrapped.bind(kLoopback, 70000 % 65536);
        c.sendTo(70000, "y");
        QVERIFY(c.lastLine().contains(" 发送失败: [127.0.0.1:70000] y"));
        if (watching) {
            QTest::qWait(100);
            QVERIFY(!wrapped.hasPendingDatagrams());
        }
        c.sendTo(0, "z");
        QVERIFY(c.lastLine().contains(" 发送失败: [127.0.0.1:0] z"));
    }

    void listenFailuresSayWhy()
    {
        Console c;
        c.ui->txtListenPort->setText("70000");
        c.ui->btnListen->click();
        QCOMPARE(c.ui->btnListen->text(), QString("监听"));
        QCOMPARE(c.probe.udpSocket()->state(), QAbstractSocket::UnconnectedState);
        QVERIFY2(c.lastLine().contains(" 监听失败: ") && c.lastLine().contains("70000"), qPrintable(c.lastLine()));
        QSettings written("config.ini", QSettings::IniFormat);
        QCOMPARE(written.value("UDP_Server/ListenPort").toInt(), 70000);

        QUdpSocket blocker;
        QVERIFY(blocker.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::DontShareAddress));
        c.ui->txtListenPort->setText(QString::number(blocker.localPort()));
        c.ui->btnListen->click();
        QCOMPARE(c.ui->btnListen->text(), QString("监听"));
        QVERIFY2(c.lastLine().contains(" 监听失败: "), qPrintable(c.lastLine()));
        QCOMPARE(c.probe.consoleLineCount(), 2);
    }

    void pauseDropsLines()
    {
        Console c;
        QVERIFY(c.listen());
        Peer peer;
        c.ui->ckShow->setChecked(true);
        const QStringList before = c.lines();
        peer.send("hidden", c.port());
        c.sendTo(peer.port(), "also hidden");
        QCOMPARE(peer.take(), QByteArray("also hidden"));
        QTest::qWait(100);
        QCOMPARE(c.lines(), before);
        c.ui->ckShow->setChecked(false);
        receive(c, peer, "shown");
        QVERIFY(!c.ui->txtMain->toPlainText().contains("hidden"));
        QCOMPARE(c.lastData(), QString("[127.0.0.1:%1] shown").arg(peer.port()));
    }

    // Bursts of many screen updates' worth: every datagram a line, in order,
    // with the program's own lines where they happened; paused, none of the
    // traffic and still those.
    void burstsKeepOrder_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::newRow("shown") << false;
        QTest::newRow("paused") << true;
    }
    void burstsKeepOrder()
    {
        QFETCH(bool, paused);
        Console c;
        QVERIFY(c.listen());
        Peer peer;
        c.ui->ckShow->setChecked(paused);
        const int before = c.lines().size();
        QStringList expected;
        for (int i = 0; i < 3000; ++i) {
            const QByteArray payload = "datagram " + QByteArray::number(i);
            peer.send(payload, c.port());
            if (!paused)
                expected << QString("[127.0.0.1:%1] %2").arg(peer.port()).arg(QString(payload));
            if (i % 250 == 249) {
                // The socket is read between slices, so no buffer size is needed here.
                QVERIFY(QTest::qWaitFor([&] { return !c.probe.udpSocket()->hasPendingDatagrams(); }, 10000));
                if (i == 1499) {
                    c.sendTo(0, "x"); // refused: a line even while paused
                    expected << "[127.0.0.1:0] x";
                }
            }
        }
        QVERIFY(QTest::qWaitFor([&] { return !c.probe.udpSocket()->hasPendingDatagrams(); }, 10000));
        QStringList data;
        for (const QString &line : c.lines().mid(before))
            data << line.section(": ", 1).section("  （", 0, 0);
        QCOMPARE(data, expected);
    }

    // More lines waiting than allowed: reading stops until the screen has
    // caught up, then goes on; nothing is lost or reordered on the way.
    void readingWaitsForTheScreen()
    {
        Console c;
        c.probe.consoleView()->setMaxWaiting(40);
        QVERIFY(c.listen());
        Peer peer;
        const int before = c.lines().size();
        QStringList expected;
        for (int i = 0; i < 400; ++i) {
            peer.send("w" + QByteArray::number(i), c.port());
            expected << QString("[127.0.0.1:%1] w%2").arg(peer.port()).arg(i);
        }
        QVERIFY(QTest::qWaitFor([&] { return c.probe.consoleLineCount() >= before + 400; }, 30000));
        QStringList data;
        for (const QString &line : c.lines().mid(before))
            data << line.section(": ", 1);
        QCOMPARE(data, expected);
    }

    // Past the cap the oldest lines move to a file named on the first line;
    // a save then holds every line once, in order, and starts afresh.
    void capMovesOldestLinesAndSaveHoldsAll()
    {
        Console c;
        c.probe.consoleView()->setCap(100);
        QVERIFY(c.listen());
        Peer peer;
        QStringList expected = c.lines();
        for (int i = 0; i < 1000; ++i) {
            peer.send("n" + QByteArray::number(i), c.port());
            expected << QString("[127.0.0.1:%1] n%2").arg(peer.port()).arg(i);
            if (i % 100 == 99)
                QVERIFY(QTest::qWaitFor([&] { return !c.probe.udpSocket()->hasPendingDatagrams(); }, 10000));
        }
        const QStringList shown = c.lines();
        QVERIFY2(shown.size() <= 1 + 100 + 5 && shown.size() > 100, qPrintable(QString::number(shown.size())));
        const QString overflow = c.probe.consoleView()->overflowPath();
        QVERIFY(QFileInfo(overflow).fileName().startsWith("console-"));
        QVERIFY2(shown.first().contains(QDir::toNativeSeparators(overflow)), qPrintable(shown.first()));
        QVERIFY(c.lastLine().endsWith("n999"));

        const QDir appDir(QCoreApplication::applicationDirPath());
        const QStringList old = appDir.entryList({"20*.txt"}, QDir::Files);
        c.ui->btnSave->click();
        QStringList added = appDir.entryList({"20*.txt"}, QDir::Files);
        for (const QString &name : old)
            added.removeAll(name);
        QCOMPARE(added.size(), 1);
        QFile saved(appDir.filePath(added.first()));
        QVERIFY(saved.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList data;
        for (const QString &line : QString::fromUtf8(saved.readAll()).split('\n', Qt::SkipEmptyParts))
            data << line.section(": ", 1);
        saved.remove();
        QStringList wanted;
        for (const QString &line : expected)
            wanted << (line.startsWith("时间[") ? line.section(": ", 1) : line);
        QCOMPARE(data, wanted);
        QVERIFY(c.lines().isEmpty());
        QVERIFY(c.probe.consoleView()->overflowPath().isEmpty());
        QFile::remove(overflow);
    }

    void timedSending()
    {
        Console c;
        Peer peer;
        c.ui->txtServerIP->setText("127.0.0.1");
        c.ui->txtServerPort->setText(QString::number(peer.port()));
        c.ui->cboxInterval->setCurrentIndex(0); // 500 ms
        c.ui->ckAutoSend->setChecked(true);
        QVERIFY(c.probe.autoSendTimer()->isActive());
        QCOMPARE(c.probe.autoSendTimer()->interval(), 500);
        // Nothing to send yet: the timer runs and sends nothing.
        QVERIFY(peer.take(700).isEmpty());
        c.ui->cboxData->setEditText("tick");
        QCOMPARE(peer.take(2000), QByteArray("tick"));
        QCOMPARE(peer.take(2000), QByteArray("tick"));
        c.ui->cboxInterval->setCurrentIndex(1);
        QCOMPARE(c.probe.autoSendTimer()->interval(), 1000);
        c.ui->ckAutoSend->setChecked(false);
        QVERIFY(!c.probe.autoSendTimer()->isActive());
        peer.take(100);
        QVERIFY(peer.take(1200).isEmpty());
    }

    void savingTheConsole()
    {
        Console c;
        Peer peer;
        // An empty console writes no file and clears nothing.
        const QDir appDir(QCoreApplication::applicationDirPath());
        const QStringList before = appDir.entryList({"*.txt"}, QDir::Files);
        c.ui->btnSave->click();
        QCOMPARE(appDir.entryList({"*.txt"}, QDir::Files), before);

        c.sendTo(peer.port(), "第一行");
        c.sendTo(peer.port(), "second");
        const QString text = c.lines().join('\n');
        const QDateTime start = QDateTime::currentDateTime();
        c.ui->btnSave->click();
        QVERIFY(c.ui->txtMain->toPlainText().isEmpty());
        QStringList added = appDir.entryList({"*.txt"}, QDir::Files);
        for (const QString &old : before)
            added.removeAll(old);
        QCOMPARE(added.size(), 1);
        const QDateTime stamp = QDateTime::fromString(added.first(), "yyyy-MM-dd-HH-mm-ss'.txt'");
        QVERIFY2(stamp.isValid(), qPrintable(added.first()));
        QVERIFY(qAbs(stamp.secsTo(start)) <= 2);
        QFile file(appDir.filePath(added.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), text);
        file.remove();
    }

    void failedSaveKeepsTheConsole()
    {
        Console c;
        Peer peer;
        c.sendTo(peer.port(), "keep");
        const QString text = c.lines().join('\n');
        // Folders in the way of the next few seconds' file names and of
        // every numbered name beside them: a save never overwrites, so it
        // has nowhere to go.
        const QDir appDir(QCoreApplication::applicationDirPath());
        QStringList blockers;
        const QDateTime now = QDateTime::currentDateTime();
        for (int s = -1; s <= 5; ++s) {
            const QString name = QFileInfo(console::saveFileName(appDir.path(), now.addSecs(s))).fileName();
            for (int n = 0; n <= kMaxNameSuffix; ++n) {
                const QString taken = n == 0 ? name : QString(name).replace(".txt", QString("-%1.txt").arg(n));
                if (appDir.mkdir(taken))
                    blockers << taken;
            }
        }
        QString warning;
        testsupport::answerNextModal([&](QWidget *box) {
            warning = testsupport::messageBoxText(box);
            box->close();
        });
        c.ui->btnSave->click();
        for (const QString &name : blockers)
            appDir.rmdir(name);
        QVERIFY2(warning.contains(appDir.path()), qPrintable(warning));
        QCOMPARE(c.lines().join('\n'), text);
    }


    // ---- fields that make no sense and datagrams that attack -------------------

    void listenPortsThatAreNoPorts_data()
    {
        QTest::addColumn<QString>("typed");
        for (const char *typed : {"abc", " 0x50 ", "１２３４", "99999999999999999999", "65536", "-1"})
            QTest::newRow(typed) << QString::fromUtf8(typed);
    }

    void listenPortsThatAreNoPorts()
    {
        QFETCH(QString, typed);
        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->txtListenPort->setText(typed);
        p.ui()->btnListen->click();
        QCOMPARE(p.ui()->btnListen->text(), QString("监听"));
        const QString last = testsupport::linesOf(p.consoleText()).last();
        QVERIFY2(last.contains("监听失败") && last.contains(typed), qPrintable(last));
        QCOMPARE(p.udpSocket()->state(), QAbstractSocket::UnconnectedState);
    }

    void escapedTextBeyondLatin1IsRefused()
    {
        MainWindow w;
        MainWindowProbe p(w);
        QUdpSocket peer;
        QVERIFY(peer.bind(kLoopback, 0));
        p.ui()->ckAscii->setChecked(true);
        p.ui()->txtServerIP->setText("127.0.0.1");
        p.ui()->txtServerPort->setText(QString::number(peer.localPort()));
        p.ui()->cboxData->setEditText("温度\\CR");
        p.ui()->btnSend->click();
        const QString last = testsupport::linesOf(p.consoleText()).last();
        QVERIFY2(last.contains("发送失败") && last.contains("温"), qPrintable(last));
        QTest::qWait(50);
        QVERIFY(!peer.hasPendingDatagrams());
        // Latin-1 text still goes out as typed.
        p.ui()->cboxData->setEditText("é\\CR");
        p.ui()->btnSend->click();
        QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), 3000);
        QByteArray got(int(peer.pendingDatagramSize()), '\0');
        peer.readDatagram(got.data(), got.size());
        QCOMPARE(got, QByteArray("\xe9\r"));
    }

    void hostileDatagrams()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        ui->txtListenPort->setText("0");
        ui->btnListen->click();
        const quint16 port = p.udpSocket()->localPort();
        QVERIFY(port != 0);
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const QString from = QString("[127.0.0.1:%1] ").arg(peer.localPort());
        // The data of the line a datagram adds, or a null string when none comes.
        auto receive = [&](const QByteArray &bytes) {
            const int before = p.consoleLineCount();
            peer.writeDatagram(bytes, QHostAddress::LocalHost, port);
            QElapsedTimer clock;
            clock.start();
            while (p.consoleLineCount() == before && clock.elapsed() < 3000)
                QTest::qWait(5);
            return p.consoleLineCount() == before ? QString() : testsupport::linesOf(ui->txtMain).last().section(": ", 1);
        };

        QCOMPARE(receive(QByteArray()), from);
        QCOMPARE(receive(QByteArray("\xff\xfe\xc3(\xe2\x82", 6)), from + QString::fromUtf8("\xff\xfe\xc3(\xe2\x82", 6));
        QByteArray controls(10000, '\0');
        for (int i = 0; i < controls.size(); ++i)
            controls[i] = char(1 + i % 31);
        ui->ckAscii->setChecked(true);
        const QString escaped = receive(controls);
        QVERIFY(escaped.startsWith(from + "\\SOH\\STX"));
        QVERIFY(escaped.size() > 20000);
        ui->ckAscii->setChecked(false);
        ui->ckHexReceive->setChecked(true);
        const QByteArray largest(65507, '\x5A');
        QCOMPARE(receive(largest).size(), from.size() + 65507 * 3 - 1);

        // A flood while paused shows nothing and leaves the console as it was.
        ui->ckShow->setChecked(true);
        const QString shown = p.consoleText();
        for (int i = 0; i < 3000; ++i)
            peer.writeDatagram(QByteArray("flood"), QHostAddress::LocalHost, port);
        QTRY_VERIFY_WITH_TIMEOUT(!p.udpSocket()->hasPendingDatagrams(), 5000);
        QCOMPARE(p.consoleText(), shown);
    }


    // ---- always able to listen, never sending on its own -----------------------

    void listenWhateverWasSentBefore()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QUdpSocket sink;
        QVERIFY(sink.bind(kLoopback, 0));

        // A send first binds the socket to a port of the system's choosing.
        sendTo(ui, "127.0.0.1", sink.localPort(), "before");
        ui->txtListenPort->setText("0");
        ui->btnListen->click();
        QCOMPARE(ui->btnListen->text(), QString("关闭"));
        QVERIFY(consoleReceives(p, "first"));

        // Listen, close, send, listen again.
        ui->btnListen->click();
        QCOMPARE(ui->btnListen->text(), QString("监听"));
        sendTo(ui, "127.0.0.1", sink.localPort(), "between");
        ui->btnListen->click();
        QCOMPARE(ui->btnListen->text(), QString("关闭"));
        QVERIFY(consoleReceives(p, "second"));
    }

    void failedListenNamesTheReason()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        sendTo(ui, "127.0.0.1", holder.localPort(), "x");
        ui->txtListenPort->setText(QString::number(holder.localPort()));
        ui->btnListen->click();
        QCOMPARE(ui->btnListen->text(), QString("监听"));
        const QString last = testsupport::linesOf(p.consoleText()).last();
        QVERIFY2(last.contains("监听失败") && last.contains(QString::number(holder.localPort())), qPrintable(last));
        QVERIFY2(!last.contains("Unknown error"), qPrintable(last));
    }

    void restoredTimedSendingWaitsForTheOperator()
    {
        QFile f("config.ini");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[UDP_Server]\nckAutoSend=true\nAutoTime=500\nServerIP=127.0.0.1\n");
        f.close();
        QUdpSocket sink;
        QVERIFY(sink.bind(kLoopback, 0));

        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QVERIFY(ui->ckAutoSend->isChecked());
        QVERIFY(!p.autoSendTimer()->isActive());
        // The idle state is said in the console.
        QVERIFY2(p.consoleText().contains("定时发送未启动"), qPrintable(p.consoleText()));
        ui->txtServerPort->setText(QString::number(sink.localPort()));
        ui->cboxData->setEditText("half-typ");
        QTest::qWait(700); // longer than the interval: a started timer would have sent
        QVERIFY(!sink.hasPendingDatagrams());

        // The operator picks an interval: now it runs.
        ui->cboxInterval->setCurrentIndex(ui->cboxInterval->findText("1000"));
        QVERIFY(p.autoSendTimer()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(sink.hasPendingDatagrams(), 3000);
        // And checking the box again works as before.
        ui->ckAutoSend->setChecked(false);
        QVERIFY(!p.autoSendTimer()->isActive());
        ui->ckAutoSend->setChecked(true);
        QVERIFY(p.autoSendTimer()->isActive());
    }

    void consoleSavesNeverOverwrite()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        const QDir folder(Desktop::consoleSaveFolder(QCoreApplication::applicationDirPath()));
        // Earlier saves under the names of this second and the next two.
        const QDateTime now = QDateTime::currentDateTime();
        QStringList olds;
        for (int s = 0; s <= 2; ++s) {
            const QString name = console::saveFileName(folder.path(), now.addSecs(s));
            if (QFile::exists(name))
                continue;
            QFile old(name);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old lines");
            olds << name;
        }
        struct Cleanup { QStringList files; ~Cleanup() { for (const QString &f : files) QFile::remove(f); } } cleanup {olds};

        QStringList made;
        for (int round = 0; round < 2; ++round) {
            const QStringList before = folder.entryList({"*.txt"}, QDir::Files);
            sendTo(ui, "abc", 1, QString("round %1").arg(round)); // a failure line: content without a peer
            const QString text = p.consoleText();
            ui->btnSave->click();
            QVERIFY(p.consoleText().isEmpty());
            QStringList added = folder.entryList({"*.txt"}, QDir::Files);
            for (const QString &old : before)
                added.removeAll(old);
            QCOMPARE(added.size(), 1);
            QVERIFY2(added.first().contains(QRegularExpression("-\\d+\\.txt$")), qPrintable(added.first()));
            QFile saved(folder.filePath(added.first()));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(saved.readAll()), text);
            made << saved.fileName();
        }
        cleanup.files << made;
        for (const QString &old : olds) {
            QFile f(old);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("old lines"));
        }
    }

    void failureLinesShowWhilePaused()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        ui->ckShow->setChecked(true);
        sendTo(ui, "not-an-address", 5000, "x");
        QVERIFY2(p.consoleText().contains("发送失败"), qPrintable(p.consoleText()));
        ui->txtListenPort->setText("70000");
        ui->btnListen->click();
        QVERIFY(p.consoleText().contains("监听失败"));
        // Traffic itself is still held back.
        QUdpSocket sink;
        QVERIFY(sink.bind(kLoopback, 0));
        const int before = testsupport::linesOf(p.consoleText()).size();
        sendTo(ui, "127.0.0.1", sink.localPort(), "quiet");
        QCOMPARE(testsupport::linesOf(p.consoleText()).size(), before);
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestConsole)
#include "test_console.moc"
