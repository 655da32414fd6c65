#include "qrn_base.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

struct quarn_thread {
    std::thread thread;
};

struct quarn_mutex {
    std::mutex mutex;
};

struct quarn_cond {
    std::mutex mutex;
    std::condition_variable condition;
    unsigned pending = 0;
};

quarn_thread *quarn_thread_create(quarn_thread_entry entry, void *argument, int /*flag*/)
{
    auto *handle = new (std::nothrow) quarn_thread;
    if (!handle)
        return nullptr;
    try {
        handle->thread = std::thread(entry, argument);
    } catch (...) {
        delete handle;
        return nullptr;
    }
    return handle;
}

int quarn_thread_join(quarn_thread *thread)
{
    if (!thread)
        return -1;
    if (thread->thread.joinable())
        thread->thread.join();
    return 0;
}

void quarn_thread_destroy(quarn_thread *thread)
{
    quarn_thread_join(thread);
    delete thread;
}

int quarn_thread_run_detached(quarn_thread_entry entry, void *argument)
{
    try {
        std::thread(entry, argument).detach();
    } catch (...) {
        return -1;
    }
    return 0;
}

quarn_mutex *quarn_mutex_create(int /*flag*/)
{
    return new (std::nothrow) quarn_mutex;
}
void quarn_mutex_lock(quarn_mutex *mutex)
{
    mutex->mutex.lock();
}
void quarn_mutex_unlock(quarn_mutex *mutex)
{
    mutex->mutex.unlock();
}
void quarn_mutex_destory(quarn_mutex *mutex)
{
    delete mutex;
}

quarn_cond *quarn_cond_create(void)
{
    return new (std::nothrow) quarn_cond;
}

void quarn_cond_post(quarn_cond *cond)
{
    {
        std::lock_guard<std::mutex> lock(cond->mutex);
        ++cond->pending;
    }
    cond->condition.notify_all();
}

int quarn_cond_wait(quarn_cond *cond, int seconds, int milliseconds)
{
    std::unique_lock<std::mutex> lock(cond->mutex);
    const auto wait = std::chrono::seconds(seconds) + std::chrono::milliseconds(milliseconds);
    if (!cond->condition.wait_for(lock, wait, [cond] { return cond->pending > 0; }))
        return -2;
    // One wake-up consumes every post: waiters re-check their state anyway.
    cond->pending = 0;
    return 0;
}

void quarn_cond_destroy(quarn_cond *cond)
{
    delete cond;
}

void quarn_sleep_ms(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
