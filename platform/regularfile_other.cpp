#include "regularfile.h"
#include "platform/punctuation.h"

#include <QCoreApplication>

#include <QFile>
#include <QFileInfo>

// Where there are no FIFOs to block on and links are rare: the kind is
// checked before opening.
bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *reason)
{
    const QFileInfo info(path);
    QString why;
    if (info.isSymLink())
        why = QCoreApplication::translate("Files", "%1 是符号链接，不跟随").arg(path);
    else if (info.isDir())
        why = QCoreApplication::translate("Files", "%1 是一个文件夹").arg(path);
    else if (info.exists() && !info.isFile())
        why = QCoreApplication::translate("Files", "%1 不是普通文件（管道、设备或套接字）").arg(path);
    if (why.isEmpty()) {
        file.setFileName(path);
        if (file.open(mode))
            return true;
        why = punctuation::reason(path, file.errorString());
    }
    if (reason)
        *reason = why;
    return false;
}

bool pathStillNamesFile(const QFile &file, const QString &path)
{
    return file.isOpen() && QFileInfo(path).isFile() && !QFileInfo(path).isSymLink();
}

bool openFileSharedWithOthers(const QFile &file)
{
    return (file.permissions() & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
                                  | QFileDevice::WriteOther)) != 0;
}

void ignoreFileSizeLimitSignal()
{
}

bool replaceFileWith(const QString &from, const QString &to, QString *reason)
{
    // Not one step here: the old file goes first.
    if (QFile::exists(to) && !QFile::remove(to)) {
        if (reason)
            *reason = punctuation::reason(to, QFile(to).errorString());
        return false;
    }
    QFile file(from);
    if (file.rename(to))
        return true;
    if (reason)
        *reason = punctuation::reason(QStringLiteral("%1 → %2").arg(from, to), file.errorString());
    return false;
}
