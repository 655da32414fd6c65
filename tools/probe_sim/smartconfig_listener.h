// What an unconfigured probe hears of a SmartConfig broadcast: it listens
// on UDP 10009 and reads the two texts back from the datagram lengths.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace probesim {

constexpr uint16_t kSmartConfigPort = 10009;

struct SmartConfigTexts {
    std::string first;
    std::string second;
    bool operator==(const SmartConfigTexts &other) const { return first == other.first && second == other.second; }
};

// Reads one datagram length at a time. A length that does not fit the
// cycle so far drops it, and decoding starts again at the next preamble.
class SmartConfigDecoder {
public:
    // The texts once a whole cycle with a matching checksum has arrived.
    std::optional<SmartConfigTexts> feed(int length);

private:
    enum class Stage { Preamble, FirstLength, FirstText, SecondLength, SecondText, Checksum, End };
    void restart(int length);
    bool advance(int length);

    Stage stage_ = Stage::Preamble;
    int step_ = 0;       // datagrams of the current stage seen so far
    int expected_ = 0;   // text length, or the repeated length word
    int character_ = 0;  // the character of the pair being read
    uint32_t sum_ = 0;
    SmartConfigTexts texts_;
};

class SmartConfigListener {
public:
    SmartConfigListener();
    ~SmartConfigListener();
    SmartConfigListener(const SmartConfigListener &) = delete;
    SmartConfigListener &operator=(const SmartConfigListener &) = delete;

    // Listens on address:port. False when it cannot bind.
    bool start(const std::string &address, uint16_t port = kSmartConfigPort);
    void stop();

    // Every pair of texts decoded, oldest first.
    std::vector<SmartConfigTexts> decoded() const;
    bool wait_for_decoded(size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace probesim
