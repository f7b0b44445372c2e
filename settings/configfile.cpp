#include "configfile.h"

#include <QCoreApplication>

#include "inifile.h"
#include "platform/regularfile.h"
#include "storage/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <functional>

namespace {

// Integers are read through their text: anything that is not one reads as 0.
int integerOf(const QVariant &value)
{
    return value.toString().toInt();
}

} // namespace

ConnectionSettings readConnectionSettings(const QString &path)
{
    const ini::Document doc = ini::read(path);
    auto value = [&doc](const char *key) { return doc.values.value(QLatin1String(key)); };
    ConnectionSettings s;
    s.portName = value("Serial/PortName").toString();
    s.baudRate = integerOf(value("Serial/BaudRate"));
    s.hexReceive = value("UDP_Server/ckHexReceive").toBool();
    s.hexSend = value("UDP_Server/ckHexSend").toBool();
    s.ascii = value("UDP_Server/ckAscii").toBool();
    s.pause = value("UDP_Server/ckShow").toBool();
    s.autoSend = value("UDP_Server/ckAutoSend").toBool();
    s.autoTime = integerOf(value("UDP_Server/AutoTime"));
    s.serverIp = value("UDP_Server/ServerIP").toString();
    s.serverPort = integerOf(value("UDP_Server/ServerPort"));
    s.listenPort = integerOf(value("UDP_Server/ListenPort"));
    s.ignoredKeys = doc.ignored;
    s.notRegular = doc.notRegular;
    return s;
}

namespace {

// QSettings writes the file, but never reads the old one: that goes through
// the careful reader, and QSettings starts from an empty file holding what it
// read, then takes the new values. The result replaces the file whole.
bool rewrite(const QString &path, const std::function<void(QSettings &)> &set, QString *error)
{
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    const QFileInfo info(path);
    if (info.isDir())
        return fail(QCoreApplication::translate("Settings", "同名文件夹挡住了设置文件"));
    if (fileKind(path) == FileKind::Other)
        return fail(notRegularFileReason(path));
    const ini::Document old = ini::read(path);
    QTemporaryFile scratch(QDir::temp().filePath(QStringLiteral("zentrel-config-XXXXXX.ini")));
    if (!scratch.open())
        return fail(QCoreApplication::translate("Settings", "无法建立临时文件：%1").arg(scratch.errorString()));
    scratch.close();
    {
        QSettings file(scratch.fileName(), QSettings::IniFormat);
        for (auto it = old.values.cbegin(); it != old.values.cend(); ++it)
            file.setValue(it.key(), it.value());
        set(file);
        file.sync();
        if (file.status() != QSettings::NoError)
            return fail(QCoreApplication::translate("Settings", "临时文件 %1 写入失败").arg(scratch.fileName()));
    }
    QFile written;
    QString reason;
    if (!openRegularFile(written, scratch.fileName(), QIODevice::ReadOnly, &reason))
        return fail(reason);
    if (!saveFileAtomically(path, written.readAll(), &reason))
        return fail(reason);
    return true;
}

} // namespace

bool writeConnectionSettings(const QString &path, const ConnectionSettings &s, QString *error)
{
    return rewrite(path, [&s](QSettings &file) {
        file.setValue("/Serial/PortName", s.portName);
        file.setValue("Serial/BaudRate", s.baudRate);
        file.setValue("/UDP_Server/ckHexReceive", s.hexReceive);
        file.setValue("UDP_Server/ckHexSend", s.hexSend);
        file.setValue("UDP_Server/ckAscii", s.ascii);
        file.setValue("UDP_Server/ckShow", s.pause);
        file.setValue("UDP_Server/ckAutoSend", s.autoSend);
        file.setValue("UDP_Server/AutoTime", s.autoTime);
        file.setValue("UDP_Server/ServerIP", s.serverIp);
        file.setValue("UDP_Server/ServerPort", s.serverPort);
        file.setValue("UDP_Server/ListenPort", s.listenPort);
    }, error);
}

