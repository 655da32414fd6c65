#include "byte_ring.h"

#include <algorithm>
#include <cstring>

namespace pppp {

size_t ByteRing::push(const uint8_t *bytes, size_t length)
{
    size_t n = std::min(length, free_space());
    size_t tail = (mHead + mSize) % mData.size();
    size_t first = std::min(n, mData.size() - tail);
    std::memcpy(mData.data() + tail, bytes, first);
    std::memcpy(mData.data(), bytes + first, n - first);
    mSize += n;
    return n;
}

size_t ByteRing::pop(uint8_t *bytes, size_t length)
{
    size_t n = std::min(length, mSize);
    size_t first = std::min(n, mData.size() - mHead);
    std::memcpy(bytes, mData.data() + mHead, first);
    std::memcpy(bytes + first, mData.data(), n - first);
    drop_front(n);
    return n;
}

const uint8_t *ByteRing::front(size_t *length) const
{
    *length = std::min(mSize, mData.size() - mHead);
    return mData.data() + mHead;
}

void ByteRing::drop_front(size_t length)
{
    length = std::min(length, mSize);
    mHead = (mHead + length) % mData.size();
    mSize -= length;
    if (mSize == 0)
        mHead = 0;
}

}  // namespace pppp
