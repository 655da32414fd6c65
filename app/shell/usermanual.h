#pragma once

#include <QString>
#include <QUrl>

// The user manual in the window's language (0 Chinese, any other value
// English). It is taken from the working directory, where the program has
// always looked and where the build puts it; an installed program started
// elsewhere (from the desktop menu, in the home folder) finds it in its
// documentation folder instead. When it is in neither place the working
// directory's path is given, and opening it quietly fails.
QString userManualPath(int language, const QString &workingDirectory, const QString &programDirectory);

// The manual of the running program, as a URL to open.
QUrl userManualUrl(int language);
