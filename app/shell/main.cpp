#include "frametrace.h"
#include "mainwindow.h"
#include "singleapplication.h"

int main(int argc, char *argv[])
{
    SingleApplication app(argc, argv);
    if (app.isRunning())
        return 0;

    // Declared after the application, so it is destroyed first.
    MainWindow window;
    app.mainWindow = &window;
    window.show();
    FrameTrace::watch(&window);
    return app.exec();
}
