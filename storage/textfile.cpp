#include "textfile.h"

#include <QFile>

bool saveUtf8TextFile(const QString &path, const QString &text, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = text.toUtf8();
    const qint64 written = file.write(bytes);
    const bool flushed = file.flush();
    if (written != bytes.size() || !flushed || file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        file.close();
        return false;
    }
    file.close();
    return true;
}
