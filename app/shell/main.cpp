#include "mainwindow.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    MainWindow window;
    // Exactly "zh-CN": other spellings of Chinese start in English.
    window.applyLanguage(QLocale::system().uiLanguages().contains(QStringLiteral("zh-CN")) ? 0 : 1);
    window.show();
    return app.exec();
}
