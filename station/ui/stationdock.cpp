#include "stationdock.h"
#include "platform/punctuation.h"

#include "match/ui/packdialog.h"
#include "settings/language.h"

#include "station/cellrecorder.h"
#include "station/ui/lotcharts.h"
#include "station/ui/recordstable.h"
#include "station/ui/scancatcher.h"
#include "station/ui/stationverdict.h"
#include "storage/textfile.h"

#include <QMainWindow>

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSound>
#include <QTimer>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <qcustomplot.h>

namespace station {

namespace {

QString number(double value, int decimals = 4)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QStringLiteral("—");
}


} // namespace

QString limitSetsPath()
{
    return QStringLiteral("limitsets.json");
}

StationDock::StationDock(CellRecorder *station, QMainWindow *window)
    : QDockWidget(window), m_station(station), m_window(window)
{
    translated([this] { setWindowTitle(tr("工位")); });
    setObjectName(QStringLiteral("stationDock"));
    setAllowedAreas(Qt::RightDockWidgetArea | Qt::BottomDockWidgetArea);
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);

    // Two columns, so that a 1366×768 screen holds it all: the cell, its
    // verdict and the lot's figures at a width of their own (the dock keeps
    // its width whatever they say); the charts and the records beside them.
    auto *body = new QWidget(this);
    auto *columns = new QHBoxLayout(body);
    auto *cell = new QWidget(body);
    cell->setFixedWidth(kCellColumnWidth);
    auto *layout = new QVBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *lotView = new QVBoxLayout;
    columns->addWidget(cell);
    columns->addLayout(lotView, 1);
    addEntry(layout, cell);
    addAlarm(layout, cell, window);
    addButtons(layout, cell);
    addLotView(layout, lotView, body);
    layout->addStretch();
    setWidget(body);
    window->addDockWidget(Qt::RightDockWidgetArea, this);
    addMenu(window);
    followRecorder();
    reloadSets();
    showStats(QString());
    auto *catcher = new ScanCatcher(m_cellId, this);
    connect(catcher, &ScanCatcher::scanKept, this, [this](const QString &text) {
        say(tr("扫码 %1 已保留：问题关闭后用作下一个电池编号").arg(text));
    });
    QTimer::singleShot(0, this, &StationDock::refocus); // a scan right after start lands here
}

// The cell's ID and the limit set, the verdict and grade in large type, a note.
void StationDock::addEntry(QVBoxLayout *layout, QWidget *body)
{
    m_need = new QLabel(body);
    m_need->setObjectName(QStringLiteral("stationNeed"));
    m_need->setWordWrap(true);
    QFont needFont = m_need->font();
    needFont.setPointSize(16);
    needFont.setBold(true);
    m_need->setFont(needFont);
    m_need->setStyleSheet(QStringLiteral("QLabel { color: #c05000; }"));
    layout->addWidget(m_need);
    auto *form = new QFormLayout;
    m_cellId = new QLineEdit(body);
    m_cellId->setObjectName(QStringLiteral("cellIdEdit"));
    auto *idLabel = new QLabel(body), *setLabel = new QLabel(body);
    translated([this, idLabel, setLabel] {
        m_cellId->setPlaceholderText(tr("扫描或输入电池编号，回车确认"));
        idLabel->setText(tr("电池编号："));
        setLabel->setText(tr("限值组："));
    });
    form->addRow(idLabel, m_cellId);
    m_sets = new QComboBox(body);
    m_sets->setObjectName(QStringLiteral("limitSetBox"));
    form->addRow(setLabel, m_sets);
    // The stage in force (the set's or the station's), when there is one.
    auto *stageLabel = new QLabel(body);
    m_stage = new QLabel(body);
    m_stage->setObjectName(QStringLiteral("stageLabel"));
    translated([this, stageLabel] {
        stageLabel->setText(tr("工序："));
        showStage();
    });
    form->addRow(stageLabel, m_stage);
    layout->addLayout(form);

    auto *big = new QHBoxLayout;
    m_verdict = new QLabel(QStringLiteral("—"), body);
    m_verdict->setObjectName(QStringLiteral("cellVerdictLabel"));
    QFont font = m_verdict->font();
    font.setPointSize(20); // the large one is over the plot; this one fits the cell's column
    font.setBold(true);
    m_verdict->setFont(font);
    m_grade = new QLabel(body);
    m_grade->setObjectName(QStringLiteral("cellGradeLabel"));
    m_grade->setFont(font);
    big->addWidget(m_verdict);
    big->addWidget(m_grade);
    big->addStretch();
    layout->addLayout(big);
    m_note = new QLabel(body);
    m_note->setObjectName(QStringLiteral("stationNote"));
    m_note->setWordWrap(true);
    layout->addWidget(m_note);

}

