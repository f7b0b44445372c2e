#include "overflowlog.h"
#include "platform/punctuation.h"

#include <QCoreApplication>

#include "platform/filesync.h"
#include "platform/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

OverflowLog::OverflowLog(const QString &folder, const QDateTime &started, const QString &namePattern)
    : m_folder(folder), m_path(QDir(folder).filePath(started.toString(namePattern)))
{
}

bool OverflowLog::append(const QString &lines, QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = punctuation::reason(m_path, reason);
        return false;
    };
    if (!QDir().mkpath(m_folder))
        return fail(QCoreApplication::translate("Files", "无法建立文件夹 %1").arg(m_folder));
    QFile file;
    QString reason;
    if (!openRegularFile(file, m_path, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text, &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    const QByteArray bytes = (lines + QLatin1Char('\n')).toUtf8();
    const qint64 before = file.size();
    if (file.write(bytes) != bytes.size() || !syncToDisk(file)) {
        const QString reason = file.errorString();
        // Leave no half block behind: the window keeps these lines.
        file.resize(before);
        return fail(reason);
    }
    m_lines += quint64(lines.count(QLatin1Char('\n')) + 1);
    return true;
}
