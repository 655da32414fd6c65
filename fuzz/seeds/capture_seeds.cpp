// Records what the simulators send, the way the modules send it, as the seed
// corpora of the fuzz targets: command and login answers, stream packets of
// every type (also as P2P channel reads), notices, frames, the second kind
// of module's HTTP answers and stream, the signalling messages and the
// probe's picture. Run by hand after a change to the wire format:
//   capture_seeds fuzz/corpus
// Everything stays on 127.14.1.x.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "channel_frames.h"
#include "end_face_picture.h"
#include "fuzz_session.h"
#include "init_string.h"
#include "input_split.h"
#include "ml_http_server.h"
#include "probe_simulator.h"
#include "probe_wire.h"
#include "qrn_net.h"
#include "session_readers.h"
#include "signal_message.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace wire = probesim::wire;

const char *const kModule = "127.14.1.1";
const char *const kRelay = "127.14.1.2";
const char *const kHost = "127.14.1.3";
const char *const kMlModule = "127.14.1.4";
constexpr uint16_t kCommandPort = 34674;
constexpr uint16_t kMlPort = 18080;
// Seeds stay small: a frame is cut off after this many bytes of packets.
constexpr size_t kMaxStreamSeed = 12 * 1024;
// The stream time-out the P2P stream seeds ask for.
constexpr uint8_t kStreamSeedTimeoutMs = 3;

std::filesystem::path corpus_root;

void write_seed(const std::string &target, const std::string &name, const Bytes &bytes)
{
    const auto dir = corpus_root / target;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    std::printf("%-16s %-24s %6zu bytes\n", target.c_str(), name.c_str(), bytes.size());
}

sockaddr_in address_of(const char *address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

int connect_to(const char *address, uint16_t port, const char *from = nullptr, uint16_t from_port = 0)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (from) {
        const sockaddr_in local = address_of(from, from_port);
        if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
            close(fd);
            return -1;
        }
    }
    const sockaddr_in remote = address_of(address, port);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&remote), sizeof remote) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Everything the peer sends until it closes or is quiet for quiet_ms.
