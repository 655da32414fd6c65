// qrn info: what a module says about itself.
#include "commands.h"
#include "failures.h"
#include "fixed_text.h"
#include "qrn_net.h"
#include "session.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace qrn {

namespace {

const std::string kUsage = std::string(
                               "usage: qrn info ADDRESS [--port N] [--access STRING]\n"
                               "\n"
                               "Connects to the module at ADDRESS (an IPv4 address or a device ID) and\n"
                               "prints its company, protocol version, ID, alias and MAC address.\n"
                               "\n"
                               "  ADDRESS            the module to ask: an IPv4 address or a device ID\n") +
                           kEndpointHelp + kHelpOptionHelp;

std::string version_text(int word)
{
    const unsigned version = static_cast<unsigned>(word);
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF) + "." +
           std::to_string(version & 0xFF);
}

std::string mac_text(const uint8_t (&mac)[6])
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

// Prints one field; a field that cannot be read is shown as unknown and
// makes the command fail once every field has been tried.
class FieldPrinter {
public:
    void print(const char *label, int result, const std::string &value)
    {
        std::string padded = std::string(label) + ":";
        padded.resize(9, ' ');
        if (result >= 0) {
            std::cout << padded << value << "\n";
            return;
        }
        std::cout << padded << "unknown\n";
        std::cerr << "qrn info: " << describe_result(std::string("cannot read the ") + label, result) << "\n";
        ++failures_;
    }
    int failures() const { return failures_; }

private:
    int failures_ = 0;
};

int run(const Arguments &arguments)
{
    arguments.expect_operands(1, 1);
    Session session(endpoint_from(arguments, 0));
    const int handle = session.handle();

    char company[QRN_NET_COMPANY_SIZE];
    check_result(QRN_NET_GetCompany(handle, company), "cannot read the company of " + session.address());

    FieldPrinter fields;
    fields.print("company", QRN_OK, company);
    const int version = QRN_NET_GetVersion(handle);
    fields.print("version", version, version_text(version));
    int id = 0;
    const int id_result = QRN_NET_Device_GetId(handle, &id);
    fields.print("ID", id_result, std::to_string(static_cast<uint32_t>(id)));
    char alias[sizeof DeviceInfo::alias] = {};
    const int alias_result = QRN_NET_Device_GetAlias(handle, alias);
    fields.print("alias", alias_result, fixed_text(alias));
    uint8_t mac[6] = {};
    const int mac_result = QRN_NET_GetMac(handle, mac);
    fields.print("MAC", mac_result, mac_text(mac));

    if (fields.failures() > 0)
        return kExitFailure;
    return kExitSuccess;
}

}  // namespace

const Command &info_command()
{
    static const Command command{"info", "company, version, ID, alias and MAC of a module", kUsage, kEndpointOptions,
                                 run};
    return command;
}

}  // namespace qrn
