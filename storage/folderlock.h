#ifndef FOLDERLOCK_H
#define FOLDERLOCK_H

#include <QLockFile>
#include <QString>

#include <memory>

// One writer per journal folder: two programs on one folder would write a
// file's header twice, number cell records twice and publish every line
// twice. The lock (zentrel.lock in the folder) names its holder; a holder
// that died on this host leaves no lock behind.
class FolderLock
{
public:
    explicit FolderLock(const QString &folder);
    ~FolderLock();

    // False with a reason that names the folder and the holder (process id, host).
    bool acquire(QString *reason);
    // Before writing into a folder that may have been deleted and made anew:
    // the lock is taken again when its file went with the folder; false with
    // the reason when another program holds the folder now.
    bool keep(QString *reason);

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
};

#endif // FOLDERLOCK_H
