#include "host_stream.h"

#include "probe_wire.h"

#include <algorithm>

namespace probesim {

namespace {

constexpr uint8_t kMagic[] = {'Q', 'R', 'N'};

// Where a header may begin: the first "QRN", or a start of it that the
// buffer cuts off; the buffer's size when there is none.
size_t magic_offset(const std::vector<uint8_t> &bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        const size_t n = std::min(sizeof kMagic, bytes.size() - i);
        if (std::equal(kMagic, kMagic + n, bytes.begin() + static_cast<std::ptrdiff_t>(i)))
            return i;
    }
    return bytes.size();
}

}  // namespace

void HostStreamParser::feed(const std::vector<uint8_t> &bytes)
{
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

bool HostStreamParser::next(HostPacket &packet)
{
    for (;;) {
        if (skipping_ > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(skipping_, pending_.size()));
            drop_front(n);
            skipping_ -= n;
            if (skipping_ > 0)
                return false;
        }
        drop_front(magic_offset(pending_));
        if (pending_.size() < wire::kHeaderSize)
            return false;
        const uint8_t *h = pending_.data();
        const uint32_t length = wire::get_u32(h + 12);
        if (length > wire::kMaxPayload) {
            drop_front(wire::kHeaderSize);
            skipping_ = length;
            continue;
        }
        if (pending_.size() < wire::kHeaderSize + length)
            return false;
        packet.token = wire::get_u32(h + 4);
        packet.type = h[8];
        packet.payload.assign(pending_.begin() + wire::kHeaderSize, pending_.begin() + wire::kHeaderSize + length);
        pending_.erase(pending_.begin(), pending_.begin() + wire::kHeaderSize + length);
        return true;
    }
}

void HostStreamParser::drop_front(size_t count)
{
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace probesim
