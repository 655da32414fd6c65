#include "mlkeyprocess.h"

#include <ml_camera.h>

namespace KelvoWifi {

namespace {
const unsigned long kKeyPollIntervalMs = 200;
}

MlKeyProcess::MlKeyProcess(QObject *parent)
    : QThread(parent)
{
}

MlKeyProcess::~MlKeyProcess()
{
    // A running QThread must not be destroyed.
    stopPolling();
}

void MlKeyProcess::startPolling()
{
    if (isRunning())
        return;
    mStop = false;
    start();
}

void MlKeyProcess::stopPolling()
{
    if (!isRunning())
        return;
    mStop = true;
    quit();
    wait();
}

void MlKeyProcess::run()
{
    while (!mStop) {
        // Bounded by the library's command time-out, so stopPolling() waits
        // at most that long plus one interval.
        if (ML_SendGetKeyStatus(ML_DEFAULT_ADDRESS) == 1)
            emit capKeyPressed();
        msleep(kKeyPollIntervalMs);
    }
}

} // namespace KelvoWifi