void StationDock::addAlarm(QVBoxLayout *layout, QWidget *body, QMainWindow *window)
{
    // A control-chart signal: amber, until the operator acknowledges it.
    m_alarm = new QWidget(body);
    m_alarm->setObjectName(QStringLiteral("controlAlarm"));
    m_alarm->setAutoFillBackground(true);
    m_alarm->setStyleSheet(QStringLiteral("#controlAlarm { background: #f5b800; border-radius: 4px; }"));
    auto *alarmRow = new QHBoxLayout(m_alarm);
    m_alarmText = new QLabel(m_alarm);
    m_alarmText->setObjectName(QStringLiteral("controlAlarmText"));
    m_alarmText->setWordWrap(true);
    QFont alarmFont = m_alarmText->font();
    alarmFont.setBold(true);
    m_alarmText->setFont(alarmFont);
    auto *acknowledge = new QPushButton(m_alarm);
    acknowledge->setObjectName(QStringLiteral("acknowledgeSignalButton"));
    translated([acknowledge] { acknowledge->setText(tr("知道了 (F10)")); });
    alarmRow->addWidget(m_alarmText, 1);
    alarmRow->addWidget(acknowledge);
    m_alarm->hide();
    layout->addWidget(m_alarm);
    connect(acknowledge, &QPushButton::clicked, this, &StationDock::acknowledgeSignal);
    auto *acknowledgeKey = new QShortcut(Qt::Key_F10, window, nullptr, nullptr, Qt::ApplicationShortcut);
    connect(acknowledgeKey, &QShortcut::activated, this, &StationDock::acknowledgeSignal);
    m_chime = new QSound(QStringLiteral(":/wav/spc.wav"), this);
    m_signalSound = [this] { m_chime->play(); };
    m_chimeAgain = new QTimer(this);
    m_chimeAgain->setInterval(15000);
    connect(m_chimeAgain, &QTimer::timeout, this, [this] {
        if (m_signalSound)
            m_signalSound();
    });

}

void StationDock::addButtons(QVBoxLayout *layout, QWidget *body)
{
    auto *buttons = new QHBoxLayout;
    auto *capture = new QPushButton(body);
    capture->setObjectName(QStringLiteral("captureButton"));
    auto *voidButton = new QPushButton(body);
    voidButton->setObjectName(QStringLiteral("voidButton"));
    auto *lotButton = new QPushButton(body);
    lotButton->setObjectName(QStringLiteral("newLotButton"));
    translated([=] {
        capture->setText(tr("记录 (F9)"));
        voidButton->setText(tr("作废上一条"));
        lotButton->setText(tr("新批次…"));
    });
    buttons->addWidget(capture);
    buttons->addWidget(voidButton);
    buttons->addWidget(lotButton);
    layout->addLayout(buttons);

    connect(capture, &QPushButton::clicked, m_station, &CellRecorder::captureNow);
    connect(voidButton, &QPushButton::clicked, this, &StationDock::confirmVoid);
    connect(lotButton, &QPushButton::clicked, this, &StationDock::newLot);
}

