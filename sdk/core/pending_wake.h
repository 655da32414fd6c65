// The receive thread's wake-up of a waiting poller, posted once for a burst
// of deliveries instead of once for each, so that at high rates the poller
// takes many elements per wake-up and the threads do not trade places on
// every frame. A burst ends before the thread waits for anything (data, a
// connection, the command lock), so a delivery is never held back while the
// thread is idle, and at the latest when a queue is half full, so a poller
// that keeps up never loses an element to a full queue.
#pragma once

#include <cstdint>

#include "qrn_base.h"

class PendingWake {
public:
    void bind(quarn_cond *cond)
    {
        cond_ = cond;
        unposted_ = 0;
    }
    // After an element went into queue.
    void delivered(quarn_queue *queue)
    {
        ++unposted_;
        if (2 * quarn_queue_getElemCount(queue) >= quarn_queue_getMaxElements(queue))
            post();
    }
    // Call before any wait.
    void post()
    {
        if (unposted_ == 0)
            return;
        unposted_ = 0;
        quarn_cond_post(cond_);
    }

private:
    quarn_cond *cond_ = nullptr;
    uint32_t unposted_ = 0;
};
