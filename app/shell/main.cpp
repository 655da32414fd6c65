#include "mainwindow.h"
#include "singleapplication.h"

#include <QLocale>

int main(int argc, char *argv[])
{
    SingleApplication app(argc, argv);
    if (app.isRunning())
        return 0;

    // Declared after the application, so it is destroyed first.
    MainWindow window;
    // Exactly "zh-CN": other spellings of Chinese start in English.
    window.applyLanguage(QLocale::system().uiLanguages().contains(QStringLiteral("zh-CN")) ? 0 : 1);
    app.mainWindow = &window;
    window.show();
    return app.exec();
}
