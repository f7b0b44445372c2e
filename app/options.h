#ifndef OPTIONS_H
#define OPTIONS_H

#include <QString>

class QCoreApplication;

// What the command line asks for. Options never write config.ini.
struct StartOptions
{
    QString port;         // --port NAME: open it at start
    int baud = 0;         // --baud RATE; 0: the restored or initial rate
    QString journalDir;   // --journal-dir DIR
    bool noJournal = false;
    bool station = false; // --station: the station dock and menu
    QString mqttHost;     // --mqtt HOST[:PORT]
    int mqttPort = 0;
};

// Parses the command line; --help and --version print and exit, as do
// options that make no sense (with the reason).
StartOptions parseStartOptions(const QCoreApplication &app);

#endif // OPTIONS_H
