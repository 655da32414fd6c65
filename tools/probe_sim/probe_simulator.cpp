#include "probe_simulator.h"

#include "audio_model.h"
#include "device_system_model.h"
#include "host_stream.h"
#include "probe_socket.h"
#include "probe_wire.h"
#include "serial_model.h"
#include "stream_sender.h"
#include "video_model.h"
#include "wireless_model.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <thread>
#include <utility>

namespace probesim {

DeviceModel::DeviceModel()
{
    for (uint8_t pin = 0; pin < 8; ++pin)
        gpio_pins.push_back(GpioPin{static_cast<uint8_t>(pin >= 4), static_cast<uint8_t>(pin % 2)});
    for (size_t i = 0; i < i2c_registers.size(); ++i)
        i2c_registers[i] = static_cast<uint8_t>(i ^ 0xA5);
}

namespace {

using Clock = std::chrono::steady_clock;
using net::Socket;

constexpr auto kAnswerLateDelay = std::chrono::seconds(9);
// The host starts listening for the stream only after it has read the login
// answer, so the first attempts may well be refused.
constexpr auto kConnectBackWindow = std::chrono::seconds(3);
constexpr auto kConnectRetryPause = std::chrono::milliseconds(50);
// After the host dropped the stream (it does after a corrupt header) the
// device keeps trying this long; a host that ended its session never answers.
constexpr auto kReconnectWindow = std::chrono::seconds(5);
constexpr auto kStreamConnectWindow = std::chrono::seconds(3);
// How long an idle stream waits between looks at its flags and at the host.
constexpr int kIdleSliceMs = 20;
constexpr auto kHostCheckInterval = std::chrono::milliseconds(1);
constexpr size_t kVideoInfoShortSize = 700;
constexpr uint16_t kGetAlias = 0x8006;
constexpr size_t kAudioParamsShortSize = 8;
constexpr size_t kAudioParamsLongSize = 16;
constexpr size_t kSerialParamsShortSize = 16;
constexpr size_t kSerialParamsLongSize = 24;

constexpr size_t kAccessStringSize = 32;
constexpr size_t kLoginAnswerSize = 336;
constexpr size_t kLoginShortAnswerSize = 100;
constexpr uint32_t kCutAnnounced = 64;
constexpr size_t kCutSent = 10;

struct Answer {
    uint16_t code = 0;
    uint16_t status = wire::kStatusOk;
    uint32_t token = 0;
    std::vector<uint8_t> payload;
    std::vector<ParamNotice> notices;  // sent on the stream before the answer
    bool snapshot = false;             // a picture to push before the answer
    bool unanswered = false;           // the probe restarts instead of answering
};

// Text up to the first NUL, or all n bytes when there is none.
std::string c_string(const uint8_t *p, size_t n)
{
    const uint8_t *end = std::find(p, p + n, uint8_t{0});
    return std::string(p, end);
}

// The host listens for the stream on its command source port, byte-swapped, plus one.
uint16_t data_port_for(uint16_t peer_port)
{
    const uint16_t swapped = static_cast<uint16_t>(((peer_port & 0xFF) << 8) | (peer_port >> 8));
    return static_cast<uint16_t>(swapped + 1);
}

// A connection the device opens back to a host after its login, and opens
// again when the host drops it; the session's stream packets go out here.
struct StreamConnection {
    uint32_t token = 0;
    sockaddr_in local{};
    sockaddr_in host{};
    // Set and cleared under Impl::mu by the connection's own thread, which
    // alone may read it without the lock.
    std::shared_ptr<StreamLink> link;
    std::atomic<bool> close_requested{false};
    std::atomic<bool> video_on{false};
    std::atomic<bool> key_frame_wanted{false};
    std::atomic<bool> audio_on{false};
    uint64_t login_order = 0;  // of the login's command connection
    bool done = false;  // guarded by Impl::mu
    std::thread thread;
};

enum class StreamEnd { Stopped, HostClosed, DeviceDropped };

std::chrono::nanoseconds frame_interval(uint32_t fps)
{
    return std::chrono::nanoseconds(1000000000LL / std::max<uint32_t>(fps, 1));
}

int ms_until(Clock::time_point when, Clock::time_point now)
{
    return when > now ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(when - now).count()) : 0;
}

// One accepted command connection: a request, its answer, until the host closes.
struct CommandConnection {
    Socket sock;
    // Accept order. Connections are served in parallel, so a logout may be
    // handled after a later login; it ends only what came before it.
    uint64_t order = 0;
    bool done = false;  // guarded by Impl::mu
    std::thread thread;
};

}  // namespace

struct ProbeSimulator::Impl {
    explicit Impl(DeviceModel m) : model(std::move(m)), defaults(model), system(model), wireless(model.wireless) {}