// The lot's figures, control status, histogram and records.
void StationDock::addLotView(QVBoxLayout *figures, QVBoxLayout *layout, QWidget *body)
{
    m_stats = new QLabel(body);
    m_stats->setObjectName(QStringLiteral("lotStatsLabel"));
    m_stats->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_stats->setWordWrap(true);
    figures->addWidget(m_stats);
    m_control = new QLabel(body);
    m_control->setObjectName(QStringLiteral("controlStatusLabel"));
    m_control->setWordWrap(true);
    figures->addWidget(m_control);
    m_chart = new QCustomPlot(body);
    m_chart->setObjectName(QStringLiteral("lotControlChart"));
    m_chart->setMinimumSize(kChartMinimum);
    m_histogram = new QCustomPlot(body);
    m_histogram->setObjectName(QStringLiteral("lotHistogram"));
    m_histogram->setMinimumSize(kChartMinimum);
    translated([this] {
        m_chart->xAxis->setLabel(tr("本批次最近 %1 个记录").arg(kShown));
        m_chart->yAxis->setLabel(tr("R (mΩ)"));
        m_chart->replot();
        m_histogram->xAxis->setLabel(tr("R (mΩ)"));
        m_histogram->yAxis->setLabel(tr("数量"));
        m_histogram->replot();
    });
    layout->addWidget(m_chart);
    layout->addWidget(m_histogram);
    m_table = new RecordsTable(body);
    layout->addWidget(m_table, 1);
    auto *exportButton = new QPushButton(body);
    exportButton->setObjectName(QStringLiteral("exportLotButton"));
    translated([exportButton] { exportButton->setText(tr("导出…")); });
    connect(exportButton, &QPushButton::clicked, this, &StationDock::exportLot);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(exportButton);
    layout->addLayout(row);
}

void StationDock::exportLot()
{
    const QString lot = m_station->lot().isEmpty() ? QStringLiteral("lot") : m_station->lot();
    const QString path = QFileDialog::getSaveFileName(this, tr("导出本批次的记录"), QStringLiteral("cells-%1.csv").arg(lot),
                                                      tr("CSV 文件 (*.csv)"));
    refocus();
    if (path.isEmpty())
        return;
    QString error;
    // The byte-order mark keeps "Ω" and Chinese intact in spreadsheets.
    if (saveUtf8TextFile(path, QStringLiteral("\uFEFF") + RecordsTable::csvOf(m_station->records()), &error))
        say(tr("已导出到 %1").arg(QDir::toNativeSeparators(path)));
    else
        say(error, QStringLiteral("red"));
}

