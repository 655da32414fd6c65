#include "probe_simulator.h"

#include "probe_socket.h"
#include "probe_wire.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <thread>
#include <utility>

namespace probesim {

DeviceModel::DeviceModel()
{
    for (size_t i = 0; i < device_info.size(); ++i)
        device_info[i] = static_cast<uint8_t>(0x40 + i);
}

namespace {

using Clock = std::chrono::steady_clock;
using net::Socket;

constexpr auto kAnswerLateDelay = std::chrono::seconds(9);
// The host starts listening for the stream only after it has read the login
// answer, so the first attempts may well be refused.
constexpr auto kConnectBackWindow = std::chrono::seconds(3);
constexpr auto kConnectRetryPause = std::chrono::milliseconds(50);

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

// A connection the device opened back to a host after its login. Stream
// packets for that session will be sent from here.
struct StreamConnection {
    uint32_t token = 0;
    sockaddr_in local{};
    sockaddr_in host{};
    Socket sock;                          // assigned under Impl::mu, once connected
    std::atomic<bool> close_requested{false};
    bool done = false;                    // guarded by Impl::mu
    std::thread thread;
};

// One accepted command connection: a request, its answer, until the host closes.
struct CommandConnection {
    Socket sock;
    bool done = false;  // guarded by Impl::mu
    std::thread thread;
};

}  // namespace

struct ProbeSimulator::Impl {
    explicit Impl(DeviceModel m) : model(std::move(m)) {}

    std::mutex mu;
    std::condition_variable cv;
    DeviceModel model;
    Fault current_fault = Fault::None;
    uint32_t bcast_echo_passwd = 0;
    std::vector<ReceivedPacket> packets;
    size_t streams_made = 0;
    size_t streams_open = 0;
    std::list<std::unique_ptr<CommandConnection>> commands;
    std::list<std::unique_ptr<StreamConnection>> streams;

    std::atomic<bool> stopping{false};  // written under mu so waiters never miss it
    Socket listener;
    std::thread accept_thread;

    void accept_loop();
    void reap_finished();
    void serve(CommandConnection &c);
    bool serve_one(CommandConnection &c);
    void log(ReceivedPacket packet);
    Answer login_answer(const ReceivedPacket &request, Fault fault, bool &accepted);
    Answer command_answer(const ReceivedPacket &request);
    bool send_answer(const Socket &sock, uint16_t request_code, Answer answer, Fault fault);
    void logout(uint32_t token);
    void start_connect_back(const Socket &login, uint32_t token);
    void run_stream(StreamConnection &s);
    bool connect_back(StreamConnection &s);
    void discard_until_closed(StreamConnection &s);
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
        logout(request.token);
        return true;
    }
    Fault active;
    {
        std::lock_guard<std::mutex> lock(mu);
        active = current_fault;
    }
    bool accepted = false;
    Answer answer = request.code == wire::kLogin ? login_answer(request, active, accepted)
                                                 : command_answer(request);
    if (active == Fault::AnswerLate) {
        std::unique_lock<std::mutex> lock(mu);
        if (cv.wait_for(lock, kAnswerLateDelay, [this] { return stopping.load(); }))
            return false;
    }
    const uint32_t token = answer.token;
    if (!send_answer(c.sock, request.code, std::move(answer), active))
        return false;
    if (accepted)
        start_connect_back(c.sock, token);
    return true;
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
    std::copy(model.mac.begin(), model.mac.end(), p + 24);
    std::copy(model.device_info.begin() + 4, model.device_info.begin() + 24, p + 30);
    std::copy(model.device_info.begin(), model.device_info.begin() + 4, p + 52);
    wire::put_u32(p + 56, model.peer_max_frame);
    return answer;
}

Answer ProbeSimulator::Impl::command_answer(const ReceivedPacket &request)
{
    std::lock_guard<std::mutex> lock(mu);
    Answer answer;
    answer.code = request.code;
    answer.token = model.token;
    if (request.token != model.token) {
        answer.status = wire::kStatusUnsupported;
        return answer;
    }
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
    default:
        break;
    }
    const auto head = wire::encode(header);
    std::vector<uint8_t> bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), answer.payload.begin(), answer.payload.end());
    return net::send_all(sock.fd(), bytes.data(), bytes.size()) && fault != Fault::CloseMidResponse;
}

void ProbeSimulator::Impl::logout(uint32_t token)
{
    std::lock_guard<std::mutex> lock(mu);
    if (token != model.token)
        return;
    for (auto &s : streams) {
        if (s->token != token)
            continue;
        s->close_requested = true;
        s->sock.shutdown();
    }
    cv.notify_all();
}

void ProbeSimulator::Impl::start_connect_back(const Socket &login, uint32_t token)
{
    auto conn = std::make_unique<StreamConnection>();
    socklen_t len = sizeof conn->host;
    if (getpeername(login.fd(), reinterpret_cast<sockaddr *>(&conn->host), &len) != 0 ||
        conn->host.sin_family != AF_INET)
        return;
    len = sizeof conn->local;
    // Connect from the address the host reached us on, so the stream visibly
    // comes from the same device.
    if (getsockname(login.fd(), reinterpret_cast<sockaddr *>(&conn->local), &len) != 0)
        return;
    conn->local.sin_port = 0;
    conn->host.sin_port = htons(data_port_for(ntohs(conn->host.sin_port)));
    conn->token = token;
    StreamConnection &ref = *conn;
    std::lock_guard<std::mutex> lock(mu);
    if (stopping)
        return;
    streams.push_back(std::move(conn));
    ref.thread = std::thread([this, &ref] { run_stream(ref); });
}

void ProbeSimulator::Impl::run_stream(StreamConnection &s)
{
    if (connect_back(s))
        discard_until_closed(s);
    {
        std::lock_guard<std::mutex> lock(mu);
        if (s.sock.valid()) {
            s.sock.shutdown();
            --streams_open;
        }
        s.done = true;
    }
    cv.notify_all();
}

bool ProbeSimulator::Impl::connect_back(StreamConnection &s)
{
    const auto deadline = Clock::now() + kConnectBackWindow;
    for (;;) {
        Socket attempt = net::connect_from(s.local, s.host, deadline, stopping);
        std::unique_lock<std::mutex> lock(mu);
        if (stopping || s.close_requested)
            return false;
        if (attempt.valid()) {
            s.sock = std::move(attempt);
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

// Nothing the host sends on the stream connection matters yet; it stays
// open until logout, stop() or the host closing it.
void ProbeSimulator::Impl::discard_until_closed(StreamConnection &s)
{
    const int fd = s.sock.fd();
    uint8_t sink[4096];
    while (!stopping && !s.close_requested) {
        if (!net::wait_readable(fd, net::kPollSliceMs))
            continue;
        const ssize_t r = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return;
    }
}

void ProbeSimulator::Impl::shut_down_streams()
{
    for (auto &s : streams) {
        s->close_requested = true;
        s->sock.shutdown();
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
    d.listener.reset();
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

}  // namespace probesim
