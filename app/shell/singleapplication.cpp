#include "singleapplication.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

const int kProbeTimeoutMs = 500;

} // namespace

SingleApplication::SingleApplication(int &argc, char **argv)
    : QApplication(argc, argv),
      serverName(QFileInfo(QCoreApplication::applicationFilePath()).fileName())
{
    initLocalConnection();
}

bool SingleApplication::isRunning() const
{
    return mRunning;
}

void SingleApplication::initLocalConnection()
{
    mRunning = false;
    QLocalSocket probe;
    probe.connectToServer(serverName, QIODevice::ReadWrite);
    if (probe.waitForConnected(kProbeTimeoutMs)) {
        // Whatever answers under our name counts as a running copy; the
        // knock itself is the message, nothing is written.
        std::fprintf(stderr, "%s already running.\n", serverName.toLocal8Bit().constData());
        mRunning = true;
        return;
    }
    newLocalServer();
}

void SingleApplication::newLocalServer()
{
    localServer = new QLocalServer(this);
    connect(localServer, &QLocalServer::newConnection, this, &SingleApplication::_newLocalConnection);
    if (!localServer->listen(serverName) && localServer->serverError() == QAbstractSocket::AddressInUseError) {
        // Nobody answered the probe, so a socket under the name is a
        // leftover of a copy that ended abnormally. A plain file or folder
        // of that name is somebody's data and stays. If this second listen
        // fails, the program runs without the guard.
        const QFileInfo leftover(QDir(QDir::tempPath()).filePath(serverName));
        if (!leftover.isFile() && !leftover.isDir())
            QLocalServer::removeServer(serverName);
        localServer->listen(serverName);
    }
}

void SingleApplication::_newLocalConnection()
{
    std::unique_ptr<QLocalSocket> socket(localServer->nextPendingConnection());
    if (!socket)
        return;
    // A knocking copy sends nothing and exits at once, so there is nothing
    // to wait for: waiting here would let any local process that connects
    // and stays silent freeze the window.
    socket->abort();
    socket.reset();
    activateMainWindow();
}

void SingleApplication::activateMainWindow()
{
    if (!mainWindow)
        return;
    mainWindow->show();
    mainWindow->raise();
    mainWindow->activateWindow();
}
