#include "PPPP_API.h"

// No peer-to-peer server is reachable yet: every connect fails and there is
// never a session, so every session call reports it gone.
namespace {
constexpr int kNoServer = -99;
constexpr int kSessionGone = -11;
}  // namespace

int PPPP_Initialize(const char *)
{
    return 0;
}
int PPPP_DeInitialize(void)
{
    return 0;
}
int PPPP_ConnectByServer(const char *, int, int, const char *)
{
    return kNoServer;
}
int PPPP_Check(int, unsigned char *)
{
    return kSessionGone;
}
int PPPP_Check_Buffer(int, int, unsigned *, unsigned *)
{
    return kSessionGone;
}
int PPPP_Read(int, int, void *, int *, int)
{
    return kSessionGone;
}
int PPPP_Write(int, int, const void *, int)
{
    return kSessionGone;
}
int PPPP_Close(int)
{
    return kSessionGone;
}
int PPPP_ForceClose(int)
{
    return kSessionGone;
}
