#ifndef INGEST_SUBSCRIBER_H
#define INGEST_SUBSCRIBER_H

#include "messagesource.h"
#include "mqtt/linkfault.h"

#include <QSocketNotifier>
#include <QStringList>
#include <QElapsedTimer>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace mqtt {
class TlsWatch;
}

// The stations' topics from the broker, each message acknowledged only when
// the owner says everything taken so far is kept.
//
// libmosquitto answers a QoS 1 message with its PUBACK as it reads it; the
// answer is only queued, though, when the library is told the application
// drives its own network loop (mosquitto_threaded_set) and written when
// mosquitto_loop_write is called. So messages are read with
// mosquitto_loop_read, and written out (acknowledgements, pings, the
// subscription) only through acknowledge(), which the owner calls after its
// commit. A connection that ends takes its unwritten acknowledgements with it
// and the broker sends those messages again (persistent session: a fixed
// client id, MQTT 5 with a session that never expires).
//
// One session has one reader: two clients with one id take it from each
// other at every reconnect. Between ingests the plant database decides (an
// ingest starts this only once it holds its name there); a client of
// another kind taking the session is named once the broker has closed the
// connection several times soon after accepting it.
namespace ingest {

struct SubscriberSettings
{
    QString host;
    int port = 1883;
    QString clientId = QStringLiteral("zentrel-ingest");
    QStringList topics;
    // Non-empty: the topics taken through MQTT 5 shared subscriptions of
    // this group ($share/GROUP/...): the ingests of one group split the
    // messages between them.
    QString share;
    int keepAlive = 30;
    QString caFile, certFile, keyFile, user, password;
};

class Subscriber : public MessageSource
{
    Q_OBJECT

public:
    explicit Subscriber(const SubscriberSettings &settings, QObject *parent = nullptr);
    ~Subscriber() override;

    bool check(QString *error) const override;
    // Connects (and keeps reconnecting with back-off).
    bool start(const Taker &take, QString *error) override;
    bool isConnected() const { return m_connected; }
    void setPaused(bool paused) override;
    void acknowledge() override;
    int unacknowledged() const override { return m_taken; }
    void stop() override;
    // Goes out with the next acknowledgement (at once when none waits).
    bool send(const QString &topic, const QByteArray &payload, QString *error) override;
    QString where() const override { return QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port); }

private:
    static void onConnect(struct mosquitto *, void *self, int rc, int flags, const struct mqtt5__property *);
    static void onDisconnect(struct mosquitto *, void *self, int rc, const struct mqtt5__property *);
    static void onSubscribe(struct mosquitto *, void *self, int mid, int count, const int *granted, const struct mqtt5__property *);
    static void onMessage(struct mosquitto *, void *self, const struct mosquitto_message *message,
                          const struct mqtt5__property *);
    static void onLog(struct mosquitto *, void *self, int level, const char *text);
    void read();
    void tick();
    void beginAttempt();
    void lost(const QString &reason);
    QString failure(int rc);
    // TLS and the user.
    bool configure(struct mosquitto *mosq, QString *why);
    QString takenAway(const QString &reason);
    void watchSocket();
    void reconnect();

    SubscriberSettings m_settings;
    struct mosquitto *m_mosq = nullptr;
    Taker m_take;
    std::unique_ptr<QSocketNotifier> m_readable, m_writable;
    QTimer m_tick;
    QTimer m_retry;
    int m_backoffMs = 500;
    int m_subscribing = 0; // subscriptions the broker has not confirmed yet
    bool m_connected = false;
    bool m_paused = false;
    bool m_resting = false; // a short rest in a backlog, so the socket fills
    int m_taken = 0;
    QString m_state;
    QElapsedTimer m_clock;
    QVector<qint64> m_dropsAfterConnect; // ms, the last minute's connections the broker closed
    qint64 m_connectedAtMs = -1;
    std::unique_ptr<mqtt::TlsWatch> m_tls;
    mqtt::AttemptNotes m_notes; // the current attempt's, for its failure's words
    qint64 m_attemptAtMs = 0;
};

} // namespace ingest

#endif // INGEST_SUBSCRIBER_H
