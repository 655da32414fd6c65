#include "usermanual.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString userManualPath(int language, const QString &workingDirectory, const QString &programDirectory)
{
    const QString name = language != 0 ? QStringLiteral("User_Manual_EN.pdf") : QStringLiteral("User_Manual_CN.pdf");
    const QString inWorkingDirectory = QDir(workingDirectory).absoluteFilePath(name);
    if (QFileInfo::exists(inWorkingDirectory))
        return inWorkingDirectory;
    // The documentation folder, found from the program's own folder so the
    // installed tree can be moved as a whole.
    const QString installed =
        QDir::cleanPath(QDir(programDirectory).absoluteFilePath(QStringLiteral(KELVO_MANUAL_DIR_FROM_PROGRAM "/") + name));
    if (QFileInfo::exists(installed))
        return installed;
    return inWorkingDirectory;
}

QUrl userManualUrl(int language)
{
    // A local-file URL, not "file:///" glued to an absolute path: on Linux
    // that path starts with "/" already and the URL would get four slashes.
    return QUrl::fromLocalFile(userManualPath(language, QDir::currentPath(), QCoreApplication::applicationDirPath()));
}
