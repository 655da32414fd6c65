// The simulated probe's answer to discovery on the local network: it
// listens on UDP 34673 of its own address and answers each request with
// its ID and alias. Several responders can run at once, one per address.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace probesim {

constexpr uint16_t kDiscoveryPort = 34673;

enum class DiscoveryFault {
    None,
    NoMagic,            // replies start with "QRX"
    ThreeByteReply,     // replies are the magic alone
    UnterminatedAlias,  // replies end with the alias, no terminator after it
    ChangedAlias,       // the first reply carries alias, every later one changed_alias
};

struct DiscoveryIdentity {
    uint32_t id = 0;
    std::string alias;
};

struct DiscoveryModel {
    uint32_t id = 0x00C0FFEE;
    std::string alias = "probe-sim";
    std::string changed_alias = "probe-sim-renamed";
    // Devices behind the same address (a router in front of them): each
    // request is answered for this device first, then for each of these.
    std::vector<DiscoveryIdentity> behind_same_address;
    // Other traffic on the port: a datagram of 1024 bytes without the magic
    // goes out just before each reply.
    bool noise_before_reply = false;
    // Requests answered before the device falls silent; -1 answers all.
    int reply_limit = -1;
};

struct DiscoveryRequest {
    std::chrono::steady_clock::time_point when;
    std::string sender;        // dotted address of the asking host
    bool well_formed = false;  // 32 bytes: "QRN", 0, mode 0xFFFF, zeros
};

class DiscoveryResponder {
public:
    explicit DiscoveryResponder(DiscoveryModel model = DiscoveryModel());
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder &) = delete;
    DiscoveryResponder &operator=(const DiscoveryResponder &) = delete;

    // Answers on address:port. False when it cannot bind.
    bool start(const std::string &address, uint16_t port = kDiscoveryPort);
    void stop();

    void set_fault(DiscoveryFault fault);

    // Every datagram received, oldest first.
    std::vector<DiscoveryRequest> requests() const;
    bool wait_for_requests(size_t count, std::chrono::milliseconds timeout) const;
    // Requests answered so far (one answer may be several datagrams).
    size_t replies_sent() const;
    bool wait_for_replies(size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace probesim
