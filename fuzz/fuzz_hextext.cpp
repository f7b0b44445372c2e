// hexTextToBytes on any text, and the hex round trip of any bytes.
#include "quiwidget.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString typed = QString::fromUtf8(bytes);
    const QByteArray parsed = QUIHelper::hexTextToBytes(typed);
    if (parsed.size() > typed.size() / 2 + 1)
        std::abort();
    const QString hex = QUIHelper::bytesToHexText(bytes);
    if (QUIHelper::hexTextToBytes(hex) != bytes)
        std::abort();
    if (!bytes.isEmpty() && hex.size() != bytes.size() * 3 - 1)
        std::abort();
    return 0;
}
