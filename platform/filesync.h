#ifndef FILESYNC_H
#define FILESYNC_H

class QFileDevice;
class QString;

// Asks the operating system to put a file's written bytes on the disk
// (fsync on POSIX, _commit on Windows). False when it could not.
bool syncToDisk(QFileDevice &file);

// The same for a folder's entries (a file made, renamed or removed in it):
// POSIX only needs it, as a rename is durable only once its folder is
// synced; on Windows the file system journals names itself.
bool syncFolder(const QString &path);

#endif // FILESYNC_H
