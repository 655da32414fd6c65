#include "command_server.h"

#include "answer_faults.h"
#include "probe_wire.h"
#include "take_finished.h"

namespace probesim {

namespace {

constexpr auto kAnswerLateDelay = std::chrono::seconds(9);

}  // namespace

void CommandServer::start(net::Socket listener)
{
    listener_ = std::move(listener);
    accept_thread_ = std::thread([this] { accept_loop(); });
}

void CommandServer::stop()
{
    if (!running())
        return;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        for (auto &c : commands_)
            c->sock.shutdown();
    }
    if (accept_thread_.joinable())
        accept_thread_.join();
    attached_only_ = false;
    // Command threads may still be registering connect-backs; stopping is
    // set, so none gets added once they have all been joined.
    std::list<std::unique_ptr<Connection>> commands;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        commands.swap(commands_);
        for (auto &c : commands)
            c->sock.shutdown();
    }
    for (auto &c : commands)
        c->thread.join();
    listener_.reset();
}

void CommandServer::accept_loop()
{
    while (!state_.stopping) {
        reap_finished();
        streams_.reap_finished();
        if (!net::wait_readable(listener_.fd(), net::kPollSliceMs))
            continue;
        net::Socket sock(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
        if (sock.valid() && !add_connection(std::move(sock), net::Socket()))
            break;
    }
}

bool CommandServer::serve_attached(net::Socket commands, net::Socket stream)
{
    reap_finished();
    streams_.reap_finished();
    return add_connection(std::move(commands), std::move(stream));
}

bool CommandServer::add_connection(net::Socket sock, net::Socket attached_stream)
{
    // A module that vanished under chaos drops whoever knocks.
    if (state_.chaos && state_.chaos->vanished())
        return true;
    auto conn = std::make_unique<Connection>();
    conn->sock = std::move(sock);
    if (state_.chaos)
        conn->chaos = state_.chaos->open_channel();
    conn->attached = attached_stream.valid();
    conn->attached_stream = std::move(attached_stream);
    Connection &ref = *conn;
    std::lock_guard<std::mutex> lock(state_.mu);
    if (state_.stopping)
        return false;
    ref.order = ++accepted_;
    commands_.push_back(std::move(conn));
    ref.thread = std::thread([this, &ref] { serve(ref); });
    return true;
}

void CommandServer::reap_finished()
{
    for (auto &c : take_finished(state_.mu, commands_))
        c->thread.join();
}

void CommandServer::serve(Connection &c)
{
    while (serve_one(c)) {
    }
    std::lock_guard<std::mutex> lock(state_.mu);
    c.sock.shutdown();
    c.done = true;
}

// Handles one request on the connection. False when the connection is done.
bool CommandServer::serve_one(Connection &c)
{
    uint8_t raw[wire::kHeaderSize];
    if (net::read_exact(c.sock.fd(), raw, sizeof raw, state_.stopping) < sizeof raw)
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
    const size_t got = net::read_exact(c.sock.fd(), packet.payload.data(), header.length, state_.stopping);
    packet.payload.resize(got);
    const bool complete = got == header.length && header.magic_ok();
    const ReceivedPacket request = packet;
    log(std::move(packet));
    if (!complete)
        return false;

    if (request.code == wire::kLogout) {
        logout(request.token, c);
        return true;
    }
    Fault active;
    uint32_t device_token;
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        active = state_.fault;
        device_token = state_.model.token;
    }
    Answer answer = request.code == wire::kLogin ? answers_.login(request) : answers_.command(request, c.order);
    if (answer.unanswered)
        return false;
    const uint32_t session_token = answer.token;  // the stream's, whatever the fault writes in the answer
    apply_fault(active, request.code, device_token, answer);
    if (answer.snapshot)
        streams_.push_snapshot();
    for (const ParamNotice &notice : answer.notices)
        streams_.send_param_change(notice.sub_type, notice.data);
    if (active == Fault::AnswerLate) {
        std::unique_lock<std::mutex> lock(state_.mu);
        if (state_.cv.wait_for(lock, kAnswerLateDelay, [this] { return state_.stopping.load(); }))
            return false;
    }
    // The stream exists before the host can send its first command, so a
    // video begin right after the login always finds it.
    const bool logged_in = request.code == wire::kLogin && answer.status == wire::kStatusOk;
    bool streaming = false;
    if (logged_in && active != Fault::NoConnectBack)
        streaming = (c.attached_stream.valid() ? streams_.attach(std::move(c.attached_stream), session_token, c.order)
                                               : streams_.connect_back(c.sock, session_token, c.order)) != nullptr;
    const std::vector<uint8_t> bytes = answer_bytes(answer, active);
    if (send_answer(c, bytes) && !closes_after_answer(active))
        return true;
    if (streaming) {
        // By its order: the stream may have ended and been reaped meanwhile.
        std::lock_guard<std::mutex> lock(state_.mu);
        streams_.close_login(c.order);
    }
    state_.cv.notify_all();
    return false;
}

bool CommandServer::send_answer(Connection &c, const std::vector<uint8_t> &bytes)
{
    const int fd = c.sock.fd();
    const auto send = [fd](const uint8_t *data, size_t length) { return net::send_all(fd, data, length); };
    if (!c.chaos)
        return send(bytes.data(), bytes.size());
    return chaos_send(*state_.chaos, *c.chaos, bytes.data(), bytes.size(), send, state_.stopping);
}

void CommandServer::log(ReceivedPacket packet)
{
    {
        std::lock_guard<std::mutex> lock(state_.mu);
        state_.packets.push_back(std::move(packet));
    }
    state_.cv.notify_all();
}

// A session on one connection (P2P) ends only itself; on the LAN, where
// every command comes on a connection of its own, a logout ends what the
// logins before it opened.
void CommandServer::logout(uint32_t token, const Connection &c)
{
    std::lock_guard<std::mutex> lock(state_.mu);
    if (token != state_.model.token)
        return;
    if (c.attached ? state_.serial_opened_by == c.order : state_.serial_opened_by < c.order)
        state_.serial.close();
    if (c.attached)
        streams_.close_login(c.order);
    else
        streams_.close_session(token, c.order);
    state_.cv.notify_all();
}

}  // namespace probesim
