// A fixed-size ring of bytes: what a channel holds between the network and
// its reader or writer, so that a stalled peer can never grow memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pppp {

class ByteRing {
public:
    explicit ByteRing(size_t capacity) : mData(capacity) {}
    size_t size() const { return mSize; }
    size_t capacity() const { return mData.size(); }
    size_t free_space() const { return mData.size() - mSize; }
    // Stores up to `length` bytes; returns how many fit.
    size_t push(const uint8_t *bytes, size_t length);
    // Takes up to `length` bytes out; returns how many.
    size_t pop(uint8_t *bytes, size_t length);
    // The oldest bytes as one contiguous piece (may be shorter than size()).
    // Stays valid while only push() runs, so a sender can use it unlocked.
    const uint8_t *front(size_t *length) const;
    void drop_front(size_t length);
    void clear() { mHead = mSize = 0; }

private:
    std::vector<uint8_t> mData;
    size_t mHead = 0;
    size_t mSize = 0;
};

}  // namespace pppp
