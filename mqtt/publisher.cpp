#include "publisher.h"

#include "storage/textfile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace mqtt {

namespace {

constexpr int kMaxInFlight = 500;

QJsonObject jsonOf(const Position &p)
{
    return {{QStringLiteral("day"), p.day.toString(Qt::ISODate)},
            {QStringLiteral("offset"), double(p.offset)},
            {QStringLiteral("line"), double(p.line)}};
}

Position positionOf(const QJsonValue &v)
{
    const QJsonObject o = v.toObject();
    Position p;
    p.day = QDate::fromString(o.value(QLatin1String("day")).toString(), Qt::ISODate);
    p.offset = qint64(o.value(QLatin1String("offset")).toDouble());
    p.line = qint64(o.value(QLatin1String("line")).toDouble());
    return p;
}

} // namespace

Publisher::Publisher(const QString &folder, const PublisherSettings &settings, QObject *parent)
    : QObject(parent),
      m_folder(folder),
      m_settings(settings),
      m_readings(folder, QStringLiteral("readings"), {"seq", "r_mohm", "v", "r_low", "r_high", "v_low", "v_high"}),
      m_cells(folder, QStringLiteral("cells"), {"r_mohm", "v", "settled_by"})
{
    m_pump.setInterval(20);
    connect(&m_pump, &QTimer::timeout, this, &Publisher::pump);
    m_cursorTimer.setSingleShot(true);
    m_cursorTimer.setInterval(200);
    connect(&m_cursorTimer, &QTimer::timeout, this, &Publisher::saveCursor);
    m_statusTimer.setInterval(1000);
    connect(&m_statusTimer, &QTimer::timeout, this, &Publisher::statusChanged);
    connect(&m_client, &Client::connected, this, [this] {
        m_lastError.clear();
        emit statusChanged();
        pump();
    });
    connect(&m_client, &Client::disconnected, this, [this](const QString &reason) {
        // What was in flight is sent again from the cursor.
        m_lastError = reason;
        m_mids.clear();
        m_readings.rewind();
        m_cells.rewind();
        emit statusChanged();
    });
    connect(&m_client, &Client::acknowledged, this, [this](int mid) {
        const auto it = m_mids.find(mid);
        if (it == m_mids.end())
            return;
        it->first->acknowledge(it->second);
        m_mids.erase(it);
        if (!m_cursorTimer.isActive())
            m_cursorTimer.start();
    });
}

Publisher::~Publisher()
{
    stop();
}

QString Publisher::cursorFile() const
{
    return QDir(m_folder).filePath(QStringLiteral("mqtt-cursor.json"));
}

bool Publisher::start(QString *error)
{
    auto fail = [&](const QString &reason) {
        m_lastError = reason;
        if (error)
            *error = reason;
        emit statusChanged();
        return false;
    };
    PublisherSettings &s = m_settings;
    if (s.client.password.isEmpty() && !s.passwordFile.isEmpty()) {
        QFile file(s.passwordFile);
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                                | QFileDevice::ReadOther | QFileDevice::WriteOther;
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("密码文件 %1 无法读取：%2").arg(s.passwordFile, file.errorString()));
        if (file.permissions() & others)
            return fail(QStringLiteral("密码文件 %1 其他用户也可读写，不使用（chmod 600）").arg(s.passwordFile));
        s.client.password = QString::fromUtf8(file.readLine().trimmed());
    }
    if (s.client.password.isEmpty())
        s.client.password = qEnvironmentVariable("ZENTREL_MQTT_PASSWORD");
    if (!s.client.password.isEmpty() && s.client.caFile.isEmpty() && !s.allowPlainPassword)
        return fail(QStringLiteral("拒绝连接 %1:%2：设置了密码却没有 TLS（[MQTT] CaFile），密码会明文传输；"
                                   "确需如此请设 [MQTT] AllowPlainPassword=true")
                        .arg(s.client.host).arg(s.client.port));
    if (!loadCursor()) {
        // First start: from what is on disk now; older days are not sent.
        m_readings.startAtEnd();
        m_cells.startAtEnd();
        saveCursor();
    }
    QString reason;
    if (!m_client.start(s.client, &reason))
        return fail(reason);
    m_started = true;
    m_pump.start();
    m_statusTimer.start();
    emit statusChanged();
    return true;
}

void Publisher::stop()
{
    if (!m_started)
        return;
    m_started = false;
    m_pump.stop();
    m_statusTimer.stop();
    m_client.stop();
    saveCursor();
}

void Publisher::pump()
{
    if (!m_client.isConnected())
        return;
    for (auto *box : {&m_readings, &m_cells}) {
        const QString topic = m_settings.topicPrefix + (box == &m_readings ? QStringLiteral("/reading") : QStringLiteral("/cell"));
        while (box->inFlight() < kMaxInFlight) {
            const QVector<Message> messages = box->read(100);
            if (messages.isEmpty())
                break;
            for (const Message &m : messages) {
                QString error;
                const int mid = m_client.publish(topic, m.payload, &error);
                if (mid < 0) {
                    // Not taken: sent again from the cursor after the reconnect.
                    m_lastError = error;
                    return;
                }
                m_mids.insert(mid, {box, m.serial});
            }
        }
    }
}

qint64 Publisher::backlog()
{
    return m_readings.backlog() + m_cells.backlog();
}

QString Publisher::status()
{
    const QString where = QStringLiteral("%1:%2").arg(m_settings.client.host).arg(m_settings.client.port);
    const qint64 waiting = backlog();
    QString text = m_client.isConnected() ? QStringLiteral("MQTT 已连接 %1").arg(where)
                                          : QStringLiteral("MQTT 正在重连 %1").arg(where);
    if (!m_client.isConnected() && !m_lastError.isEmpty())
        text += QStringLiteral("（%1）").arg(m_lastError);
    if (waiting > 0)
        text += QStringLiteral("，积压 %1").arg(waiting);
    return text;
}

void Publisher::saveCursor()
{
    QJsonObject root {{QStringLiteral("readings"), jsonOf(m_readings.acknowledged())},
                      {QStringLiteral("cells"), jsonOf(m_cells.acknowledged())}};
    QDir().mkpath(m_folder);
    QString error;
    if (!saveFileAtomically(cursorFile(), QJsonDocument(root).toJson(QJsonDocument::Compact), &error))
        m_lastError = error;
}

bool Publisher::loadCursor()
{
    QFile file(cursorFile());
    if (fileKind(cursorFile()) != FileKind::Regular || !file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    if (root.isEmpty())
        return false;
    m_readings.setAcknowledged(positionOf(root.value(QLatin1String("readings"))));
    m_cells.setAcknowledged(positionOf(root.value(QLatin1String("cells"))));
    return true;
}

} // namespace mqtt
