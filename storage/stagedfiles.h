#ifndef STAGEDFILES_H
#define STAGEDFILES_H

#include <QMap>
#include <QString>
#include <QStringList>

class QTemporaryDir;

// Files that belong together (a plan, its JSON, its sheet's pages) written
// under their own names into a hidden folder beside each target, and moved
// into place only when the caller says so: until then nothing at the
// targets changes, and whatever was staged goes with this object.
class StagedFiles
{
public:
    StagedFiles() = default;
    ~StagedFiles();
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // Where to write the file meant for target (a file whose writer adds
    // pages beside it gets them staged too); empty with the reason when
    // target's folder takes no file or target is no regular file.
    QString stage(const QString &target, QString *error);
    // Moves every staged file to its folder, replacing what is there; the
    // targets' paths as moved. False with the reason at the first that fails.
    bool commit(QStringList *moved, QString *error);

private:
    QMap<QString, QTemporaryDir *> m_dirs; // per target folder
};

#endif // STAGEDFILES_H
