#include "ingester.h"

#include "messages.h"

namespace ingest {

Ingester::Ingester(const IngestSettings &settings, std::function<void(const QString &)> say, QObject *parent)
    : QObject(parent), m_settings(settings), m_say(std::move(say)), m_subscriber(settings.mqtt)
{
    m_flush.setSingleShot(true);
    connect(&m_flush, &QTimer::timeout, this, &Ingester::commit);
    m_dbRetry.setSingleShot(true);
    connect(&m_dbRetry, &QTimer::timeout, this, &Ingester::openDatabase);
    connect(&m_subscriber, &Subscriber::taken, this, &Ingester::afterRead);
    connect(&m_subscriber, &Subscriber::stateChanged, this, [this](bool connected, const QString &reason) {
        const QString where = QStringLiteral("%1:%2").arg(m_settings.mqtt.host).arg(m_settings.mqtt.port);
        m_say(connected ? QStringLiteral("broker %1 connected").arg(where)
                        : QStringLiteral("broker %1 away: %2 (retrying)").arg(where, reason));
    });
}

bool Ingester::start(QString *error)
{
    // Nothing is read before the database can keep it.
    m_subscriber.setPaused(true);
    if (!m_subscriber.start([this](const QByteArray &t, const QByteArray &p) { take(t, p); }, error))
        return false;
    openDatabase();
    return true;
}

void Ingester::openDatabase()
{
    QString error;
    if (!m_db.open(m_settings.conninfo, &error)) {
        databaseAway(error);
        return;
    }
    m_dbBackoffMs = 500;
    if (m_dbState != QLatin1String("connected")) {
        m_dbState = QStringLiteral("connected");
        m_say(QStringLiteral("database connected"));
    }
    commit(); // what waited, then reading again
}

void Ingester::databaseAway(const QString &reason)
{
    m_subscriber.setPaused(true);
    m_db.close();
    if (m_dbState != reason) {
        m_dbState = reason;
        m_say(QStringLiteral("%1 (retrying; %2 messages wait uncommitted)").arg(reason).arg(m_batch.size()));
    }
    if (!m_dbRetry.isActive())
        m_dbRetry.start(m_dbBackoffMs);
    m_dbBackoffMs = std::min(m_dbBackoffMs * 2, 10000);
}

void Ingester::take(const QByteArray &topic, const QByteArray &payload)
{
    const QString table = tableForTopic(topic);
    Row row;
    QString reason;
    if (table.isEmpty())
        reason = QStringLiteral("not a reading, cell or pack topic");
    else if (rowFromJson(m_db.tables().value(table), payload, &row, &reason)) {
        row.topic = topic;
        row.payload = payload;
        m_batch.rows[table].append(row);
        return;
    }
    m_batch.rejects.append({topic, payload, reason});
}

void Ingester::afterRead()
{
    if (m_batch.size() >= m_settings.maxRows)
        commit();
    else if (m_batch.size() > 0 && !m_flush.isActive())
        m_flush.start(m_settings.maxDelayMs);
}

void Ingester::commit()
{
    m_flush.stop();
    if (!m_db.isOpen())
        return; // openDatabase commits when it is back
    if (m_batch.size() > 0) {
        qint64 inserted = 0;
        QString error;
        const int rows = m_batch.size() - m_batch.rejects.size();
        if (!m_db.write(m_batch, &inserted, &error)) {
            if (!m_db.isOpen()) {
                databaseAway(error);
                return;
            }
            writeOneByOne(); // a row the database refuses must not hold up the rest
        } else {
            m_inserted += quint64(inserted);
            m_duplicates += quint64(rows - inserted);
            m_rejected += quint64(m_batch.rejects.size());
            if (m_settings.verbose && rows > inserted)
                m_say(QStringLiteral("%1 duplicates dropped").arg(rows - inserted));
        }
        m_batch.clear();
    }
    m_subscriber.acknowledge();
    m_subscriber.setPaused(false);
}

void Ingester::writeOneByOne()
{
    Batch rest;
    rest.rejects = m_batch.rejects;
    for (auto it = m_batch.rows.cbegin(); it != m_batch.rows.cend(); ++it) {
        for (const Row &row : it.value()) {
            Batch one;
            one.rows[it.key()].append(row);
            qint64 inserted = 0;
            QString error;
            if (m_db.write(one, &inserted, &error)) {
                m_inserted += quint64(inserted);
                m_duplicates += quint64(1 - inserted);
            } else {
                rest.rejects.append({row.topic, row.payload, error});
            }
        }
    }
    qint64 none = 0;
    QString error;
    if (m_db.write(rest, &none, &error))
        m_rejected += quint64(rest.rejects.size());
    else
        m_say(QStringLiteral("%1 messages could not be kept, not even as rejects: %2").arg(rest.rejects.size()).arg(error));
}

void Ingester::finish()
{
    commit();
    m_subscriber.stop();
    m_db.close();
}

} // namespace ingest
