#ifndef COMMANDLINEPORT_H
#define COMMANDLINEPORT_H

#include "options.h"

class MainWindow;
class QObject;

// --port (and --baud): opened once the event loop runs, shown in the boxes
// as if chosen there; nothing is written to config.ini. A port that fails is
// said on the status bar and, where reconnecting is on, waited for as a meter
// that vanished (an unattended start). Nothing happens without --port.
void openPortFromCommandLine(MainWindow &window, const StartOptions &options, QObject *context);

#endif // COMMANDLINEPORT_H
