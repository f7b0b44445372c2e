#ifndef PLANT_H
#define PLANT_H

// A broker, a database and zentrel-ingest on both, started for a test as the
// plant runs them (the includer defines ZENTREL_INGEST_PATH).
#include "broker.h"
#include "postgres.h"

#include <QProcess>
#include <QtTest>

struct Plant
{
    explicit Plant(const QString &folder) : broker((QDir().mkpath(folder), folder), "max_queued_messages 0\n") {}
    // Empty once all three are up and the ingest has said so, else why not.
    QString start()
    {
        QString error;
        if (!broker.start())
            return QStringLiteral("the broker did not start");
        if (!db.start(&error))
            return error;
        return startIngest();
    }
    QString startIngest(const QStringList &more = {})
    {
        said.clear();
        ingest.start(ZENTREL_INGEST_PATH, QStringList {"--mqtt", QString("127.0.0.1:%1").arg(broker.port()), "--db",
                                                       conninfo.isEmpty() ? db.conninfo() : conninfo, "--lang", "en"}
                                              + more);
        if (!ingest.waitForStarted() || !QTest::qWaitFor([this] { return hear("database connected") && said.contains("broker 127.0.0.1"); }, 30000))
            return QStringLiteral("the ingest did not come up: ") + said;
        return QString();
    }
    // Lines published by one client, QoS 1, as a station's backlog comes.
    bool publish(const QString &topic, const QByteArray &lines)
    {
        QProcess pub;
        pub.start("mosquitto_pub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-q", "1", "-t", topic, "-l"});
        pub.write(lines);
        pub.closeWriteChannel();
        return pub.waitForFinished(120000) && pub.exitCode() == 0;
    }
    bool hear(const char *text)
    {
        said += QString::fromUtf8(ingest.readAllStandardError());
        return said.contains(text);
    }
    ~Plant()
    {
        ingest.terminate();
        ingest.waitForFinished(20000);
    }

    Broker broker;
    Postgres db;
    QString conninfo; // the ingest's, when not the superuser's
    QProcess ingest;
    QString said;
};

#endif // PLANT_H
