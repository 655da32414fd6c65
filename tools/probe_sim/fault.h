// The misbehaviours the simulated probe can be switched to, each with the
// name the command line takes and a line of help. Every list of faults
// (the parser, --help, --list-faults and the README) is made from this table.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace probesim {

enum class Fault {
    None,
    RefuseLogin,
    AnswerLate,
    WrongMagic,
    WrongCode,
    WrongToken,
    NonzeroStatus,
    CloseMidResponse,
    LoginNoPayload,
    LoginShortPayload,
    VideoInfoShort,
    AudioParamsShort,
    AudioParamsLong,
    SerialParamsShort,
    SerialParamsLong,
    NoConnectBack,
    AnswerOneByteShort,
    AnswerOneByteLong,
    SilentGpio,
    AliasWithoutNul,
    GarbageBeforeAnswer,
    // Faults of the peer-to-peer front door (--device-id).
    RelayFirstSessions,
    LateSecondSession,
    // Stream faults, kept last (is_stream_fault() goes by the order): applied
    // once, to the next video frame sent, then they clear themselves.
    StreamWrongMagic,
    StreamWrongToken,
    StreamLengthMismatch,
    StreamOversizedPayload,
    StreamUnknownType,
    StreamDropMidFrame,
    // Faults of the second kind of module (--kind ml), kept after the stream
    // faults (is_ml_fault() goes by the order).
    MlCorruptJpeg,
    MlSplitBoundary,
    MlOversizedFrame,
    MlStalledStream,
    MlVanished,
    // Chaos faults, kept last (is_chaos_fault() goes by the order): drawn at
    // random for single writes under --chaos, on both kinds of module.
    ChaosCut,
    ChaosDelay,
    ChaosDuplicate,
    ChaosTruncate,
    ChaosCorrupt,
    ChaosStopAnswering,
    ChaosStopReading,
    ChaosVanish,
};

struct FaultInfo {
    Fault fault;
    const char *name;
    const char *help;
};

// Every fault, None first, in the order the lists show them.
const std::vector<FaultInfo> &fault_table();

std::optional<Fault> fault_named(const std::string &name);
bool is_stream_fault(Fault fault);
bool is_ml_fault(Fault fault);
bool is_chaos_fault(Fault fault);
// Every chaos fault, in table order.
std::vector<Fault> chaos_faults();

// One markdown bullet per fault (None left out): "- `name`: help".
std::string fault_list_markdown();

}  // namespace probesim
