#include "capabilities.h"

#include <QCoreApplication>

#include "journal/journal.h"
#include "link/meterlink.h"
#include "meter/metersession.h"
#include "station/cellrecorder.h"

#include <QDir>
#include <QStandardPaths>

#include <cstdio>

namespace capabilities {

journal::Journal *installJournal(meter::MeterSession &session, const QString &folder, const QString &station,
                                 QObject *owner)
{
    auto *journal = new journal::Journal(folder, station, owner);
    addToJournal(session, journal);
    return journal;
}

void addToJournal(meter::MeterSession &session, journal::Journal *journal)
{
    session.addSink(journal);
    // A sink must leave the session before it goes.
    QObject::connect(journal, &QObject::destroyed, &session, [&session, journal] { session.removeSink(journal); });
}

station::CellRecorder *installStation(meter::MeterSession &session, const QString &folder, const QString &station,
                                      const ExtraSettings &settings, bool attended, QObject *owner)
{
    auto *recorder = new station::CellRecorder(folder, station, owner);
    station::CaptureSettings capture;
    capture.settleMs = settings.settleMs;
    capture.agree = settings.agreeCount;
    capture.rBandPercent = settings.rBandPercent;
    capture.vBandVolts = settings.vBandVolts;
    recorder->setCaptureSettings(capture);
    recorder->setRequireId(settings.requireId.value_or(attended));
    recorder->setRequireLot(settings.requireLot.value_or(attended));
    recorder->setStage(settings.stationStage);
    recorder->setOperator(settings.operatorName);
    recorder->setLimitsInForce(session.limitsInForce());
    session.addSink(recorder);
    session.setAnnotator([recorder](meter::MeterReading &reading) { recorder->annotate(reading); });
    QObject::connect(recorder, &QObject::destroyed, &session, [&session, recorder] {
        session.removeSink(recorder);
        session.setAnnotator({});
    });
    return recorder;
}

bool publisherSettings(const ExtraSettings &settings, const QString &host, int port, const QString &station,
                       mqtt::PublisherSettings *out, QString *why)
{
    const QString chosenHost = !host.isEmpty() ? host : settings.mqttHost;
    if (chosenHost.isEmpty()) {
        *why = QString();
        return false;
    }
    // A "/" would change the topic's depth, "+" and "#" make none.
    if (settings.mqttPrefix.isEmpty()
        && (station.contains(QLatin1Char('/')) || station.contains(QLatin1Char('+')) || station.contains(QLatin1Char('#')))) {
        *why = QCoreApplication::translate("Capabilities", "MQTT 未启用：站名“%1”含 /、+ 或 #，不能作主题的一层；请设 [MQTT] Prefix").arg(station);
        return false;
    }
    mqtt::PublisherSettings &p = *out;
    p.client.host = chosenHost;
    p.client.port = port > 0 ? port : settings.mqttPort;
    p.client.clientId = settings.mqttClientId.isEmpty() ? QStringLiteral("zentrel-") + station : settings.mqttClientId;
    p.client.keepAlive = settings.mqttKeepAlive;
    p.client.caFile = settings.mqttCaFile;
    p.client.certFile = settings.mqttCertFile;
    p.client.keyFile = settings.mqttKeyFile;
    p.client.user = settings.mqttUser;
    p.passwordFile = settings.mqttPasswordFile;
    p.allowPlainPassword = settings.mqttAllowPlainPassword;
    p.topicPrefix = settings.mqttPrefix; // empty: zentrel/<each line's station>
    p.station = station;
    return true;
}

mqtt::Publisher *installPublisher(const QString &folder, const mqtt::PublisherSettings &settings, const Say &say,
                                  QObject *owner)
{
    auto *publisher = new mqtt::Publisher(folder, settings, owner);
    QObject::connect(publisher, &mqtt::Publisher::statusChanged, publisher, [publisher, say] { say(publisher->status()); });
    QString error;
    if (!publisher->start(&error))
        say(QCoreApplication::translate("Capabilities", "MQTT 未连接：%1").arg(error));
    return publisher;
}

int writeWaiting(const QVector<journal::DailyCsv *> &files, QString *reason)
{
    int waiting = 0;
    for (journal::DailyCsv *f : files) {
        if (!f->writeWaitingNow()) {
            waiting += f->waiting();
            *reason = f->reason();
        }
    }
    return waiting;
}

bool writeWaitingTo(const QVector<journal::DailyCsv *> &files, const QString &folder, QString *why)
{
    bool all = true;
    for (journal::DailyCsv *f : files)
        all = f->writeWaitingTo(folder, why) && all;
    return all;
}

void rescueWaiting(const QVector<journal::DailyCsv *> &files, int waiting, const QString &reason, const char *program)
{
    const QStringList rescue = {
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("zentrel/rescue")),
        QDir(QDir::tempPath()).filePath(QStringLiteral("zentrel-rescue"))};
    for (const QString &folder : rescue) {
        QString why;
        if (writeWaitingTo(files, folder, &why)) {
            std::fprintf(stderr, "%s: %d readings could not be written (%s); they are in %s\n", program, waiting,
                         qPrintable(reason), qPrintable(QDir::toNativeSeparators(folder)));
            return;
        }
    }
    std::fprintf(stderr, "%s: %d readings could not be written anywhere (%s); they are lost\n", program, waiting,
                 qPrintable(reason));
}

void installReconnect(meter::MeterLink &link, const Say &say)
{
    link.setReconnect(true);
    meter::MeterLink *l = &link;
    QObject::connect(&link, &meter::MeterLink::waitingChanged, &link, [l, say](bool waiting) {
        say(waiting ? QCoreApplication::translate("Capabilities", "正在等待串口 %1 重新连接…").arg(l->portName()) : QString());
    });
}

} // namespace capabilities
