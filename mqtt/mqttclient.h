#ifndef MQTTCLIENT_H
#define MQTTCLIENT_H

#include <QObject>
#include <QString>

struct mosquitto;

namespace mqtt {

struct ClientSettings
{
    QString host;
    int port = 1883;
    QString clientId;
    int keepAlive = 30;
    QString caFile, certFile, keyFile; // TLS when caFile is set
    QString user, password;
};

// libmosquitto driven by its own network thread (mosquitto_loop_start): the
// library then keeps the connection, reconnects with back-off and answers
// pings without the GUI thread, and a stalled event loop never drops the
// link. Its callbacks are posted to this object's thread as signals.
class Client : public QObject
{
    Q_OBJECT

public:
    explicit Client(QObject *parent = nullptr);
    ~Client() override;

    // Starts connecting (and reconnecting); false with the reason when the
    // settings cannot even be applied (a TLS file missing, ...).
    bool start(const ClientSettings &settings, QString *error);
    void stop();
    bool isConnected() const { return m_connected; }
    // QoS 1; returns the message id, or -1 with the reason.
    int publish(const QString &topic, const QByteArray &payload, QString *error);

signals:
    void connected();
    void disconnected(const QString &reason);
    void acknowledged(int mid);

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    mosquitto *m_mosq = nullptr;
    bool m_connected = false;
};

} // namespace mqtt

#endif // MQTTCLIENT_H
