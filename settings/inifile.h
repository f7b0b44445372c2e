#ifndef INIFILE_H
#define INIFILE_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

// config.ini read without trusting it. QSettings decodes "@Variant(...)"
// values through QDataStream, where a few hand-made bytes claim billions of
// entries and kill the process; this reader follows QSettings' INI syntax
// (sections, %-escaped keys, quotes, backslash escapes, lists, Latin-1 bytes)
// but takes only plain values: strings, string lists, "@ByteArray(...)".
// Any other "@..." value counts as absent and is named in `ignored`.
namespace ini {

struct Document
{
    // "Section/key" (or "key" for [General]) to a QString, QStringList or QByteArray.
    QMap<QString, QVariant> values;
    QStringList ignored;      // keys whose value was not taken
    bool notRegular = false;  // the path is a FIFO, device, folder, ...: not read at all
};

Document parse(const QByteArray &bytes);
// Reads path when it is a regular file; a missing file is an empty document.
// Files larger than maxBytes are not read (a settings file is small).
Document read(const QString &path, qint64 maxBytes = qint64(256) << 20);

} // namespace ini

#endif // INIFILE_H
