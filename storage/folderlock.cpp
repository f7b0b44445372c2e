#include "folderlock.h"

#include <QCoreApplication>

#include <QDir>
#include <QSysInfo>

FolderLock::FolderLock(const QString &folder) : m_folder(folder)
{
}

FolderLock::~FolderLock() = default;

bool FolderLock::acquire(QString *reason)
{
    const QString shown = QDir::toNativeSeparators(m_folder);
    if (!QDir().mkpath(m_folder)) {
        *reason = QCoreApplication::translate("Files", "无法建立记录文件夹 %1").arg(shown);
        return false;
    }
    m_lock.reset(new QLockFile(QDir(m_folder).filePath(QStringLiteral("zentrel.lock"))));
    // Held for as long as the program runs: never stale by age, only when
    // its holder is gone.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    qint64 pid = 0;
    QString host, app;
    if (m_lock->error() == QLockFile::LockFailedError && m_lock->getLockInfo(&pid, &host, &app))
        *reason = QCoreApplication::translate("Files", "记录文件夹 %1 正由另一个程序使用（进程 %2，主机 %3）").arg(shown).arg(pid).arg(host);
    else
        *reason = QCoreApplication::translate("Files", "记录文件夹 %1 无法加锁（zentrel.lock 无法建立）").arg(shown);
    m_lock.reset();
    return false;
}

bool FolderLock::keep(QString *reason)
{
    if (!m_lock)
        return acquire(reason);
    qint64 pid = 0;
    QString host, app;
    if (!m_lock->getLockInfo(&pid, &host, &app)) {
        m_lock.reset(); // its file is gone: nothing of anyone's to remove
        return acquire(reason);
    }
    if (pid == QCoreApplication::applicationPid() && host == QSysInfo::machineHostName())
        return true;
    // Another program took the folder while its lock file was gone. Our
    // QLockFile would delete that program's lock when it goes: forgotten
    // instead (once; acquire() then names the holder each time).
    (void)m_lock.release();
    return acquire(reason);
}
