#include "desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QStandardPaths>

void Desktop::installFontFallbacks()
{
    QFont::insertSubstitutions(QStringLiteral("Microsoft Yahei"),
                               {QStringLiteral("Noto Sans CJK SC"),
                                QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Droid Sans Fallback")});
}

QString Desktop::saveDialogStart(const QString &fileName)
{
    return QDir::homePath() + QLatin1Char('/') + fileName;
}

QString Desktop::consoleSaveFolder(const QString &applicationFolder)
{
    const QFileInfo info(applicationFolder);
    if (info.isDir() && info.isWritable())
        return applicationFolder;
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty())
        docs = QDir::homePath();
    QDir().mkpath(docs);
    return docs;
}
