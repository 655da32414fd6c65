// Any bytes a peer sends on channel 1 of a peer-to-peer session, in reads
// of any size and with reads that time out: the answer reader's search for
// a header, its time budget and its reading past of other answers, then
// each family's reading of the payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_session.h"
#include "input_split.h"
#include "p2p_command_channel.h"
#include "qrn_net.h"
#include "scripted_pppp.h"
#include "session_readers.h"

namespace {

constexpr int kCommandChannel = 1;
constexpr size_t kMaxReads = 256;
// Smaller than some answers, so the read past a long payload is reached.
constexpr uint32_t kLoginCapacity = 308;
constexpr int kMaxLoginAnswers = 8;

// The reader's own guarantees on every answer it hands over.
void check_answer(const CommandHeader &header, uint16_t code)
{
    if (header.code != code || header.length > kLoginCapacity)
        std::abort();
}

}  // namespace

// The first byte's low four bits pick the reader (as in the LAN target,
// so the same answers seed both), the next two the command time-out in
// seconds beyond the first; the rest are the channel's reads.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const fuzzing::SessionReader &reader = fuzzing::kSessionReaders[(data[0] & 0x0F) % fuzzing::kSessionReaderCount];
    fuzzing::script_channel(kCommandChannel, fuzzing::split_input(data + 1, size - 1, kMaxReads));

    // Nothing listens at the LAN address: only the P2P path can answer.
    fuzzing::FuzzSession session("127.14.2.9", 9);
    SessionContext &context = session.context();
    context.address_kind = kAddressKindDeviceId;
    context.p2p_session = fuzzing::kScriptedSession;
    context.command_timeout = {1 + (data[0] >> 4 & 3), 0};
    reader.read(session.handle());

    // What is left, as a login reads it: any token, a small payload buffer.
    for (int i = 0; i < kMaxLoginAnswers; ++i) {
        CommandHeader header;
        std::vector<uint8_t> payload(kLoginCapacity);
        const int result = p2p_read_response(&context, CMD_LOGIN, 0, &header, payload.data(), kLoginCapacity);
        if (result != QRN_OK)
            break;
        check_answer(header, CMD_LOGIN);
    }
    context.p2p_session = -1;
    return 0;
}
