// What the simulated probe holds, shared by the threads that serve commands
// and streams: its models, its counters and the command log. Every field is
// guarded by mu unless it says otherwise; a change a waiter may look for is
// followed by cv.notify_all().
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio_model.h"
#include "chaos.h"
#include "device_system_model.h"
#include "fault.h"
#include "probe_simulator.h"
#include "serial_model.h"
#include "video_model.h"
#include "wireless_model.h"

namespace probesim {

struct DeviceState {
    explicit DeviceState(DeviceModel m);

    // With mu held.
    SimulatorState snapshot() const;
    // A factory reset: what the hosts changed is forgotten. With mu held.
    void restore_defaults();
    // Adds one to a counter under mu and wakes the waiters.
    void count(size_t DeviceState::*counter);

    mutable std::mutex mu;
    mutable std::condition_variable cv;
    std::atomic<bool> stopping{false};  // written under mu so waiters never miss it
    // Set before start and left alone while the device runs, so read without mu.
    std::shared_ptr<Chaos> chaos;

    DeviceModel model;
    const DeviceModel defaults;
    Fault fault = Fault::None;
    StreamOptions stream_options;
    VideoModel video;
    AudioModel audio;
    SerialModel serial;
    uint64_t serial_opened_by = 0;  // order of the command connection that opened the port
    DeviceSystemModel system;
    WirelessModel wireless;
    uint32_t bcast_echo_passwd = 0;
    std::vector<std::string> control_texts;
    std::vector<ReceivedPacket> packets;

    size_t streams_made = 0;
    size_t streams_open = 0;
    size_t frames_sent = 0;
    size_t pictures_sent = 0;
    size_t key_frame_requests = 0;
    size_t audio_blocks_sent = 0;
    size_t reboots = 0;
    size_t resets = 0;
    size_t p2p_accepted = 0;
    size_t p2p_open = 0;
};

}  // namespace probesim