    std::mutex mu;
    std::condition_variable cv;
    DeviceModel model;
    const DeviceModel defaults;  // what a factory reset returns to
    Fault current_fault = Fault::None;
    uint32_t bcast_echo_passwd = 0;
    std::vector<ReceivedPacket> packets;
    size_t streams_made = 0;
    size_t streams_open = 0;
    VideoModel video;
    StreamOptions stream_options;
    size_t frames_sent = 0;
    size_t pictures_sent = 0;
    size_t key_frame_requests = 0;
    AudioModel audio;
    size_t audio_blocks_sent = 0;
    SerialModel serial;
    uint64_t serial_opened_by = 0;  // order of the command connection that opened the port
    uint64_t commands_accepted = 0;
    DeviceSystemModel system;
    WirelessModel wireless;
    std::vector<std::string> control_texts;
    size_t reboots = 0;
    size_t resets = 0;
    std::list<std::unique_ptr<CommandConnection>> commands;
    std::list<std::unique_ptr<StreamConnection>> streams;

    std::atomic<bool> stopping{false};  // written under mu so waiters never miss it
    Socket listener;
    std::thread accept_thread;
    std::unique_ptr<DiscoveryResponder> discovery;

    void accept_loop();
    void reap_finished();
    void serve(CommandConnection &c);
    bool serve_one(CommandConnection &c);
    void log(ReceivedPacket packet);
    Answer login_answer(const ReceivedPacket &request, Fault fault, bool &accepted);
    Answer command_answer(const ReceivedPacket &request, uint64_t order);
    Answer video_answer(const ReceivedPacket &request);
    Answer audio_answer(const ReceivedPacket &request);
    Answer serial_answer(const ReceivedPacket &request, uint64_t order);
    Answer system_answer(const ReceivedPacket &request);
    Answer wireless_answer(const ReceivedPacket &request);
    void restart(bool factory_reset);
    void push_snapshot();
    bool broadcast(const std::vector<uint8_t> &bytes);
    bool send_param_change(uint32_t sub_type, const std::vector<uint8_t> &data);
    bool send_answer(const Socket &sock, uint16_t request_code, Answer answer, Fault fault);
    void logout(uint32_t token, uint64_t order);
    StreamConnection *start_connect_back(const Socket &login, uint32_t token, uint64_t order);
    void run_stream(StreamConnection &s);
    bool connect_back(StreamConnection &s, std::chrono::seconds window);
    StreamEnd stream_until_closed(StreamConnection &s, VideoSender &sender);
    bool take_host_packets(StreamConnection &s, StreamLink &link, HostStreamParser &parser,
                           const std::vector<uint8_t> &received);
    bool send_audio_block(StreamConnection &s, StreamLink &link);
    FrameOrder take_frame_order(StreamConnection *s);
    void count_frame();
    void drop_link(StreamConnection &s);
    void shut_down_streams();
};

void ProbeSimulator::Impl::accept_loop()
{
    while (!stopping) {
        reap_finished();
        if (!net::wait_readable(listener.fd(), net::kPollSliceMs))
            continue;
        Socket sock(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!sock.valid())
            continue;
        auto conn = std::make_unique<CommandConnection>();
        conn->sock = std::move(sock);
        CommandConnection &ref = *conn;
        std::lock_guard<std::mutex> lock(mu);
        if (stopping)
            break;
        ref.order = ++commands_accepted;
        commands.push_back(std::move(conn));
        ref.thread = std::thread([this, &ref] { serve(ref); });
    }
}

void ProbeSimulator::Impl::reap_finished()
{
    std::list<std::unique_ptr<CommandConnection>> finished_commands;
    std::list<std::unique_ptr<StreamConnection>> finished_streams;
    {
        std::lock_guard<std::mutex> lock(mu);
        for (auto it = commands.begin(); it != commands.end();) {
            auto next = std::next(it);
            if ((*it)->done)
                finished_commands.splice(finished_commands.end(), commands, it);
            it = next;
        }
        for (auto it = streams.begin(); it != streams.end();) {
            auto next = std::next(it);
            if ((*it)->done)
                finished_streams.splice(finished_streams.end(), streams, it);
            it = next;
        }
    }
    for (auto &c : finished_commands)
        c->thread.join();
    for (auto &s : finished_streams)
        s->thread.join();
}

void ProbeSimulator::Impl::serve(CommandConnection &c)
{
    while (serve_one(c)) {
    }
    std::lock_guard<std::mutex> lock(mu);
    c.sock.shutdown();
    c.done = true;
}

