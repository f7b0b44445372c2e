#include "mqttclient.h"
#include "linkfault.h"
#include "tlswatch.h"
#include "platform/queuedcall.h"
#include "platform/sockets.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <condition_variable>
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

constexpr int kFirstBackoffMs = 1000;
constexpr int kLastBackoffMs = 30000;
constexpr int kLoopMs = 250; // the network thread looks at stop and the answer time this often

QString whereOf(const ClientSettings &s)
{
    return s.host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(s.host).arg(s.port)
                                             : QStringLiteral("%1:%2").arg(s.host).arg(s.port);
}

} // namespace

struct Client::Link
{
    std::mutex mutex; // the client, and the wait between attempts
    std::condition_variable wake;
    Client *client = nullptr;
    std::atomic<bool> stopping {false};
    std::mutex mosqMutex; // the current attempt's library client, for publish()
    mosquitto *mosq = nullptr;
    ClientSettings settings;
    std::vector<QByteArray> subscriptions;
    std::unique_ptr<TlsWatch> tls;
    std::mutex notesMutex; // the library may log from a publishing thread
    AttemptNotes notes;
    bool ended = false; // under mutex, told through wake
};

template <typename F>
void Client::withClient(Link &link, F f)
{
    std::lock_guard<std::mutex> lock(link.mutex);
    if (link.client)
        f(link.client);
}

Client::Client(QObject *parent) : QObject(parent)
{
    static LibraryInit init;
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

QString Client::settingsFault(const ClientSettings &s)
{
    if (s.host.isEmpty() || s.port < 1 || s.port > 65535)
        return QCoreApplication::translate("Mqtt", "MQTT 代理地址 %1 无效").arg(whereOf(s));
    // A client certificate is only ever sent inside TLS, and TLS needs the CA
    // to check the broker by: without one the connection would go in plain text.
    if (s.caFile.isEmpty() && (!s.certFile.isEmpty() || !s.keyFile.isEmpty()))
        return QCoreApplication::translate("Mqtt", "拒绝连接 %1：设置了客户端证书（CertFile/KeyFile）却没有 CA 文件（CaFile），"
                                                   "连接会是明文的")
            .arg(whereOf(s));
    if (s.certFile.isEmpty() != s.keyFile.isEmpty())
        return QCoreApplication::translate("Mqtt", "客户端证书与密钥要一起设置（CertFile 与 KeyFile）");
    for (const QString &file : {s.caFile, s.certFile, s.keyFile}) {
        QFile f(file);
        if (!file.isEmpty() && !f.open(QIODevice::ReadOnly))
            return QCoreApplication::translate("Mqtt", "TLS 文件 %1 无法读取：%2").arg(file, f.errorString());
    }
    return QString();
}

bool Client::start(const ClientSettings &s, QString *error)
{
    stop();
    const QString fault = settingsFault(s);
    if (!fault.isEmpty()) {
        if (error)
            *error = fault;
        return false;
    }
    auto link = std::make_shared<Link>();
    link->client = this;
    link->settings = s;
    link->subscriptions = m_subscribed;
    if (!s.caFile.isEmpty()) {
        link->tls = std::make_unique<TlsWatch>(s.host);
        if (!link->tls->isValid()) {
            if (error)
                *error = QCoreApplication::translate("Mqtt", "TLS 设置失败：%1").arg(QStringLiteral("SSL_CTX_new"));
            return false;
        }
    }
    ++m_generation;
    m_link = link;
    std::thread([link] { run(link); }).detach();
    return true;
}

void Client::stop()
{
    if (!m_link)
        return;
    ++m_generation; // what the old connection still posts is dropped
    std::shared_ptr<Link> link = std::move(m_link);
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->client = nullptr;
        link->stopping = true;
    }
    link->wake.notify_all();
    m_connected = false;
    // Waited for a few seconds: a thread stuck in a connect ends by itself later.
    std::unique_lock<std::mutex> lock(link->mutex);
    link->wake.wait_for(lock, std::chrono::seconds(3), [&] { return link->ended; });
}

int Client::publish(const QString &topic, const QByteArray &payload, QString *error)
{
    if (!m_link || !m_connected)
        return -1;
    int mid = 0;
    int rc = MOSQ_ERR_NO_CONN;
    {
        std::lock_guard<std::mutex> lock(m_link->mosqMutex);
        if (m_link->mosq)
            rc = mosquitto_publish(m_link->mosq, &mid, topic.toUtf8().constData(), payload.size(), payload.constData(), 1, false);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        if (error)
            *error = QCoreApplication::translate("Mqtt", "发布到“%1”被拒绝：%2").arg(topic, QString::fromUtf8(mosquitto_strerror(rc)));
        return -1;
    }
    return mid;
}

void Client::run(const std::shared_ptr<Link> &link)
{
    int backoffMs = kFirstBackoffMs;
    while (!link->stopping) {
        const bool wasUp = attempt(*link);
        if (link->stopping)
            break;
        LinkFault fault;
        {
            std::lock_guard<std::mutex> lock(link->notesMutex);
            fault = classify(link->notes);
        }
        LinkPlace place {whereOf(link->settings), link->settings.host, link->settings.caFile, link->settings.answerTimeoutS,
                         link->settings.keepAlive};
        withClient(*link, [fault, place](Client *client) {
            client->post(client->m_generation.load(), [fault, place](Client *c) {
                c->m_connected = false;
                emit c->disconnected(describe(fault, place)); // in the catalogue's language, on the object's thread
            });
        });
        if (wasUp)
            backoffMs = kFirstBackoffMs;
        std::unique_lock<std::mutex> lock(link->mutex);
        link->wake.wait_for(lock, std::chrono::milliseconds(backoffMs), [&] { return link->stopping.load(); });
        backoffMs = std::min(backoffMs * 2, kLastBackoffMs);
    }
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->ended = true;
    }
    link->wake.notify_all();
}

