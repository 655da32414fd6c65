#include "device_state.h"

#include <utility>

namespace probesim {

DeviceState::DeviceState(DeviceModel m) : model(std::move(m)), defaults(model), system(model), wireless(model.wireless)
{
}

SimulatorState DeviceState::snapshot() const
{
    SimulatorState s;
    s.model = model;
    s.packets_logged = packets.size();
    s.stream_connections_made = streams_made;
    s.stream_connections_open = streams_open;
    s.video_frames_sent = frames_sent;
    s.pictures_sent = pictures_sent;
    s.key_frame_requests = key_frame_requests;
    s.audio_blocks_sent = audio_blocks_sent;
    s.host_audio_blocks = audio.blocks_played();
    s.last_host_audio = audio.last_played();
    s.serial_open = serial.is_open();
    s.device_id = system.device_id();
    s.alias = system.alias();
    s.clock_seconds = system.clock_seconds();
    s.gpio_pins = system.gpio_pins();
    s.i2c_registers = system.i2c_registers();
    s.wireless = wireless.settings();
    s.control_texts = control_texts;
    s.reboots = reboots;
    s.resets = resets;
    s.p2p_sessions_accepted = p2p_accepted;
    s.p2p_sessions_open = p2p_open;
    s.chaos_faults = chaos ? chaos->injected() : 0;
    return s;
}

void DeviceState::restore_defaults()
{
    model = defaults;
    video = VideoModel();
    system = DeviceSystemModel(defaults);
    wireless = WirelessModel(defaults.wireless);
}

void DeviceState::count(size_t DeviceState::*counter)
{
    {
        std::lock_guard<std::mutex> lock(mu);
        ++(this->*counter);
    }
    cv.notify_all();
}

}  // namespace probesim
