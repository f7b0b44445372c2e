#ifndef MQTT_TALLY_H
#define MQTT_TALLY_H

#include "outbox.h"

#include <QDate>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVector>

#include <map>
#include <memory>

// What each station has in each day's file, told to the plant so that its
// gap audit sees lines it never got at the end of a file (nothing after
// them arrived to show the gap) and in files the cursor had left:
//   zentrel/<station>/tally  {"station":"A","stream":"readings","day":"2026-12-09","first":2,"last":456,"lines":455}
// first and last are line numbers in that file, lines how many of the
// station's lines lie between them (a file several meters share interleaves
// them). Counted from the files themselves by the outbox's own rules, not
// from what was sent: a line the publisher passed over is counted all the
// same. Only what the publisher answers for: days before its cursor whole,
// the cursor's day up to the cursor (what is merely waiting is no gap), and
// nothing from before the first start.
namespace mqtt {

struct StationTally
{
    qint64 first = 0, last = 0, lines = 0;
    bool operator==(const StationTally &o) const { return first == o.first && last == o.last && lines == o.lines; }
    bool operator!=(const StationTally &o) const { return !(*this == o); }
};

struct TallyMessage
{
    QString station, stream; // stream: readings, cells or packs
    QDate day;
    StationTally tally;
};
QByteArray tallyJson(const TallyMessage &m);

class Tallies
{
public:
    // streams: the publisher's outboxes, whose acknowledged positions bound
    // what is counted.
    Tallies(const QString &folder, const QVector<const Outbox *> &streams);

    // From where a saved state left off; false when there is none usable.
    bool restore(const QJsonObject &saved);
    // Every file counts from its end as it is now (a first start, or a
    // state that was lost): what is there was not the publisher's to send.
    void startAtEnd();
    QJsonObject toJson() const;
    // Counts on in the files that grew, for at most budgetMs; true when
    // more waits. The cursor's own day only withCursorDay: it grows all
    // day, and a tally a second of it would be traffic for nothing.
    bool countSome(int budgetMs, bool withCursorDay);
    // Tallies that changed since the broker last took them.
    QVector<TallyMessage> unsent(int max) const;
    // The broker took this one.
    void sent(const TallyMessage &m);
    // The tallies of the days up to `days` before each stream's cursor are
    // told again: a broker that restarted may have lost what it took.
    void retellRecent(int days);
    // Whether toJson() changed since the last call.
    bool takeChanged();

private:
    struct File
    {
        Position at;                          // counted up to here (line -1: not yet known)
        QMap<QString, StationTally> stations; // as counted
        QMap<QString, StationTally> told;     // as the broker took them
    };
    using Key = std::pair<QString, QDate>;    // stream, day
    // Counts one file on up to limit (an invalid day: to its end); true when
    // the budget ran out first.
    bool countFile(const Outbox &stream, File &file, const QDate &day, const Position &limit, const QElapsedTimer &budget, int budgetMs);
    QString pathOf(const Outbox &stream, const QDate &day) const;

    QString m_folder;
    QVector<const Outbox *> m_streams;
    std::map<Key, File> m_files;
    std::map<QString, std::unique_ptr<Outbox>> m_readers; // one per stream
    bool m_changed = false;
};

} // namespace mqtt

#endif // MQTT_TALLY_H
