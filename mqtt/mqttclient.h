#ifndef MQTTCLIENT_H
#define MQTTCLIENT_H

#include <QObject>
#include <QString>
#include <QStringList>

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

// A connection to a broker kept by a network thread of its own, whatever
// ends it: every attempt is a fresh libmosquitto client driven by
// mosquitto_loop, and when it fails (refused, timed out, a TLS fault, a
// protocol error: libmosquitto's own loop gives up on the last two) the
// reason is said and the next attempt follows after a back-off (1 s, twice
// as long each time, at most 30 s; 1 s again after a connection that was
// up). A connect or handshake that takes longer than answerTimeoutS is one
// such failure. A stalled event loop never drops the link: the thread
// answers pings. Its callbacks are posted to this object's thread as
// signals, each marked with the connection it belongs to: an
// acknowledgement of an old connection never reaches the messages of a new one.
class Client : public QObject
{
    Q_OBJECT

public:
    explicit Client(QObject *parent = nullptr);
    ~Client() override;

    // Starts connecting (and reconnecting); false with the reason when the
    // settings cannot even be applied (a TLS file missing, a client
    // certificate without a CA file, ...).
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
    // The settings' faults that no attempt could mend; empty when none.
    static QString settingsFault(const ClientSettings &settings);

signals:
    void connected();
    // The connection ended or an attempt failed; the reason in the
    // operator's words. Another attempt follows.
    void disconnected(const QString &reason);
    void acknowledged(int mid);
    // A message on one of the subscriptions.
    void message(const QString &topic, const QByteArray &payload);

private:
    struct Link;
    static void onConnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    static void run(const std::shared_ptr<Link> &link);
    static bool attempt(Link &link);
    // Runs f on this object's thread unless the connection it came from is
    // no longer the current one.
    template <typename F>
    void post(quint64 generation, F f);
    // Runs f with the client behind the library's userdata, unless it stopped.
    template <typename F>
    static void withClient(Link &link, F f);

    // What the network thread is handed: the client, or nothing once the
    // client stopped (a thread still ending then posts to no one).
    std::shared_ptr<Link> m_link;
    bool m_connected = false;
    // Raised by every start, stop and new connection, in the network thread too.
    std::atomic<quint64> m_generation {0};
    std::vector<QByteArray> m_subscribed; // read by the network thread: fixed while it runs
};

} // namespace mqtt

#endif // MQTTCLIENT_H
