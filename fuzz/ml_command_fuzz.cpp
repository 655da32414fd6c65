// Any HTTP answer the second kind of module can give to each command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "answer_peer.h"
#include "ml_camera.h"

namespace {

fuzzing::AnswerPeer &module()
{
    static fuzzing::AnswerPeer *peer = new fuzzing::AnswerPeer("127.14.0.3");
    return *peer;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Every call goes to the peer, whatever address it names.
    const std::string address = "127.14.0.3:" + std::to_string(module().port());
    setenv("KELVO_ML_ADDRESS", address.c_str(), 1);
    return 0;
}

// The first byte picks the command, the second is the camera-parameter
// count asked for; the rest is the whole answer, status line included.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    module().set_answers({std::vector<uint8_t>(data + 2, data + size)});
    const char *address = ML_DEFAULT_ADDRESS;  // replaced by the override above
    switch (data[0] % 6) {
    case 0:
        ML_SendGetDeviceType(address);
        break;
    case 1:
        ML_SendGetKeyStatus(address);
        break;
    case 2: {
        // Exactly the documented size, so a write past it is caught.
        std::vector<unsigned char> block(ML_CAMERA_PARAMS_BLOCK_SIZE);
        block[0] = data[1];
        ML_SendGetCameraParams(address, block.data());
        break;
    }
    case 3:
        ML_SendSetDeviceType(address, data[1]);
        break;
    case 4:
        ML_SendSetSSID(address, "fuzz-net");
        break;
    default:
        ML_SendReboot(address);
        break;
    }
    return 0;
}
