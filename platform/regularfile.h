#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QIODevice>
#include <QString>

class QFile;

// The one way this program opens a file by its path. Only a regular file is
// opened: a symbolic link at the last component is not followed (a link
// planted at a journal path would send readings into someone else's file),
// and a FIFO or device never blocks the opening thread (the open is
// non-blocking and the kind is checked on what was opened). mode is
// ReadOnly, WriteOnly|Append (created when missing) or ReadWrite. False with
// a reason that names the path.
bool openRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *reason);

// Whether path still names the file open in file (same device and inode),
// and is no link: false when the file was deleted, renamed away or replaced.
bool pathStillNamesFile(const QFile &file, const QString &path);

// Whether a file that holds a secret can be read or written by other users
// (group or others bits), looked at on what was opened.
bool openFileSharedWithOthers(const QFile &file);

// A file-size limit (ulimit -f) ends a process with SIGXFSZ by default; with
// the signal ignored, the write fails with EFBIG instead and the journal
// pauses as on a full disk.
void ignoreFileSizeLimitSignal();

// Moves the file at from to to, replacing what is at to in one step where
// the system can. False with a reason that names both.
bool replaceFileWith(const QString &from, const QString &to, QString *reason);

#endif // REGULARFILE_H
