#include "textfile.h"
#include "platform/punctuation.h"

#include <QCoreApplication>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

FileKind fileKind(const QString &path)
{
    // A symbolic link is never a file of ours, wherever it points.
    const QFileInfo info(path);
    if (info.isSymLink())
        return FileKind::Other;
    if (!info.exists())
        return FileKind::Missing;
    return info.isFile() ? FileKind::Regular : FileKind::Other;
}

QString notRegularFileReason(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? QCoreApplication::translate("Files", "%1 是符号链接，不跟随").arg(path)
           : info.isDir()   ? QCoreApplication::translate("Files", "%1 是一个文件夹").arg(path)
                            : QCoreApplication::translate("Files", "%1 不是普通文件（管道、设备或套接字）").arg(path);
}

namespace {

bool save(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode, QString *error,
          const QString &leading = QString())
{
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    switch (fileKind(path)) {
    case FileKind::Other:
        return fail(notRegularFileReason(path));
    case FileKind::Regular:
        // Replacing would succeed on a read-only file; its owner meant it to stay.
        if (!QFileInfo(path).isWritable())
            return fail(QCoreApplication::translate("Files", "%1 是只读文件").arg(path));
        break;
    case FileKind::Missing:
        break;
    }
    QSaveFile file(path);
    // Unbuffered: a short write leaves the system's reason in errno ("File
    // too large", "No space left on device"), where Qt says "Unknown error".
    auto writeFailed = [&file] {
        const int code = errno;
        const QString reason = file.error() == QFileDevice::NoError && code != 0 ? qt_error_string(code) : file.errorString();
        file.cancelWriting();
        return reason;
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered | mode))
        return fail(file.errorString());
    if (!leading.isEmpty()) {
        QFile in(leading);
        if (!in.open(QIODevice::ReadOnly | mode)) {
            file.cancelWriting();
            return fail(punctuation::reason(leading, in.errorString()));
        }
        // In slices: it may be far larger than what is worth holding in memory.
        while (!in.atEnd()) {
            const QByteArray slice = in.read(1 << 20);
            if (slice.isEmpty() && in.error() != QFileDevice::NoError) {
                file.cancelWriting();
                return fail(punctuation::reason(leading, in.errorString()));
            }
            if (file.write(slice) != slice.size())
                return fail(writeFailed());
        }
    }
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush())
        return fail(writeFailed());
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace

bool saveFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    return save(path, bytes, QIODevice::NotOpen, error);
}

bool saveUtf8TextFile(const QString &path, const QString &text, QString *error)
{
    return save(path, text.toUtf8(), QIODevice::Text, error);
}

bool saveUtf8TextFileAfter(const QString &path, const QString &leading, const QString &text, QString *error)
{
    return save(path, text.toUtf8(), QIODevice::Text, error, leading);
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
