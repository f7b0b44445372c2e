#ifndef SERIALDEVICE_H
#define SERIALDEVICE_H

#include <QString>

// Why the thing at this port name can never be a serial line (a regular
// file, a folder, a FIFO, a device that is no terminal such as /dev/null),
// or empty: a serial line, a name the system resolves itself (COM3), or
// nothing there yet (a meter that is still to be plugged in).
QString notASerialDevice(const QString &port);

// What a port name finally names, so that two spellings of one line (m1,
// /dev/m1, a link to it) compare equal: the device's number where it is
// there, else its cleaned system path.
QString serialDeviceIdentity(const QString &port);

// Whether a port a link waits for is there now. Asked twice a second by
// every link that waits, so it costs a stat of the device where names are
// paths, and one listing of the host's ports shared by all links (at most
// once a second) where they are not (COM3).
bool serialPortPresent(const QString &port);

#endif // SERIALDEVICE_H
