// Any answer on the second kind of module's stream connection, as libcurl
// hands it over: header lines, then the multipart body in reads of any
// size, up to the frame a caller takes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "input_split.h"
#include "ml_camera.h"
#include "preview_stream.h"

namespace {

constexpr size_t kMaxPieces = 64;

}  // namespace

// The pieces up to the first empty one are header lines; the rest are the
// body's reads.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Never started: the fuzzer plays its connection.
    mlcam::PreviewStream stream("http://127.14.0.9:9/stream");
    bool in_headers = true;
    for (const std::vector<uint8_t> &piece : fuzzing::split_input(data, size, kMaxPieces)) {
        if (in_headers && piece.empty()) {
            in_headers = false;
            continue;
        }
        const char *bytes = reinterpret_cast<const char *>(piece.data());
        if (in_headers)
            stream.on_header(bytes, piece.size());
        else if (stream.on_body(bytes, piece.size()) != piece.size())
            break;  // libcurl ends the transfer here
    }
    // Exactly the documented size, so a write past it is caught.
    std::vector<char> frame(ML_FRAME_BUFFER_SIZE);
    int number = 0;
    stream.take_frame(frame.data(), &number);
    return 0;
}
