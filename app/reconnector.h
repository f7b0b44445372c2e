#ifndef RECONNECTOR_H
#define RECONNECTOR_H

#include <QObject>
#include <QTimer>

#include <functional>

// Waits for a vanished meter's port to come back and reopens it at the same
// rate: a check every 500 ms, never a busy loop.
class Reconnector : public QObject
{
    Q_OBJECT

public:
    using Reopen = std::function<bool(const QString &port, int baud, QString *error)>;
    explicit Reconnector(Reopen reopen, QObject *parent = nullptr);

    void wait(const QString &port, int baud);
    void stop();
    bool waiting() const { return m_timer.isActive(); }
    QString port() const { return m_port; }

signals:
    void waitingChanged(bool waiting);
    void reconnected(const QString &port);

private:
    void check();

    Reopen m_reopen;
    QTimer m_timer;
    QString m_port;
    int m_baud = 0;
};

// Whether a port of that name is there now (listed, or a device path that exists).
bool portIsPresent(const QString &port);

#endif // RECONNECTOR_H