// Handles one request on the connection. False when the connection is done.
bool ProbeSimulator::Impl::serve_one(CommandConnection &c)
{
    uint8_t raw[wire::kHeaderSize];
    if (net::read_exact(c.sock.fd(), raw, sizeof raw, stopping) < sizeof raw)
        return false;
    const wire::CommandHeader header = wire::decode_command_header(raw);
    ReceivedPacket packet;
    packet.code = header.code;
    packet.status = header.status;
    packet.token = header.token;
    packet.declared_length = header.length;
    if (header.length > wire::kMaxPayload) {
        log(std::move(packet));
        return false;
    }
    packet.payload.resize(header.length);
    const size_t got = net::read_exact(c.sock.fd(), packet.payload.data(), header.length, stopping);
    packet.payload.resize(got);
    const bool complete = got == header.length && header.magic_ok();
    const ReceivedPacket request = packet;
    log(std::move(packet));
    if (!complete)
        return false;

    if (request.code == wire::kLogout) {
        logout(request.token, c.order);
        return true;
    }
    Fault active;
    {
        std::lock_guard<std::mutex> lock(mu);
        active = current_fault;
    }
    bool accepted = false;
    Answer answer = request.code == wire::kLogin ? login_answer(request, active, accepted)
                                                 : command_answer(request, c.order);
    if (answer.unanswered)
        return false;
    if (answer.snapshot)
        push_snapshot();
    for (const ParamNotice &notice : answer.notices)
        send_param_change(notice.sub_type, notice.data);
    if (active == Fault::AnswerLate) {
        std::unique_lock<std::mutex> lock(mu);
        if (cv.wait_for(lock, kAnswerLateDelay, [this] { return stopping.load(); }))
            return false;
    }
    // The stream exists before the host can send its first command, so a
    // video begin right after the login always finds it.
    StreamConnection *stream =
        accepted && active != Fault::NoConnectBack ? start_connect_back(c.sock, answer.token, c.order) : nullptr;
    if (send_answer(c.sock, request.code, std::move(answer), active))
        return true;
    if (stream) {
        std::lock_guard<std::mutex> lock(mu);
        stream->close_requested = true;
    }
    cv.notify_all();
    return false;
}

void ProbeSimulator::Impl::log(ReceivedPacket packet)
{
    {
        std::lock_guard<std::mutex> lock(mu);
        packets.push_back(std::move(packet));
    }
    cv.notify_all();
}

Answer ProbeSimulator::Impl::login_answer(const ReceivedPacket &request, Fault fault, bool &accepted)
{
    std::lock_guard<std::mutex> lock(mu);
    const std::string access =
        c_string(request.payload.data(), std::min(request.payload.size(), kAccessStringSize));
    const auto &allowed = model.access_strings;
    const bool permitted =
        allowed.empty() || std::find(allowed.begin(), allowed.end(), access) != allowed.end();
    Answer answer;
    answer.code = wire::kLogin;
    if (fault == Fault::RefuseLogin || !permitted) {
        answer.status = wire::kStatusLoginRefused;
        return answer;
    }
    accepted = true;
    answer.token = model.token;
    if (fault == Fault::LoginNoPayload)
        return answer;
    if (fault == Fault::LoginShortPayload) {
        answer.payload.assign(kLoginShortAnswerSize, 0);
        wire::put_u32(answer.payload.data(), model.protocol_version);
        return answer;
    }
    answer.payload.assign(kLoginAnswerSize, 0);
    uint8_t *p = answer.payload.data();
    wire::put_u32(p, model.protocol_version);
    const auto mac = system.mac();
    const auto record = system.info_record();
    std::copy(mac.begin(), mac.end(), p + 24);
    std::copy(record.begin() + 4, record.begin() + 24, p + 30);
    std::copy(record.begin(), record.begin() + 4, p + 52);
    wire::put_u32(p + 56, model.peer_max_frame);
    return answer;
}

Answer ProbeSimulator::Impl::command_answer(const ReceivedPacket &request, uint64_t order)
{
    std::lock_guard<std::mutex> lock(mu);
    Answer answer;
    answer.code = request.code;
    answer.token = model.token;
    if (request.token != model.token) {
        answer.status = wire::kStatusUnsupported;
        return answer;
    }
    if (VideoModel::handles(request.code))
        return video_answer(request);
    if (AudioModel::handles(request.code))
        return audio_answer(request);
    if (SerialModel::handles(request.code))
        return serial_answer(request, order);
    if (DeviceSystemModel::handles(request.code))
        return system_answer(request);
    if (WirelessModel::handles(request.code))
        return wireless_answer(request);
    const std::vector<uint8_t> &in = request.payload;
    switch (request.code) {
    case wire::kGetCompany:
        answer.payload.assign(model.company.begin(), model.company.end());
        answer.payload.push_back(0);
        break;
    case wire::kSetEncrypt:
        model.access_strings = {c_string(in.data(), in.size())};
        break;
    case wire::kSetBcastEchoPasswd:
        if (in.size() == 4)
            bcast_echo_passwd = wire::get_u32(in.data());
        else
            answer.status = wire::kStatusUnsupported;
        break;
    case wire::kSetCustom:
        if (in.size() == model.custom.size())
            std::copy(in.begin(), in.end(), model.custom.begin());
        else
            answer.status = wire::kStatusUnsupported;
        break;
    case wire::kGetCustom:
        answer.payload.assign(model.custom.begin(), model.custom.end());
        break;
    default:
        answer.status = wire::kStatusUnsupported;
        break;
    }
    return answer;
}

