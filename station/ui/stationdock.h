#ifndef STATIONDOCK_H
#define STATIONDOCK_H

#include <QDockWidget>
#include <QSize>

#include "meter/judgement.h"
#include "settings/language.h"

#include <QVector>

#include <functional>
#include <vector>

class QMainWindow;
class QVBoxLayout;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QComboBox;
class QSound;
class QPushButton;
class QTimer;

namespace station {

class CellRecorder;
class RecordsTable;
struct CellRecord;

// Station mode on screen: a dock beside the specified window (the operator
// can move it right or bottom) and a "工位" menu. Usable by keyboard alone:
// a scanner types into the cell field and presses Enter, F9 captures.
class StationDock : public QDockWidget
{
    Q_OBJECT

public:
    // The cell's column, and the least a chart takes, in pixels.
    static constexpr int kCellColumnWidth = 280;
    static constexpr QSize kChartMinimum {260, 120};

    StationDock(CellRecorder *station, QMainWindow *window);
    // What plays a record's sound (the window's scheme); none: silent.
    void setVerdictSound(std::function<void(meter::Verdict)> play) { m_sound = std::move(play); }
    // What plays the control charts' chime (its own, not a verdict's); by
    // default the dock's own sound.
    void setSignalSound(std::function<void()> play) { m_signalSound = std::move(play); }

signals:
    // The operator chose a language in the menu (whoever installs it says so
    // to every widget through Qt's LanguageChange).
    void languageChosen(language::Language language);

protected:
    void changeEvent(QEvent *event) override;

private:
    // The dock's parts, built in this order.
    void addEntry(QVBoxLayout *layout, QWidget *body);
    void addAlarm(QVBoxLayout *layout, QWidget *body, QMainWindow *window);
    void addButtons(QVBoxLayout *layout, QWidget *body);
    void addLotView(QVBoxLayout *figures, QVBoxLayout *layout, QWidget *body);
    void addMenu(QMainWindow *window);
    void followRecorder();
    // Sets texts now and again whenever the language changes.
    void translated(std::function<void()> setTexts);
    void showRecord(const CellRecord &record);
    void showStats(const QString &why);
    void showSet(const QString &setName);
    void showStage();
    // A record's K, or why it has none, in the operator's words ("" when its set asks for none).
    QString kText(const station::CellRecord &r) const;
    void showControl();
    void raiseSignal(const CellRecord &record, unsigned rRules, unsigned vRules);
    void showAlarms();
    void exportLot();
    void acknowledgeSignal();
    void newLot();
    void confirmVoid();
    void askRemeasure(const QString &cellId, const QString &earlier);
    // What a record waits for, said above the ID field; the field takes focus.
    void showNeed();
    void refocus();
    void reloadSets();
    void editSet();
    void changePassword();
    bool unlocked();
    void say(const QString &text, const QString &colour = QStringLiteral("black"));

    CellRecorder *m_station;
    QMainWindow *m_window; // only its public QMainWindow side
    std::function<void(meter::Verdict)> m_sound;
    std::function<void()> m_signalSound;
    QSound *m_chime = nullptr;
    QTimer *m_chimeAgain = nullptr; // the chime again while no one has acknowledged
    QWidget *m_alarm = nullptr;
    QLabel *m_alarmText = nullptr;
    struct Alarm
    {
        QString record;
        unsigned rRules, vRules;
    };
    QVector<Alarm> m_alarms;        // not yet acknowledged, newest first; worded when shown
    QLabel *m_control = nullptr;
    QLineEdit *m_cellId;
    QLabel *m_need;
    QLabel *m_stage = nullptr;
    QString m_shownRecord; // the record the large verdict shows
    QComboBox *m_sets;
    QLabel *m_verdict;
    QLabel *m_grade;
    QLabel *m_note;
    QLabel *m_stats;
    QCustomPlot *m_histogram;
    QCustomPlot *m_chart;
    RecordsTable *m_table;
    bool m_saidWritable = false;
    std::vector<std::function<void()>> m_texts;
};

// Where the limit sets live: limitsets.json beside config.ini.
QString limitSetsPath();

} // namespace station

#endif // STATIONDOCK_H
