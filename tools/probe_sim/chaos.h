// Seeded random faults on a module's byte transports (--chaos SEED[:RATE]).
// Each connection is a channel; what happens to its n-th write is drawn from
// the seed, the channel's number and n alone, so a seed replays the same
// faults on the same connections whatever the threads' timing. The faults
// drawn are the chaos-... entries of the fault table.
#pragma once

#include "fault.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace probesim {

struct ChaosSettings {
    uint64_t seed = 1;
    double rate = 0.01;         // chance that a write is hit
    std::vector<Fault> faults;  // drawn from; empty means every chaos fault
};

// "SEED" or "SEED:RATE" (decimal seed, rate from 0 to 1).
std::optional<ChaosSettings> parse_chaos(const std::string &text);

// How long a module that stops answering or reading stays silent (past the
// 8 s command time-out), and how long a vanished one stays away.
constexpr auto kChaosSilence = std::chrono::seconds(10);
constexpr auto kChaosAbsence = std::chrono::seconds(3);

// What one write suffers.
struct ChaosStep {
    Fault fault = Fault::None;  // None: the bytes go out as they are
    std::chrono::milliseconds delay{0};  // chaos-delay: before the write
    size_t keep = 0;                     // chaos-truncate, chaos-vanish: bytes sent before the cut
    std::vector<size_t> flips;           // chaos-corrupt: offsets of the bytes inverted
};

class Chaos {
public:
    explicit Chaos(ChaosSettings settings);

    // One connection's draws. Cheap to copy; a copy draws the same faults.
    class Channel {
    public:
        ChaosStep next(size_t length);

    private:
        friend class Chaos;
        Channel(const Chaos *chaos, uint64_t number) : chaos_(chaos), number_(number) {}
        const Chaos *chaos_ = nullptr;
        uint64_t number_ = 0;
        uint64_t writes_ = 0;
    };

    Channel open_channel();

    // Counts a fault as injected; chaos-vanish also starts the absence.
    void record(Fault fault);
    // True while the module is away after chaos-vanish.
    bool vanished() const;

    const ChaosSettings &settings() const { return settings_; }
    uint64_t injected() const;
    // "N faults injected (cut 2, delay 5, ...)".
    std::string summary() const;

private:
    uint64_t draw(uint64_t channel, uint64_t write, uint64_t salt) const;

    ChaosSettings settings_;
    std::atomic<uint64_t> channels_{0};
    std::array<std::atomic<uint64_t>, 16> counts_{};
    std::atomic<int64_t> away_until_ns_{0};
};

// Waits for the time in short slices; false when stop was raised first.
bool chaos_pause(std::chrono::milliseconds time, const std::atomic<bool> &stop);

// Writes bytes on a blocking byte transport through send (false when the
// transport failed), with the channel's next step applied. False when the
// connection must be closed now: the transport failed, or the step cut it.
bool chaos_send(Chaos &chaos, Chaos::Channel &channel, const uint8_t *bytes, size_t length,
                const std::function<bool(const uint8_t *, size_t)> &send, const std::atomic<bool> &stop);

}  // namespace probesim
