#include "event_loop.h"

#include <atomic>
#include <chrono>

namespace pppp {
namespace {

// A TURN allocation is released by a refresh with lifetime 0; give a closing
// agent that long to get its answer before the loop ends anyway.
constexpr auto kCloseWait = std::chrono::seconds(3);

// A function on its way to the loop thread. GLib's own locking orders the
// hand-over, but ThreadSanitizer cannot see inside GLib; the flag's release
// and acquire show it the same order.
struct Handover {
    explicit Handover(std::function<void()> f) : fn(std::move(f)) { published.store(true, std::memory_order_release); }
    std::function<void()> fn;
    std::atomic<bool> published{false};
};

gboolean run_function(gpointer data)
{
    auto *handover = static_cast<Handover *>(data);
    handover->published.load(std::memory_order_acquire);
    handover->fn();
    return G_SOURCE_REMOVE;
}

void delete_function(gpointer data)
{
    delete static_cast<Handover *>(data);
}

}  // namespace

EventLoop::EventLoop() : mContext(g_main_context_new()), mLoop(g_main_loop_new(mContext, FALSE))
{
    mThread = std::thread([this] {
        g_main_context_push_thread_default(mContext);
        g_main_loop_run(mLoop);
        g_main_context_pop_thread_default(mContext);
    });
}

EventLoop::~EventLoop()
{
    {
        std::unique_lock<std::mutex> lock(mMutex);
        mClosed.wait_for(lock, kCloseWait, [this] { return mClosing == 0; });
    }
    invoke([this] { g_main_loop_quit(mLoop); });
    mThread.join();
    // Sources left behind (a timer of an agent that never finished closing)
    // go with the context.
    g_main_loop_unref(mLoop);
    g_main_context_unref(mContext);
}

void EventLoop::invoke(std::function<void()> fn)
{
    g_main_context_invoke_full(mContext, G_PRIORITY_DEFAULT, run_function, new Handover(std::move(fn)),
                               delete_function);
}

bool EventLoop::on_loop_thread() const
{
    return g_main_context_is_owner(mContext);
}

void EventLoop::agent_closing()
{
    std::lock_guard<std::mutex> lock(mMutex);
    ++mClosing;
}

void EventLoop::agent_closed()
{
    std::lock_guard<std::mutex> lock(mMutex);
    --mClosing;
    mClosed.notify_all();
}

}  // namespace pppp
