#include "mqttclient.h"

#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <cstring>

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

Client::Client(QObject *parent) : QObject(parent)
{
    static LibraryInit init;
}

Client::~Client()
{
    stop();
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
    m_mosq = mosquitto_new(s.clientId.toUtf8().constData(), true, this);
    if (!m_mosq)
        return fail(QStringLiteral("无法建立 MQTT 客户端"));
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &Client::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &Client::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &Client::onPublish);
    mosquitto_log_callback_set(m_mosq, &Client::onLog);
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
                return fail(QStringLiteral("TLS 文件 %1 不存在").arg(file));
        rc = mosquitto_tls_set(m_mosq, QFile::encodeName(s.caFile).constData(), nullptr,
                               s.certFile.isEmpty() ? nullptr : QFile::encodeName(s.certFile).constData(),
                               s.keyFile.isEmpty() ? nullptr : QFile::encodeName(s.keyFile).constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("TLS 设置失败：%1").arg(reasonOf(rc)));
    }
    rc = mosquitto_loop_start(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(reasonOf(rc));
    // Connecting happens in the library's thread; a broker that is not there
    // yet is retried there.
    rc = mosquitto_connect_async(m_mosq, s.host.toUtf8().constData(), s.port, s.keepAlive);
    if (rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_NOMEM)
        return fail(reasonOf(rc));
    if (rc != MOSQ_ERR_SUCCESS) {
        // A first attempt that failed (no broker yet, a TLS handshake that
        // broke off) is said, and the library's thread tries again.
        const QString reason = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno)) : reasonOf(rc);
        QMetaObject::invokeMethod(this, [this, reason] { emit disconnected(reason); }, Qt::QueuedConnection);
    }
    return true;
}

void Client::stop()
{
    if (!m_mosq)
        return;
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, true);
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    m_connected = false;
}

int Client::publish(const QString &topic, const QByteArray &payload, QString *error)
{
    if (!m_mosq)
        return -1;
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.toUtf8().constData(), payload.size(), payload.constData(), 1, false);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (error)
            *error = reasonOf(rc);
        return -1;
    }
    return mid;
}

void Client::onConnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<Client *>(self);
    const QString reason = rc == 0 ? QString() : QString::fromUtf8(mosquitto_connack_string(rc));
    QMetaObject::invokeMethod(client, [client, rc, reason] {
        client->m_connected = rc == 0;
        if (rc == 0)
            emit client->connected();
        else
            emit client->disconnected(reason);
    }, Qt::QueuedConnection);
}

void Client::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<Client *>(self);
    const QString reason = rc == 0 ? QStringLiteral("已断开") : reasonOf(rc);
    QMetaObject::invokeMethod(client, [client, reason] {
        client->m_connected = false;
        emit client->disconnected(reason);
    }, Qt::QueuedConnection);
}

void Client::onPublish(mosquitto *, void *self, int mid)
{
    auto *client = static_cast<Client *>(self);
    QMetaObject::invokeMethod(client, [client, mid] { emit client->acknowledged(mid); }, Qt::QueuedConnection);
}

void Client::onLog(mosquitto *, void *self, int level, const char *text)
{
    // Failures the library only logs (a TLS handshake refused, a broker not
    // there) are what the operator needs to read.
    if (!(level & MOSQ_LOG_ERR))
        return;
    auto *client = static_cast<Client *>(self);
    const QString reason = QString::fromUtf8(text);
    QMetaObject::invokeMethod(client, [client, reason] {
        client->m_connected = false;
        emit client->disconnected(reason);
    }, Qt::QueuedConnection);
}

} // namespace mqtt
