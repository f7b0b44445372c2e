// Reading config.ini whatever it holds, and writing it back over itself as the
// window does: what was read writes and reads back the same.
#include "settings/configfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir::temp().filePath(QStringLiteral("zentrel-fuzz-%1.ini").arg(getpid()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    const ConnectionSettings read = readConnectionSettings(path);
    if (!writeConnectionSettings(path, read))
        std::abort();
    const ConnectionSettings again = readConnectionSettings(path);
    if (again.portName != read.portName || again.baudRate != read.baudRate || again.hexReceive != read.hexReceive
        || again.hexSend != read.hexSend || again.ascii != read.ascii || again.pause != read.pause
        || again.autoSend != read.autoSend || again.autoTime != read.autoTime || again.serverIp != read.serverIp
        || again.serverPort != read.serverPort || again.listenPort != read.listenPort)
        std::abort();
    return 0;
}