// Called with mu held, the token checked.
Answer ProbeSimulator::Impl::video_answer(const ReceivedPacket &request)
{
    VideoAnswer v = video.answer(request.code, request.payload);
    Answer answer;
    answer.code = request.code;
    answer.token = model.token;
    answer.status = v.status;
    answer.payload = std::move(v.payload);
    answer.notices = std::move(v.notices);
    if (request.code == wire::kGetVideoInfo && current_fault == Fault::VideoInfoShort)
        answer.payload.resize(kVideoInfoShortSize);
    switch (v.event) {
    case VideoEvent::Begin:
    case VideoEvent::End:
        for (auto &s : streams) {
            if (s->token != request.token)
                continue;
            const bool begin = v.event == VideoEvent::Begin;
            s->video_on = begin;
            // A decoder joining now needs a key frame first.
            if (begin)
                s->key_frame_wanted = true;
        }
        break;
    case VideoEvent::ForceKeyFrame:
        ++key_frame_requests;
        for (auto &s : streams)
            s->key_frame_wanted = true;
        break;
    case VideoEvent::PeerMaxFrame:
        model.peer_max_frame = v.value;
        break;
    case VideoEvent::Snapshot:
        answer.snapshot = true;
        break;
    case VideoEvent::None:
        break;
    }
    return answer;
}

// Called with mu held, the token checked.
Answer ProbeSimulator::Impl::audio_answer(const ReceivedPacket &request)
{
    AudioAnswer a = audio.answer(request.code, request.payload);
    Answer answer;
    answer.code = request.code;
    answer.token = model.token;
    answer.status = a.status;
    answer.payload = std::move(a.payload);
    if (!answer.payload.empty() && current_fault == Fault::AudioParamsShort)
        answer.payload.resize(kAudioParamsShortSize);
    if (!answer.payload.empty() && current_fault == Fault::AudioParamsLong)
        answer.payload.resize(kAudioParamsLongSize);
    if (a.event != AudioEvent::None)
        for (auto &s : streams)
            if (s->token == request.token)
                s->audio_on = a.event == AudioEvent::Begin;
    return answer;
}

// Called with mu held, the token checked.
Answer ProbeSimulator::Impl::serial_answer(const ReceivedPacket &request, uint64_t order)
{
    const bool was_open = serial.is_open();
    SerialAnswer a = serial.answer(request.code, request.payload);
    if (!was_open && serial.is_open())
        serial_opened_by = order;
    Answer answer;
    answer.code = request.code;
    answer.token = model.token;
    answer.status = a.status;
    answer.payload = std::move(a.payload);
    answer.notices = std::move(a.notices);
    if (!answer.payload.empty() && current_fault == Fault::SerialParamsShort)
        answer.payload.resize(kSerialParamsShortSize);
    if (!answer.payload.empty() && current_fault == Fault::SerialParamsLong)
        answer.payload.resize(kSerialParamsLongSize);
    return answer;
}

// Called with mu held, the token checked.
Answer ProbeSimulator::Impl::system_answer(const ReceivedPacket &request)
{
    SystemAnswer a = system.answer(request.code, request.payload);
    Answer answer;
    answer.code = request.code;
    answer.token = model.token;
    answer.status = a.status;
    answer.payload = std::move(a.payload);
    if (current_fault != Fault::SilentGpio)
        answer.notices = std::move(a.notices);
    if (request.code == kGetAlias && current_fault == Fault::AliasWithoutNul && !answer.payload.empty())
        answer.payload.pop_back();
    switch (a.event) {
    case SystemEvent::Reboot:
    case SystemEvent::Reset:
        restart(a.event == SystemEvent::Reset);
        answer.unanswered = true;
        break;
    case SystemEvent::ControlText:
        control_texts.push_back(std::move(a.text));
        break;
    case SystemEvent::None:
        break;
    }
    return answer;
}

// Called with mu held, the token checked.
Answer ProbeSimulator::Impl::wireless_answer(const ReceivedPacket &request)
{
    WirelessAnswer a = wireless.answer(request.code, request.payload);
    Answer answer;
    answer.code = request.code;
    answer.token = model.token;
    answer.status = a.status;
    answer.payload = std::move(a.payload);
    return answer;
}

// Called with mu held. A restarting probe drops every connection; the hosts
// must log in again. A factory reset also forgets what the hosts changed.
void ProbeSimulator::Impl::restart(bool factory_reset)
{
    ++(factory_reset ? resets : reboots);
    serial.close();
    shut_down_streams();
    if (factory_reset) {
        model = defaults;
        video = VideoModel();
        system = DeviceSystemModel(defaults);
        wireless = WirelessModel(defaults.wireless);
    }
    cv.notify_all();
}

