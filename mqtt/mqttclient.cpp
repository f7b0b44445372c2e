#include "mqttclient.h"
#include "platform/queuedcall.h"

#include <QCoreApplication>

#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include <mosquitto.h>

namespace mqtt {

namespace {

struct LibraryInit
{
    LibraryInit() { mosquitto_lib_init(); }
    ~LibraryInit() { mosquitto_lib_cleanup(); }
};

QString reasonOf(int rc)
{
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

struct Client::Link
{
    std::mutex mutex;
    Client *client = nullptr;
};

template <typename F>
void Client::withClient(void *self, F f)
{
    auto *link = static_cast<Client::Link *>(self);
    std::lock_guard<std::mutex> lock(link->mutex);
    if (link->client)
        f(link->client);
}

Client::Client(QObject *parent) : QObject(parent)
{
    static LibraryInit init;
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &Client::noAnswer);
}

Client::~Client()
{
    stop();
}

template <typename F>
void Client::post(quint64 generation, F f)
{
    // Queued to this object: dropped by Qt if it is gone before it runs.
    platform::queuedCall(this, [this, generation, f] {
        if (m_generation.load() == generation)
            f(this);
    });
}

bool Client::topicIsValid(const QString &topic, QString *reason)
{
    const QByteArray bytes = topic.toUtf8();
    if (!topic.isEmpty() && mosquitto_pub_topic_check2(bytes.constData(), size_t(bytes.size())) == MOSQ_ERR_SUCCESS)
        return true;
    if (reason)
        *reason = QCoreApplication::translate("Mqtt", "主题“%1”无效：不能为空，不能含 + 或 #").arg(topic);
    return false;
}

bool Client::start(const ClientSettings &s, QString *error)
{
    stop();
    auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        stop();
        return false;
    };
    m_where = s.host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(s.host).arg(s.port)
                                                : QStringLiteral("%1:%2").arg(s.host).arg(s.port);
    m_answerTimeoutS = qMax(1, s.answerTimeoutS);
    m_link = std::make_shared<Link>();
    m_link->client = this;
    m_mosq = mosquitto_new(s.clientId.toUtf8().constData(), true, m_link.get());
    if (!m_mosq)
        return fail(QCoreApplication::translate("Mqtt", "无法建立 MQTT 客户端"));
    ++m_generation;
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &Client::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &Client::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &Client::onPublish);
    mosquitto_log_callback_set(m_mosq, &Client::onLog);
    mosquitto_message_callback_set(m_mosq, &Client::onMessage);
    mosquitto_reconnect_delay_set(m_mosq, 1, 10, true);
    int rc = MOSQ_ERR_SUCCESS;
    if (!s.user.isEmpty())
        rc = mosquitto_username_pw_set(m_mosq, s.user.toUtf8().constData(),
                                       s.password.isEmpty() ? nullptr : s.password.toUtf8().constData());
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(reasonOf(rc));
    if (!s.caFile.isEmpty()) {
        for (const QString &file : {s.caFile, s.certFile, s.keyFile})
            if (!file.isEmpty() && !QFile::exists(file))
                return fail(QCoreApplication::translate("Mqtt", "TLS 文件 %1 不存在").arg(file));
        rc = mosquitto_tls_set(m_mosq, QFile::encodeName(s.caFile).constData(), nullptr,
                               s.certFile.isEmpty() ? nullptr : QFile::encodeName(s.certFile).constData(),
                               s.keyFile.isEmpty() ? nullptr : QFile::encodeName(s.keyFile).constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QCoreApplication::translate("Mqtt", "TLS 设置失败：%1").arg(reasonOf(rc)));
    }
    rc = mosquitto_loop_start(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(reasonOf(rc));
    m_problemSinceAttempt = false;
    m_answerTimer.start(m_answerTimeoutS * 1000);
    // Connecting happens in the library's thread; a broker that is not there
    // yet is retried there.
    rc = mosquitto_connect_async(m_mosq, s.host.toUtf8().constData(), s.port, s.keepAlive);
    if (rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_NOMEM)
        return fail(reasonOf(rc));
    if (rc != MOSQ_ERR_SUCCESS) {
        // A first attempt that failed (no broker yet, a TLS handshake that
        // broke off) is said, and the library's thread tries again.
        const QString reason = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno)) : reasonOf(rc);
        post(m_generation, [reason](Client *c) { emit c->disconnected(reason); });
    }
    return true;
}