void StationDock::addMenu(QMainWindow *window)
{
    // The menu, in the menu bar the classic window leaves empty.
    QMenu *menu = window->menuBar()->addMenu(QString());
    menu->setObjectName(QStringLiteral("stationMenu"));
    QAction *captureAction = menu->addAction(QString(), m_station, &CellRecorder::captureNow);
    captureAction->setShortcut(Qt::Key_F9);
    captureAction->setShortcutContext(Qt::ApplicationShortcut);
    QAction *voidAction = menu->addAction(QString(), this, &StationDock::confirmVoid);
    QAction *lotAction = menu->addAction(QString(), this, &StationDock::newLot);
    QAction *reloadAction = menu->addAction(QString(), this, &StationDock::reloadSets);
    QAction *editAction = menu->addAction(QString(), this, &StationDock::editSet);
    QAction *passwordAction = menu->addAction(QString(), this, &StationDock::changePassword);
    QAction *packAction = menu->addAction(QString(), this, [this] {
        m_station->file()->writeWaitingNow(); // the lot's newest records on disk first
        auto *dialog = new match::PackDialog(m_station->file()->folder(), m_station->lot(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::finished, this, &StationDock::refocus);
        dialog->open();
    });
    // Named in both languages, so whoever reads one of them finds it; each
    // choice in its own language.
    QMenu *languages = menu->addMenu(QStringLiteral("语言 / Language"));
    languages->setObjectName(QStringLiteral("languageMenu"));
    auto *choices = new QActionGroup(languages);
    for (const auto &[name, choice] : {std::pair<QString, language::Language>(QStringLiteral("中文"), language::Language::Chinese),
                                       {QStringLiteral("English"), language::Language::English}}) {
        QAction *a = languages->addAction(name);
        a->setCheckable(true);
        a->setChecked(language::current() == choice);
        choices->addAction(a);
        const language::Language chosen = choice;
        connect(a, &QAction::triggered, this, [this, chosen] { emit languageChosen(chosen); });
    }
    menu->addAction(toggleViewAction());
    translated([=] {
        menu->setTitle(tr("工位"));
        captureAction->setText(tr("记录当前读数"));
        voidAction->setText(tr("作废上一条记录"));
        lotAction->setText(tr("新批次…"));
        reloadAction->setText(tr("重新载入限值组"));
        editAction->setText(tr("编辑限值组…"));
        passwordAction->setText(tr("设置编辑密码…"));
        packAction->setText(tr("配组…"));
    });

}

// The recorder's news on the dock, and the dock's entries to the recorder.
void StationDock::followRecorder()
{
    connect(m_cellId, &QLineEdit::returnPressed, this, [this] {
        m_station->enterCode(m_cellId->text());
        m_cellId->clear();
    });
    connect(m_sets, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { m_station->selectSet(m_sets->itemText(index)); });

    connect(m_station, &CellRecorder::recorded, this, &StationDock::showRecord);
    connect(m_station, &CellRecorder::statsChanged, this, &StationDock::showStats);
    connect(m_station, &CellRecorder::outOfControl, this, &StationDock::raiseSignal);
    connect(m_station, &CellRecorder::setSelected, this, &StationDock::showSet);
    connect(m_station, &CellRecorder::unsettled, this, [this] { say(tr("未稳定：读数未稳定就抬起了探针，没有记录"), QStringLiteral("darkorange")); });
    connect(m_station, &CellRecorder::note, this, [this](const QString &text) { say(text, "darkorange"); });
    connect(m_station, &CellRecorder::pendingIdChanged, this, [this](const QString &id) {
        if (!id.isEmpty())
            say(tr("下一个记录的编号：%1").arg(id));
        showNeed();
    });
    connect(m_station, &CellRecorder::duplicateId, this, &StationDock::askRemeasure);
    connect(m_station, &CellRecorder::lotStarted, this, [this] {
        // The last lot's verdict would stand beside the new lot's first cell.
        m_shownRecord.clear();
        m_verdict->setText(QStringLiteral("—"));
        m_verdict->setStyleSheet(QString());
        m_grade->clear();
    });
    connect(m_station, &CellRecorder::voidedRecord, this, [this](const QString &id) {
        if (id == m_shownRecord) {
            m_verdict->setText(tr("已作废"));
            m_verdict->setStyleSheet(QStringLiteral("QLabel { color: gray; }"));
            m_grade->clear();
        }
        say(tr("记录 %1 已作废").arg(id));
    });
}

void StationDock::showNeed()
{
    switch (m_station->need()) {
    case CellRecorder::Need::Lot: m_need->setText(tr("请先开始批次：点“新批次…”，输入批次名称")); break;
    case CellRecorder::Need::Id: m_need->setText(tr("先扫码")); break;
    case CellRecorder::Need::Nothing: m_need->clear(); break;
    }
    m_need->setVisible(!m_need->text().isEmpty());
}

void StationDock::refocus()
{
    m_cellId->setFocus(Qt::OtherFocusReason);
}

void StationDock::confirmVoid()
{
    const CellRecord *last = m_station->lastRecord();
    if (!last) {
        say(tr("本批次没有可作废的记录"));
        refocus();
        return;
    }
    const QString id = last->id;
    const QString question = last->cellId.isEmpty() ? tr("作废 记录 %1?").arg(id) : tr("作废 记录 %1 (%2)?").arg(id, last->cellId);
    // No is the default: an Enter that was not meant as an answer voids nothing.
    if (QMessageBox::question(this, tr("作废记录"), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes)
        m_station->voidRecord(id);
    refocus();
}

void StationDock::askRemeasure(const QString &cellId, const QString &earlier)
{
    QMessageBox box(QMessageBox::Question, tr("编号重复"),
                    tr("电池 %1 在本批次已有记录 %2。重测将作废之前的记录。").arg(cellId, earlier), QMessageBox::NoButton, this);
    QPushButton *again = box.addButton(tr("重测"), QMessageBox::AcceptRole);
    // Cancel is the default: an Enter that was not meant as an answer voids nothing.
    QPushButton *cancel = box.addButton(tr("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == again)
        m_station->remeasure(cellId);
    else
        say(tr("编号 %1 未采用").arg(cellId));
    refocus();
}

void StationDock::translated(std::function<void()> setTexts)
{
    setTexts();
    m_texts.push_back(std::move(setTexts));
}

void StationDock::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        for (const auto &setTexts : m_texts)
            setTexts();
        m_table->retranslate();
        showAlarms();
        m_note->clear(); // a note in the other language would stay so
        showStats(QString());
    }
    QDockWidget::changeEvent(event);
}

void StationDock::say(const QString &text, const QString &colour)
{
    m_note->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(colour));
    m_note->setText(text);
}

void StationDock::showRecord(const CellRecord &r)
{
    m_shownRecord = r.id;
    const bool ng = r.verdict == meter::Verdict::Ng;
    m_verdict->setText(r.verdict == meter::Verdict::None ? QStringLiteral("—") : verdictText(r.verdict));
    m_verdict->setStyleSheet(ng ? QStringLiteral("QLabel { color: red; }") : QStringLiteral("QLabel { color: green; }"));
    // The grade and where its cells go, in its colour; NG is said once.
    const LimitSet *set = m_station->activeSet();
    const Grade *grade = set && !ng ? set->grade(r.grade) : nullptr;
    m_grade->setText(ng ? QString() : StationVerdict::gradeAndBin(r, set));
    const QColor colour(grade ? grade->colour : QString());
    m_grade->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(colour.isValid() ? colour.name() : QStringLiteral("green")));
    const QString k = kText(r);
    say(tr("已记录 %1%2").arg(r.id, r.cellId.isEmpty() ? QString() : punctuation::aside(r.cellId))
        + (k.isEmpty() ? QString() : QStringLiteral(" · ") + k));
    // One sound per record, the scheme's PASS or NG.
    if (r.verdict != meter::Verdict::None && m_sound)
        m_sound(r.verdict);
    showNeed();
    refocus();
}

