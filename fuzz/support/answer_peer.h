// A peer on loopback that answers each connection with the next byte string
// it was given, whatever was asked: the module, or the HTTP camera, as a
// fuzz input makes it speak. One connection at a time, in order, so a
// caller's sequence of exchanges meets the answers in the order given.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fuzzing {

class AnswerPeer {
public:
    // Listens on address with a port of the system's choice; aborts when it
    // cannot, as no input could be run.
    explicit AnswerPeer(const std::string &address);
    ~AnswerPeer();
    AnswerPeer(const AnswerPeer &) = delete;
    AnswerPeer &operator=(const AnswerPeer &) = delete;

    uint16_t port() const { return port_; }
    // Replaces the answers not yet given. A connection without an answer
    // left is closed at once.
    void set_answers(std::vector<std::vector<uint8_t>> answers);

private:
    void serve();
    void answer(int connection);

    int listener_ = -1;
    uint16_t port_ = 0;
    int stop_pipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<std::vector<uint8_t>> answers_;
    std::thread server_;
};

}  // namespace fuzzing
