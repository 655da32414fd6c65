#include "frametrace.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <mutex>

namespace FrameTrace {

namespace {

// How often the event loop is asked to run a timer; the lateness of these
// ticks is its stall.
constexpr int kTickMs = 5;

struct Log {
    std::mutex mutex;
    FILE *file = nullptr;
    int lastReceived = 0;
    uint64_t receivedCount = 0;  // frames received, and of them the last painted
    uint64_t paintedCount = 0;
};

Log &log()
{
    static Log instance;
    return instance;
}

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void write(const char *kind, long long a, long long b)
{
    Log &l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.file)
        std::fprintf(l.file, "%s %lld %lld %lld\n", kind, a, b, nowNs());
}

// Records the first paint of the window, every click of Connect and the
// event loop's longest stall so far.
class Watcher : public QObject {
public:
    explicit Watcher(QWidget *window) : QObject(window), mWindow(window)
    {
        window->installEventFilter(this);
        if (QWidget *button = window->findChild<QWidget *>("mConnectDeviceButton"))
            button->installEventFilter(this);
        // The ticks wake the viewer 200 times a second: only when asked.
        if (qEnvironmentVariableIsSet("KELVO_FRAME_TRACE_STALLS")) {
            mTick.setTimerType(Qt::PreciseTimer);
            QObject::connect(&mTick, &QTimer::timeout, this, [this] { tick(); });
            mTick.start(kTickMs);
            mSinceTick.start();
        }
    }

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (object == mWindow && event->type() == QEvent::Paint && !mShown) {
            mShown = true;
            write("shown", 0, 0);
        } else if (object != mWindow && event->type() == QEvent::MouseButtonRelease) {
            write("connect", 0, 0);
        }
        return false;
    }

private:
    void tick()
    {
        const qint64 late = mSinceTick.restart() - kTickMs;
        if (late > mLongestStall) {
            mLongestStall = late;
            write("stall", late, 0);
        }
    }

    QWidget *mWindow;
    QTimer mTick;
    QElapsedTimer mSinceTick;
    qint64 mLongestStall = 0;
    bool mShown = false;
};

}  // namespace

namespace detail {

bool readEnabled()
{
    const QByteArray path = qgetenv("KELVO_FRAME_TRACE");
    if (path.isEmpty())
        return false;
    FILE *file = std::fopen(path.constData(), "w");
    if (!file)
        return false;
    // Line by line: the benchmark may end the viewer by a signal.
    std::setvbuf(file, nullptr, _IOLBF, 0);
    log().file = file;
    return true;
}

}  // namespace detail

void decoded(int id, uint32_t sequence)
{
    if (enabled())
        write("decoded", id, sequence);
}

void received(int id)
{
    if (!enabled())
        return;
    {
        std::lock_guard<std::mutex> lock(log().mutex);
        log().lastReceived = id;
        ++log().receivedCount;
    }
    write("received", id, 0);
}

void painted()
{
    if (!enabled())
        return;
    int id = 0;
    {
        // Several frames may arrive before one paint: the last is what shows.
        std::lock_guard<std::mutex> lock(log().mutex);
        if (log().paintedCount == log().receivedCount)
            return;
        log().paintedCount = log().receivedCount;
        id = log().lastReceived;
    }
    write("painted", id, 0);
}

void watch(QWidget *window)
{
    if (enabled() && window)
        new Watcher(window);
}

}  // namespace FrameTrace
