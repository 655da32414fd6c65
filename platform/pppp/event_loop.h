// The layer's own thread with its own GLib main context: every libnice call
// and every libnice callback runs here, so agents never see two threads.
#pragma once

#include <glib.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace pppp {

class EventLoop {
public:
    EventLoop();
    // Waits (bounded) for agents still closing, then ends the thread.
    ~EventLoop();
    EventLoop(const EventLoop &) = delete;
    EventLoop &operator=(const EventLoop &) = delete;

    GMainContext *context() const { return mContext; }
    // Runs fn on the loop thread (at once when called from it).
    void invoke(std::function<void()> fn);
    bool on_loop_thread() const;

    // Agents being closed asynchronously keep the loop alive until done.
    void agent_closing();
    void agent_closed();

private:
    GMainContext *mContext;
    GMainLoop *mLoop;
    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mClosed;
    int mClosing = 0;
};

}  // namespace pppp
