#include "subscriber.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>


#include "mqtt/linkfault.h"
#include "mqtt/tlswatch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>

namespace ingest {

namespace {

// Messages read per wake at most: the notifier wakes again while bytes wait.
constexpr int kReadsPerWake = 1024;
// In a backlog (this many messages held) a wake that found fewer than
// kFewPerWake rests kRestMs: the socket fills meanwhile, and both sides wake
// once per hundred messages rather than once per message.
constexpr int kBacklog = 1000;
constexpr int kFewPerWake = 64;
constexpr int kRestMs = 2;
// Connections the broker closed within kQuickMs of accepting them, kQuickDrops
// times in a minute: another client with this id is taking the session.
constexpr qint64 kQuickMs = 10000;
constexpr int kQuickDrops = 3;
// A connect or TLS handshake not answered within this is given up and tried again.
constexpr int kAnswerTimeoutS = 10;

} // namespace

Subscriber::Subscriber(const SubscriberSettings &settings, QObject *parent) : MessageSource(parent), m_settings(settings)
{
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &Subscriber::tick);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &Subscriber::reconnect);
}

Subscriber::~Subscriber()
{
    stop();
}

bool Subscriber::check(QString *error) const
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("MQTT %1:%2: %3").arg(m_settings.host).arg(m_settings.port).arg(why);
        return false;
    };
    if (m_settings.clientId.isEmpty() || m_settings.clientId.contains(QRegularExpression(QStringLiteral("[/+#]"))))
        return fail(QStringLiteral("--client-id %1 cannot name a topic level (no /, + or #)").arg(m_settings.clientId));
    if (m_settings.share.contains(QRegularExpression(QStringLiteral("[/+#]"))))
        return fail(QStringLiteral("--share %1 cannot name a topic level (no /, + or #)").arg(m_settings.share));
    // A client certificate goes only inside TLS: without a CA file the
    // connection would be plain text.
    if (m_settings.caFile.isEmpty() && (!m_settings.certFile.isEmpty() || !m_settings.keyFile.isEmpty()))
        return fail(QStringLiteral("--cert-file and --key-file need --ca-file (the broker's CA): without it the connection "
                                   "would be plain text"));
    if (m_settings.certFile.isEmpty() != m_settings.keyFile.isEmpty())
        return fail(QStringLiteral("--cert-file and --key-file go together"));
    for (const QString &file : {m_settings.caFile, m_settings.certFile, m_settings.keyFile}) {
        QFile f(file);
        if (!file.isEmpty() && !f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("TLS file %1 cannot be read: %2").arg(file, f.errorString()));
    }
    // A filter the broker refuses would leave the ingest "connected" and
    // taking nothing.
    for (const QString &topic : qAsConst(m_settings.topics)) {
        const QByteArray bytes = topic.toUtf8();
        if (mosquitto_sub_topic_check2(bytes.constData(), size_t(bytes.size())) != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("--topics %1 is no MQTT filter: + and # stand alone in a level (zentrel/+/reading), # only last")
                            .arg(topic));
    }
    return true;
}

bool Subscriber::start(const Taker &take, QString *error)
{
    m_take = take;
    m_clock.start();
    if (!check(error))
        return false;
    mosquitto_lib_init();
    m_mosq = mosquitto_new(m_settings.clientId.toUtf8().constData(), false, this);
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("MQTT %1:%2: %3").arg(m_settings.host).arg(m_settings.port).arg(why);
        return false;
    };
    if (!m_mosq)
        return fail(QStringLiteral("cannot create the client"));
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Many messages in flight, each waiting for its commit.
    mosquitto_int_option(m_mosq, MOSQ_OPT_RECEIVE_MAXIMUM, 65535);
    mosquitto_threaded_set(m_mosq, true); // acknowledgements wait in the queue until written
    QString why;
    if (!configure(m_mosq, &why))
        return fail(why);
    mosquitto_connect_v5_callback_set(m_mosq, &Subscriber::onConnect);
    mosquitto_disconnect_v5_callback_set(m_mosq, &Subscriber::onDisconnect);
    mosquitto_message_v5_callback_set(m_mosq, &Subscriber::onMessage);
    mosquitto_subscribe_v5_callback_set(m_mosq, &Subscriber::onSubscribe);
    mosquitto_log_callback_set(m_mosq, &Subscriber::onLog);
    m_tick.start();
    beginAttempt();
    mosquitto_property *properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, 0xFFFFFFFFu); // never expires
    const int rc = mosquitto_connect_bind_v5(m_mosq, m_settings.host.toUtf8().constData(), m_settings.port,
                                             m_settings.keepAlive, nullptr, properties);
    mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(failure(rc));
        return true; // the broker may come later
    }
    watchSocket();
    acknowledge(); // the CONNECT
    return true;
}

