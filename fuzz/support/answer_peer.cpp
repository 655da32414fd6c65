#include "answer_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

namespace {

// How long the peer waits for the caller to close after the answer: the
// caller reads what it wants and closes at once, so this only bounds a
// caller that hangs, which the fuzzer then reports as a time-out.
constexpr int kDrainMs = 10000;

[[noreturn]] void fail(const char *what)
{
    std::perror(what);
    std::abort();
}

}  // namespace

AnswerPeer::AnswerPeer(const std::string &address)
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || pipe(stop_pipe_) != 0)
        fail("answer peer socket");
    sockaddr_in where{};
    where.sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1)
        fail("answer peer address");
    if (bind(listener_, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 || listen(listener_, 16) != 0)
        fail("answer peer bind");
    socklen_t length = sizeof where;
    getsockname(listener_, reinterpret_cast<sockaddr *>(&where), &length);
    port_ = ntohs(where.sin_port);
    server_ = std::thread([this] { serve(); });
}

AnswerPeer::~AnswerPeer()
{
    const char stop = 1;
    if (write(stop_pipe_[1], &stop, 1) != 1)
        std::abort();
    server_.join();
    close(listener_);
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
}

void AnswerPeer::set_answers(std::vector<std::vector<uint8_t>> answers)
{
    std::lock_guard<std::mutex> guard(mutex_);
    answers_.assign(std::make_move_iterator(answers.begin()), std::make_move_iterator(answers.end()));
}

void AnswerPeer::serve()
{
    for (;;) {
        pollfd waits[2] = {{listener_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        if (poll(waits, 2, -1) < 0)
            continue;
        if (waits[1].revents)
            return;
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0)
            answer(connection);
    }
}

// The answer goes out before the request is read: the caller finds it once
// it has sent. The peer then reads until the caller closes, so its unread
// request never turns the close into a reset that would cut the answer.
void AnswerPeer::answer(int connection)
{
    std::vector<uint8_t> bytes;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!answers_.empty()) {
            bytes = std::move(answers_.front());
            answers_.pop_front();
        }
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    shutdown(connection, SHUT_WR);
    char sink[4096];
    pollfd wait{connection, POLLIN, 0};
    while (poll(&wait, 1, kDrainMs) > 0 && recv(connection, sink, sizeof sink, 0) > 0) {
    }
    close(connection);
}

}  // namespace fuzzing
