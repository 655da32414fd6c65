#include "smartconfig_listener.h"

#include "udp_service.h"

#include <condition_variable>
#include <mutex>

namespace probesim {

namespace {

constexpr int kPreamble[] = {1000, 1019, 1038, 1057};
constexpr int kFirstLengthBase = 450;
constexpr int kFirstCharBase = 450;
constexpr int kFirstPositionBase = 580;
constexpr int kSecondLengthBase = 620;
constexpr int kSecondCharBase = 620;
constexpr int kSecondPositionBase = 630;
constexpr int kChecksumBase = 690;
constexpr int kEndMark = 680;
constexpr int kLongestText = 1023;

// A character travels as a signed byte added to its base.
std::optional<char> character_from(int length, int base)
{
    const int value = length - base;
    if (value < -128 || value > 127)
        return std::nullopt;
    return static_cast<char>(static_cast<int8_t>(value));
}

}  // namespace

void SmartConfigDecoder::restart(int length)
{
    *this = SmartConfigDecoder();
    if (length == kPreamble[0])
        step_ = 1;
}

bool SmartConfigDecoder::advance(int length)
{
    switch (stage_) {
    case Stage::Preamble:
        if (length != kPreamble[step_])
            return false;
        if (++step_ == 4) {
            stage_ = Stage::FirstLength;
            step_ = 0;
        }
        return true;
    case Stage::FirstLength:
    case Stage::SecondLength: {
        const int base = stage_ == Stage::FirstLength ? kFirstLengthBase : kSecondLengthBase;
        if (step_ == 0) {
            expected_ = length - base;
            if (expected_ < 0 || expected_ > kLongestText)
                return false;
            sum_ += static_cast<uint32_t>(expected_);
            step_ = 1;
            return true;
        }
        if (length != base + expected_)
            return false;
        step_ = 0;
        stage_ = stage_ == Stage::FirstLength ? Stage::FirstText : Stage::SecondText;
        if (expected_ == 0)
            stage_ = stage_ == Stage::FirstText ? Stage::SecondLength : Stage::Checksum;
        return true;
    }
    case Stage::FirstText:
    case Stage::SecondText: {
        const bool first = stage_ == Stage::FirstText;
        std::string &text = first ? texts_.first : texts_.second;
        if (step_ % 2 == 0) {
            const auto c = character_from(length, first ? kFirstCharBase : kSecondCharBase);
            if (!c)
                return false;
            character_ = *c;
            ++step_;
            return true;
        }
        const int position = static_cast<int>(text.size());
        if (length != (first ? kFirstPositionBase : kSecondPositionBase) + position)
            return false;
        text.push_back(static_cast<char>(character_));
        sum_ += static_cast<uint32_t>(static_cast<int8_t>(character_));
        ++step_;
        if (static_cast<int>(text.size()) == expected_) {
            stage_ = first ? Stage::SecondLength : Stage::Checksum;
            step_ = 0;
        }
        return true;
    }
    case Stage::Checksum:
        if (length != kChecksumBase + static_cast<int>(sum_ % 255))
            return false;
        if (++step_ == 2)
            stage_ = Stage::End;
        return true;
    case Stage::End:
        return length == kEndMark;
    }
    return false;
}

std::optional<SmartConfigTexts> SmartConfigDecoder::feed(int length)
{
    const bool ending = stage_ == Stage::End;
    if (!advance(length)) {
        restart(length);
        return std::nullopt;
    }
    if (!ending)
        return std::nullopt;
    SmartConfigTexts texts = std::move(texts_);
    *this = SmartConfigDecoder();
    return texts;
}

struct SmartConfigListener::Impl {
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    std::vector<SmartConfigTexts> decoded;

    SmartConfigDecoder decoder;  // the service thread's
    net::UdpService service;

    void take_datagram(int fd);
};

void SmartConfigListener::Impl::take_datagram(int fd)
{
    // Only the length carries anything: MSG_TRUNC reports it whole.
    uint8_t byte = 0;
    const ssize_t length = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_TRUNC);
    if (length < 0)
        return;
    auto texts = decoder.feed(static_cast<int>(length));
    if (!texts)
        return;
    {
        std::lock_guard<std::mutex> lock(mu);
        decoded.push_back(std::move(*texts));
    }
    cv.notify_all();
}

SmartConfigListener::SmartConfigListener() : impl_(std::make_unique<Impl>()) {}

SmartConfigListener::~SmartConfigListener()
{
    stop();
}

bool SmartConfigListener::start(const std::string &address, uint16_t port)
{
    Impl &d = *impl_;
    return d.service.start(address, port, [&d](int fd) { d.take_datagram(fd); });
}

void SmartConfigListener::stop()
{
    impl_->service.stop();
    impl_->decoder = SmartConfigDecoder();  // a later start hears a sequence from its beginning
}

std::vector<SmartConfigTexts> SmartConfigListener::decoded() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->decoded;
}

bool SmartConfigListener::wait_for_decoded(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [this, count] { return impl_->decoded.size() >= count; });
}

}  // namespace probesim
