#ifndef BROKER_H
#define BROKER_H

// A real mosquitto on 127.0.0.1 and a mosquitto_sub that collects what it
// gets, for the tests of publishing.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QRandomGenerator>
#include <QtTest>

#include <unistd.h>

// A port for a server of the test's own: below the kernel's ephemeral
// range (32768 on), so no outgoing connection of the test (psql, the
// ingest's) takes it between this choice and the server's bind, and never
// one handed out before in this process.
inline quint16 freePort()
{
    static QSet<quint16> given;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const quint16 port = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        QTcpServer server;
        if (!given.contains(port) && server.listen(QHostAddress::LocalHost, port)) {
            given.insert(port);
            return port;
        }
    }
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// mosquitto on 127.0.0.1 with a port of its own; persistent, so a
// subscriber's session survives a restart of the broker.
class Broker
{
public:
    explicit Broker(const QString &folder, const QString &tlsLines = QString()) : m_folder(folder), m_port(freePort())
    {
        configure(tlsLines);
    }
    // The lines after the first listener's (a TLS listener of its own may
    // follow: "listener PORT 127.0.0.1" then its files); at the next start.
    void configure(const QString &moreLines)
    {
        QFile conf(QDir(m_folder).filePath("mosquitto.conf"));
        conf.open(QIODevice::WriteOnly);
        // As root, mosquitto would otherwise become user mosquitto and could
        // not read the test's private folder.
        const QString user = ::geteuid() == 0 ? QStringLiteral("user root\n") : QString();
        conf.write(QString("%1listener %2 127.0.0.1\nallow_anonymous true\npersistence true\npersistence_location %3/\n%4")
                       .arg(user)
                       .arg(m_port)
                       .arg(m_folder, moreLines)
                       .toUtf8());
    }
    ~Broker() { stop(); }
    static QString program() { return QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"}); }
    bool start()
    {
        m_process.start(program(), {"-c", QDir(m_folder).filePath("mosquitto.conf")});
        if (!m_process.waitForStarted())
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(100))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }
    // As a crash: what the broker holds in memory only is gone.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    quint16 port() const { return m_port; }

private:
    QString m_folder;
    quint16 m_port;
    QProcess m_process;
};

// mosquitto_sub with a persistent QoS 1 session, collecting payloads.
class Subscriber
{
public:
    Subscriber(quint16 port, const QString &topic)
    {
        m_process.start(QStandardPaths::findExecutable("mosquitto_sub"),
                        {"-h", "127.0.0.1", "-p", QString::number(port), "-t", topic, "-q", "1", "-c", "-i",
                         QString("test-sub-%1").arg(QCoreApplication::applicationPid())});
        m_process.waitForStarted();
        // Subscribed before anything is published: a probe sent to the topic
        // until it comes back says so.
        QString probeTopic = topic;
        probeTopic.replace('+', "probe").replace('#', "probe");
        QElapsedTimer t;
        t.start();
        while (!m_buffer.contains("\"probe\"") && t.elapsed() < 20000) {
            QProcess::execute(QStandardPaths::findExecutable("mosquitto_pub"),
                              {"-h", "127.0.0.1", "-p", QString::number(port), "-t", probeTopic, "-q", "1", "-m", "{\"probe\":1}"});
            m_process.waitForReadyRead(500);
            m_buffer += m_process.readAllStandardOutput();
        }
        m_buffer.clear();
    }
    ~Subscriber()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
    // Every id once, in the order first received.
    QStringList ids()
    {
        m_buffer += m_process.readAllStandardOutput();
        int nl;
        while ((nl = m_buffer.indexOf('\n')) >= 0) {
            const QJsonObject o = QJsonDocument::fromJson(m_buffer.left(nl)).object();
            m_buffer.remove(0, nl + 1);
            if (o.contains("probe"))
                continue;
            m_all << o;
            const QString id = o.value("id").toString();
            if (!id.isEmpty() && !m_seen.contains(id)) {
                m_seen.insert(id);
                m_ids << id;
                m_last = o;
            }
        }
        return m_ids;
    }
    QJsonObject last() const { return m_last; }
    // Every message received, duplicates too (call ids() first).
    const QList<QJsonObject> &all() const { return m_all; }

private:
    QProcess m_process;
    QByteArray m_buffer;
    QSet<QString> m_seen;
    QStringList m_ids;
    QJsonObject m_last;
    QList<QJsonObject> m_all;
};


#endif // BROKER_H
