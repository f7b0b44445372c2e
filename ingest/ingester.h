#ifndef INGEST_INGESTER_H
#define INGEST_INGESTER_H

#include "database.h"
#include "subscriber.h"

#include <QObject>
#include <QTimer>

#include <functional>

// The plant's intake: messages from the broker into the database in batches
// (at most maxRows rows or maxDelayMs apart), each batch committed before
// the broker hears that its messages arrived. With the database away,
// reading stops (the broker keeps the messages) and the batch waits; with the
// broker away, the subscriber reconnects. One line per change of state.
namespace ingest {

struct IngestSettings
{
    SubscriberSettings mqtt;
    QString conninfo;
    int maxRows = 5000;
    int maxDelayMs = 200;
    bool verbose = false;
};

class Ingester : public QObject
{
    Q_OBJECT

public:
    Ingester(const IngestSettings &settings, std::function<void(const QString &)> say, QObject *parent = nullptr);

    bool start(QString *error);
    // Commits what it holds (when the database is there) and leaves the broker cleanly.
    void finish();

    quint64 inserted() const { return m_inserted; }
    quint64 duplicates() const { return m_duplicates; }
    quint64 rejected() const { return m_rejected; }

private:
    void take(const QByteArray &topic, const QByteArray &payload);
    void afterRead();
    void commit();
    void writeOneByOne();
    void databaseAway(const QString &reason);
    void openDatabase();

    IngestSettings m_settings;
    std::function<void(const QString &)> m_say;
    Subscriber m_subscriber;
    Database m_db;
    Batch m_batch;
    QTimer m_flush;
    QTimer m_dbRetry;
    int m_dbBackoffMs = 500;
    QString m_dbState;
    quint64 m_inserted = 0, m_duplicates = 0, m_rejected = 0;
};

} // namespace ingest

#endif // INGEST_INGESTER_H
