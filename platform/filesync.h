#ifndef FILESYNC_H
#define FILESYNC_H

class QFileDevice;

// Asks the operating system to put a file's written bytes on the disk
// (fsync on POSIX, _commit on Windows). False when it could not.
bool syncToDisk(QFileDevice &file);

#endif // FILESYNC_H
