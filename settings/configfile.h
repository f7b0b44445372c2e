#ifndef CONFIGFILE_H
#define CONFIGFILE_H

#include <QString>

#include <optional>
#include <QStringList>

// The eleven values kept in config.ini, as the file holds them.
struct ConnectionSettings
{
    QString portName;
    int baudRate = 0;
    bool hexReceive = false;
    bool hexSend = false;
    bool ascii = false;
    bool pause = false;
    bool autoSend = false;
    int autoTime = 0;
    QString serverIp;
    int serverPort = 0;
    int listenPort = 0;

    // Not kept in the file: what reading it found.
    QStringList ignoredKeys; // values that could not be taken safely, read as absent
    bool notRegular = false; // config.ini is a FIFO, device, ...: not read
};

// Reads config.ini (or any INI file): a missing file, key or value reads as
// empty, false or 0. Never creates the file.
ConnectionSettings readConnectionSettings(const QString &path);
// Writes the eleven keys in their order, keeping every other key the file
// holds; the file is replaced whole or not at all. Returns false with the
// reason when it could not be written (read-only, a folder or FIFO in its
// place, a full disk, ...).
bool writeConnectionSettings(const QString &path, const ConnectionSettings &settings, QString *error = nullptr);

// Settings beyond the window's own keys, each in a section of its own. They
// are only read: config.ini from a user who never set them stays as the
// window writes it.
struct ExtraSettings
{
    bool journalEnabled = true;      // [Journal] Enabled
    QString journalFolder;           // [Journal] Folder; empty: the default
    QString stationName;             // [Station] Name; empty: the host name
    bool autoReconnect = true;       // [Serial] AutoReconnect
    bool stationEnabled = false;     // [Station] Enabled
    std::optional<bool> requireId;   // [Station] RequireId; unset: true in the window's station mode
    std::optional<bool> requireLot;  // [Station] RequireLot; unset: true in the window's station mode
    QString stationLot;              // [Station] Lot: the lot in force (station mode writes it)
    QString stationStage;            // [Station] Stage: the stage of records whose limit set names none
    QString plantDatabase;           // [Plant] Database: libpq CONNINFO, read-only, for earlier stages' records
    QString operatorName;            // [Station] Operator
    QString stationSet;              // [Station] Set: the limit set chosen last (station mode writes it)
    int settleMs = 500;              // [Station] SettleMs
    int agreeCount = 3;              // [Station] AgreeCount
    double rBandPercent = 0.5;       // [Station] RBandPercent
    double vBandVolts = 0.005;       // [Station] VBandVolts
    // [MQTT]: publishing is on when Host is set.
    QString mqttHost;
    int mqttPort = 1883;
    QString mqttPrefix;              // default zentrel/<station>
    QString mqttClientId;            // default zentrel-<station>
    int mqttKeepAlive = 30;
    QString mqttCaFile, mqttCertFile, mqttKeyFile;
    QString mqttUser;
    QString mqttPasswordFile;        // the password itself never goes into config.ini
    bool mqttAllowPlainPassword = false;
    // Names that would break a record's line (a line break, a control
    // character) are not used: each such key with the reason.
    QStringList refused;
};
ExtraSettings readExtraSettings(const QString &path);
// Writes one key of a section of its own, keeping every other key; the file
// is replaced whole or not at all. False with the reason.
bool writeExtraSetting(const QString &path, const QString &key, const QString &value, QString *error = nullptr);

// The journal folder: the folder named in config.ini's [Journal] Folder=,
// else the user's data folder (on Linux $XDG_DATA_HOME/zentrel/journal,
// ~/.local/share/zentrel/journal when unset).
QString journalFolder(const QString &configPath);

#endif // CONFIGFILE_H
