#ifndef INGEST_MESSAGESOURCE_H
#define INGEST_MESSAGESOURCE_H

#include <QObject>

#include <functional>

// Where the intake's messages come from and where their acknowledgement
// goes: the broker (Subscriber), or a fake in tests. Nothing taken is
// acknowledged until acknowledge() says that all of it is kept.
namespace ingest {

class MessageSource : public QObject
{
    Q_OBJECT

public:
    using Taker = std::function<void(const QByteArray &topic, const QByteArray &payload)>;
    using QObject::QObject;

    // Settings that can never work, found before anything connects; false
    // with the reason.
    virtual bool check(QString *error) const
    {
        Q_UNUSED(error)
        return true;
    }
    // Starts taking (reconnecting as needed); false with the reason for
    // settings that can never work.
    virtual bool start(const Taker &take, QString *error) = 0;
    // Stops taking messages (the database is away) or starts again.
    virtual void setPaused(bool paused) = 0;
    // Everything taken is kept: the sender may be told so.
    virtual void acknowledge() = 0;
    // Messages taken on this connection since the last acknowledge().
    virtual int unacknowledged() const = 0;
    virtual void stop() = 0;
    // Publishes a message of the intake's own (a replay request), QoS 1;
    // false with the reason.
    virtual bool send(const QString &topic, const QByteArray &payload, QString *error)
    {
        Q_UNUSED(topic)
        Q_UNUSED(payload)
        if (error)
            *error = QStringLiteral("this source sends nothing");
        return false;
    }
    // host:port, for what the intake says.
    virtual QString where() const = 0;

signals:
    // After each read: the owner decides whether to commit now.
    void taken();
    void stateChanged(bool connected, const QString &reason);
};

} // namespace ingest

#endif // INGEST_MESSAGESOURCE_H
