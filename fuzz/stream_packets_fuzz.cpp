// Any bytes on the stream connection, as the receive thread reads them:
// packet headers, fragments of every stream type, delivery to the queues
// and the caller's side of each queue.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_session.h"
#include "queue_drain.h"
#include "qrn_net.h"
#include "stream_delivery.h"
#include "stream_reader.h"

namespace {

// Nothing listens here: a key-frame request after a sequence gap is refused
// at once instead of waiting for a module.
constexpr const char *kNoModule = "127.14.0.9";
constexpr int kNoModulePort = 9;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        std::abort();
    // The whole input waits in the socket before the reader starts; the
    // fuzzer's input limit keeps it below the socket's buffer.
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(ends[1], data + written, size - written);
        if (n <= 0)
            std::abort();
        written += static_cast<size_t>(n);
    }
    close(ends[1]);

    fuzzing::FuzzSession session(kNoModule, kNoModulePort);
    SessionContext &context = session.context();
    context.stream.pending_wake.bind(context.data_ready);
    context.serial.open = 1;
    context.data_socket = ends[0];
    context.data_channel_up = 1;
    for (;;) {
        uint8_t type = 0;
        const int result = read_stream_packet(&context, &type);
        if (result == QRN_OK)
            deliver_stream_packet(&context, type);
        else if (result != kMoreFragments && result != QRN_ERR_FAILED)
            break;  // closed, or a fault that makes the receive thread drop the connection
    }
    fuzzing::drain_queues(session.handle());
    close_stream_sockets(&context);
    return 0;
}
