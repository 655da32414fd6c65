// Every call that reads what a module said: from a cache a command answer
// or a notice filled, or straight from a command's answer. The command and
// notice targets drive them; the capture program records the module's
// answer to each, in the same order.
#pragma once

#include <cstdint>
#include <cstring>

#include "qrn_net.h"

namespace fuzzing {

struct SessionReader {
    const char *name;
    int (*read)(int handle);
};

// Each buffer has exactly the size the header documents, so a write past
// it is caught.
namespace readers {

inline int video_info(int h)
{
    uint8_t ability[400];
    VideoCtrlEntry entry;
    VideoParam param;
    int value = 0;
    int result = QRN_NET_Video_GetAbility(h, ability);
    for (uint32_t i = 0; i <= 10 && result == QRN_OK; ++i)
        QRN_NET_Video_GetVideoCtrl(h, i, &entry);
    QRN_NET_Video_GetParam(h, &param);
    QRN_NET_Video_GetFormat(h, &value);
    QRN_NET_Video_GetResolu(h, &value);
    return QRN_NET_Video_GetFPS(h, &value);
}

inline int h264(int h)
{
    int value = 0;
    QRN_NET_Video_GetH264QpValue(h, &value);
    QRN_NET_Video_GetH264KeyInter(h, &value);
    return QRN_NET_Video_GetH264Stream(h, &value);
}

inline int video_windows(int h)
{
    uint8_t rect[16];
    int value = 0;
    QRN_NET_Video_GetRectYuyv(h, rect);
    QRN_NET_Video_GetCROP(h, rect);
    return QRN_NET_Video_GetQuality(h, &value);
}

inline int device(int h)
{
    int id = 0;
    char alias[20];
    char address[20];
    DeviceInfo info;
    uint8_t mac[6];
    QRN_NET_Device_GetId(h, &id);
    QRN_NET_Device_GetAlias(h, alias);
    QRN_NET_Device_GetAddress(h, address);
    QRN_NET_GetMac(h, mac);
    return QRN_NET_GetDeviceInfo(h, &info);
}

inline int device_system(int h)
{
    uint8_t time[8];
    uint8_t custom[256] = {};
    char company[QRN_NET_COMPANY_SIZE];
    QRN_NET_GetSystemTime(h, time);
    QRN_NET_GetCompany(h, company);
    return QRN_NET_GetCustom(h, custom);
}

inline int gpio(int h)
{
    GpioTable table;
    GpioEntry entry;
    QRN_NET_Gpio_GetAll(h, &table);
    for (int pin = -1; pin <= 32; pin += 11)
        QRN_NET_Gpio_GetStatus(h, pin, &entry);
    return QRN_OK;
}

inline int i2c(int h)
{
    I2cBlock block;
    std::memset(&block, 0, sizeof block);
    block.control[0] = 0x50;
    block.control[2] = 16;
    return QRN_NET_I2C_GetValue(h, &block);
}

inline int wireless(int h)
{
    WirelessConfig config;
    int value = 0;
    QRN_NET_Wireless_GetApInfo(h, &config);
    QRN_NET_Wireless_GetApcliInfo(h, &config);
    QRN_NET_Wireless_GetStaInfo(h, &config);
    QRN_NET_Wireless_GetApChn(h, &value);
    QRN_NET_Wireless_GetApHide(h, &value);
    return QRN_NET_Wireless_GetNetType(h, &value);
}

inline int audio(int h)
{
    AudioParam param;
    int value = 0;
    QRN_NET_Audio_GetSampleFreq(h, &value);
    QRN_NET_Audio_GetChannel(h, &value);
    QRN_NET_Audio_GetADBits(h, &value);
    return QRN_NET_Audio_GetParam(h, &param);
}

inline int serial(int h)
{
    SerialParam param;
    int value = 0;
    QRN_NET_Serial_GetSpeed(h, &value);
    QRN_NET_Serial_GetDataBit(h, &value);
    QRN_NET_Serial_GetStopBit(h, &value);
    QRN_NET_Serial_GetParity(h, &value);
    QRN_NET_Serial_GetTimeout(h, &value);
    return QRN_NET_Serial_GetParam(h, &param);
}

// Setters: the answer is checked, and an accepted one updates the caches.
inline int setters(int h)
{
    QRN_NET_Video_SetFormat(h, QRN_FORMAT_H264);
    QRN_NET_Video_SetResolu(h, 0x028001E0);
    QRN_NET_Audio_SetSampleFreq(h, 16000);
    QRN_NET_Serial_SetSpeed(h, 115200);
    QRN_NET_Video_SetPeerMaxFrameNum(h, 20);
    return QRN_NET_Video_Begin(h);
}

}  // namespace readers

inline const SessionReader kSessionReaders[] = {
    {"video_info", readers::video_info}, {"h264", readers::h264},
    {"video_windows", readers::video_windows}, {"device", readers::device},
    {"device_system", readers::device_system}, {"gpio", readers::gpio},
    {"i2c", readers::i2c}, {"wireless", readers::wireless},
    {"audio", readers::audio}, {"serial", readers::serial},
    {"setters", readers::setters},
};
constexpr size_t kSessionReaderCount = sizeof kSessionReaders / sizeof kSessionReaders[0];

}  // namespace fuzzing
