#ifndef MLBRIGHTNESSSENDER_H
#define MLBRIGHTNESSSENDER_H

#include <QObject>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace KelvoWifi {

// Sends the brightness to the second kind of module from a thread of its
// own. The slider's slot runs on the GUI thread and ignores the result, while
// an absent module takes up to the connect time-out to fail each send.
class MlBrightnessSender : public QObject
{
    Q_OBJECT

public:
    // The contrast that goes with every brightness the window sends.
    static const int kContrast = 40;

    explicit MlBrightnessSender(QObject *parent = nullptr);
    // Lets a value still waiting go out first (bounded by the command time-out).
    ~MlBrightnessSender() override;

    // A value still waiting gives way to a newer one, so the module always
    // ends at the last value given, in the order given.
    void send(int brightness);
    // True once every value given has gone out (or failed) within timeoutMs.
    bool waitUntilSent(int timeoutMs);

private:
    void run();

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::optional<int> mPending;
    bool mSending = false;
    bool mStopping = false;
    std::thread mThread;
};

} // namespace KelvoWifi

#endif // MLBRIGHTNESSSENDER_H
