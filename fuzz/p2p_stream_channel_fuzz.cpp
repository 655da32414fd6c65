// Any bytes a peer sends on channel 2 of a peer-to-peer session, in reads
// of any size and with reads that time out: the exact reader, the search
// for the next header after bytes that are none, and delivery of what
// assembles.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_session.h"
#include "input_split.h"
#include "qrn_net.h"
#include "queue_drain.h"
#include "scripted_pppp.h"
#include "stream_delivery.h"
#include "stream_reader.h"
#include "wire_protocol.h"

namespace {

constexpr int kStreamChannel = 2;
constexpr size_t kMaxReads = 1024;
// Each packet read takes at least one read or ends the channel; this only
// stops a reader that would loop without taking any.
constexpr int kMaxPackets = 4096;

}  // namespace

// The first byte is the stream time-out in milliseconds (a read that
// timed out only ends a packet once it has passed); the rest are the
// channel's reads.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    fuzzing::script_channel(kStreamChannel, fuzzing::split_input(data + 1, size - 1, kMaxReads));

    fuzzing::FuzzSession session("127.14.2.9", 9);
    SessionContext &context = session.context();
    context.address_kind = kAddressKindDeviceId;
    context.p2p_session = fuzzing::kScriptedSession;
    context.stream_timeout = {0, (data[0] & 7) * 1000};
    context.stream.pending_wake.bind(context.data_ready);
    context.serial.open = 1;
    context.receive_running = 1;
    int packets = 0;
    for (; packets < kMaxPackets; ++packets) {
        uint8_t type = 0;
        const int result = read_stream_packet(&context, &type);
        if (result == QRN_OK)
            deliver_stream_packet(&context, type);
        else if (result == QRN_ERR_CLOSED)
            break;
        // A time-out, a header that is none, another session's packet: the
        // receive thread reads on.
    }
    if (packets == kMaxPackets)
        std::abort();  // the reader kept returning without the channel ending
    fuzzing::drain_queues(session.handle());
    // A kept partial header always lacks at least its first byte's worth,
    // or the next read would find the same bytes again.
    if (context.stream.header_held >= kHeaderSize)
        std::abort();
    context.receive_running = 0;
    context.p2p_session = -1;
    return 0;
}