void ProbeSimulator::Impl::push_snapshot()
{
    SnapshotSettings settings;
    StreamOptions options;
    uint32_t token;
    uint32_t sequence;
    {
        std::lock_guard<std::mutex> lock(mu);
        settings = video.snapshot();
        options = stream_options;
        token = model.token;
        sequence = static_cast<uint32_t>(pictures_sent + 1);
    }
    const std::vector<uint8_t> bytes = snapshot_packets(token, settings, sequence, options);
    if (bytes.empty() || !broadcast(bytes))
        return;
    {
        std::lock_guard<std::mutex> lock(mu);
        ++pictures_sent;
    }
    cv.notify_all();
}

// Writes outside mu: a write waits for the frame another thread is writing.
bool ProbeSimulator::Impl::broadcast(const std::vector<uint8_t> &bytes)
{
    std::vector<std::shared_ptr<StreamLink>> links;
    {
        std::lock_guard<std::mutex> lock(mu);
        for (auto &s : streams)
            if (s->link && !s->close_requested)
                links.push_back(s->link);
    }
    bool written = false;
    for (auto &link : links)
        written = link->write(bytes) || written;
    return written;
}

bool ProbeSimulator::Impl::send_param_change(uint32_t sub_type, const std::vector<uint8_t> &data)
{
    StreamPacket packet;
    packet.type = static_cast<uint8_t>(wire::StreamType::ParamChange);
    packet.payload.resize(4);
    wire::put_u32(packet.payload.data(), sub_type);
    packet.payload.insert(packet.payload.end(), data.begin(), data.end());
    uint32_t token;
    {
        std::lock_guard<std::mutex> lock(mu);
        token = model.token;
    }
    return broadcast(raw_packets({packet}, token));
}

// Sends the answer with the fault applied. False when the connection must
// close afterwards.
bool ProbeSimulator::Impl::send_answer(const Socket &sock, uint16_t request_code, Answer answer,
                                       Fault fault)
{
    wire::CommandHeader header;
    header.code = answer.code;
    header.status = answer.status;
    header.token = answer.token;
    header.length = static_cast<uint32_t>(answer.payload.size());
    switch (fault) {
    case Fault::WrongMagic:
        header.magic[2] = 'X';
        break;
    case Fault::WrongCode:
        header.code = static_cast<uint16_t>(request_code + 1);
        break;
    case Fault::WrongToken: {
        std::lock_guard<std::mutex> lock(mu);
        header.token = model.token + 1;
        break;
    }
    case Fault::NonzeroStatus:
        if (request_code != wire::kLogin)
            header.status = wire::kStatusUnsupported;
        break;
    case Fault::CloseMidResponse:
        header.length = kCutAnnounced;
        answer.payload.resize(kCutSent, 0);
        break;
    case Fault::AnswerOneByteShort:
        if (request_code != wire::kLogin && !answer.payload.empty())
            answer.payload.pop_back();
        header.length = static_cast<uint32_t>(answer.payload.size());
        break;
    case Fault::AnswerOneByteLong:
        if (request_code != wire::kLogin)
            answer.payload.push_back(0);
        header.length = static_cast<uint32_t>(answer.payload.size());
        break;
    default:
        break;
    }
    const auto head = wire::encode(header);
    std::vector<uint8_t> bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), answer.payload.begin(), answer.payload.end());
    return net::send_all(sock.fd(), bytes.data(), bytes.size()) && fault != Fault::CloseMidResponse;
}

void ProbeSimulator::Impl::logout(uint32_t token, uint64_t order)
{
    std::lock_guard<std::mutex> lock(mu);
    if (token != model.token)
        return;
    if (serial_opened_by < order)
        serial.close();
    for (auto &s : streams) {
        if (s->token != token || s->login_order > order)
            continue;
        s->close_requested = true;
        if (s->link)
            s->link->shutdown();
    }
    cv.notify_all();
}

// The connection stays listed until its thread has finished; stop() joins it.
StreamConnection *ProbeSimulator::Impl::start_connect_back(const Socket &login, uint32_t token, uint64_t order)
{
    auto conn = std::make_unique<StreamConnection>();
    conn->login_order = order;
    socklen_t len = sizeof conn->host;
    if (getpeername(login.fd(), reinterpret_cast<sockaddr *>(&conn->host), &len) != 0 ||
        conn->host.sin_family != AF_INET)
        return nullptr;
    len = sizeof conn->local;
    // Connect from the address the host reached us on, so the stream visibly
    // comes from the same device.
    if (getsockname(login.fd(), reinterpret_cast<sockaddr *>(&conn->local), &len) != 0)
        return nullptr;
    conn->local.sin_port = 0;
    conn->host.sin_port = htons(data_port_for(ntohs(conn->host.sin_port)));
    conn->token = token;
    StreamConnection &ref = *conn;
    std::lock_guard<std::mutex> lock(mu);
    if (stopping)
        return nullptr;
    streams.push_back(std::move(conn));
    ref.thread = std::thread([this, &ref] { run_stream(ref); });
    return &ref;
}

