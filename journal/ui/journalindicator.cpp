#include "journalindicator.h"
#include "platform/punctuation.h"

#include <QCoreApplication>
#include <QEvent>

#include "journal/dailycsv.h"

#include <QStatusBar>

namespace journal {

JournalIndicator::JournalIndicator(DailyCsv *journal, QStatusBar *bar) : QLabel(bar), m_journal(journal)
{
    setObjectName(QStringLiteral("journalIndicator"));
    setStyleSheet(QStringLiteral("QLabel { color: red; }"));
    bar->addPermanentWidget(this);
    connect(journal, &DailyCsv::stateChanged, this, &JournalIndicator::refresh);
    refresh();
}

void JournalIndicator::refresh()
{
    QString text;
    if (m_journal->paused())
        text = QCoreApplication::translate("Journal", "记录暂停：%1（%2 条读数在内存中等待写入）").arg(m_journal->reason()).arg(m_journal->waiting());
    if (m_journal->notJournaled() > 0)
        text += (text.isEmpty() ? QString() : QCoreApplication::translate("Punctuation", "；"))
                + QCoreApplication::translate("Journal", "%1 条读数未能记录").arg(m_journal->notJournaled());
    setText(text);
    setToolTip(m_journal->paused() ? QCoreApplication::translate("Journal", "记录文件夹：%1").arg(m_journal->folder()) : QString());
    setVisible(!text.isEmpty());
}

} // namespace journal

namespace journal {

void JournalIndicator::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        refresh();
    QLabel::changeEvent(event);
}

} // namespace journal
