#pragma once

#include <QApplication>
#include <QString>

class QLocalServer;

// The application object, and the guard against a second copy of the
// program: copies started under the same executable file name meet on a
// local socket of that name, and a later copy brings the first one's window
// to the front instead of opening its own.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    SingleApplication(int &argc, char **argv);

    // True when another copy answered at start: this copy should end.
    bool isRunning() const;

    // Raised when another copy knocks; not owned, set by main.
    QWidget *mainWindow = nullptr;

private slots:
    void _newLocalConnection();

private:
    void initLocalConnection();
    void newLocalServer();
    void activateMainWindow();

    bool mRunning = false;
    QLocalServer *localServer = nullptr;
    QString serverName;
};