void StationDock::showControl()
{
    const stats::LotControl &c = m_station->control();
    if (c.stillNeeded() > 0) {
        m_control->setText(tr("控制图：本批次再记录 %1 个合格电池后确定控制限（共 %2 个），之后逐个判异").arg(c.stillNeeded()).arg(stats::LotControl::kBaseline));
        return;
    }
    auto limits = [](const stats::ControlLimits &l) {
        return l.valid ? tr("中心 %1，控制限 %2–%3").arg(number(l.centre), number(l.lcl()), number(l.ucl())) : QStringLiteral("—");
    };
    QString text = tr("控制图（前 %1 个合格电池定限）：R %2；V %3").arg(stats::LotControl::kBaseline).arg(limits(c.rLimits()), limits(c.vLimits()));
    if (!c.setAside().isEmpty())
        text += QLatin1Char('\n') + tr("定限时剔除了 %n 个超出试算控制限的记录：%1", nullptr, c.setAside().size())
                                      .arg(c.setAside().join(QStringLiteral(", ")));
    m_control->setText(text);
}

void StationDock::raiseSignal(const CellRecord &record, unsigned rRules, unsigned vRules)
{
    m_alarms.prepend({record.id, rRules, vRules});
    showAlarms();
    m_alarm->show();
    if (m_signalSound)
        m_signalSound();
    m_chimeAgain->start();
}