bool Client::attempt(Link &link)
{
    const ClientSettings &s = link.settings;
    {
        std::lock_guard<std::mutex> lock(link.notesMutex);
        link.notes = AttemptNotes();
    }
    // A fresh library client each time: nothing of a failed attempt (a TLS
    // state, messages queued for a connection that is gone) carries over.
    mosquitto *mosq = mosquitto_new(s.clientId.toUtf8().constData(), true, &link);
    if (!mosq) {
        link.notes.rc = MOSQ_ERR_NOMEM;
        return false;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_threaded_set(mosq, true); // publish() only queues; this thread writes
    mosquitto_connect_callback_set(mosq, &Client::onConnect);
    mosquitto_publish_callback_set(mosq, &Client::onPublish);
    mosquitto_message_callback_set(mosq, &Client::onMessage);
    mosquitto_log_callback_set(mosq, &Client::onLog);
    int rc = MOSQ_ERR_SUCCESS;
    if (!s.user.isEmpty())
        rc = mosquitto_username_pw_set(mosq, s.user.toUtf8().constData(), s.password.isEmpty() ? nullptr : s.password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && link.tls) {
        mosquitto_void_option(mosq, MOSQ_OPT_SSL_CTX, link.tls->context());
        mosquitto_int_option(mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 1);
        rc = mosquitto_tls_set(mosq, QFile::encodeName(s.caFile).constData(), nullptr,
                               s.certFile.isEmpty() ? nullptr : QFile::encodeName(s.certFile).constData(),
                               s.keyFile.isEmpty() ? nullptr : QFile::encodeName(s.keyFile).constData(), nullptr);
        link.tls->attach(&link.notes);
    }
    {
        std::lock_guard<std::mutex> lock(link.mosqMutex);
        link.mosq = mosq;
    }
    const auto began = std::chrono::steady_clock::now();
    const auto answerTime = std::chrono::seconds(std::max(1, s.answerTimeoutS));
    // Not blocking: the connect and the TLS handshake go on in the loop
    // below, where the answer time bounds them.
    errno = 0;
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_connect_async(mosq, s.host.toUtf8().constData(), s.port, s.keepAlive);
    int err = errno;
    while (rc == MOSQ_ERR_SUCCESS && !link.stopping) {
        rc = mosquitto_loop(mosq, kLoopMs, 1);
        err = errno;
        if (rc != MOSQ_ERR_SUCCESS || link.notes.connected)
            continue;
        // A refused connect shows only on the socket (a TLS handshake waits on it for ever).
        if (const int refused = mosquitto_socket(mosq) >= 0 ? platform::pendingError(mosquitto_socket(mosq)) : 0) {
            rc = MOSQ_ERR_ERRNO;
            err = refused;
        } else if (std::chrono::steady_clock::now() - began > answerTime) {
            link.notes.timedOut = true;
            break;
        }
    }
    if (link.stopping && link.notes.connected) {
        mosquitto_disconnect(mosq);
        mosquitto_loop_write(mosq, 1);
    }
    {
        std::lock_guard<std::mutex> lock(link.mosqMutex);
        link.mosq = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(link.notesMutex);
        link.notes.rc = rc;
        link.notes.sysErrno = err;
    }
    if (link.tls)
        link.tls->attach(nullptr);
    mosquitto_destroy(mosq);
    return link.notes.connected;
}

void Client::onConnect(mosquitto *mosq, void *self, int rc)
{
    Link &link = *static_cast<Link *>(self);
    if (rc != 0) {
        link.notes.connack = rc; // the loop ends with the refusal and says it
        return;
    }
    link.notes.connected = true;
    // A clean session: the subscriptions are made again on every connection.
    for (const QByteArray &topic : link.subscriptions)
        mosquitto_subscribe(mosq, nullptr, topic.constData(), 1);
    withClient(link, [](Client *client) {
        // A new connection: acknowledgements still queued from the old one are dropped.
        client->post(++client->m_generation, [](Client *c) {
            c->m_connected = true;
            emit c->connected();
        });
    });
}

void Client::onPublish(mosquitto *, void *self, int mid)
{
    withClient(*static_cast<Link *>(self), [mid](Client *client) {
        client->post(client->m_generation.load(), [mid](Client *c) { emit c->acknowledged(mid); });
    });
}

void Client::onMessage(mosquitto *, void *self, const struct mosquitto_message *message)
{
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    withClient(*static_cast<Link *>(self), [topic, payload](Client *client) {
        client->post(client->m_generation.load(), [topic, payload](Client *c) { emit c->message(topic, payload); });
    });
}

void Client::onLog(mosquitto *, void *self, int level, const char *text)
{
    // OpenSSL's words for a failed handshake come only through the log.
    if (!(level & MOSQ_LOG_ERR))
        return;
    Link &link = *static_cast<Link *>(self);
    std::lock_guard<std::mutex> lock(link.notesMutex);
    link.notes.libraryWords = QString::fromUtf8(text);
}

} // namespace mqtt
