#include "PPPP_API.h"
#include "PPPP_Device.h"

#include "layer.h"

using pppp::Layer;

int PPPP_Initialize(const char *init_string)
{
    return Layer::instance().initialize_host(init_string);
}

int PPPP_DeInitialize(void)
{
    return Layer::instance().deinitialize_host();
}

// flag and port are kept for callers written against other peer-to-peer
// libraries; this layer has no use for them.
int PPPP_ConnectByServer(const char *device_id, int, int, const char *init_string)
{
    return Layer::instance().connect(device_id, init_string);
}

int PPPP_Check(int session, unsigned char *information)
{
    if (information == nullptr)
        return PPPP_ERROR_INVALID_PARAMETER;
    auto s = Layer::instance().find(session);
    return s ? s->check(information) : PPPP_ERROR_INVALID_SESSION;
}

int PPPP_Check_Buffer(int session, int channel, unsigned *write_size, unsigned *read_size)
{
    auto s = Layer::instance().find(session);
    return s ? s->check_buffer(channel, write_size, read_size) : PPPP_ERROR_INVALID_SESSION;
}

int PPPP_Read(int session, int channel, void *buffer, int *size, int timeout_ms)
{
    auto s = Layer::instance().find(session);
    return s ? s->read(channel, static_cast<uint8_t *>(buffer), size, timeout_ms) : PPPP_ERROR_INVALID_SESSION;
}

int PPPP_Write(int session, int channel, const void *data, int length)
{
    auto s = Layer::instance().find(session);
    return s ? s->write(channel, static_cast<const uint8_t *>(data), length) : PPPP_ERROR_INVALID_SESSION;
}

int PPPP_Close(int session)
{
    return Layer::instance().close(session, true);
}

int PPPP_ForceClose(int session)
{
    return Layer::instance().close(session, false);
}

int PPPP_Device_Register(const char *device_id, const char *init_string)
{
    return Layer::instance().register_device(device_id, init_string);
}

int PPPP_Device_Accept(int listener, int timeout_ms)
{
    return Layer::instance().accept(listener, timeout_ms);
}

int PPPP_Device_RelayOnly(int listener, int sessions)
{
    return Layer::instance().relay_only(listener, sessions);
}

int PPPP_Device_Unregister(int listener)
{
    return Layer::instance().unregister_device(listener);
}