bool Subscriber::configure(struct mosquitto *mosq, QString *why)
{
    if (!m_settings.caFile.isEmpty()) {
        m_tls = std::make_unique<mqtt::TlsWatch>(m_settings.host);
        // libmosquitto runs this client's handshake blocking: a broker that
        // takes the connection and never answers must not hold it for ever.
        m_tls->limitHandshakeWaits(kAnswerTimeoutS * 1000);
        mosquitto_void_option(mosq, MOSQ_OPT_SSL_CTX, m_tls->context());
        mosquitto_int_option(mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 1);
        const int rc = mosquitto_tls_set(mosq, m_settings.caFile.toUtf8().constData(), nullptr,
                                         m_settings.certFile.isEmpty() ? nullptr : m_settings.certFile.toUtf8().constData(),
                                         m_settings.keyFile.isEmpty() ? nullptr : m_settings.keyFile.toUtf8().constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *why = QStringLiteral("TLS: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    if (!m_settings.user.isEmpty())
        mosquitto_username_pw_set(mosq, m_settings.user.toUtf8().constData(),
                                  m_settings.password.isEmpty() ? nullptr : m_settings.password.toUtf8().constData());
    return true;
}

QString Subscriber::takenAway(const QString &reason)
{
    const qint64 now = m_clock.elapsed();
    if (m_connectedAtMs < 0 || now - m_connectedAtMs > kQuickMs)
        return reason;
    m_dropsAfterConnect.append(now);
    while (!m_dropsAfterConnect.isEmpty() && now - m_dropsAfterConnect.first() > 60000)
        m_dropsAfterConnect.removeFirst();
    if (m_dropsAfterConnect.size() < kQuickDrops)
        return reason;
    return QStringLiteral("%1: the broker closed the connection %2 times in a minute, each soon after taking it: another client "
                          "with this id (%3) is connected, and the two take the session from each other; give one of them "
                          "another --client-id")
        .arg(reason)
        .arg(m_dropsAfterConnect.size())
        .arg(m_settings.clientId);
}

void Subscriber::beginAttempt()
{
    m_notes = mqtt::AttemptNotes();
    if (m_tls)
        m_tls->attach(&m_notes);
    m_attemptAtMs = m_clock.elapsed();
}

QString Subscriber::failure(int rc)
{
    const int err = errno;
    m_notes.rc = rc;
    m_notes.sysErrno = err;
    const QString where = QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port);
    return mqtt::describe(mqtt::classify(m_notes), {where, m_settings.host, m_settings.caFile, kAnswerTimeoutS, m_settings.keepAlive});
}

void Subscriber::onLog(struct mosquitto *, void *self, int level, const char *text)
{
    // OpenSSL's words for a failed handshake come only through the log.
    if (level & MOSQ_LOG_ERR)
        static_cast<Subscriber *>(self)->m_notes.libraryWords = QString::fromUtf8(text);
}

void Subscriber::watchSocket()
{
    const int fd = mosquitto_socket(m_mosq);
    m_readable.reset(new QSocketNotifier(fd, QSocketNotifier::Read));
    connect(m_readable.get(), &QSocketNotifier::activated, this, &Subscriber::read);
    m_readable->setEnabled(!m_paused);
    m_writable.reset(new QSocketNotifier(fd, QSocketNotifier::Write));
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, [this] {
        m_writable->setEnabled(false);
        if (m_taken == 0)
            acknowledge();
    });
}

void Subscriber::onConnect(struct mosquitto *mosq, void *self, int rc, int, const mosquitto_property *)
{
    auto *s = static_cast<Subscriber *>(self);
    if (rc != 0) {
        s->m_notes.connack = rc;
        s->lost(s->failure(MOSQ_ERR_CONN_REFUSED));
        return;
    }
    s->m_connected = true;
    s->m_notes.connected = true;
    s->m_backoffMs = 500;
    s->m_subscribing = 0;
    for (const QString &topic : qAsConst(s->m_settings.topics)) {
        const QString filter = s->m_settings.share.isEmpty() ? topic : QStringLiteral("$share/%1/%2").arg(s->m_settings.share, topic);
        s->m_subscribing += mosquitto_subscribe_v5(mosq, nullptr, filter.toUtf8().constData(), 1, 0, nullptr) == MOSQ_ERR_SUCCESS;
    }
    if (s->m_subscribing == 0)
        onSubscribe(mosq, self, 0, 0, nullptr, nullptr);
}

void Subscriber::onSubscribe(struct mosquitto *, void *self, int, int, const int *, const mosquitto_property *)
{
    // Connected once the broker holds every subscription: from then on
    // nothing published is missed.
    auto *s = static_cast<Subscriber *>(self);
    if (--s->m_subscribing > 0)
        return;
    s->m_connectedAtMs = s->m_clock.elapsed();
    if (s->m_state != QLatin1String("connected")) {
        s->m_state = QStringLiteral("connected");
        emit s->stateChanged(true, QString());
    }
}

void Subscriber::onDisconnect(struct mosquitto *, void *self, int rc, const mosquitto_property *)
{
    auto *s = static_cast<Subscriber *>(self);
    s->lost(rc == 0 ? QStringLiteral("disconnected") : s->failure(rc));
}

void Subscriber::onMessage(struct mosquitto *, void *self, const struct mosquitto_message *message, const mosquitto_property *)
{
    auto *s = static_cast<Subscriber *>(self);
    ++s->m_taken;
    s->m_take(QByteArray(message->topic),
              QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
}

void Subscriber::read()
{
    if (!m_mosq || !m_readable)
        return;
    int got = 0;
    for (int i = 0; i < kReadsPerWake && m_readable && m_readable->isEnabled(); ++i) {
        const int before = m_taken;
        const int rc = mosquitto_loop_read(m_mosq, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            lost(failure(rc));
            break;
        }
        if (m_taken == before)
            break; // dry, or a packet not whole yet, or not a message
        ++got;
    }
    emit taken();
    if (m_taken == 0)
        acknowledge(); // nothing held back: the subscription, pings
    if (m_taken >= kBacklog && got < kFewPerWake && m_readable && m_readable->isEnabled()) {
        m_resting = true;
        m_readable->setEnabled(false);
        QTimer::singleShot(kRestMs, this, [this] {
            m_resting = false;
            if (m_readable)
                m_readable->setEnabled(!m_paused);
        });
    }
}

void Subscriber::acknowledge()
{
    m_taken = 0;
    if (!m_mosq || !m_readable)
        return;
    const int rc = mosquitto_loop_write(m_mosq, 1);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
        lost(failure(rc));
        return;
    }
    if (mosquitto_want_write(m_mosq) && m_writable)
        m_writable->setEnabled(true);
}

bool Subscriber::send(const QString &topic, const QByteArray &payload, QString *error)
{
    if (!m_mosq || !m_connected) {
        if (error)
            *error = QStringLiteral("not connected to %1").arg(where());
        return false;
    }
    const int rc = mosquitto_publish_v5(m_mosq, nullptr, topic.toUtf8().constData(), payload.size(), payload.constData(), 1, false, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(topic, QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    if (m_taken == 0)
        acknowledge();
    return true;
}

void Subscriber::tick()
{
    if (m_mosq && !m_connected && m_readable && m_clock.elapsed() - m_attemptAtMs > kAnswerTimeoutS * 1000) {
        // Taken and never answered (a connect or a handshake): the next attempt.
        m_notes.timedOut = true;
        lost(failure(MOSQ_ERR_SUCCESS));
        return;
    }
    if (!m_mosq || !m_connected)
        return;
    const int rc = mosquitto_loop_misc(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(failure(rc));
        return;
    }
    if (m_taken == 0)
        acknowledge();
}

void Subscriber::setPaused(bool paused)
{
    m_paused = paused;
    if (m_readable)
        m_readable->setEnabled(!paused && !m_resting);
}

void Subscriber::lost(const QString &said)
{
    QString reason = m_connectedAtMs >= 0 ? takenAway(said) : said;
    m_connectedAtMs = -1;
    // The library may report one end twice: the first word stays.
    if (!m_connected && m_state.contains(QLatin1String("another client with this id")))
        reason = m_state;
    m_connected = false;
    m_taken = 0; // their acknowledgements go with the connection
    // The socket is gone: its notifiers go too (later: this may run inside
    // one of their own signals), so nothing writes or waits on it any more.
    for (auto *notifier : {&m_readable, &m_writable})
        if (*notifier) {
            (*notifier)->setEnabled(false);
            notifier->release()->deleteLater();
        }
    if (m_state != reason) {
        m_state = reason;
        emit stateChanged(false, reason);
    }
    if (!m_retry.isActive() && m_mosq)
        m_retry.start(m_backoffMs);
    m_backoffMs = std::min(m_backoffMs * 2, 30000);
}

void Subscriber::reconnect()
{
    if (!m_mosq)
        return;
    m_readable.reset();
    m_writable.reset();
    beginAttempt();
    const int rc = mosquitto_reconnect(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(failure(rc));
        return;
    }
    m_taken = 0;
    watchSocket();
    acknowledge(); // the CONNECT
}

void Subscriber::stop()
{
    if (!m_mosq)
        return;
    m_tick.stop();
    m_retry.stop();
    if (m_connected && m_taken == 0) {
        mosquitto_disconnect_v5_callback_set(m_mosq, nullptr); // leaving is no outage
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_write(m_mosq, 1);
    }
    m_readable.reset();
    m_writable.reset();
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
}

} // namespace ingest
