#include "spare_elements.h"

#include <cstdlib>

#include "qrn_base.h"

namespace {

// Enough for the frames a poller takes in one wake-up (half the video
// queue), within a bound on the memory kept idle.
constexpr size_t kMaxSpares = 64;
constexpr size_t kMaxSpareBytes = 16 << 20;

// Frames of one stream differ a little in size; a new block has an eighth
// more room, so the next frames fit the kept ones.
size_t with_room(size_t size)
{
    constexpr size_t kPage = 4096;
    const size_t wanted = size + size / 8;
    return (wanted + kPage - 1) / kPage * kPage;
}

}  // namespace

SpareElements::SpareElements()
{
    spares_.reserve(kMaxSpares);
}

SpareElements::~SpareElements()
{
    clear();
}

void *SpareElements::take(size_t size)
{
    void *too_small = nullptr;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (size_t i = 0; i < spares_.size(); ++i) {
            if (spares_[i].capacity >= size) {
                void *block = spares_[i].block;
                kept_bytes_ -= spares_[i].capacity;
                spares_[i] = spares_.back();
                spares_.pop_back();
                return block;
            }
        }
        // The frames grew: one kept block makes way for a larger one.
        if (!spares_.empty()) {
            too_small = spares_.front().block;
            kept_bytes_ -= spares_.front().capacity;
            spares_.front() = spares_.back();
            spares_.pop_back();
        }
    }
    std::free(too_small);
    return std::malloc(with_room(size));
}

void SpareElements::give_back(void *block)
{
    if (!block)
        return;
    const size_t capacity = quarn_heap_block_size(block);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (spares_.size() < kMaxSpares && kept_bytes_ + capacity <= kMaxSpareBytes) {
            spares_.push_back({block, capacity});
            kept_bytes_ += capacity;
            return;
        }
    }
    std::free(block);
}

void SpareElements::clear()
{
    std::lock_guard<std::mutex> guard(mutex_);
    for (const Spare &spare : spares_)
        std::free(spare.block);
    spares_.clear();
    kept_bytes_ = 0;
}
