#include "chaos.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace probesim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPauseSlice = std::chrono::milliseconds(20);
constexpr int64_t kMinDelayMs = 50;
constexpr int64_t kMaxDelayMs = 2000;
constexpr uint64_t kMaxFlips = 4;

// Salts keep the draws of one write independent of each other.
enum Salt : uint64_t { kHit = 1, kWhich, kAmount, kFlip };

uint64_t splitmix64(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

size_t slot_of(Fault fault)
{
    return static_cast<size_t>(fault) - static_cast<size_t>(Fault::ChaosCut);
}

int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

}  // namespace

std::optional<ChaosSettings> parse_chaos(const std::string &text)
{
    const auto colon = text.find(':');
    const std::string seed = text.substr(0, colon);
    if (seed.empty() || seed.size() > 19 || seed.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    ChaosSettings settings;
    settings.seed = std::stoull(seed);
    if (colon != std::string::npos) {
        const std::string rate = text.substr(colon + 1);
        char *end = nullptr;
        const double parsed = std::strtod(rate.c_str(), &end);
        if (rate.empty() || *end != '\0' || !(parsed >= 0.0 && parsed <= 1.0))
            return std::nullopt;
        settings.rate = parsed;
    }
    return settings;
}

Chaos::Chaos(ChaosSettings settings) : settings_(std::move(settings))
{
    if (settings_.faults.empty())
        settings_.faults = chaos_faults();
}

Chaos::Channel Chaos::open_channel()
{
    return Channel(this, channels_++);
}

uint64_t Chaos::draw(uint64_t channel, uint64_t write, uint64_t salt) const
{
    return splitmix64(splitmix64(splitmix64(settings_.seed) ^ channel) ^ (write << 3 | salt));
}

ChaosStep Chaos::Channel::next(size_t length)
{
    ChaosStep step;
    const uint64_t write = writes_++;
    const Chaos &c = *chaos_;
    const double hit = static_cast<double>(c.draw(number_, write, kHit) >> 11) / static_cast<double>(1ull << 53);
    if (hit >= c.settings_.rate || c.settings_.faults.empty())
        return step;
    step.fault = c.settings_.faults[c.draw(number_, write, kWhich) % c.settings_.faults.size()];
    const uint64_t amount = c.draw(number_, write, kAmount);
    if (step.fault == Fault::ChaosDelay)
        step.delay = std::chrono::milliseconds(kMinDelayMs + static_cast<int64_t>(amount % (kMaxDelayMs - kMinDelayMs)));
    if ((step.fault == Fault::ChaosTruncate || step.fault == Fault::ChaosVanish) && length > 0)
        step.keep = amount % length;
    if (step.fault == Fault::ChaosCorrupt && length > 0) {
        const uint64_t flips = 1 + amount % kMaxFlips;
        for (uint64_t i = 0; i < flips; ++i)
            step.flips.push_back(c.draw(number_, write, kFlip + 8 * (i + 1)) % length);
    }
    return step;
}

void Chaos::record(Fault fault)
{
    if (!is_chaos_fault(fault))
        return;
    ++counts_[slot_of(fault)];
    if (fault == Fault::ChaosVanish)
        away_until_ns_ = now_ns() + std::chrono::duration_cast<std::chrono::nanoseconds>(kChaosAbsence).count();
}

bool Chaos::vanished() const
{
    return now_ns() < away_until_ns_.load();
}

uint64_t Chaos::injected() const
{
    uint64_t total = 0;
    for (const auto &count : counts_)
        total += count;
    return total;
}

std::string Chaos::summary() const
{
    std::string parts;
    for (const FaultInfo &info : fault_table()) {
        if (!is_chaos_fault(info.fault))
            continue;
        const uint64_t count = counts_[slot_of(info.fault)];
        if (count == 0)
            continue;
        // "chaos-cut" is listed as "cut".
        parts += std::string(parts.empty() ? "" : ", ") + (info.name + 6) + " " + std::to_string(count);
    }
    return std::to_string(injected()) + " faults injected" + (parts.empty() ? "" : " (" + parts + ")");
}

bool chaos_pause(std::chrono::milliseconds time, const std::atomic<bool> &stop)
{
    const auto deadline = Clock::now() + time;
    while (!stop) {
        const auto now = Clock::now();
        if (now >= deadline)
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(kPauseSlice, deadline - now));
    }
    return false;
}

bool chaos_send(Chaos &chaos, Chaos::Channel &channel, const uint8_t *bytes, size_t length,
                const std::function<bool(const uint8_t *, size_t)> &send, const std::atomic<bool> &stop)
{
    if (chaos.vanished())
        return false;
    ChaosStep step = channel.next(length);
    chaos.record(step.fault);
    switch (step.fault) {
    case Fault::ChaosCut:
        return false;
    case Fault::ChaosDelay:
        return chaos_pause(step.delay, stop) && send(bytes, length);
    case Fault::ChaosDuplicate:
        return send(bytes, length) && send(bytes, length);
    case Fault::ChaosTruncate:
    case Fault::ChaosVanish:
        send(bytes, step.keep);
        return false;
    case Fault::ChaosCorrupt: {
        std::vector<uint8_t> copy(bytes, bytes + length);
        for (size_t offset : step.flips)
            copy[offset] = static_cast<uint8_t>(~copy[offset]);
        return send(copy.data(), copy.size());
    }
    case Fault::ChaosStopAnswering:
        chaos_pause(kChaosSilence, stop);
        return false;
    case Fault::ChaosStopReading:
        return send(bytes, length) && chaos_pause(kChaosSilence, stop);
    default:
        return send(bytes, length);
    }
}

}  // namespace probesim