Bytes read_until_quiet(int fd, int quiet_ms, size_t limit = 1 << 20)
{
    Bytes out;
    uint8_t buffer[8192];
    pollfd wait{fd, POLLIN, 0};
    while (out.size() < limit && poll(&wait, 1, quiet_ms) > 0) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

void send_all(int fd, const Bytes &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

Bytes command_packet(uint16_t code, uint32_t token, const Bytes &payload)
{
    wire::CommandHeader header;
    header.code = code;
    header.token = token;
    header.length = static_cast<uint32_t>(payload.size());
    const auto head = wire::encode(header);
    Bytes packet(head.begin(), head.end());
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

Bytes u32(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

// One command on a connection of its own; the raw answer.
Bytes raw_command(uint16_t code, const Bytes &payload = {})
{
    const int fd = connect_to(kModule, kCommandPort);
    if (fd < 0)
        return {};
    send_all(fd, command_packet(code, fuzzing::kFuzzToken, payload));
    Bytes answer = read_until_quiet(fd, 300);
    close(fd);
    return answer;
}

// Passes command connections on to the module and records what the module
// answers on each, in order.
class RecordingRelay {
public:
    RecordingRelay()
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in where = address_of(kRelay, 0);
        bind(listener_, reinterpret_cast<sockaddr *>(&where), sizeof where);
        listen(listener_, 8);
        socklen_t length = sizeof where;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&where), &length);
        port_ = ntohs(where.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RecordingRelay()
    {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    uint16_t port() const { return port_; }
    std::vector<Bytes> take()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::move(answers_);
    }

private:
    void serve()
    {
        while (!stop_) {
            pollfd wait{listener_, POLLIN, 0};
            if (poll(&wait, 1, 100) <= 0)
                continue;
            const int host = accept(listener_, nullptr, nullptr);
            const int module = connect_to(kModule, kCommandPort);
            Bytes answer;
            pollfd both[2] = {{host, POLLIN, 0}, {module, POLLIN, 0}};
            uint8_t buffer[8192];
            while (module >= 0 && poll(both, 2, 2000) > 0) {
                if (both[0].revents) {
                    const ssize_t n = recv(host, buffer, sizeof buffer, 0);
                    if (n <= 0)
                        break;
                    send_all(module, Bytes(buffer, buffer + n));
                }
                if (both[1].revents) {
                    const ssize_t n = recv(module, buffer, sizeof buffer, 0);
                    if (n <= 0)
                        break;
                    answer.insert(answer.end(), buffer, buffer + n);
                    send_all(host, Bytes(buffer, buffer + n));
                }
            }
            close(host);
            if (module >= 0)
                close(module);
            std::lock_guard<std::mutex> guard(mutex_);
            answers_.push_back(std::move(answer));
        }
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Bytes> answers_;
    std::thread thread_;
};

// A host logged in from kHost, holding the stream connection the module
// opens back to it.
struct RawHost {
    Bytes login_answer;
    int stream = -1;

    bool login()
    {
        for (uint16_t data_port = 40001; data_port < 40100; data_port += 2) {
            const int listener = socket(AF_INET, SOCK_STREAM, 0);
            const int on = 1;
            setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in where = address_of(kHost, data_port);
            if (bind(listener, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 || listen(listener, 2) != 0) {
                close(listener);
                continue;
            }
            const uint16_t swapped = static_cast<uint16_t>(data_port - 1);
            const uint16_t login_port = static_cast<uint16_t>((swapped & 0xFF) << 8 | swapped >> 8);
            const int fd = connect_to(kModule, kCommandPort, kHost, login_port);
            if (fd < 0) {
                close(listener);
                continue;
            }
            send_all(fd, command_packet(wire::kLogin, 0, {}));
            login_answer = read_until_quiet(fd, 300);
            close(fd);
            pollfd wait{listener, POLLIN, 0};
            if (poll(&wait, 1, 3000) > 0)
                stream = accept(listener, nullptr, nullptr);
            close(listener);
            return stream >= 0;
        }
        return false;
    }
};

// Whole packets from the start of bytes, up to the limit; and those of one
// type only when type is given.
Bytes whole_packets(const Bytes &bytes, int type, size_t limit)
{
    Bytes out;
    size_t at = 0;
    while (at + wire::kHeaderSize <= bytes.size()) {
        const uint32_t length = wire::get_u32(&bytes[at + 12]);
        const size_t end = at + wire::kHeaderSize + length;
        if (end > bytes.size())
            break;
        const bool wanted = type < 0 || bytes[at + 8] == type;
        if (wanted && out.size() + (end - at) > limit)
            break;
        if (wanted)
            out.insert(out.end(), bytes.begin() + at, bytes.begin() + end);
        at = end;
    }
    return out;
}

// A stream as the LAN connection carries it, and as channel 2 of a P2P
// session delivers it: reads of uneven sizes, one of which timed out.
void write_stream_seed(const std::string &name, const Bytes &bytes)
{
    write_seed("stream_packets", name, bytes);
    Bytes seed{kStreamSeedTimeoutMs};
    size_t at = 0;
    for (size_t piece = 16; at < bytes.size(); piece = piece * 5 % 1499 + 1) {
        if (at == 16)
            fuzzing::append_part(seed, {});  // after the first header
        const size_t take = std::min(piece, bytes.size() - at);
        fuzzing::append_part(seed, Bytes(bytes.begin() + at, bytes.begin() + at + take));
        at += take;
    }
    write_seed("p2p_stream_channel", name, seed);
}

// The payloads of the packets of one type, each frame or block joined.
std::vector<Bytes> assembled(const Bytes &bytes, uint8_t type)
{
    std::vector<Bytes> blocks;
    Bytes current;
    size_t at = 0;
    while (at + wire::kHeaderSize <= bytes.size()) {
        const uint32_t length = wire::get_u32(&bytes[at + 12]);
        if (at + wire::kHeaderSize + length > bytes.size())
            break;
        if (bytes[at + 8] == type) {
            if (bytes[at + 10] == 0)
                current.clear();
            current.insert(current.end(), bytes.begin() + at + wire::kHeaderSize,
                           bytes.begin() + at + wire::kHeaderSize + length);
            if (bytes[at + 10] + 1 == bytes[at + 9])
                blocks.push_back(current);
        }
        at += wire::kHeaderSize + length;
    }
    return blocks;
}

void capture_module()
{
    probesim::ProbeSimulator sim;
    if (!sim.start(kModule, kCommandPort)) {
        std::fprintf(stderr, "cannot start the simulator on %s\n", kModule);
        std::exit(1);
    }
    RawHost host;
    if (!host.login()) {
        std::fprintf(stderr, "no login\n");
        std::exit(1);
    }
    write_seed("login_answer", "login", [&] {
        Bytes seed;
        fuzzing::append_part(seed, host.login_answer);
        return seed;
    }());

    // The families' answers, through the SDK's own readers.
    {
        RecordingRelay relay;
        fuzzing::FuzzSession session(kRelay, relay.port());
        for (size_t i = 0; i < fuzzing::kSessionReaderCount; ++i) {
            fuzzing::kSessionReaders[i].read(session.handle());
            // The relay files an answer once its connection has closed.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Bytes seed{static_cast<uint8_t>(i)};
            for (const Bytes &answer : relay.take())
                fuzzing::append_part(seed, answer);
            write_seed("command_answer", fuzzing::kSessionReaders[i].name, seed);
            // Over P2P the same answers come as reads on channel 1.
            write_seed("p2p_command_channel", fuzzing::kSessionReaders[i].name, seed);
        }
    }

    // Small pictures in many fragments, so a seed holds whole frames.
    probesim::StreamOptions options;
    options.fragment_size = 1024;
    sim.set_stream_options(options);
    std::atomic<bool> reading{true};
    Bytes stream;
    std::mutex stream_mutex;
    std::thread reader([&] {
        while (reading) {
            Bytes got = read_until_quiet(host.stream, 100);
            std::lock_guard<std::mutex> guard(stream_mutex);
            stream.insert(stream.end(), got.begin(), got.end());
        }
    });
    const auto take_stream = [&](int ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::lock_guard<std::mutex> guard(stream_mutex);
        return std::move(stream);
    };

    const struct {
        const char *name;
        uint32_t format;
        uint16_t width;
        uint16_t height;
    } formats[] = {{"mjpeg", QRN_FORMAT_JPEG, 320, 240}, {"h264", QRN_FORMAT_H264, 640, 480},
                   {"yuyv", QRN_FORMAT_YUYV, 320, 240}};
    for (const auto &f : formats) {
        // The smallest picture each format offers.
        sim.set_video_format(f.format, f.width, f.height, 10);
        take_stream(200);
        raw_command(wire::kVideoBegin);
        const Bytes video = take_stream(700);
        raw_command(wire::kVideoEnd);
        write_stream_seed(std::string("video_") + f.name, whole_packets(video, -1, kMaxStreamSeed));
        const std::vector<Bytes> frames = assembled(video, 0);
        if (frames.empty())
            continue;
        if (f.format == QRN_FORMAT_JPEG) {
            Bytes seed{1};
            seed.insert(seed.end(), frames[0].begin(), frames[0].end());
            write_seed("frame_element", "simulator_mjpeg", seed);
        }
        if (f.format != QRN_FORMAT_YUYV) {
            // The decoders take the data after the frame header.
            Bytes seed{static_cast<uint8_t>(f.format == QRN_FORMAT_JPEG ? 0 : 1)};
            for (size_t i = 0; i < frames.size() && i < 4; ++i)
                fuzzing::append_part(seed, Bytes(frames[i].begin() + wire::kFrameHeaderSize, frames[i].end()));
            write_seed("video_decoder", std::string("simulator_") + f.name, seed);
        } else {
            // A strip of the picture, as a picture of its own: 16 x 24.
            const Bytes &frame = frames[0];
            Bytes seed{2, 8, 24};
            seed.insert(seed.end(), frame.begin() + wire::kFrameHeaderSize,
                        frame.begin() + wire::kFrameHeaderSize + 16 * 24 * 2);
            write_seed("video_decoder", "simulator_yuyv", seed);
        }
    }
    take_stream(200);

    raw_command(wire::kSnapshot);
    write_stream_seed("picture", whole_packets(take_stream(700), -1, kMaxStreamSeed));

    // Audio as the module frames it: one block whole, one in two fragments.
    probesim::StreamPacket whole;
    whole.type = 2;
    whole.payload.assign(320, 0xD5);
    probesim::StreamPacket first = whole;
    first.fragment_count = 2;
    first.payload.resize(160);
    probesim::StreamPacket second = first;
    second.fragment_index = 1;
    sim.send_stream_packets({whole, first, second});
    write_stream_seed("audio", whole_packets(take_stream(300), 2, kMaxStreamSeed));

    raw_command(wire::kSerialOpen);
    sim.send_serial(Bytes{'A', 'T', '+', 'V', 'E', 'R', '\r', '\n'});
    write_stream_seed("serial", whole_packets(take_stream(300), 3, 4096));

    // Notices: those a setting change makes, then one of each sub-type.
    raw_command(wire::kSetFormat, u32(QRN_FORMAT_JPEG));
    raw_command(wire::kSetFps, u32(15));
    const Bytes block = sim.video_info_block().size() ? Bytes(sim.video_info_block().begin(), sim.video_info_block().end()) : Bytes();
    const std::vector<std::pair<uint32_t, Bytes>> notices = {
        {QRN_PARAM_ABILITY, Bytes(block.begin(), block.begin() + 400)},
        {QRN_PARAM_VIDEO, Bytes(block.end() - 16, block.end())},
        {QRN_PARAM_VIDEO_CTRL, [&] {
             Bytes d = u32(3);
             d.insert(d.end(), block.begin() + 400 + 3 * 32, block.begin() + 400 + 4 * 32);
             return d;
         }()},
        {QRN_PARAM_AUDIO, [] {
             Bytes d = u32(8000);
             for (uint32_t v : {1u, 16u}) {
                 const Bytes w = u32(v);
                 d.insert(d.end(), w.begin(), w.end());
             }
             return d;
         }()},
        {QRN_PARAM_SERIAL, [] {
             Bytes d;
             for (uint32_t v : {115200u, 8u, 1u, 0u, 100u}) {
                 const Bytes w = u32(v);
                 d.insert(d.end(), w.begin(), w.end());
             }
             return d;
         }()},
        {QRN_PARAM_GPIO, [] {
             Bytes d(97);
             d[0] = 8;
             for (int i = 0; i < 8; ++i)
                 d[1 + 3 * i] = static_cast<uint8_t>(i);
             return d;
         }()},
        {QRN_PARAM_VIDEO_CTRL_ALL, Bytes(block.begin() + 400, block.begin() + 720)},
        {QRN_PARAM_VIDEO_INFO, block},
        {QRN_PARAM_H264, [] {
             Bytes d = u32(26);
             for (uint32_t v : {30u, 2000u}) {
                 const Bytes w = u32(v);
                 d.insert(d.end(), w.begin(), w.end());
             }
             return d;
         }()},
        {QRN_PARAM_PEER_MAX_FRAME, u32(25)},
        {QRN_PARAM_NO_CHANGE, {}},
    };
    for (const auto &notice : notices)
        sim.send_param_change(notice.first, notice.second);
    const Bytes changes = take_stream(400);
    write_stream_seed("param_changes", whole_packets(changes, 4, kMaxStreamSeed));
    int n = 0;
    for (const Bytes &payload : assembled(changes, 4))
        write_seed("param_change", "notice_" + std::to_string(n++), payload);

    // The discovery reply, to a request as the scanner sends it.
    if (sim.start_discovery()) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in local = address_of(kHost, 0);
        const sockaddr_in module = address_of(kModule, 34673);
        bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local);
        Bytes request(32);
        request[0] = 'Q';
        request[1] = 'R';
        request[2] = 'N';
        request[4] = request[5] = 0xFF;
        sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&module), sizeof module);
        write_seed("discovery_reply", "reply", read_until_quiet(fd, 500, 1024));
        close(fd);
    }

    reading = false;
    reader.join();
    close(host.stream);
    sim.stop();
}

Bytes http_request(const std::string &method, const std::string &path, const std::string &body, int quiet_ms,
                   size_t limit)
{
    const int fd = connect_to(kMlModule, kMlPort);
    if (fd < 0)
        return {};
    const std::string request = method + " " + path + " HTTP/1.0\r\nHost: " + kMlModule +
                                "\r\nAccept: */*\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    send_all(fd, Bytes(request.begin(), request.end()));
    Bytes answer = read_until_quiet(fd, quiet_ms, limit);
    close(fd);
    return answer;
}

void capture_ml_module()
{
    probesim::MlHttpServer server;
    server.set_video(32, 24, 10);
    if (!server.start(kMlModule, kMlPort)) {
        std::fprintf(stderr, "cannot start the second module on %s\n", kMlModule);
        std::exit(1);
    }
    const struct {
        const char *name;
        uint8_t command;
        const char *method;
        const char *path;
        const char *body;
    } commands[] = {
        {"device_type", 0, "GET", "/device-type", ""},     {"key", 1, "GET", "/key", ""},
        {"camera_params", 2, "GET", "/camera-params", ""}, {"set_device_type", 3, "POST", "/device-type", "3"},
        {"ssid", 4, "POST", "/ssid", "fuzz-net"},
    };
    for (const auto &c : commands) {
        Bytes seed{c.command, 5};
        const Bytes answer = http_request(c.method, c.path, c.body, 300, 4096);
        seed.insert(seed.end(), answer.begin(), answer.end());
        write_seed("ml_command", c.name, seed);
    }

    // The stream as libcurl hands it on: header lines, an empty piece, then
    // the body in reads of uneven sizes.
    const Bytes answer = http_request("GET", "/stream", "", 500, 3 * 1024);
    const auto body_at = std::search(answer.begin(), answer.end(), std::begin("\r\n\r\n"), std::end("\r\n\r\n") - 1);
    Bytes seed;
    auto line = answer.begin();
    while (line < body_at) {
        auto end = std::search(line, answer.end(), std::begin("\r\n"), std::end("\r\n") - 1) + 2;
        fuzzing::append_part(seed, Bytes(line, end));
        line = end;
    }
    fuzzing::append_part(seed, {});
    size_t at = static_cast<size_t>(body_at - answer.begin()) + 4;
    for (size_t piece = 700; at < answer.size(); piece = piece * 3 / 2) {
        const size_t take = std::min(piece, answer.size() - at);
        fuzzing::append_part(seed, Bytes(answer.begin() + at, answer.begin() + at + take));
        at += take;
    }
    write_seed("ml_preview", "simulator_stream", seed);
    server.stop();
}

// The signalling messages and init strings as this side's layer encodes
// them, and a channel's frames.
void capture_signalling()
{
    const auto text_seed = [](uint8_t parser, const std::string &text) {
        Bytes seed{parser};
        seed.insert(seed.end(), text.begin(), text.end());
        return seed;
    };
    pppp::SignalMessage offer;
    offer.type = pppp::MessageType::offer;
    offer.session = "0123456789abcdef0123456789abcdef";
    offer.from = "host-fuzz_1";
    offer.ice.ufrag = "Xy7q";
    offer.ice.pwd = "a1b2c3d4e5f6g7h8i9j0k1";
    offer.ice.candidates[0] = {"candidate:1 1 UDP 2015363327 127.14.1.3 40000 typ host",
                               "candidate:2 1 UDP 1677729535 127.14.1.2 41000 typ srflx raddr 127.14.1.3 rport 40000"};
    offer.ice.candidates[1] = {"candidate:1 2 UDP 2015363326 127.14.1.3 40001 typ host"};
    pppp::SignalMessage answer = offer;
    answer.type = pppp::MessageType::answer;
    answer.from.clear();
    answer.ice.candidates[0] = {"candidate:3 1 UDP 16777215 127.14.1.2 3478 typ relay raddr 127.14.1.4 rport 50000"};
    pppp::SignalMessage refuse;
    refuse.type = pppp::MessageType::refuse;
    refuse.session = offer.session;
    refuse.reason = "busy: one session at a time";
    pppp::SignalMessage bye = refuse;
    bye.type = pppp::MessageType::bye;
    bye.reason.clear();
    write_seed("p2p_signalling", "offer", text_seed(0, pppp::encode_message(offer)));
    write_seed("p2p_signalling", "answer", text_seed(0, pppp::encode_message(answer)));
    write_seed("p2p_signalling", "refuse", text_seed(0, pppp::encode_message(refuse)));
    write_seed("p2p_signalling", "bye", text_seed(0, pppp::encode_message(bye)));
    write_seed("p2p_signalling", "status_online", text_seed(1, pppp::encode_status(true)));
    write_seed("p2p_signalling", "status_offline", text_seed(1, pppp::encode_status(false)));

    pppp::InitConfig config;
    config.broker_host = "127.14.1.5";
    config.broker_port = 18830;
    config.relay_host = "relay.example.test";
    config.relay_only = true;
    std::string letters;
    pppp::encode_init_string(config, &letters);
    write_seed("p2p_signalling", "init_string", text_seed(2, letters));

    // A data frame split across reads, then a credit.
    const Bytes payload(300, 0x5A);
    Bytes frames;
    pppp::append_data_frame(frames, payload.data(), payload.size());
    pppp::append_credit_frame(frames, 65536);
    Bytes seed{3};
    fuzzing::append_part(seed, Bytes(frames.begin(), frames.begin() + 2));
    fuzzing::append_part(seed, Bytes(frames.begin() + 2, frames.begin() + 200));
    fuzzing::append_part(seed, Bytes(frames.begin() + 200, frames.end()));
    write_seed("p2p_signalling", "channel_frames", seed);
}

// The simulated probe's picture, made small enough to inspect quickly
// (the fibre about 100 pixels across): as JPEG and PNG files, and as the
// small picture the pixel seeds enlarge four times.
void capture_pictures()
{
    probesim::EndFacePicture scene;
    const probesim::YuvImage &frame = scene.render(640, 480, 1, probesim::PictureLook{});
    const cv::Mat luma(frame.height, frame.width, CV_8UC1, const_cast<uint8_t *>(frame.y.data()));
    cv::Mat small;
    cv::resize(luma, small, cv::Size(214, 160), 0, 0, cv::INTER_AREA);
    const struct {
        const char *name;
        const char *extension;
        std::vector<int> parameters;
    } files[] = {{"simulator_jpeg", ".jpg", {cv::IMWRITE_JPEG_QUALITY, 80}}, {"simulator_png", ".png", {}}};
    for (const auto &file : files) {
        std::vector<uint8_t> encoded;
        cv::imencode(file.extension, small, encoded, file.parameters);
        Bytes seed{0};
        seed.insert(seed.end(), encoded.begin(), encoded.end());
        write_seed("endface_picture", file.name, seed);
    }
    cv::Mat tiny;
    cv::resize(luma, tiny, cv::Size(54, 40), 0, 0, cv::INTER_AREA);
    // 54 x 40 grey, enlarged 4 times, the scale measured.
    Bytes seed{1, 54 - 8, 40 - 8, 0, 4 - 2, 0};
    seed.insert(seed.end(), tiny.data, tiny.data + tiny.total());
    write_seed("endface_picture", "simulator_pixels", seed);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    corpus_root = argv[1];
    capture_module();
    capture_ml_module();
    capture_signalling();
    capture_pictures();
    return 0;
}
