#include "mlbrightnesssender.h"

#include "mlnetcamera.h"

#include <chrono>

namespace KelvoWifi {

MlBrightnessSender::MlBrightnessSender(QObject *parent) : QObject(parent), mThread([this] { run(); }) {}

MlBrightnessSender::~MlBrightnessSender()
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
    }
    mChanged.notify_all();
    mThread.join();
}

void MlBrightnessSender::send(int brightness)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mPending = brightness;
    }
    mChanged.notify_all();
}

bool MlBrightnessSender::waitUntilSent(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !mPending && !mSending; });
}

void MlBrightnessSender::run()
{
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
        mChanged.wait(lock, [this] { return mPending || mStopping; });
        if (!mPending)
            return;
        const int brightness = *mPending;
        mPending.reset();
        mSending = true;
        lock.unlock();
        MlNetCamera::setCameraParams(brightness, kContrast, 0, 0, nullptr, 0);
        lock.lock();
        mSending = false;
        mChanged.notify_all();
    }
}

} // namespace KelvoWifi