void StationDock::showAlarms()
{
    if (m_alarms.isEmpty())
        return;
    // Worded now, so a change of language words it again.
    const Alarm &a = m_alarms.first();
    QStringList rules;
    for (const auto &[side, bits] : {std::pair<QString, unsigned>(QStringLiteral("R"), a.rRules), {QStringLiteral("V"), a.vRules}})
        for (int rule : stats::firedRules(bits))
            rules << tr("%1 规则 %2：%3").arg(side).arg(rule).arg(stats::ruleText(rule));
    const QString newest = tr("过程异常信号（记录 %1）：%2").arg(a.record, punctuation::clauses(rules));
    // The newest in full; how many more wait.
    m_alarmText->setText(m_alarms.size() > 1 ? tr("%1\n（另有 %n 条未确认）", nullptr, m_alarms.size() - 1).arg(newest) : newest);
}

void StationDock::acknowledgeSignal()
{
    if (m_alarms.isEmpty())
        return;
    say(tr("已确认 %1 条过程异常信号").arg(m_alarms.size()));
    m_alarms.clear();
    m_alarm->hide();
    m_chimeAgain->stop();
}

void StationDock::showStats(const QString &why)
{
    const stats::LotStats &s = m_station->stats();
    const LimitSet *set = m_station->activeSet();
    const double rLow = set && set->r.set ? set->r.lowValue() : NAN, rHigh = set && set->r.set ? set->r.highValue() : NAN;
    const double vLow = set && set->v.set ? set->v.lowValue() : NAN, vHigh = set && set->v.set ? set->v.highValue() : NAN;
    QStringList grades;
    for (auto it = s.grades.cbegin(); it != s.grades.cend(); ++it)
        grades << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
    QString text = tr("批次 %1　限值组 %2\nn = %3　PASS %4　NG %5　良率 %6\n等级 %7\n"
                      "R (mΩ)：均值 %8　σ %9　最小 %10　最大 %11　Pp %12　Ppk %13\n"
                      "V：均值 %14　σ %15　最小 %16　最大 %17　Pp %18　Ppk %19")
                       .arg(m_station->lot().isEmpty() ? QStringLiteral("—") : m_station->lot(),
                            set ? set->name : QStringLiteral("—"), QString::number(s.total()), QString::number(s.pass),
                            QString::number(s.ng), std::isfinite(s.yield()) ? number(s.yield() * 100, 1) + QLatin1Char('%') : QStringLiteral("—"),
                            grades.isEmpty() ? QStringLiteral("—") : grades.join(QStringLiteral("　")),
                            number(s.r.mean()), number(s.r.stddev()), number(s.r.min()))
                       .arg(number(s.r.max()), number(stats::pp(s.r, rLow, rHigh), 2), number(stats::ppk(s.r, rLow, rHigh), 2),
                            number(s.v.mean()), number(s.v.stddev()), number(s.v.min()), number(s.v.max()),
                            number(stats::pp(s.v, vLow, vHigh), 2), number(stats::ppk(s.v, vLow, vHigh), 2));
    // Capability keeps every record; the charts scale to the bulk, so say
    // how many lie beyond the limits.
    int beyond = 0;
    for (double r : m_station->lotR())
        beyond += std::isfinite(rLow) && std::isfinite(rHigh) && !(r >= rLow && r <= rHigh);
    if (beyond > 0)
        text += QLatin1Char('\n') + tr("R 超出限值：%1 个记录（直方图两端红色）").arg(beyond);
    m_stats->setText(text);
    if (!why.isEmpty())
        say(why);
    showControl();
    showNeed();

    drawHistogram(m_histogram, m_station->lotR(), rLow, rHigh);
    drawControlChart(m_chart, m_station->records(), set ? set->name : QString(), m_station->control().rLimits());
    m_table->show(m_station->records());
}

void StationDock::showSet(const QString &setName)
{
    // The set's bounds reach the window's four fields through the limits in
    // force (CellRecorder::selectSet); the dock shows which set it is.
    const int index = m_sets->findText(setName);
    if (index >= 0)
        m_sets->setCurrentIndex(index);
    showStage();
}

