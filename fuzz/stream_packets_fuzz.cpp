// Any bytes on the stream connection, as the receive thread reads them:
// packet headers, fragments of every stream type, delivery to the queues
// and the caller's side of each queue.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_session.h"
#include "qrn_net.h"
#include "stream_delivery.h"
#include "stream_reader.h"

namespace {

// Nothing listens here: a key-frame request after a sequence gap is refused
// at once instead of waiting for a module.
constexpr const char *kNoModule = "127.14.0.9";
constexpr int kNoModulePort = 9;

void touch(const void *bytes, size_t length)
{
    volatile uint8_t sink = 0;
    for (size_t i = 0; i < length; ++i)
        sink ^= static_cast<const uint8_t *>(bytes)[i];
    (void)sink;
}

// Takes everything the input delivered through the calls a program uses,
// reading every byte each element claims to hold.
void drain_queues(int handle)
{
    FrameElement *element = nullptr;
    while (QRN_NET_Video_RequestVideoData1(handle, &element, nullptr) == QRN_OK) {
        touch(element->data, element->header.length);
        QRN_NET_Video_ReleaseVideoData1(handle, element);
    }
    FrameHeader *picture = nullptr;
    while (QRN_NET_Video_RequestPicData(handle, &picture) == QRN_OK) {
        touch(picture + 1, picture->length);
        QRN_NET_Video_ReleasePicData(handle, picture);
    }
    void *block = nullptr;
    while (QRN_NET_Audio_RequestData(handle, &block) == QRN_OK)
        QRN_NET_Audio_ReleaseData(handle, block);
    int length = 0;
    while (QRN_NET_Serial_RequestData(handle, &block, &length) == QRN_OK) {
        touch(block, static_cast<size_t>(length));
        QRN_NET_Serial_ReleaseData(handle, block);
    }
    int sub_type = 0;
    while (QRN_NET_GetParamChangeType(handle, &sub_type) == QRN_OK) {
        if (QRN_NET_GetCmdResponse(handle, &length, &block) == QRN_OK)
            touch(block, static_cast<size_t>(length));
    }
}

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
    drain_queues(session.handle());
    close_stream_sockets(&context);
    return 0;
}
