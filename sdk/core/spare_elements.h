// Frame elements the application gave back, kept for the receive thread to
// fill again: a running stream then needs no allocation per frame and no
// fresh pages from the kernel. Every block is an ordinary malloc'd block, so
// an element the caller frees itself is just not kept.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

class SpareElements {
public:
    SpareElements();
    ~SpareElements();
    SpareElements(const SpareElements &) = delete;
    SpareElements &operator=(const SpareElements &) = delete;

    // A block of at least size bytes: a kept one that is large enough, else a
    // new one with some room to spare. NULL when out of memory.
    void *take(size_t size);
    // Keeps block for a later frame, or frees it when enough are kept.
    void give_back(void *block);
    // Frees every kept block.
    void clear();

private:
    struct Spare {
        void *block;
        size_t capacity;
    };
    std::mutex mutex_;
    std::vector<Spare> spares_;  // never grows beyond its reserve, so no allocation under the lock
    size_t kept_bytes_ = 0;
};
