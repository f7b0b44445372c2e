// The daily files' CSV: any bytes read as records without harm, every byte
// given back exactly once (records, their line ends, a torn rest), and any
// fields without line breaks written and read back as they were.
#include "journal/csvrecords.h"

#include <QBuffer>
#include <QStringList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    journal::RecordReader reader(buffer);
    QByteArray record;
    qint64 taken = 0;
    while (reader.next(&record)) {
        journal::csvFields(record);
        if (reader.offset() <= taken || reader.offset() > bytes.size() || bytes[int(reader.offset() - 1)] != '\n')
            std::abort(); // each record ends at a line end further on
        taken = reader.offset();
    }
    if (reader.torn() != (taken < bytes.size()))
        std::abort();

    QStringList fields = QString::fromUtf8(bytes).split(QChar(1));
    QStringList written;
    for (QString &f : fields) {
        f.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        written << journal::csvField(f);
    }
    const QByteArray line = written.join(QLatin1Char(',')).toUtf8() + '\n';
    if (journal::recordEnd(line, 0) != line.size() - 1)
        std::abort();
    const QList<QByteArray> back = journal::csvFields(line.left(line.size() - 1));
    if (back.size() != fields.size())
        std::abort();
    for (int i = 0; i < fields.size(); ++i)
        if (back[i] != fields[i].toUtf8())
            std::abort();
    return 0;
}
