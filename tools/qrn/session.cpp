#include "session.h"

#include "failures.h"
#include "qrn_net.h"

#include <chrono>
#include <thread>

namespace qrn {

const std::vector<OptionRule> kEndpointOptions = {{"--port", true}, {"--access", true}};

Endpoint endpoint_from(const Arguments &arguments, size_t index)
{
    Endpoint endpoint;
    endpoint.address = arguments.operands().at(index);
    if (endpoint.address.empty())
        throw UsageError("the address is empty");
    endpoint.port = integer_option(arguments, "--port", 1, 65535, 0);
    endpoint.access = arguments.value("--access");
    return endpoint;
}

Session::Session(const Endpoint &endpoint) : address_(endpoint.address)
{
    const char *access = endpoint.access ? endpoint.access->c_str() : nullptr;
    const int result = QRN_NET_ConnectDeviceIndex(&handle_, address_.c_str(), endpoint.port, access);
    if (result == QRN_ERR_BAD_STRING)
        throw UsageError("the address or the access string is too long");
    check_result(result, "cannot connect to " + address_);
}

Session::~Session()
{
    QRN_NET_Disconnect(handle_);
    // The handle turns invalid once the teardown has released the slot.
    constexpr auto kTeardownWait = std::chrono::seconds(2);
    const auto deadline = std::chrono::steady_clock::now() + kTeardownWait;
    int mode = 0;
    while (QRN_NET_GetTransMode(handle_, &mode) == QRN_OK && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace qrn
