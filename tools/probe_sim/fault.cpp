#include "fault.h"

namespace probesim {

const std::vector<FaultInfo> &fault_table()
{
    static const std::vector<FaultInfo> table = {
        {Fault::None, "none", "the device behaves"},
        {Fault::RefuseLogin, "refuse-login", "login answered with status 0xFFF3"},
        {Fault::AnswerLate, "answer-late", "every answer delayed by 9 s (past the 8 s command time-out)"},
        {Fault::WrongMagic, "wrong-magic", "answers start with \"QRX\""},
        {Fault::WrongCode, "wrong-code", "answers carry the request code + 1"},
        {Fault::WrongToken, "wrong-token", "answers carry the token + 1"},
        {Fault::NonzeroStatus, "nonzero-status", "answers (other than login) carry status 0x0001"},
        {Fault::CloseMidResponse, "close-mid-response",
         "a header announcing a 64-byte payload, 10 bytes of it, then the connection closes"},
        {Fault::LoginNoPayload, "login-no-payload", "login answered with a bare header"},
        {Fault::LoginShortPayload, "login-short-payload", "login answered with a 100-byte payload"},
        {Fault::VideoInfoShort, "video-info-short", "0x1000 answered with 700 bytes instead of 736"},
        {Fault::AnswerOneByteShort, "answer-one-byte-short",
         "answers with a payload (other than login) lose their last byte"},
        {Fault::AnswerOneByteLong, "answer-one-byte-long", "answers (other than login) carry one zero byte more"},
        {Fault::SilentGpio, "silent-gpio", "GPIO changes are made without the sub-type 5 notice"},
        {Fault::AliasWithoutNul, "alias-without-nul", "0x8006 answered with the alias text but no NUL"},
        {Fault::GarbageBeforeAnswer, "garbage-before-answer",
         "every answer, the login's too, follows 9 bytes of garbage holding a stray \"Q\" and \"QR\""},
        {Fault::RelayFirstSessions, "relay-first-sessions",
         "--device-id: the next N peer-to-peer sessions (--relay-sessions N, default all) offer only relayed paths"},
        {Fault::LateSecondSession, "late-second-session",
         "--device-id: a session opened while another is open has its commands served 2 s late"},
        {Fault::AudioParamsShort, "audio-params-short", "0x2002 answered with 8 bytes instead of 12"},
        {Fault::AudioParamsLong, "audio-params-long", "0x2002 answered with 16 bytes"},
        {Fault::SerialParamsShort, "serial-params-short", "0x3001 answered with 16 bytes instead of 20"},
        {Fault::SerialParamsLong, "serial-params-long", "0x3001 answered with 24 bytes"},
        {Fault::NoConnectBack, "no-connect-back", "logins are accepted, but no stream connection is opened back"},
        {Fault::StreamWrongMagic, "stream-wrong-magic", "a video frame's first packet header starts \"QRX\""},
        {Fault::StreamWrongToken, "stream-wrong-token", "a video frame's first packet header carries the token + 1"},
        {Fault::StreamLengthMismatch, "stream-length-mismatch",
         "a video frame's FrameHeader length is 1 more than the data sent"},
        {Fault::StreamOversizedPayload, "stream-oversized-payload",
         "before a video frame, one video packet (count 1, index 0) with a zero payload of 1 MiB + 64 bytes"},
        {Fault::StreamUnknownType, "stream-unknown-type",
         "before a video frame, one packet of stream type 7 with 100 bytes"},
        {Fault::StreamDropMidFrame, "stream-drop-mid-frame",
         "the stream connection closes after a video frame's first fragment, and is not opened again"},
        {Fault::MlCorruptJpeg, "ml-corrupt-jpeg",
         "--kind ml: every fifth frame starts with 64 bytes of garbage instead of its JPEG header"},
        {Fault::MlSplitBoundary, "ml-split-boundary",
         "--kind ml: delimiters and part headers go out a few bytes per write, split across reads"},
        {Fault::MlOversizedFrame, "ml-oversized-frame",
         "--kind ml: every fifth part is 1,232,896 bytes, over the 1,228,800-byte frame buffer"},
        {Fault::MlStalledStream, "ml-stalled-stream",
         "--kind ml: after 30 frames every stream connection stays open but sends nothing more"},
        {Fault::MlVanished, "ml-vanished", "--kind ml: after 30 frames the module stops answering and listening"},
        {Fault::ChaosCut, "chaos-cut", "chaos: the connection closes instead of a write"},
        {Fault::ChaosDelay, "chaos-delay", "chaos: a write waits 50 to 2000 ms"},
        {Fault::ChaosDuplicate, "chaos-duplicate", "chaos: a write goes out twice"},
        {Fault::ChaosTruncate, "chaos-truncate", "chaos: part of a write goes out, then the connection closes"},
        {Fault::ChaosCorrupt, "chaos-corrupt", "chaos: one to four bytes of a write are inverted"},
        {Fault::ChaosStopAnswering, "chaos-stop-answering",
         "chaos: a write is held back, the connection stays silent for 10 s, then closes"},
        {Fault::ChaosStopReading, "chaos-stop-reading",
         "chaos: after a write the connection neither reads nor writes for 10 s"},
        {Fault::ChaosVanish, "chaos-vanish",
         "chaos: part of a write goes out, then the module drops every connection and is away for 3 s"},
    };
    return table;
}

std::optional<Fault> fault_named(const std::string &name)
{
    for (const FaultInfo &info : fault_table())
        if (name == info.name)
            return info.fault;
    return std::nullopt;
}

bool is_stream_fault(Fault fault)
{
    return fault >= Fault::StreamWrongMagic && fault < Fault::MlCorruptJpeg;
}

bool is_ml_fault(Fault fault)
{
    return fault >= Fault::MlCorruptJpeg && fault < Fault::ChaosCut;
}

bool is_chaos_fault(Fault fault)
{
    return fault >= Fault::ChaosCut;
}

std::vector<Fault> chaos_faults()
{
    std::vector<Fault> faults;
    for (const FaultInfo &info : fault_table())
        if (is_chaos_fault(info.fault))
            faults.push_back(info.fault);
    return faults;
}

std::string fault_list_markdown()
{
    std::string list;
    for (const FaultInfo &info : fault_table())
        if (info.fault != Fault::None)
            list += std::string("- `") + info.name + "`: " + info.help + "\n";
    return list;
}

}  // namespace probesim