void ProbeSimulator::Impl::run_stream(StreamConnection &s)
{
    VideoSender sender(s.token);
    auto window = kConnectBackWindow;
    while (connect_back(s, window)) {
        const StreamEnd end = stream_until_closed(s, sender);
        drop_link(s);
        if (end != StreamEnd::HostClosed)
            break;
        window = kReconnectWindow;
        s.key_frame_wanted = true;
    }
    {
        std::lock_guard<std::mutex> lock(mu);
        s.done = true;
    }
    cv.notify_all();
}

void ProbeSimulator::Impl::drop_link(StreamConnection &s)
{
    {
        std::lock_guard<std::mutex> lock(mu);
        if (!s.link)
            return;
        s.link->shutdown();
        s.link.reset();
        --streams_open;
    }
    cv.notify_all();
}

bool ProbeSimulator::Impl::connect_back(StreamConnection &s, std::chrono::seconds window)
{
    const auto deadline = Clock::now() + window;
    for (;;) {
        // A logout may have cut the last connection: never open one after it.
        if (stopping || s.close_requested)
            return false;
        Socket attempt = net::connect_from(s.local, s.host, deadline, stopping);
        std::unique_lock<std::mutex> lock(mu);
        if (stopping || s.close_requested)
            return false;
        if (attempt.valid()) {
            s.link = std::make_shared<StreamLink>(std::move(attempt));
            ++streams_made;
            ++streams_open;
            cv.notify_all();
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        cv.wait_until(lock, std::min(deadline, now + kConnectRetryPause),
                      [this, &s] { return stopping.load() || s.close_requested.load(); });
    }
}

// Sends video and audio while they are on, at their rates, and serves what
// the host writes, until logout, stop(), the host closing its end, or a
// fault that drops the connection.
StreamEnd ProbeSimulator::Impl::stream_until_closed(StreamConnection &s, VideoSender &sender)
{
    StreamLink &link = *s.link;
    HostStreamParser from_host;
    auto next_frame = Clock::now();
    auto next_audio = Clock::now();
    auto next_host_check = Clock::now();
    bool was_on = false;
    bool audio_was_on = false;
    while (!stopping && !s.close_requested) {
        const bool on = s.video_on;
        const bool audio_on = s.audio_on;
        const auto now = Clock::now();
        if (on && !was_on)
            next_frame = now;
        was_on = on;
        if (audio_on && !audio_was_on)
            next_audio = now;
        audio_was_on = audio_on;
        int wait_ms = kIdleSliceMs;
        if (on && next_frame > now)
            wait_ms = static_cast<int>(std::min<int64_t>(
                kIdleSliceMs,
                std::chrono::ceil<std::chrono::milliseconds>(next_frame - now).count()));
        else if (on)
            wait_ms = 0;
        if (audio_on)
            wait_ms = std::min(wait_ms, ms_until(next_audio, now));
        // Flat out, the host side is looked at once a millisecond rather
        // than before every frame: the frames go out at the sender's pace.
        if (wait_ms > 0 || now >= next_host_check) {
            next_host_check = now + kHostCheckInterval;
            std::vector<uint8_t> received;
            const bool host_closed = link.host_closed(wait_ms, received);
            if (!take_host_packets(s, link, from_host, received) || host_closed)
                return StreamEnd::HostClosed;
        }
        if (audio_on && Clock::now() >= next_audio) {
            if (!send_audio_block(s, link))
                return StreamEnd::HostClosed;
            // A block sent late (behind a video frame) is caught up, but a
            // stream that fell far behind skips ahead instead of bursting.
            next_audio = std::max(next_audio + kAudioBlockInterval, Clock::now() - 2 * kAudioBlockInterval);
        }
        if (!on || Clock::now() < next_frame)
            continue;
        const FrameOrder order = take_frame_order(&s);
        const auto interval = frame_interval(order.settings.fps);
        next_frame = order.options.unlimited_rate ? Clock::now() : std::max(next_frame + interval, Clock::now() - interval);
        uint64_t written = 0;
        switch (sender.send_next(link, order, written)) {
        case FrameOutcome::Sent:
            count_frame();
            break;
        case FrameOutcome::Skipped:
            if (order.fault != Fault::None) {
                // Not used up: the next frame sent carries it.
                std::lock_guard<std::mutex> lock(mu);
                if (current_fault == Fault::None)
                    current_fault = order.fault;
            }
            break;
        case FrameOutcome::WriteFailed:
            return StreamEnd::HostClosed;
        case FrameOutcome::Dropped:
            return StreamEnd::DeviceDropped;
        }
    }
    return StreamEnd::Stopped;
}

// Audio for the speaker is kept; serial bytes go to the port, whose
// loop-back sends them straight back. False when that reply cannot be written.
bool ProbeSimulator::Impl::take_host_packets(StreamConnection &s, StreamLink &link, HostStreamParser &parser,
                                             const std::vector<uint8_t> &received)
{
    if (received.empty())
        return true;
    parser.feed(received);
    std::vector<uint8_t> reply;
    bool played = false;
    {
        std::lock_guard<std::mutex> lock(mu);
        HostPacket packet;
        while (parser.next(packet)) {
            if (packet.token != s.token)
                continue;  // not this session's: the device ignores it
            if (packet.type == static_cast<uint8_t>(wire::StreamType::Audio)) {
                audio.play(packet.payload);
                played = true;
            } else if (packet.type == static_cast<uint8_t>(wire::StreamType::Serial)) {
                for (const auto &block : serial.forward(packet.payload))
                    append_packets(reply, s.token, static_cast<uint8_t>(wire::StreamType::Serial), block, 0);
            }
        }
    }
    if (played)
        cv.notify_all();
    return reply.empty() || link.write(reply);
}

bool ProbeSimulator::Impl::send_audio_block(StreamConnection &s, StreamLink &link)
{
    std::vector<uint8_t> block;
    {
        std::lock_guard<std::mutex> lock(mu);
        block = audio.next_block();
    }
    std::vector<uint8_t> bytes;
    append_packets(bytes, s.token, static_cast<uint8_t>(wire::StreamType::Audio), block, 0);
    if (!link.write(bytes))
        return false;
    {
        std::lock_guard<std::mutex> lock(mu);
        ++audio_blocks_sent;
    }
    cv.notify_all();
    return true;
}

// What the next frame is made of; a pending stream fault is taken for it.
// Without a connection (benchmarks) no fault and no key request applies.
FrameOrder ProbeSimulator::Impl::take_frame_order(StreamConnection *s)
{
    FrameOrder order;
    std::lock_guard<std::mutex> lock(mu);
    order.settings = video.settings();
    order.options = stream_options;
    if (!s)
        return order;
    if (is_stream_fault(current_fault)) {
        order.fault = current_fault;
        current_fault = Fault::None;
    }
    order.key_frame_wanted = s->key_frame_wanted.exchange(false);
    return order;
}

void ProbeSimulator::Impl::count_frame()
{
    {
        std::lock_guard<std::mutex> lock(mu);
        ++frames_sent;
    }
    cv.notify_all();
}

void ProbeSimulator::Impl::shut_down_streams()
{
    for (auto &s : streams) {
        s->close_requested = true;
        if (s->link)
            s->link->shutdown();
    }
}

ProbeSimulator::ProbeSimulator(DeviceModel model) : impl_(std::make_unique<Impl>(std::move(model)))
{
}

ProbeSimulator::~ProbeSimulator()
{
    stop();
}

bool ProbeSimulator::start(const std::string &address, uint16_t port)
{
    Impl &d = *impl_;
    if (d.accept_thread.joinable())
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
        return false;
    Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener.valid())
        return false;
    const int on = 1;
    if (setsockopt(listener.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener.fd(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(listener.fd(), SOMAXCONN) != 0 || !net::set_nonblocking(listener.fd()))
        return false;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        d.stopping = false;
        d.streams_made = 0;
        d.frames_sent = 0;
        d.pictures_sent = 0;
        d.key_frame_requests = 0;
        d.audio_blocks_sent = 0;
    }
    d.listener = std::move(listener);
    d.accept_thread = std::thread([&d] { d.accept_loop(); });
    return true;
}

void ProbeSimulator::stop()
{
    Impl &d = *impl_;
    if (!d.accept_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        d.stopping = true;
        for (auto &c : d.commands)
            c->sock.shutdown();
        d.shut_down_streams();
    }
    d.cv.notify_all();
    d.accept_thread.join();

    // Command threads may still be registering connect-backs; stopping is
    // set, so none gets added once they have all been joined.
    std::list<std::unique_ptr<CommandConnection>> commands;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        commands.swap(d.commands);
        for (auto &c : commands)
            c->sock.shutdown();
    }
    for (auto &c : commands)
        c->thread.join();

    std::list<std::unique_ptr<StreamConnection>> streams;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        d.shut_down_streams();
        streams.swap(d.streams);
    }
    for (auto &s : streams)
        s->thread.join();
    d.discovery.reset();
    d.listener.reset();
}

