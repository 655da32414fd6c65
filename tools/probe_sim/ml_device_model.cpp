#include "ml_device_model.h"

namespace probesim {

MlDeviceModel::MlDeviceModel(int32_t device_type)
{
    state_.device_type = device_type;
}

MlDeviceSnapshot MlDeviceModel::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void MlDeviceModel::set_device_type(int32_t type)
{
    std::lock_guard<std::mutex> lock(mutex_);
    state_.device_type = type;
}

void MlDeviceModel::set_ssid(const std::string &ssid)
{
    std::lock_guard<std::mutex> lock(mutex_);
    state_.ssid = ssid;
}

void MlDeviceModel::set_params(const MlCameraParams &params)
{
    std::lock_guard<std::mutex> lock(mutex_);
    state_.params = params;
}

void MlDeviceModel::count_reboot()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_.reboots;
}

void MlDeviceModel::press_key()
{
    std::lock_guard<std::mutex> lock(mutex_);
    state_.key_latched = true;
    ++state_.key_presses;
}

bool MlDeviceModel::take_key()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool pressed = state_.key_latched;
    state_.key_latched = false;
    if (pressed)
        ++state_.key_reports;
    return pressed;
}

}  // namespace probesim
