#include "consoleview.h"

#include "storage/overflowlog.h"
#include "textcap.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

namespace {
constexpr qint64 kSpacingMs = 100;
}

ConsoleView::ConsoleView(QTextEdit *edit, std::function<QString()> overflowFolder, QObject *parent)
    : QObject(parent), m_edit(edit), m_overflowFolder(std::move(overflowFolder))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ConsoleView::flush);
}

ConsoleView::~ConsoleView() = default;

void ConsoleView::add(int type, const QString &data)
{
    const QString line = console::formatLine(m_clock.now(), type, data);
    if (!m_runs.isEmpty() && m_runs.last().type == type) {
        Run &run = m_runs.last();
        run.text += QLatin1Char('\n');
        run.text += line;
        ++run.lines;
    } else {
        m_runs.append({type, line, 1});
    }
    ++m_waiting;
    if (m_timer.isActive())
        return;
    const qint64 since = m_lastUpdate.isValid() ? m_lastUpdate.elapsed() : kSpacingMs;
    if (since >= kSpacingMs)
        flush();
    else
        m_timer.start(int(kSpacingMs - since));
}

void ConsoleView::flush()
{
    m_timer.stop();
    if (m_runs.isEmpty())
        return;
    m_lastUpdate.start();
    QVector<Run> runs;
    std::swap(runs, m_runs);
    const int count = m_waiting;
    m_waiting = 0;

    // One who reads the newest lines keeps reading them; one who scrolled up stays put.
    QScrollBar *bar = m_edit->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    QTextDocument *document = m_edit->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QColor colour;
    for (const Run &run : qAsConst(runs)) {
        colour = QColor(console::lineColour(run.type));
        QTextCharFormat format;
        format.setForeground(colour);
        if (!document->isEmpty())
            cursor.insertBlock();
        // Inserted as plain text: a datagram is shown character for
        // character, never interpreted as markup.
        cursor.insertText(run.text, format);
    }
    cursor.endEditBlock();
    m_edit->setTextColor(colour);
    emit shown(count);
    trim();
    if (following)
        bar->setValue(bar->maximum());
}

void ConsoleView::clear()
{
    m_timer.stop();
    m_runs.clear();
    m_waiting = 0;
    m_edit->clear();
    // What moved before now is the overflow file's alone; the next move starts another.
    m_overflow.reset();
    m_noticeShown = false;
    m_retry.invalidate();
}

QString ConsoleView::overflowPath() const
{
    return m_overflow && m_overflow->linesWritten() > 0 ? m_overflow->path() : QString();
}

QString ConsoleView::shownText() const
{
    QString text = m_edit->toPlainText();
    if (m_noticeShown)
        text.remove(0, text.indexOf(QLatin1Char('\n')) + 1);
    return text;
}

void ConsoleView::trim()
{
    QTextDocument *document = m_edit->document();
    const OldestLines oldest = linesPastCap(document, m_noticeShown, m_cap);
    if (oldest.count == 0 || (m_retry.isValid() && m_retry.elapsed() < 5000))
        return;
    if (!m_overflow)
        m_overflow.reset(new OverflowLog(m_overflowFolder(), QDateTime::currentDateTime(),
                                         QStringLiteral("'console-'yyyy-MM-dd-HHmmss'.txt'")));
    QString reason;
    if (!m_overflow->append(oldest.text, &reason)) {
        m_retry.start(); // again after a while, not per update
        emit trouble(QCoreApplication::translate("MainWindow", "接收窗口已满，较早的行未能移到文件（%1），暂留在窗口中").arg(reason));
        return;
    }
    m_retry.invalidate();
    replaceOldestLines(document, m_noticeShown, oldest.count,
                       QCoreApplication::translate("MainWindow", "…… 较早的 %1 行已移到 %2")
                           .arg(QString::number(m_overflow->linesWritten()), QDir::toNativeSeparators(m_overflow->path())));
    m_noticeShown = true;
}
