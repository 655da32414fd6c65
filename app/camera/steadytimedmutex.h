// A mutex whose timed lock waits by the steady clock, usable where
// std::timed_mutex is (lock_guard, unique_lock with a duration).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace KelvoWifi {

// std::timed_mutex waits through pthread_mutex_clocklock, which
// ThreadSanitizer does not see, so every lock it took looks unbalanced and
// every access it guards unguarded; a condition variable it sees.
class SteadyTimedMutex
{
public:
    void lock()
    {
        std::unique_lock<std::mutex> guard(mMutex);
        mReleased.wait(guard, [this] { return !mHeld; });
        mHeld = true;
    }

    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period> &wait)
    {
        std::unique_lock<std::mutex> guard(mMutex);
        if (!mReleased.wait_for(guard, wait, [this] { return !mHeld; }))
            return false;
        mHeld = true;
        return true;
    }

    void unlock()
    {
        {
            std::lock_guard<std::mutex> guard(mMutex);
            mHeld = false;
        }
        mReleased.notify_one();
    }

private:
    std::mutex mMutex;
    std::condition_variable mReleased;
    bool mHeld = false;
};

}  // namespace KelvoWifi
