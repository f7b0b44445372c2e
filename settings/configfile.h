#ifndef CONFIGFILE_H
#define CONFIGFILE_H

#include <QString>

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
};

// Reads config.ini (or any INI file): a missing file, key or value reads as
// empty, false or 0. Never creates the file.
ConnectionSettings readConnectionSettings(const QString &path);
// Writes the eleven keys in their order. Returns false with the reason when
// the file could not be written (read-only, a folder in its place, ...).
bool writeConnectionSettings(const QString &path, const ConnectionSettings &settings, QString *error = nullptr);

#endif // CONFIGFILE_H
