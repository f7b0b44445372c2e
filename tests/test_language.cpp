// The English face: the window in classic and station mode, its dialogs and
// status messages without a Han character; the Chinese captions unchanged;
// the report's PDF in English.
#include "app/windowcapabilities.h"
#include "station/cellrecorder.h"
#include "app/startup.h"
#include "journal/csvrecords.h"
#include "journal/ui/journalindicator.h"
#include "lotgenerator.h"
#include "meterline.h"
#include "settings/language.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTcpServer>
#include <QTextEdit>
#include <qcustomplot.h>

namespace {

// A Han character, or Chinese (full-width) punctuation: "（", "：", "；", "、"…
bool hasHan(const QString &text)
{
    static const QRegularExpression han(QStringLiteral("[\\x{3400}-\\x{9fff}\\x{3000}-\\x{303f}\\x{ff01}-\\x{ff60}]"));
    return han.match(text).hasMatch();
}

// "where: text" for every text a person can read in and under root that
// holds a Han character.
QStringList hanIn(QWidget *root)
{
    QStringList found;
    auto check = [&](const QObject *o, const QString &text) {
        if (hasHan(text))
            found << QStringLiteral("%1 (%2): %3").arg(o->objectName(), QString::fromLatin1(o->metaObject()->className()), text);
    };
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *w : qAsConst(widgets)) {
        check(w, w->windowTitle());
        check(w, w->toolTip());
        check(w, w->statusTip());
        if (auto *l = qobject_cast<QLabel *>(w))
            check(w, l->text());
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            check(w, b->text());
        if (auto *e = qobject_cast<QLineEdit *>(w))
            check(w, e->text() + QLatin1Char(' ') + e->placeholderText());
        if (auto *c = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < c->count(); ++i)
                check(w, c->itemText(i));
        if (auto *g = qobject_cast<QGroupBox *>(w))
            check(w, g->title());
        if (auto *t = qobject_cast<QTabWidget *>(w))
            for (int i = 0; i < t->count(); ++i)
                check(w, t->tabText(i));
        if (auto *t = qobject_cast<QTextEdit *>(w))
            check(w, t->toPlainText());
        if (auto *t = qobject_cast<QTableWidget *>(w))
            for (int i = 0; i < t->columnCount(); ++i)
                check(w, t->horizontalHeaderItem(i) ? t->horizontalHeaderItem(i)->text() : QString());
        if (auto *m = qobject_cast<QMenu *>(w))
            check(w, m->title());
        if (auto *s = qobject_cast<QStatusBar *>(w))
            check(w, s->currentMessage());
        if (auto *p = qobject_cast<QCustomPlot *>(w)) {
            for (QCPAxis *axis : p->axisRect()->axes())
                check(w, axis->label());
            for (int i = 0; i < p->graphCount(); ++i)
                check(w, p->graph(i)->name());
        }
        for (const QAction *a : w->actions()) {
            check(w, a->text());
            check(w, a->toolTip());
        }
    }
    return found;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        language::install(language::Language::Chinese);
        m_work.reset();
    }

    void englishHasNoHan_data()
    {
        QTest::addColumn<bool>("station");
        QTest::newRow("classic") << false;
        QTest::newRow("station") << true;
    }

    void englishHasNoHan()
    {
        QFETCH(bool, station);
        // A setting that cannot be read, said on the status bar.
        QFile ini("config.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\nBaudRate=@Variant(\\0\\0\\0\\x7f)\n");
        ini.close();
        language::install(language::Language::English);
        LinkedWindow lw;
        applyStartupSettings(lw.window);
        QStringList said {lw.window.statusBar()->currentMessage()};
        connect(lw.window.statusBar(), &QStatusBar::messageChanged, this, [&](const QString &m) { said << m; });

        StartOptions options;
        options.station = station;
        options.journalDir = m_work->file("journal");
        if (!station) {
            options.mqttHost = QStringLiteral("127.0.0.1");
            options.mqttPort = closedPort();
        }
        WindowCapabilities installed(lw.window, options);
        lw.window.show();

        // A port that cannot be opened: the warning box and the status bar.
        QStringList boxes;
        lw.ui->PortBox->addItem(m_work->file("no-such-port"));
        lw.ui->PortBox->setCurrentIndex(lw.ui->PortBox->count() - 1);
        testsupport::answerNextModal([&](QWidget *box) {
            boxes << hanIn(box);
            box->close();
        });
        lw.ui->Open_Serial_Button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!said.isEmpty(), 5000);

        // Readings up to a full plot.
        QVERIFY(lw.link());
        lw.probe.setPlotSampleCount(5999);
        QVERIFY(lw.meter.send(frameOf(120000, 37000) + frameOf(121000, 37000)));
        QTRY_VERIFY_WITH_TIMEOUT(!lw.probe.plotFullNotice().isEmpty(), 5000);
        QVERIFY(!hasHan(lw.probe.plotFullNotice()));
        if (station) {
            // The day's file turned into a folder: the journal pauses and says so.
            const QString day = m_work->file("journal/" + journal::dailyFileName("readings", QDate::currentDate()));
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(day).size() > 0, 5000);
            QVERIFY(QFile::remove(day) && QDir().mkpath(day));
            QVERIFY(lw.meter.send(frameOf(122000, 37000)));
            auto pausedText = [&] {
                for (auto *indicator : lw.window.findChildren<journal::JournalIndicator *>())
                    if (indicator->text().startsWith("Journal paused"))
                        return true;
                return false;
            };
            QTRY_VERIFY_WITH_TIMEOUT(pausedText(), 10000);
        }

        // The save dialog's own texts.
        testsupport::answerNextModal([&](QWidget *dialog) {
            boxes << hanIn(dialog);
            qobject_cast<QDialog *>(dialog)->reject();
        });
        lw.ui->Save_Serial_Button->click();

        if (station) {
            // Every dialog of the station menu, then the pack dialog.
            QMenu *menu = lw.window.findChild<QMenu *>("stationMenu");
            QVERIFY(menu);
            for (QAction *action : menu->actions()) {
                if (action->menu() || action->isCheckable() || action->shortcut() == QKeySequence(Qt::Key_F9) || action->text().startsWith("Void")
                    || action->text().startsWith("Reload") || action->text().startsWith("Pack"))
                    continue;
                testsupport::answerNextModal([&](QWidget *dialog) {
                    boxes << hanIn(dialog);
                    if (auto *d = qobject_cast<QDialog *>(dialog))
                        d->reject();
                    else
                        dialog->close();
                });
                action->trigger();
            }
            auto *dock = lw.window.findChild<QDockWidget *>();
            QVERIFY(dock);
        } else {
            QLabel *mqtt = lw.window.findChild<QLabel *>("mqttIndicator");
            QVERIFY(mqtt);
            QTRY_VERIFY2_WITH_TIMEOUT(mqtt->text().startsWith("MQTT reconnecting"), qPrintable(mqtt->text()), 10000);
        }
        QStringList found = hanIn(&lw.window) + boxes;
        // The language entry is named in both languages, each choice in its own.
        found.erase(std::remove_if(found.begin(), found.end(), [](const QString &f) {
                        return f.endsWith(QStringLiteral(": 语言 / Language")) || f == QStringLiteral("languageMenu (QMenu): 中文");
                    }),
                    found.end());
        for (const QString &m : qAsConst(said))
            if (hasHan(m))
                found << QStringLiteral("status bar: ") + m;
        QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
        QVERIFY2(said.join(' ').contains("cannot be read"), qPrintable(said.join('\n')));
        QVERIFY2(said.join(' ').contains("could not be opened"), qPrintable(said.join('\n')));
    }

    void switchingWhileReadingsArrive()
    {
        LinkedWindow lw;
        applyStartupSettings(lw.window);
        StartOptions options;
        options.station = true;
        options.journalDir = m_work->file("journal");
        WindowCapabilities installed(lw.window, options);
        QVERIFY(lw.link());
        lw.ui->lineEdit_R_DOWN->setText("11.5");
        auto *capture = lw.window.findChild<QPushButton *>("captureButton");
        QCOMPARE(capture->text(), QString("记录 (F9)"));
        QAction *english = nullptr, *chinese = nullptr;
        for (QAction *a : lw.window.findChild<QMenu *>("languageMenu")->actions())
            (a->text() == "English" ? english : chinese) = a;
        QVERIFY(english && chinese);

        // Frames keep coming while the language changes, twice.
        const int total = 80;
        int sent = 0;
        QTimer feed;
        connect(&feed, &QTimer::timeout, this, [&] {
            if (sent < total && lw.meter.send(frameOf(quint32(120000 + 10 * sent), 37000)))
                ++sent;
        });
        feed.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(sent >= 20, 10000);
        // A pause first, so what the switch keeps can be seen: the readouts
        // stay as the readings left them, not as the form starts.
        feed.stop();
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), quint32(sent), 10000);
        const QString r = lw.ui->label_R->text(), count = lw.ui->Receive_times_Label->text();
        // A control-chart signal raised in Chinese is worded again in English.
        station::CellRecord signalled;
        signalled.id = "S-20261209-7";
        emit installed.station()->outOfControl(signalled, 1u, 0u);
        auto *alarm = lw.window.findChild<QLabel *>("controlAlarmText");
        QVERIFY(alarm && hasHan(alarm->text()));
        english->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(capture->text(), QString("Record (F9)"), 5000);
        QVERIFY2(!hasHan(alarm->text()) && alarm->text().contains("S-20261209-7"), qPrintable(alarm->text()));
        QCOMPARE(lw.ui->label_R->text(), r);
        QCOMPARE(lw.ui->Receive_times_Label->text(), count);
        feed.start(10);
        QCOMPARE(lw.ui->Open_Serial_Button->text(), QString("Open port"));
        QVERIFY2(lw.window.windowTitle().contains("Local IP"), qPrintable(lw.window.windowTitle()));
        QCOMPARE(lw.ui->lineEdit_R_DOWN->text(), QString("11.5")); // typed values stay
        QVERIFY(testsupport::textFileLines("config.ini").contains("Language=en"));
        QTRY_VERIFY_WITH_TIMEOUT(sent >= 50, 10000);
        chinese->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(capture->text(), QString("记录 (F9)"), 5000);
        QCOMPARE(lw.ui->Open_Serial_Button->text(), QString("打开串口"));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), quint32(total), 20000);
        QCOMPARE(lw.ui->label_R->text(), QString("12.0790mΩ")); // the last reading, not the form's default

        // Every reading journaled once.
        QVERIFY(installed.readyToLeave(false));
        const QStringList lines = testsupport::textFileLines(
            m_work->file("journal/" + journal::dailyFileName("readings", QDate::currentDate())));
        QSet<QString> seqs;
        for (int i = 1; i < lines.size(); ++i)
            seqs.insert(lines[i].section(',', 3, 3));
        QCOMPARE(lines.size() - 1, total);
        QCOMPARE(seqs.size(), total);
    }

    // The classic window keeps its widths: every English text must fit its
    // widget there (a combo box's items, a button's caption, a one-line label;
    // "Normal/Abnormal" was cut to "Normal/Abnc").
    void englishFitsTheClassicWidths()
    {
        language::install(language::Language::English);
        MainWindow w;
        applyStartupSettings(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QStringList clipped;
        for (QComboBox *box : w.findChildren<QComboBox *>()) {
            // Port names are the system's, not texts of ours (another test's
            // meter line may be listed while this one runs).
            if (!box->isVisible() || box->isEditable() || box->objectName() == "PortBox")
                continue;
            QStyleOptionComboBox option;
            option.initFrom(box);
            const int room = box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width();
            for (int i = 0; i < box->count(); ++i)
                if (box->fontMetrics().horizontalAdvance(box->itemText(i)) * 11 / 10 > room) // a tenth to spare: fonts differ by platform
                    clipped << QString("%1: \"%2\" needs %3 px of %4").arg(box->objectName(), box->itemText(i))
                                   .arg(box->fontMetrics().horizontalAdvance(box->itemText(i))).arg(room);
        }
        for (QAbstractButton *button : w.findChildren<QAbstractButton *>())
            if (button->isVisible() && !button->text().isEmpty() && button->fontMetrics().horizontalAdvance(button->text()) + 8 > button->width())
                clipped << QString("%1: \"%2\" needs %3 px of %4").arg(button->objectName(), button->text())
                               .arg(button->fontMetrics().horizontalAdvance(button->text()) + 8).arg(button->width());
        for (QLabel *label : w.findChildren<QLabel *>())
            if (label->isVisible() && !label->wordWrap() && !label->text().isEmpty() && label->minimumSizeHint().width() > label->width())
                clipped << QString("%1: \"%2\" needs %3 px of %4").arg(label->objectName(), label->text())
                               .arg(label->minimumSizeHint().width()).arg(label->width());
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join('\n')));
    }

    void chineseCaptionsStay()
    {
        MainWindow w;
        applyStartupSettings(w);
        MainWindowProbe p(w);
        const QList<QPair<QAbstractButton *, QString>> buttons = {
            {p.ui()->Open_Serial_Button, "打开串口"}, {p.ui()->Close_Serial_Button, "关闭串口"},
            {p.ui()->Check_Seria, "检测端口号："}, {p.ui()->btnListen, "监听"}, {p.ui()->Save_Serial_Button, "保存数据"}};
        for (const auto &[button, caption] : buttons)
            QCOMPARE(button->text(), caption);
        QCOMPARE(p.ui()->comboBox_sounds->itemText(0), QString("正常/异常"));
        QCOMPARE(p.ui()->acq_freq_Box->itemText(0), QString("0.5秒"));
        QVERIFY(w.windowTitle().contains("本机IP"));
    }

    void reportAndSheetInEnglish()
    {
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        if (pdftotext.isEmpty())
            QSKIP("pdftotext is missing (Debian: poppler-utils; tools/dev.sh installs it)");
        LotShape shape;
        shape.cells = 200;
        QVERIFY(writeLot("j", generateLot(shape), shape.day));
        QProcess report;
        report.start(ZENTREL_REPORT_PATH, {"j", "--lang", "en", "--pdf", "r.pdf", "--csv", "r.csv", "--json", "en.json"});
        QVERIFY(report.waitForFinished(60000));
        QCOMPARE(report.exitCode(), 0);
        QVERIFY2(!hasHan(QString::fromUtf8(report.readAllStandardOutput())), "the table");
        QProcess text;
        text.start(pdftotext, {"r.pdf", "-"});
        QVERIFY(text.waitForFinished(60000));
        const QString pdf = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(pdf.contains("quality report"), qPrintable(pdf.left(300)));
        QVERIFY2(!hasHan(pdf), qPrintable(pdf));
        // Counted in English: one file, not "1 files".
        QDir().mkpath("one");
        QFile one("one/readings-2026-12-09.csv");
        QVERIFY(one.open(QIODevice::WriteOnly));
        one.write("time,station,port,seq,r_mohm,v,verdict\n2026-12-09T10:00:00.000+00:00,A,COM3,1,12.1,3.7,PASS\n");
        one.close();
        QProcess single;
        single.start(ZENTREL_REPORT_PATH, {"one", "--lang", "en"});
        QVERIFY(single.waitForFinished(60000));
        const QString said = QString::fromUtf8(single.readAllStandardOutput() + single.readAllStandardError());
        QVERIFY2(said.contains("1 file, 1 lines"), qPrintable(said));
        // The assembly sheet too.
        QProcess match;
        match.start(ZENTREL_MATCH_PATH, {"j", "--lang", "en", "--series", "4", "--parallel", "10", "--plan", "p.csv", "--pdf", "s.pdf"});
        QVERIFY(match.waitForFinished(60000));
        QCOMPARE(match.exitCode(), 0);
        QVERIFY(!hasHan(QString::fromUtf8(match.readAllStandardOutput())));
        text.start(pdftotext, {"s.pdf", "-"});
        QVERIFY(text.waitForFinished(60000));
        const QString sheet = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(sheet.contains("Assembly sheet") && !hasHan(sheet), qPrintable(sheet.left(400)));
        // What scripts read is the same in every language.
        const QStringList csv = testsupport::textFileLines("r.csv");
        QVERIFY(csv.value(0).startsWith("scope,limits,n,pass,ng"));
        QVERIFY2(csv.value(1).startsWith("单体 全部,\"限值组 S1:"), qPrintable(csv.value(1)));
        QProcess chinese;
        chinese.start(ZENTREL_REPORT_PATH, {"j", "--lang", "zh_CN", "--json", "zh.json"});
        QVERIFY(chinese.waitForFinished(60000));
        QCOMPARE(chinese.exitCode(), 0);
        const QByteArray json = testsupport::readFile("en.json");
        QCOMPARE(testsupport::readFile("zh.json"), json);
        // Scopes typed: kind, lot or station, the set and its limits as numbers.
        const QJsonObject scope = QJsonDocument::fromJson(json).object()["groups"].toArray()[0].toObject()["scope"].toObject();
        QCOMPARE(scope["kind"].toString(), QString("cells"));
        QCOMPARE(scope["set"].toString(), QString("S1"));
        QVERIFY2(scope["r_low"].isDouble() && scope["r_low"].toDouble() < scope["r_high"].toDouble(), QJsonDocument(scope).toJson().constData());
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestLanguage)
#include "test_language.moc"
