// escapedTextToBytes on any text, and the escaped round trip of any bytes
// (which holds unless SO is followed by 'H', the one ambiguous spelling).
#include "quiwidget.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QUIHelper::escapedTextToBytes(QString::fromUtf8(bytes));
    QUIHelper::escapedTextToBytes(QString::fromLatin1(bytes));

    const QString escaped = QUIHelper::bytesToEscapedText(bytes);
    for (const QChar c : escaped) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7E)
            std::abort(); // the notation is printable ASCII only
    }
    if (!bytes.contains(QByteArray("\x0EH", 2)) && QUIHelper::escapedTextToBytes(escaped) != bytes)
        std::abort();
    return 0;
}