void Client::stop()
{
    m_answerTimer.stop();
    if (!m_mosq)
        return;
    ++m_generation; // what the old connection still posts is dropped
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->client = nullptr;
    }
    mosquitto *mosq = m_mosq;
    std::shared_ptr<Link> link = std::move(m_link);
    m_mosq = nullptr;
    m_connected = false;
    mosquitto_disconnect(mosq);
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([mosq, link, done] {
        mosquitto_loop_stop(mosq, false);
        mosquitto_destroy(mosq);
        done->set_value();
    }).detach();
    finished.wait_for(std::chrono::seconds(3));
}

int Client::publish(const QString &topic, const QByteArray &payload, QString *error)
{
    if (!m_mosq)
        return -1;
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.toUtf8().constData(), payload.size(), payload.constData(), 1, false);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (error)
            *error = QCoreApplication::translate("Mqtt", "发布到“%1”被拒绝：%2").arg(topic, reasonOf(rc));
        return -1;
    }
    return mid;
}

void Client::noAnswer()
{
    if (m_connected || !m_mosq)
        return;
    if (!m_problemSinceAttempt)
        emit problem(QCoreApplication::translate("Mqtt", "%1 在 %2 秒内没有应答").arg(m_where).arg(m_answerTimeoutS));
    m_problemSinceAttempt = false;
    m_answerTimer.start(m_answerTimeoutS * 1000);
}

void Client::onConnect(mosquitto *mosq, void *self, int rc)
{
    withClient(self, [mosq, rc](Client *client) {
        // A clean session: the subscriptions are made again on every connection.
        if (rc == 0)
            for (const QByteArray &topic : client->m_subscribed)
                mosquitto_subscribe(mosq, nullptr, topic.constData(), 1);
        // A new connection: acknowledgements still queued from the old one are dropped.
        const quint64 generation = rc == 0 ? ++client->m_generation : client->m_generation.load();
        const QString reason = rc == 0 ? QString() : QString::fromUtf8(mosquitto_connack_string(rc));
        client->post(generation, [rc, reason](Client *c) {
            c->m_connected = rc == 0;
            if (rc == 0) {
                c->m_answerTimer.stop();
                emit c->connected();
            } else {
                c->m_problemSinceAttempt = true;
                emit c->disconnected(reason);
            }
        });
    });
}

void Client::onDisconnect(mosquitto *, void *self, int rc)
{
    withClient(self, [rc](Client *client) {
        const QString reason = rc == 0 ? QCoreApplication::translate("Mqtt", "已断开") : reasonOf(rc);
        client->post(client->m_generation.load(), [reason](Client *c) {
            const bool wasUp = c->m_connected;
            c->m_connected = false;
            // Dropped before the broker ever answered: say that, not the library's "Unknown error".
            if (!wasUp && !c->m_problemSinceAttempt && !c->m_answerTimer.isActive())
                emit c->disconnected(QCoreApplication::translate("Mqtt", "%1 在 %2 秒内没有应答").arg(c->m_where).arg(c->m_answerTimeoutS));
            else
                emit c->disconnected(reason);
            c->m_problemSinceAttempt = false;
            c->m_answerTimer.start(c->m_answerTimeoutS * 1000);
        });
    });
}

void Client::onPublish(mosquitto *, void *self, int mid)
{
    withClient(self, [mid](Client *client) {
        client->post(client->m_generation.load(), [mid](Client *c) { emit c->acknowledged(mid); });
    });
}

void Client::onMessage(mosquitto *, void *self, const struct mosquitto_message *message)
{
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    withClient(self, [topic, payload](Client *client) {
        client->post(client->m_generation.load(), [topic, payload](Client *c) { emit c->message(topic, payload); });
    });
}

void Client::onLog(mosquitto *, void *self, int level, const char *text)
{
    // Failures the library only logs (a TLS handshake refused, a broker not
    // there) are what the operator needs to read; they do not by themselves
    // mean the link is down: the disconnect callback says that.
    if (!(level & MOSQ_LOG_ERR))
        return;
    const QString reason = QString::fromUtf8(text);
    withClient(self, [reason](Client *client) {
        client->post(client->m_generation.load(), [reason](Client *c) {
            c->m_problemSinceAttempt = true;
            emit c->problem(reason);
        });
    });
}

} // namespace mqtt
