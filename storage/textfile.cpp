#include "textfile.h"

#include <QFile>
#include <QFileInfo>

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

const int kMaxNameSuffix = 99;

QString freeFileName(const QString &path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    QString stem = path;
    if (!suffix.isEmpty())
        stem.chop(suffix.size() + 1);
    for (int n = 1; n <= kMaxNameSuffix; ++n) {
        const QString candidate = suffix.isEmpty()
            ? QStringLiteral("%1-%2").arg(stem, QString::number(n))
            : QStringLiteral("%1-%2.%3").arg(stem, QString::number(n), suffix);
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
    return QString();
}
