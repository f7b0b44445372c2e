#ifndef CONSOLEVIEW_H
#define CONSOLEVIEW_H

#include "console/consoleformat.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

#include <functional>
#include <memory>

class OverflowLog;
class QTextEdit;

// What the UDP console's text edit shows. Lines come formatted, as the
// datagrams arrive, and wait; the edit takes them with the next screen
// update (at most 10 a second, at once after a quiet spell), a run of one
// colour per insertion, so a flood costs the layout once per run rather than
// once per datagram. An update lays out lines for at most 50 ms: in a flood
// the rest wait for the next one, so the window keeps answering, and past
// 200,000 waiting lines the owner stops reading (the system's buffer holds
// or drops the rest), so memory stays bounded. Past the cap the oldest
// lines move, synced, to an overflow file beside the console's saved files,
// named on the first line; a save writes that file's lines and then the
// shown ones, so it holds everything since the console was last cleared.
class ConsoleView : public QObject
{
    Q_OBJECT

public:
    ConsoleView(QTextEdit *edit, std::function<QString()> overflowFolder, QObject *parent = nullptr);
    ~ConsoleView() override;

    // A line of the type with its data, stamped now.
    void add(int type, const QString &data);
    // Shows every waiting line now, however many.
    void flush();
    // Too many lines wait: the owner should take no more until roomAgain().
    bool full() const { return m_wasFull; }
    void setMaxWaiting(int lines) { m_maxWaiting = lines; }
    // The edit, the lines waiting, and the overflow file's part in a save.
    void clear();
    int waiting() const { return int(m_waiting.size()); }
    void setCap(int lines) { m_cap = lines; }

    // Empty when no line moved since the last clear.
    QString overflowPath() const;
    // The shown lines, without the notice.
    QString shownText() const;

signals:
    void shown(int lines);
    void trouble(const QString &message);
    void roomAgain();

private:
    struct Line
    {
        int type;
        QString text;
    };
    void update();
    void show(size_t lines);
    void trim();

    QTextEdit *m_edit;
    std::function<QString()> m_overflowFolder;
    std::deque<Line> m_waiting;
    bool m_wasFull = false;
    QTimer m_timer;
    QElapsedTimer m_lastUpdate;
    int m_cap = 200000;
    int m_maxWaiting = 200000;
    std::unique_ptr<OverflowLog> m_overflow;
    bool m_noticeShown = false;
    QElapsedTimer m_retry;
    console::LineClock m_clock;
};

#endif // CONSOLEVIEW_H