bool ProbeSimulator::start_discovery(const DiscoveryModel &model)
{
    Impl &d = *impl_;
    sockaddr_in bound{};
    socklen_t bound_length = sizeof bound;
    if (!d.accept_thread.joinable() || d.discovery ||
        getsockname(d.listener.fd(), reinterpret_cast<sockaddr *>(&bound), &bound_length) != 0)
        return false;
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &bound.sin_addr, address, sizeof address);
    auto responder = std::make_unique<DiscoveryResponder>(model);
    if (!responder->start(address))
        return false;
    d.discovery = std::move(responder);
    return true;
}

void ProbeSimulator::set_fault(Fault fault)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->current_fault = fault;
}

DeviceModel ProbeSimulator::model() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->model;
}

std::vector<ReceivedPacket> ProbeSimulator::packets() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->packets;
}

void ProbeSimulator::clear_packets()
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->packets.clear();
}

bool ProbeSimulator::wait_for_packets(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [this, count] { return impl_->packets.size() >= count; });
}

size_t ProbeSimulator::stream_connections_made() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->streams_made;
}

size_t ProbeSimulator::stream_connections_open() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->streams_open;
}

bool ProbeSimulator::wait_for_stream_connections(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [this, count] { return impl_->streams_made >= count; });
}

void ProbeSimulator::set_stream_options(const StreamOptions &options)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->stream_options = options;
}

