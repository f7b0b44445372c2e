#ifndef INGEST_REPAIR_H
#define INGEST_REPAIR_H

#include "messagesource.h"

#include <QDate>
#include <QHash>
#include <QThreadPool>
#include <QTimer>
#include <QVector>

#include <functional>

// Filling what a broker lost: the database's line_gaps view lists the lines
// of each station-day it lacks between lines that arrived; a gap that stays
// for a while (its lines are not merely on their way) is asked of its
// station on zentrel/<station>/replay, and the station sends those lines
// again. Exactly-once in the database drops whatever was there already.
namespace ingest {

struct Gap
{
    QString station, stream;
    QDate day;
    qint64 first = 0, last = 0;
};

// Which gaps to ask for now: one seen for ageMs, and again while it stays,
// retryMs after the first ask and twice as long after each further one (at
// most an hour): a line nothing can fill (torn by a power cut) is asked
// rarely. A gap that closed is forgotten.
class RepairPlan
{
public:
    RepairPlan(qint64 ageMs, qint64 retryMs) : m_ageMs(ageMs), m_retryMs(retryMs) {}
    QVector<Gap> due(const QVector<Gap> &gaps, qint64 nowMs);

private:
    struct Seen
    {
        qint64 since = 0;
        qint64 asked = -1;
        int times = 0;
    };
    qint64 m_ageMs, m_retryMs;
    QHash<QString, Seen> m_seen;
};

// The gaps the database sees (at most the first 1,000), on a connection of
// its own; false with the reason.
bool readLineGaps(const QString &conninfo, QVector<Gap> *gaps, QString *error);

class Repairer : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<qint64()>;
    using Reader = std::function<bool(QVector<Gap> *, QString *)>;
    // Reads the gaps by reader off this thread, every half ageMs (at most
    // every 30 s), and sends what is due through source.
    Repairer(Reader reader, qint64 ageMs, MessageSource *source, std::function<void(const QString &)> say, Clock clock = {},
             QObject *parent = nullptr);
    ~Repairer() override;
    void start();
    int asked() const { return m_asked; }

private:
    void poll();
    void got(const QVector<Gap> &gaps, const QString &error);

    Reader m_reader;
    RepairPlan m_plan;
    MessageSource *m_source;
    std::function<void(const QString &)> m_say;
    Clock m_clock;
    QTimer m_timer;
    QThreadPool m_pool;
    bool m_busy = false;
    QString m_failure;
    int m_asked = 0;
};

} // namespace ingest

#endif // INGEST_REPAIR_H
