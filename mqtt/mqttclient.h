#ifndef MQTTCLIENT_H
#define MQTTCLIENT_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <memory>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace mqtt {

struct ClientSettings
{
    QString host;
    int port = 1883;
    QString clientId;
    int keepAlive = 30;
    QString caFile, certFile, keyFile; // TLS when caFile is set
    QString user, password;
    int answerTimeoutS = 10; // a broker that takes the connection and says nothing
};

// libmosquitto driven by its own network thread (mosquitto_loop_start): the
// library then keeps the connection, reconnects with back-off and answers
// pings without the GUI thread, and a stalled event loop never drops the
// link. Its callbacks are posted to this object's thread as signals, each
// marked with the connection it belongs to: an acknowledgement of an old
// connection never reaches the messages of a new one.
class Client : public QObject
{
    Q_OBJECT

public:
    explicit Client(QObject *parent = nullptr);
    ~Client() override;

    // Starts connecting (and reconnecting); false with the reason when the
    // settings cannot even be applied (a TLS file missing, ...).
    bool start(const ClientSettings &settings, QString *error);
    // Disconnects and waits for the network thread to end (never cancels it:
    // that could leave the library's locks held). A thread stuck in a
    // connect to a host that never answers is waited for a few seconds, then
    // left to end, and clean up, by itself.
    void stop();
    bool isConnected() const { return m_connected; }
    // QoS 1; returns the message id, or -1 with the reason.
    int publish(const QString &topic, const QByteArray &payload, QString *error);
    // Topics subscribed to (QoS 1) on every connection; set before start().
    void setSubscriptions(const QStringList &topics)
    {
        m_subscribed.clear();
        for (const QString &topic : topics)
            m_subscribed.push_back(topic.toUtf8());
    }
    // Whether a topic can be published to (no "+" or "#", valid UTF-8, not
    // too long); false with the reason.
    static bool topicIsValid(const QString &topic, QString *reason);

signals:
    void connected();
    void disconnected(const QString &reason);
    // Something the library reported that the operator needs to read (a
    // TLS handshake refused, a broker not there); the link may still be up.
    void problem(const QString &reason);
    void acknowledged(int mid);
    // A message on one of the subscriptions.
    void message(const QString &topic, const QByteArray &payload);

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    // Runs f on this object's thread unless the connection it came from is
    // no longer the current one.
    template <typename F>
    void post(quint64 generation, F f);
    // Runs f with the client behind the library's userdata, unless it stopped.
    template <typename F>
    static void withClient(void *self, F f);
    void noAnswer();

    // What the library's thread is handed: the client, or nothing once the
    // client stopped (a thread still ending then posts to no one).
    struct Link;
    std::shared_ptr<Link> m_link;
    mosquitto *m_mosq = nullptr;
    bool m_connected = false;
    // Raised by every start, stop and new connection, in the library's thread too.
    std::atomic<quint64> m_generation {0};
    QTimer m_answerTimer;
    bool m_problemSinceAttempt = false;
    QString m_where;
    int m_answerTimeoutS = 10;
    std::vector<QByteArray> m_subscribed; // read by the library's thread: fixed while it runs
};

} // namespace mqtt

#endif // MQTTCLIENT_H
