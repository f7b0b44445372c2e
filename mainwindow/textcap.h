#ifndef TEXTCAP_H
#define TEXTCAP_H

#include <QString>

class QTextDocument;

// A text window kept to a number of lines: past the cap (and a twentieth of
// it more, so lines leave in blocks, not one by one) the oldest lines leave,
// and a notice as the first line says where they went.
struct OldestLines
{
    int count = 0; // none while the window is within its cap
    QString text;  // joined by '\n'
};
// The lines that should leave, after the notice line when there is one.
OldestLines linesPastCap(const QTextDocument *document, bool noticeShown, int cap);
// Removes the first count lines after the notice line and writes the notice
// (a first line of its own when there was none), in one edit.
void replaceOldestLines(QTextDocument *document, bool noticeShown, int count, const QString &notice);

#endif // TEXTCAP_H
