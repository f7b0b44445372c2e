// zentrel-ingest: the plant's intake. Every station's readings, cell records
// and pack lines from the MQTT broker into PostgreSQL, each message once,
// none acknowledged before it is committed. See --help and docs/plant.md.
#include "ingest/ingester.h"
#include "plantdb/conninfo.h"
#include "platform/regularfile.h"
#include "platform/termination.h"
#include "settings/commandline.h"
#include "settings/language.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

// Each line names the ingest (its client id): several may share a stream.
QString sayer = QStringLiteral("zentrel-ingest");

void say(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(sayer), qPrintable(text));
    std::fflush(stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    ignoreFileSizeLimitSignal(); // a size limit fails the write, as a full disk does
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentrel-ingest"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Every station's readings, cell records and pack lines from an MQTT broker "
                                                    "into PostgreSQL, each message once."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption mqttOpt("mqtt", "The broker.", "host[:port]");
    const QCommandLineOption dbOpt("db", "The database, as libpq takes it (postgresql://user@host:5432/plant).", "conninfo");
    const QCommandLineOption topicsOpt("topics", "A topic pattern to take (repeat; default zentrel/+/reading, zentrel/+/cell, "
                                                 "zentrel/+/pack, zentrel/+/tally).", "pattern");
    const QCommandLineOption idOpt("client-id", "The MQTT client id of the persistent session (default zentrel-ingest); "
                                                "also this ingest's name in its lines and in ingest_status.", "id");
    const QCommandLineOption shareOpt("share", "Take the topics through MQTT 5 shared subscriptions of this group "
                                               "($share/GROUP/...): ingests of one group, each with its own --client-id, "
                                               "split the messages between them.", "group");
    const QCommandLineOption caOpt("ca-file", "TLS: the broker's CA certificate.", "file");
    const QCommandLineOption certOpt("cert-file", "TLS: a client certificate.", "file");
    const QCommandLineOption keyOpt("key-file", "TLS: the client certificate's key.", "file");
    const QCommandLineOption userOpt("user", "MQTT user name.", "name");
    const QCommandLineOption passwordOpt("password-file", "An owner-only file holding the MQTT password.", "file");
    const QCommandLineOption verboseOpt("verbose", "Also say how many duplicates each commit dropped.");
    const QCommandLineOption maxBytesOpt("max-message-bytes", "A larger message is a reject (default 262144).", "bytes", "262144");
    const QCommandLineOption acceptOpt("accept-days", "Times this many days back and ahead of now are taken; others are rejects "
                                                      "(default 400,1).", "back[,ahead]", "400,1");
    const QCommandLineOption plainOpt("allow-plain-password", "Send the MQTT password without TLS all the same.");
    const QCommandLineOption repairOpt("repair", "Ask the stations for the lines the database lacks (the gaps zentrel-report --db "
                                                 "--gaps lists) once a gap has stayed a minute, and again while it stays.");
    const QCommandLineOption repairAfterOpt("repair-after", "With --repair: how long a gap stays before it is asked for (default 60).",
                                            "seconds", "60");
    const QCommandLineOption langOpt("lang", "The language of the status lines: zh_CN (default) or en.", "en|zh_CN", "zh_CN");
    parser.addOptions({mqttOpt, dbOpt, topicsOpt, idOpt, shareOpt, caOpt, certOpt, keyOpt, userOpt, passwordOpt, verboseOpt, maxBytesOpt,
                       acceptOpt, plainOpt, repairOpt, repairAfterOpt, langOpt});
    parser.process(app);
    if (!language::installFromOption(QStringLiteral("zentrel-ingest"), parser.value(langOpt)))
        return 2;
    if (!parser.isSet(mqttOpt) || !parser.isSet(dbOpt)) {
        say(QStringLiteral("--mqtt and --db are needed (--help)"));
        return 2;
    }
    ingest::IngestSettings settings;
    QString reason;
    if (!parseHostPort(parser.value(mqttOpt), &settings.mqtt.host, &settings.mqtt.port, &reason)) {
        say(QStringLiteral("--mqtt %1").arg(reason));
        return 2;
    }
    if (settings.mqtt.port <= 0)
        settings.mqtt.port = 1883;
    settings.conninfo = parser.value(dbOpt);
    if (plantdb::conninfoHasPassword(settings.conninfo.toUtf8())) {
        say(QStringLiteral("--db holds a password, which every user can read (ps); put it in ~/.pgpass or the file PGPASSFILE names"));
        return 2;
    }
    settings.mqtt.topics = parser.values(topicsOpt);
    if (settings.mqtt.topics.isEmpty())
        settings.mqtt.topics = QStringList {"zentrel/+/reading", "zentrel/+/cell", "zentrel/+/pack", "zentrel/+/tally"};
    if (parser.isSet(idOpt))
        settings.mqtt.clientId = parser.value(idOpt);
    settings.mqtt.share = parser.value(shareOpt);
    if (parser.isSet(shareOpt) && settings.mqtt.share.isEmpty()) {
        say(QStringLiteral("--share takes a group's name"));
        return 2;
    }
    sayer = QStringLiteral("zentrel-ingest[%1]").arg(settings.mqtt.clientId);
    settings.mqtt.caFile = parser.value(caOpt);
    settings.mqtt.certFile = parser.value(certOpt);
    settings.mqtt.keyFile = parser.value(keyOpt);
    settings.mqtt.user = parser.value(userOpt);
    if (parser.isSet(passwordOpt)) {
        QFile file;
        if (!openRegularFile(file, parser.value(passwordOpt), QIODevice::ReadOnly, &reason)) {
            say(QStringLiteral("--password-file: %1").arg(reason));
            return 2;
        }
        if (openFileSharedWithOthers(file)) {
            say(QStringLiteral("--password-file %1: other users may read it (chmod 600)").arg(parser.value(passwordOpt)));
            return 2;
        }
        settings.mqtt.password = QString::fromUtf8(file.readLine(4096).trimmed());
    }
    settings.verbose = parser.isSet(verboseOpt);
    // The password crosses the network in the clear without TLS.
    if (!settings.mqtt.password.isEmpty() && settings.mqtt.caFile.isEmpty() && !parser.isSet(plainOpt)) {
        say(QStringLiteral("refusing to send the MQTT password to %1:%2 without TLS (--ca-file); --allow-plain-password to do so all the same")
                .arg(settings.mqtt.host).arg(settings.mqtt.port));
        return 2;
    }
    bool okBytes = false, okBack = false, okAhead = true;
    settings.bounds.maxBytes = parser.value(maxBytesOpt).toInt(&okBytes);
    const QStringList days = parser.value(acceptOpt).split(QLatin1Char(','));
    settings.bounds.daysBack = days.value(0).toInt(&okBack);
    if (days.size() > 1)
        settings.bounds.daysAhead = days.value(1).toInt(&okAhead);
    if (!okBytes || settings.bounds.maxBytes < 1024 || !okBack || !okAhead || days.size() > 2 || settings.bounds.daysBack < 0
        || settings.bounds.daysAhead < 0) {
        say(QStringLiteral("--max-message-bytes takes a number of at least 1024, --accept-days BACK[,AHEAD] whole days"));
        return 2;
    }
    if (parser.isSet(repairOpt)) {
        bool ok = false;
        const double seconds = parser.value(repairAfterOpt).toDouble(&ok);
        if (!ok || seconds < 0.5) {
            say(QStringLiteral("--repair-after takes seconds, at least 0.5"));
            return 2;
        }
        settings.repairAfterMs = qint64(seconds * 1000);
    }

    ingest::Ingester ingester(settings, say);
    // Another ingest holds the client id: this one leaves, as at the start.
    QObject::connect(&ingester, &ingest::Ingester::cannotRun, &app, [](const QString &why) {
        say(why);
        QCoreApplication::exit(2);
    });
    if (!ingester.start(&reason)) {
        say(reason);
        return 2;
    }
    TerminationWatcher watcher;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app, [&](int signal) {
        ingester.finish();
        say(QStringLiteral("signal %1: committed and left the broker (%2 rows kept, %3 duplicates dropped, %4 rejected)")
                .arg(signal)
                .arg(ingester.inserted())
                .arg(ingester.duplicates())
                .arg(ingester.rejected()));
        QCoreApplication::quit();
    });
    return app.exec();
}
