#ifndef PORTSOURCE_H
#define PORTSOURCE_H

#include <QStringList>

// Where the names of the host's serial ports come from. Real ports first, as
// the serial-port library enumerates them, then virtual ports: symbolic links
// that point to a pseudo-terminal (a meter simulator, socat, a test).
class PortSource
{
public:
    static QStringList portNames();

    static QStringList hostPorts();
    // Links directly inside the given folders whose target is a pseudo-terminal,
    // as full paths, each folder's links sorted by name.
    static QStringList virtualPorts(const QStringList &folders = defaultVirtualFolders());
    static QStringList defaultVirtualFolders();
};

#endif // PORTSOURCE_H
