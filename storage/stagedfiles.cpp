#include "stagedfiles.h"
#include "platform/punctuation.h"

#include "platform/regularfile.h"
#include "textfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

StagedFiles::~StagedFiles()
{
    qDeleteAll(m_dirs); // removes what was not moved
}

QString StagedFiles::stage(const QString &target, QString *error)
{
    if (fileKind(target) == FileKind::Other) {
        *error = notRegularFileReason(target);
        return QString();
    }
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    QTemporaryDir *&dir = m_dirs[folder];
    if (!dir) {
        dir = new QTemporaryDir(QDir(folder).filePath(QStringLiteral(".zentrel-staged-XXXXXX")));
        if (!dir->isValid()) {
            *error = punctuation::reason(QDir::toNativeSeparators(folder), dir->errorString());
            delete dir;
            m_dirs.remove(folder);
            return QString();
        }
    }
    return QDir(dir->path()).filePath(info.fileName());
}

bool StagedFiles::commit(QStringList *moved, QString *error)
{
    for (auto it = m_dirs.cbegin(); it != m_dirs.cend(); ++it) {
        const QDir staged(it.value()->path());
        for (const QString &name : staged.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
            const QString target = QDir(it.key()).filePath(name);
            if (!replaceFileWith(staged.filePath(name), target, error))
                return false;
            if (moved)
                *moved << target;
        }
    }
    return true;
}
