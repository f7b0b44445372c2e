#ifndef OPTIONS_H
#define OPTIONS_H

#include <QString>
#include <QStringList>

#include "settings/language.h"

// What the command line asks for. Options never write config.ini.
struct StartOptions
{
    QString port;         // --port NAME: open it at start
    int baud = 0;         // --baud RATE; 0: the restored or initial rate
    QString journalDir;   // --journal-dir DIR
    bool noJournal = false;
    bool station = false; // --station: the station dock and menu
    QString plantDatabase; // --db CONNINFO: earlier stages from the plant database (over [Plant] Database)
    QString mqttHost;     // --mqtt HOST[:PORT], [V6]:PORT or a bare IPv6 address
    int mqttPort = 0;
    bool languageGiven = false; // --lang en|zh_CN; else config.ini's [UI] Language, else Chinese
    language::Language language = language::Language::Chinese;
};

// Parses the command line before any application object exists, so that
// --help, --version and refusals work on a machine without a display; they
// print and exit (2 with the reason for options that make no sense).
StartOptions parseStartOptions(const QStringList &arguments);

#include "settings/commandline.h" // parseHostPort

#endif // OPTIONS_H