bool writeExtraSetting(const QString &path, const QString &key, const QString &value, QString *error)
{
    return rewrite(path, [&key, &value](QSettings &file) { file.setValue(key, value); }, error);
}

QString journalFolder(const QString &configPath)
{
    const QString configured = ini::read(configPath).values.value(QStringLiteral("Journal/Folder")).toString();
    if (!configured.trimmed().isEmpty())
        return configured.trimmed();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("zentrel/journal"));
}

ExtraSettings readExtraSettings(const QString &path)
{
    const ini::Document doc = ini::read(path);
    auto flag = [&doc](const char *key, bool fallback) {
        const QVariant v = doc.values.value(QLatin1String(key));
        if (!v.isValid())
            return fallback;
        const QString t = v.toString().trimmed().toLower();
        return !(t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no")
                 || t == QLatin1String("off"));
    };
    ExtraSettings s;
    s.journalEnabled = flag("Journal/Enabled", true);
    s.journalFolder = doc.values.value(QStringLiteral("Journal/Folder")).toString().trimmed();
    s.stationName = doc.values.value(QStringLiteral("Station/Name")).toString().trimmed();
    s.autoReconnect = flag("Serial/AutoReconnect", true);
    s.stationEnabled = flag("Station/Enabled", false);
    auto maybe = [&doc, &flag](const char *key) {
        return doc.values.contains(QLatin1String(key)) ? std::optional<bool>(flag(key, true)) : std::nullopt;
    };
    s.requireId = maybe("Station/RequireId");
    s.requireLot = maybe("Station/RequireLot");
    s.operatorName = doc.values.value(QStringLiteral("Station/Operator")).toString().trimmed();
    // Names go into every record: a line break or control character in one
    // would break the records' lines and what reads them.
    for (QString *name : {&s.stationName, &s.operatorName}) {
        for (const QChar c : qAsConst(*name)) {
            if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
                s.refused << QCoreApplication::translate("Settings", "%1：[Station] %2 含有控制字符或换行（U+%3），未使用")
                                 .arg(QDir::toNativeSeparators(path), name == &s.stationName ? QStringLiteral("Name") : QStringLiteral("Operator"))
                                 .arg(int(c.unicode()), 4, 16, QLatin1Char('0'));
                name->clear();
                break;
            }
        }
    }
    s.stationSet = doc.values.value(QStringLiteral("Station/Set")).toString().trimmed();
    s.stationLot = doc.values.value(QStringLiteral("Station/Lot")).toString().trimmed();
    s.stationStage = doc.values.value(QStringLiteral("Station/Stage")).toString().trimmed();
    s.plantDatabase = doc.values.value(QStringLiteral("Plant/Database")).toString().trimmed();
    auto number = [&doc](const char *key, double fallback, double low, double high) {
        bool ok = false;
        const double v = doc.values.value(QLatin1String(key)).toString().toDouble(&ok);
        return ok && v >= low && v <= high ? v : fallback;
    };
    s.settleMs = int(number("Station/SettleMs", 500, 0, 60000));
    s.agreeCount = int(number("Station/AgreeCount", 3, 1, 100));
    s.rBandPercent = number("Station/RBandPercent", 0.5, 0, 100);
    s.vBandVolts = number("Station/VBandVolts", 0.005, 0, 100);
    auto text = [&doc](const char *key) { return doc.values.value(QLatin1String(key)).toString().trimmed(); };
    s.mqttHost = text("MQTT/Host");
    s.mqttPort = int(number("MQTT/Port", 1883, 1, 65535));
    s.mqttPrefix = text("MQTT/Prefix");
    s.mqttClientId = text("MQTT/ClientId");
    s.mqttKeepAlive = int(number("MQTT/KeepAlive", 30, 5, 3600));
    s.mqttCaFile = text("MQTT/CaFile");
    s.mqttCertFile = text("MQTT/CertFile");
    s.mqttKeyFile = text("MQTT/KeyFile");
    s.mqttUser = text("MQTT/User");
    s.mqttPasswordFile = text("MQTT/PasswordFile");
    s.mqttAllowPlainPassword = flag("MQTT/AllowPlainPassword", false);
    return s;
}