void StationDock::showStage()
{
    const QString stage = m_station->stage();
    const LimitSet *set = m_station->activeSet();
    m_stage->setText(stage.isEmpty() ? QStringLiteral("—")
                     : set && !set->kFrom.isEmpty() ? tr("%1（K 由 %2 起算）").arg(stage, set->kFrom)
                                                    : stage);
}

QString StationDock::kText(const CellRecord &r) const
{
    if (std::isfinite(r.kMvDay))
        return tr("K %1 mV/天（静置 %2 天）").arg(QString::number(r.kMvDay, 'f', 3), QString::number(r.restDays, 'f', 1));
    if (r.kNote == QLatin1String(kNoEarlier))
        return tr("无 %1 记录").arg(m_station->activeSet() ? m_station->activeSet()->kFrom : QString());
    if (r.kNote == QLatin1String(kShortRest))
        return tr("静置 %1 天，不足 %2 天：无 K").arg(QString::number(r.restDays, 'f', 1))
            .arg(m_station->activeSet() ? m_station->activeSet()->minRestDays : 0);
    return QString();
}

void StationDock::newLot()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("新批次"), tr("批次名称："), QLineEdit::Normal,
                                               QDate::currentDate().toString(QStringLiteral("yyyyMMdd")), &ok);
    if (ok)
        m_station->startLot(name);
    refocus();
}

void StationDock::reloadSets()
{
    QString error;
    if (!m_station->sets().load(limitSetsPath(), &error))
        say(tr("限值组文件有误：%1").arg(error), "red");
    // A lock on a file the operator may write protects nothing: said once.
    if (error.isEmpty() && m_station->sets().locked() && !m_saidWritable && QFileInfo(limitSetsPath()).isWritable()) {
        m_saidWritable = true;
        say(tr("限值组已加锁，但 %1 对当前用户可写：锁只防误改，请让管理员拥有该文件、操作员只读")
                .arg(QDir::toNativeSeparators(QFileInfo(limitSetsPath()).absoluteFilePath())),
            "darkorange");
    }
    m_sets->clear();
    for (const LimitSet &set : m_station->sets().sets())
        m_sets->addItem(set.name);
    m_sets->setCurrentIndex(m_station->activeSet() ? m_sets->findText(m_station->activeSet()->name) : -1);
}

bool StationDock::unlocked()
{
    if (!m_station->sets().locked())
        return true;
    bool ok = false;
    const QString password = QInputDialog::getText(
        this, tr("限值组已锁定"),
        tr("编辑密码：\n（锁只防止在工位上误改；保护限值组文件的是文件权限：由管理员所有，操作员只读）"),
        QLineEdit::Password, QString(), &ok);
    if (ok && m_station->sets().unlocks(password))
        return true;
    if (ok)
        say(tr("密码不对，限值组未改动"), "red");
    return false;
}

