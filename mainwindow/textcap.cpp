#include "textcap.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace {

QTextCursor oldest(QTextDocument *document, bool noticeShown, int count)
{
    const int first = noticeShown ? 1 : 0;
    QTextCursor cursor(document->findBlockByNumber(first));
    // The selection ends at the start of the first line that stays.
    cursor.setPosition(document->findBlockByNumber(first + count).position(), QTextCursor::KeepAnchor);
    return cursor;
}

} // namespace

OldestLines linesPastCap(const QTextDocument *document, bool noticeShown, int cap)
{
    OldestLines lines;
    const int held = document->blockCount() - (noticeShown ? 1 : 0);
    if (held <= cap + qMax(1, cap / 20))
        return lines;
    lines.count = held - cap;
    lines.text = oldest(const_cast<QTextDocument *>(document), noticeShown, lines.count).selection().toPlainText();
    if (lines.text.endsWith(QLatin1Char('\n')))
        lines.text.chop(1);
    return lines;
}

void replaceOldestLines(QTextDocument *document, bool noticeShown, int count, const QString &notice)
{
    // One edit: the text layout is redone once for the removal and the
    // notice. (The windows keep no undo, so nothing moved stays in memory.)
    QTextCursor cursor = oldest(document, noticeShown, count);
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    cursor.movePosition(QTextCursor::Start);
    if (noticeShown) {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    } else {
        cursor.insertBlock();
        cursor.movePosition(QTextCursor::Start);
    }
    cursor.insertText(notice);
    cursor.endEditBlock();
}
