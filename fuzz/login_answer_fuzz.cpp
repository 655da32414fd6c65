// Any answer a module can give to the login: its header, the token it
// hands out and the device figures its payload carries.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "answer_peer.h"
#include "fuzz_session.h"
#include "input_split.h"
#include "lan_login.h"
#include "qrn_net.h"
#include "session_readers.h"
#include "stream_reader.h"

namespace {

fuzzing::AnswerPeer &module()
{
    static fuzzing::AnswerPeer *peer = new fuzzing::AnswerPeer("127.14.0.2");
    return *peer;
}

}  // namespace

// The first part answers the login; a later one the logout a failed listen
// sends, and the device reader's questions.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    module().set_answers(fuzzing::split_input(data, size, 8));
    fuzzing::FuzzSession session("127.14.0.2", module().port());
    SessionContext &context = session.context();
    context.connected = 0;
    context.token = 0;
    std::snprintf(context.encrypt, sizeof context.encrypt, "%s", "fuzz-access");
    std::snprintf(context.user, sizeof context.user, "%s", "fuzz");
    if (lan_login(&context) == QRN_OK) {
        context.connected = 1;
        QRN_NET_GetVersion(session.handle());
        int frames = 0;
        QRN_NET_Video_GetPeerMaxFrameNum(session.handle(), &frames);
        fuzzing::readers::device(session.handle());
    }
    close_stream_sockets(&context);
    return 0;
}
