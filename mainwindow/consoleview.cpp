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
constexpr qint64 kBudgetMs = 50; // of laying out lines per screen update
constexpr size_t kSlice = 256;   // lines per insertion within it
}

ConsoleView::ConsoleView(QTextEdit *edit, std::function<QString()> overflowFolder, QObject *parent)
    : QObject(parent), m_edit(edit), m_overflowFolder(std::move(overflowFolder))
{
    // No undo: lines that moved to the overflow file must not stay in
    // memory as an undo step, and a console's history is not edited.
    m_edit->setUndoRedoEnabled(false);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ConsoleView::update);
}

ConsoleView::~ConsoleView() = default;

void ConsoleView::add(int type, const QString &data)
{
    m_waiting.push_back({type, console::formatLine(m_clock.now(), type, data)});
    if (m_waiting.size() >= size_t(m_maxWaiting))
        m_wasFull = true;
    if (m_timer.isActive())
        return;
    const qint64 since = m_lastUpdate.isValid() ? m_lastUpdate.elapsed() : kSpacingMs;
    if (since >= kSpacingMs)
        update();
    else
        m_timer.start(int(kSpacingMs - since));
}

void ConsoleView::flush()
{
    m_timer.stop();
    show(m_waiting.size());
}

void ConsoleView::update()
{
    // In slices, so a flood's update ends after its time and the rest waits.
    m_lastUpdate.start();
    QElapsedTimer spent;
    spent.start();
    while (!m_waiting.empty() && spent.elapsed() < kBudgetMs)
        show(kSlice);
    if (!m_waiting.empty())
        m_timer.start(int(kSpacingMs));
}

void ConsoleView::show(size_t lines)
{
    lines = std::min(lines, m_waiting.size());
    if (lines == 0)
        return;
    // One who reads the newest lines keeps reading them; one who scrolled up stays put.
    QScrollBar *bar = m_edit->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    QTextDocument *document = m_edit->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QColor colour;
    for (size_t i = 0; i < lines;) {
        // A run of one type: one insertion, one colour.
        const int type = m_waiting[i].type;
        QString run = m_waiting[i++].text;
        while (i < lines && m_waiting[i].type == type) {
            run += QLatin1Char('\n');
            run += m_waiting[i++].text;
        }
        colour = QColor(console::lineColour(type));
        QTextCharFormat format;
        format.setForeground(colour);
        // Console text needs no kerning or ligatures, and laying out the
        // lines unshaped halves their cost (scripts that need shaping still
        // get it).
        format.setFontStyleStrategy(QFont::PreferNoShaping);
        if (!document->isEmpty())
            cursor.insertBlock();
        // Inserted as plain text: a datagram is shown character for
        // character, never interpreted as markup.
        cursor.insertText(run, format);
    }
    cursor.endEditBlock();
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + std::ptrdiff_t(lines));
    m_edit->setTextColor(colour);
    emit shown(int(lines));
    trim();
    if (following)
        bar->setValue(bar->maximum());
    if (m_wasFull && m_waiting.size() < size_t(m_maxWaiting) / 2) {
        m_wasFull = false;
        emit roomAgain();
    }
}

void ConsoleView::clear()
{
    m_timer.stop();
    m_waiting.clear();
    if (m_wasFull) {
        m_wasFull = false;
        emit roomAgain();
    }
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
