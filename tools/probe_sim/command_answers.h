// The device's answer to each command, made from its models, and what a
// command sets going: video or audio on a session's stream, key frames, a
// still picture, a restart. Faults are applied afterwards (answer_faults.h).
#pragma once

#include <cstdint>
#include <vector>

#include "device_state.h"
#include "model_answer.h"
#include "probe_wire.h"
#include "stream_hub.h"

namespace probesim {

struct Answer {
    uint16_t code = 0;
    uint16_t status = wire::kStatusOk;
    uint32_t token = 0;
    std::vector<uint8_t> payload;
    std::vector<ParamNotice> notices;  // sent on the stream before the answer
    bool snapshot = false;             // a picture to push before the answer
    bool unanswered = false;           // the probe restarts instead of answering
};

class CommandAnswers {
public:
    CommandAnswers(DeviceState &state, StreamHub &streams) : state_(state), streams_(streams) {}

    // Both take state.mu. A login is refused unless its access string is one
    // the device accepts.
    Answer login(const ReceivedPacket &request);
    // order: of the command connection, so that a logout closes the serial
    // port only when an earlier connection opened it.
    Answer command(const ReceivedPacket &request, uint64_t order);

private:
    // The fields every answer shares, around what a family model answered.
    Answer reply(const ReceivedPacket &request, ModelAnswer &&part) const;
    Answer common(const ReceivedPacket &request);
    Answer video(const ReceivedPacket &request);
    Answer audio(const ReceivedPacket &request);
    Answer serial(const ReceivedPacket &request, uint64_t order);
    Answer system(const ReceivedPacket &request);
    void restart(bool factory_reset);

    DeviceState &state_;
    StreamHub &streams_;
};

}  // namespace probesim
