#ifndef PUBLISHER_H
#define PUBLISHER_H

#include "mqttclient.h"
#include "outbox.h"

#include <QHash>
#include <QObject>
#include <QTimer>

namespace mqtt {

struct PublisherSettings
{
    ClientSettings client;
    QString topicPrefix;          // <prefix>/reading, <prefix>/cell
    QString passwordFile;         // owner-only file holding the password
    bool allowPlainPassword = false;
};

// Every journal line and cell record to the broker, QoS 1, from the journal
// files themselves: a cursor file in the journal folder (mqtt-cursor.json)
// says how far the broker has acknowledged. While the broker is away, lines
// wait on disk; on reconnection they go out in order from the cursor, then
// live ones; a restart resumes from the cursor.
class Publisher : public QObject
{
    Q_OBJECT

public:
    Publisher(const QString &folder, const PublisherSettings &settings, QObject *parent = nullptr);
    ~Publisher() override;

    // Checks the security settings, then connects. False with the reason
    // (nothing is sent then).
    bool start(QString *error);
    void stop();

    bool isConnected() const { return m_client.isConnected(); }
    qint64 backlog();
    QString status();
    QString lastError() const { return m_lastError; }
    QString cursorFile() const;

signals:
    void statusChanged();

private:
    void pump();
    void saveCursor();
    bool loadCursor();

    QString m_folder;
    PublisherSettings m_settings;
    Client m_client;
    Outbox m_readings;
    Outbox m_cells;
    QHash<int, QPair<Outbox *, quint64>> m_mids;
    QTimer m_pump;
    QTimer m_cursorTimer;
    QTimer m_statusTimer;
    QString m_lastError;
    bool m_started = false;
};

} // namespace mqtt

#endif // PUBLISHER_H