void ProbeSimulator::set_video_format(uint32_t format, uint16_t width, uint16_t height, uint32_t fps)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->video.set_format(format, width, height, fps);
}

std::vector<uint8_t> ProbeSimulator::frame_payload(uint32_t format, uint32_t resolution, uint32_t sequence,
                                                   bool key_frame, const std::vector<uint8_t> &data)
{
    return wire::frame_payload(format, resolution, sequence, key_frame, data.data(), data.size());
}

bool ProbeSimulator::send_stream_packets(const std::vector<StreamPacket> &packets)
{
    uint32_t token;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        token = impl_->model.token;
    }
    return impl_->broadcast(raw_packets(packets, token));
}

bool ProbeSimulator::send_param_change(uint32_t sub_type, const std::vector<uint8_t> &data)
{
    return impl_->send_param_change(sub_type, data);
}

std::array<uint8_t, 736> ProbeSimulator::video_info_block() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->video.info_block();
}

size_t ProbeSimulator::video_frames_sent() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->frames_sent;
}

bool ProbeSimulator::wait_for_video_frames(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [this, count] { return impl_->frames_sent >= count; });
}

size_t ProbeSimulator::pictures_sent() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->pictures_sent;
}

size_t ProbeSimulator::key_frame_requests() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->key_frame_requests;
}

size_t ProbeSimulator::audio_blocks_sent() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->audio_blocks_sent;
}

bool ProbeSimulator::wait_for_audio_blocks(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [this, count] { return impl_->audio_blocks_sent >= count; });
}

size_t ProbeSimulator::host_audio_blocks() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->audio.blocks_played();
}

bool ProbeSimulator::wait_for_host_audio(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [this, count] { return impl_->audio.blocks_played() >= count; });
}

std::vector<uint8_t> ProbeSimulator::last_host_audio() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->audio.last_played();
}

bool ProbeSimulator::serial_open() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->serial.is_open();
}

bool ProbeSimulator::send_serial(const std::vector<uint8_t> &bytes)
{
    std::vector<uint8_t> packets;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        for (const auto &block : impl_->serial.forward(bytes))
            append_packets(packets, impl_->model.token, static_cast<uint8_t>(wire::StreamType::Serial), block, 0);
    }
    return !packets.empty() && impl_->broadcast(packets);
}

uint32_t ProbeSimulator::device_id() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->system.device_id();
}

std::string ProbeSimulator::alias() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->system.alias();
}

uint64_t ProbeSimulator::clock_seconds() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->system.clock_seconds();
}

std::vector<GpioPin> ProbeSimulator::gpio_pins() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->system.gpio_pins();
}

std::array<uint8_t, 256> ProbeSimulator::i2c_registers() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->system.i2c_registers();
}

WirelessSettings ProbeSimulator::wireless() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->wireless.settings();
}

std::vector<std::string> ProbeSimulator::control_texts() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->control_texts;
}

size_t ProbeSimulator::reboots() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->reboots;
}

size_t ProbeSimulator::resets() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->resets;
}

bool ProbeSimulator::wait_for_reboots(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [this, count] { return impl_->reboots + impl_->resets >= count; });
}

uint64_t ProbeSimulator::stream_frames_to(const std::string &address, uint16_t port, size_t frames)
{
    Impl &d = *impl_;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &remote.sin_addr) != 1)
        return 0;
    Socket socket = net::connect_from(local, remote, Clock::now() + kStreamConnectWindow, d.stopping);
    if (!socket.valid())
        return 0;
    StreamLink link(std::move(socket));
    uint32_t token;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        token = d.model.token;
    }
    VideoSender sender(token);
    uint64_t written = 0;
    size_t sent = 0;
    // Frames that are dropped on purpose or fail to encode do not count;
    // the bound keeps a setting that sends nothing from looping for ever.
    const size_t attempts = 2 * frames + 100;
    auto next_frame = Clock::now();
    for (size_t attempt = 0; sent < frames && attempt < attempts; ++attempt) {
        const FrameOrder order = d.take_frame_order(nullptr);
        if (!order.options.unlimited_rate) {
            std::this_thread::sleep_until(next_frame);
            next_frame += frame_interval(order.settings.fps);
        }
        const FrameOutcome outcome = sender.send_next(link, order, written);
        if (outcome == FrameOutcome::WriteFailed)
            return 0;
        if (outcome == FrameOutcome::Sent) {
            ++sent;
            d.count_frame();
        }
    }
    return sent == frames ? written : 0;
}

}  // namespace probesim
