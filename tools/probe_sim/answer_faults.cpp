#include "answer_faults.h"

#include "audio_model.h"
#include "device_system_model.h"
#include "probe_wire.h"
#include "serial_model.h"

#include <algorithm>

namespace probesim {

namespace {

constexpr size_t kLoginShortAnswerSize = 100;
constexpr size_t kVersionSize = 4;
constexpr size_t kVideoInfoShortSize = 700;
constexpr size_t kAudioParamsShortSize = 8;
constexpr size_t kAudioParamsLongSize = 16;
constexpr size_t kSerialParamsShortSize = 16;
constexpr size_t kSerialParamsLongSize = 24;
constexpr uint32_t kCutAnnounced = 64;
constexpr size_t kCutSent = 10;

void resize_if(bool applies, std::vector<uint8_t> &payload, size_t size)
{
    if (applies && !payload.empty())
        payload.resize(size);
}

}  // namespace

void apply_fault(Fault fault, uint16_t request_code, uint32_t device_token, Answer &answer)
{
    const bool login = request_code == wire::kLogin;
    const bool logged_in = login && answer.status == wire::kStatusOk;
    std::vector<uint8_t> &payload = answer.payload;
    switch (fault) {
    case Fault::RefuseLogin:
        if (login) {
            answer = Answer();
            answer.code = wire::kLogin;
            answer.status = wire::kStatusLoginRefused;
        }
        break;
    case Fault::LoginNoPayload:
        if (logged_in)
            payload.clear();
        break;
    case Fault::LoginShortPayload:
        // The protocol version and nothing else.
        if (logged_in) {
            payload.resize(kVersionSize);
            payload.resize(kLoginShortAnswerSize, 0);
        }
        break;
    case Fault::WrongCode:
        answer.code = static_cast<uint16_t>(request_code + 1);
        break;
    case Fault::WrongToken:
        answer.token = device_token + 1;
        break;
    case Fault::NonzeroStatus:
        if (!login)
            answer.status = wire::kStatusUnsupported;
        break;
    case Fault::AnswerOneByteShort:
        if (!login && !payload.empty())
            payload.pop_back();
        break;
    case Fault::AnswerOneByteLong:
        if (!login)
            payload.push_back(0);
        break;
    case Fault::VideoInfoShort:
        resize_if(request_code == wire::kGetVideoInfo, payload, kVideoInfoShortSize);
        break;
    case Fault::AudioParamsShort:
    case Fault::AudioParamsLong:
        resize_if(AudioModel::handles(request_code), payload,
                  fault == Fault::AudioParamsShort ? kAudioParamsShortSize : kAudioParamsLongSize);
        break;
    case Fault::SerialParamsShort:
    case Fault::SerialParamsLong:
        resize_if(SerialModel::handles(request_code), payload,
                  fault == Fault::SerialParamsShort ? kSerialParamsShortSize : kSerialParamsLongSize);
        break;
    case Fault::SilentGpio:
        if (DeviceSystemModel::handles(request_code))
            answer.notices.clear();
        break;
    case Fault::AliasWithoutNul:
        if (request_code == wire::kGetAlias && !payload.empty())
            payload.pop_back();
        break;
    default:
        break;
    }
}

std::vector<uint8_t> answer_bytes(const Answer &answer, Fault fault)
{
    wire::CommandHeader header;
    header.code = answer.code;
    header.status = answer.status;
    header.token = answer.token;
    header.length = static_cast<uint32_t>(answer.payload.size());
    if (fault == Fault::WrongMagic)
        header.magic[2] = 'X';
    if (fault == Fault::CloseMidResponse)
        header.length = kCutAnnounced;
    const size_t sent = fault == Fault::CloseMidResponse ? kCutSent : answer.payload.size();
    // Letters of the magic in the garbage, so a reader that takes the first
    // "Q" for a header goes wrong.
    static const uint8_t kGarbage[] = {'Q', 'R', 0x00, 0xFF, 'Q', 0x07, 'x', 'Q', 'R'};
    const size_t skip = fault == Fault::GarbageBeforeAnswer ? sizeof kGarbage : 0;
    std::vector<uint8_t> bytes(skip + wire::kHeaderSize + sent, 0);
    std::copy_n(kGarbage, skip, bytes.begin());
    const auto head = wire::encode(header);
    std::copy(head.begin(), head.end(), bytes.begin() + skip);
    std::copy_n(answer.payload.begin(), std::min(sent, answer.payload.size()),
                bytes.begin() + skip + wire::kHeaderSize);
    return bytes;
}

bool closes_after_answer(Fault fault)
{
    return fault == Fault::CloseMidResponse;
}

}  // namespace probesim
