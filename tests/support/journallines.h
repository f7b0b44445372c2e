#ifndef JOURNALLINES_H
#define JOURNALLINES_H

// Journal day files as the journal writes them, and the readings' numbers
// found in a file or received from a broker: for tests of what reaches whom.
#include "broker.h"
#include "journal/csvrecords.h"
#include "journal/journal.h"

#include <QJsonObject>
#include <QSet>

// n readings numbered from first.
inline QByteArray journalLines(int first, int n)
{
    QByteArray out;
    for (int i = first; i < first + n; ++i)
        out += QString("2026-12-07T08:00:00.000+00:00,S1,tty,%1,15,3.7,,15.0000mΩ,3.7000V,AUTO,AUTO,,,,,\n").arg(i).toUtf8();
    return out;
}

// A whole day file: the byte-order mark, the header, the readings.
inline QByteArray journalFile(int first, int n)
{
    return QByteArray("\xEF\xBB\xBF") + journal::kHeader + '\n' + journalLines(first, n);
}

inline QSet<int> seqsIn(const QByteArray &file)
{
    QSet<int> seqs;
    for (const QByteArray &line : file.split('\n').mid(1))
        if (!line.isEmpty() && line != journal::kHeader)
            seqs.insert(journal::csvFields(line).value(3).toInt());
    return seqs;
}

inline QSet<int> seqsReceived(Subscriber &sub)
{
    sub.ids();
    QSet<int> seqs;
    for (const QJsonObject &o : sub.all())
        if (o.contains("seq")) // a reading, not a tally
            seqs.insert(o.value("seq").toInt());
    return seqs;
}

#endif // JOURNALLINES_H