void StationDock::editSet()
{
    if (!unlocked())
        return;
    // One dialog for a set: name, the four limits (blank: not set), and the
    // grades as rows. A name that exists replaces that set.
    QDialog dialog(this);
    dialog.setWindowTitle(tr("编辑限值组"));
    dialog.setMinimumWidth(560);
    auto *form = new QFormLayout(&dialog);
    const LimitSet *active = m_station->activeSet();
    auto field = [&](const QString &label, const QString &value) {
        auto *edit = new QLineEdit(value, &dialog);
        form->addRow(label, edit);
        return edit;
    };
    auto text = [](bool set, double value) { return set ? QString::number(value, 'g', 10) : QString(); };
    QLineEdit *name = field(tr("名称："), active ? active->name : QString());
    QLineEdit *rLow = field(tr("R 下限 (mΩ)："), active ? text(active->r.set, active->r.lowValue()) : QString());
    QLineEdit *rHigh = field(tr("R 上限 (mΩ)："), active ? text(active->r.set, active->r.highValue()) : QString());
    QLineEdit *vLow = field(tr("V 下限 (V)："), active ? text(active->v.set, active->v.lowValue()) : QString());
    QLineEdit *vHigh = field(tr("V 上限 (V)："), active ? text(active->v.set, active->v.highValue()) : QString());
    auto *grades = new QTableWidget(0, 5, &dialog);
    grades->setObjectName(QStringLiteral("gradesTable"));
    grades->setHorizontalHeaderLabels({tr("等级"), tr("R 下限 (mΩ)"), tr("R 上限 (mΩ)"), tr("料框"), tr("颜色")});
    grades->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grades->horizontalHeader()->setStretchLastSection(true);
    grades->verticalHeader()->hide();
    grades->setMinimumHeight(160);
    auto addGrade = [grades](const QStringList &cells) {
        const int row = grades->rowCount();
        grades->insertRow(row);
        for (int c = 0; c < 5; ++c)
            grades->setItem(row, c, new QTableWidgetItem(cells.value(c)));
    };
    if (active)
        for (const Grade &g : active->grades)
            addGrade({g.name, QString::number(g.rLow, 'g', 10), QString::number(g.rHigh, 'g', 10), g.bin, g.colour});
    auto *gradeButtons = new QHBoxLayout;
    auto *addRow = new QPushButton(tr("添加等级"), &dialog), *removeRow = new QPushButton(tr("删除所选等级"), &dialog);
    connect(addRow, &QPushButton::clicked, grades, [addGrade] { addGrade({}); });
    connect(removeRow, &QPushButton::clicked, grades, [grades] { grades->removeRow(grades->currentRow()); });
    gradeButtons->addWidget(addRow);
    gradeButtons->addWidget(removeRow);
    gradeButtons->addStretch();
    form->addRow(new QLabel(tr("等级（R 的区间，PASS 的电池按第一个包含它的等级分档）："), &dialog));
    form->addRow(grades);
    form->addRow(gradeButtons);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, &dialog);
    form->addRow(box);
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    refocus();
    if (!accepted || name->text().trimmed().isEmpty())
        return;
    LimitSet set;
    set.name = name->text().trimmed();
    auto bound = [](QLineEdit *low, QLineEdit *high) {
        Bound b;
        bool okLow = false, okHigh = false;
        b.low = low->text().toDouble(&okLow);
        b.high = high->text().toDouble(&okHigh);
        b.set = okLow && okHigh;
        return b;
    };
    set.r = bound(rLow, rHigh);
    set.v = bound(vLow, vHigh);
    for (int row = 0; row < grades->rowCount(); ++row) {
        auto cell = [grades, row](int c) { return grades->item(row, c) ? grades->item(row, c)->text().trimmed() : QString(); };
        Grade g;
        g.name = cell(0);
        bool okLow = false, okHigh = false;
        g.rLow = cell(1).toDouble(&okLow);
        g.rHigh = cell(2).toDouble(&okHigh);
        g.bin = cell(3);
        g.colour = cell(4);
        const bool blank = g.name.isEmpty() && cell(1).isEmpty() && cell(2).isEmpty();
        if (blank)
            continue; // a row added and left empty
        if (g.name.isEmpty() || !okLow || !okHigh || g.rLow > g.rHigh) {
            say(tr("等级第 %1 行不完整或下限高于上限，未保存").arg(row + 1), QStringLiteral("red"));
            return;
        }
        set.grades.append(g);
    }
    m_station->sets().put(set);
    QString error;
    if (!m_station->sets().save(limitSetsPath(), &error)) {
        say(tr("限值组未能保存：%1").arg(error), "red");
        return;
    }
    reloadSets();
    m_station->selectSet(set.name);
}

void StationDock::changePassword()
{
    if (!unlocked())
        return;
    bool ok = false;
    const QString password = QInputDialog::getText(
        this, tr("设置编辑密码"),
        tr("新密码（留空则不锁定）：\n（锁只防止在工位上误改；要防止改动，请让管理员拥有 limitsets.json，操作员只读）"),
        QLineEdit::Password, QString(), &ok);
    refocus();
    if (!ok)
        return;
    m_station->sets().setPassword(password); // only its hash is kept
    QString error;
    if (!m_station->sets().save(limitSetsPath(), &error))
        say(tr("限值组未能保存：%1").arg(error), "red");
}

} // namespace station
