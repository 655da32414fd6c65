// Any answers a module can give to the commands of every family: the
// header checks of the exchange and each family's reading of the payload
// into the caller's buffer or the session's caches.
#include <cstddef>
#include <cstdint>

#include "answer_peer.h"
#include "fuzz_session.h"
#include "input_split.h"
#include "session_readers.h"

namespace {

// More than any reader asks: video information, twice over.
constexpr size_t kMaxAnswers = 48;

fuzzing::AnswerPeer &module()
{
    static fuzzing::AnswerPeer *peer = new fuzzing::AnswerPeer("127.14.0.1");
    return *peer;
}

}  // namespace

// The first byte picks the reader; the rest are the answers to its
// commands, in order.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const fuzzing::SessionReader &reader = fuzzing::kSessionReaders[data[0] % fuzzing::kSessionReaderCount];
    module().set_answers(fuzzing::split_input(data + 1, size - 1, kMaxAnswers));
    fuzzing::FuzzSession session("127.14.0.1", module().port());
    reader.read(session.handle());
    // Read again: a filled cache is served without asking, a failed fill
    // asks again and meets a closed connection.
    module().set_answers({});
    reader.read(session.handle());
    return 0;
}
