#include "session.h"

#include "failures.h"
#include "qrn_net.h"

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
    // The logout reaches the module before the tool exits.
    constexpr unsigned kTeardownWaitMs = 2000;
    QRN_NET_Disconnect(handle_);
    QRN_NET_WaitDisconnected(handle_, kTeardownWaitMs);
}

}  // namespace qrn
