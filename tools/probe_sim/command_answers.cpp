#include "command_answers.h"

#include <algorithm>
#include <string>

namespace probesim {

namespace {

constexpr size_t kAccessStringSize = 32;
constexpr size_t kLoginAnswerSize = 336;

// Text up to the first NUL, or all n bytes when there is none.
std::string c_string(const uint8_t *p, size_t n)
{
    const uint8_t *end = std::find(p, p + n, uint8_t{0});
    return std::string(p, end);
}

}  // namespace

Answer CommandAnswers::login(const ReceivedPacket &request)
{
    std::lock_guard<std::mutex> lock(state_.mu);
    const DeviceModel &model = state_.model;
    const std::string access = c_string(request.payload.data(), std::min(request.payload.size(), kAccessStringSize));
    const auto &allowed = model.access_strings;
    Answer answer;
    answer.code = wire::kLogin;
    if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), access) == allowed.end()) {
        answer.status = wire::kStatusLoginRefused;
        return answer;
    }
    answer.token = model.token;
    answer.payload.assign(kLoginAnswerSize, 0);
    uint8_t *p = answer.payload.data();
    wire::put_u32(p, model.protocol_version);
    const auto mac = state_.system.mac();
    const auto record = state_.system.info_record();
    std::copy(mac.begin(), mac.end(), p + 24);
    std::copy(record.begin() + 4, record.begin() + 24, p + 30);
    std::copy(record.begin(), record.begin() + 4, p + 52);
    wire::put_u32(p + 56, model.peer_max_frame);
    return answer;
}

Answer CommandAnswers::command(const ReceivedPacket &request, uint64_t order)
{
    std::lock_guard<std::mutex> lock(state_.mu);
    if (request.token != state_.model.token) {
        ModelAnswer refused;
        refused.status = wire::kStatusUnsupported;
        return reply(request, std::move(refused));
    }
    if (VideoModel::handles(request.code))
        return video(request);
    if (AudioModel::handles(request.code))
        return audio(request);
    if (SerialModel::handles(request.code))
        return serial(request, order);
    if (DeviceSystemModel::handles(request.code))
        return system(request);
    if (WirelessModel::handles(request.code))
        return reply(request, state_.wireless.answer(request.code, request.payload));
    return common(request);
}

Answer CommandAnswers::reply(const ReceivedPacket &request, ModelAnswer &&part) const
{
    Answer answer;
    answer.code = request.code;
    answer.token = state_.model.token;
    answer.status = part.status;
    answer.payload = std::move(part.payload);
    answer.notices = std::move(part.notices);
    return answer;
}

// Commands of no family: company, access string, custom block.
Answer CommandAnswers::common(const ReceivedPacket &request)
{
    DeviceModel &model = state_.model;
    const std::vector<uint8_t> &in = request.payload;
    ModelAnswer part;
    switch (request.code) {
    case wire::kGetCompany:
        part.payload.assign(model.company.begin(), model.company.end());
        part.payload.push_back(0);
        break;
    case wire::kSetEncrypt:
        model.access_strings = {c_string(in.data(), in.size())};
        break;
    case wire::kSetBcastEchoPasswd:
        if (in.size() == 4)
            state_.bcast_echo_passwd = wire::get_u32(in.data());
        else
            part.status = wire::kStatusUnsupported;
        break;
    case wire::kSetCustom:
        if (in.size() == model.custom.size())
            std::copy(in.begin(), in.end(), model.custom.begin());
        else
            part.status = wire::kStatusUnsupported;
        break;
    case wire::kGetCustom:
        part.payload.assign(model.custom.begin(), model.custom.end());
        break;
    default:
        part.status = wire::kStatusUnsupported;
        break;
    }
    return reply(request, std::move(part));
}

Answer CommandAnswers::video(const ReceivedPacket &request)
{
    VideoAnswer v = state_.video.answer(request.code, request.payload);
    const VideoEvent event = v.event;
    const uint32_t value = v.value;
    Answer answer = reply(request, std::move(v));
    switch (event) {
    case VideoEvent::Begin:
    case VideoEvent::End:
        streams_.set_video(request.token, event == VideoEvent::Begin);
        break;
    case VideoEvent::ForceKeyFrame:
        ++state_.key_frame_requests;
        streams_.want_key_frames();
        break;
    case VideoEvent::PeerMaxFrame:
        state_.model.peer_max_frame = value;
        break;
    case VideoEvent::Snapshot:
        answer.snapshot = true;
        break;
    case VideoEvent::None:
        break;
    }
    return answer;
}

Answer CommandAnswers::audio(const ReceivedPacket &request)
{
    AudioAnswer a = state_.audio.answer(request.code, request.payload);
    if (a.event != AudioEvent::None)
        streams_.set_audio(request.token, a.event == AudioEvent::Begin);
    return reply(request, std::move(a));
}

Answer CommandAnswers::serial(const ReceivedPacket &request, uint64_t order)
{
    const bool was_open = state_.serial.is_open();
    ModelAnswer a = state_.serial.answer(request.code, request.payload);
    if (!was_open && state_.serial.is_open())
        state_.serial_opened_by = order;
    return reply(request, std::move(a));
}

Answer CommandAnswers::system(const ReceivedPacket &request)
{
    SystemAnswer a = state_.system.answer(request.code, request.payload);
    const SystemEvent event = a.event;
    std::string text = std::move(a.text);
    Answer answer = reply(request, std::move(a));
    switch (event) {
    case SystemEvent::Reboot:
    case SystemEvent::Reset:
        restart(event == SystemEvent::Reset);
        answer.unanswered = true;
        break;
    case SystemEvent::ControlText:
        state_.control_texts.push_back(std::move(text));
        break;
    case SystemEvent::None:
        break;
    }
    return answer;
}

// A restarting probe drops every connection; the hosts must log in again.
// A factory reset also forgets what the hosts changed.
void CommandAnswers::restart(bool factory_reset)
{
    ++(factory_reset ? state_.resets : state_.reboots);
    state_.serial.close();
    streams_.close_all();
    if (factory_reset)
        state_.restore_defaults();
    state_.cv.notify_all();
}

}  // namespace probesim
