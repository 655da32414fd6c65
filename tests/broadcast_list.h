// Points the SDK's broadcasts at a test's own loopback addresses for the
// life of the object. Create it before the scanner or sender starts and let
// it go after they stopped: their threads read the variable.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class BroadcastList {
public:
    explicit BroadcastList(const std::vector<std::string> &addresses)
    {
        if (const char *saved = std::getenv("QRN_BCAST_ADDRS"))
            saved_ = saved;
        std::string list;
        for (const std::string &address : addresses)
            list += (list.empty() ? "" : ",") + address;
        setenv("QRN_BCAST_ADDRS", list.c_str(), 1);
    }
    ~BroadcastList()
    {
        if (saved_)
            setenv("QRN_BCAST_ADDRS", saved_->c_str(), 1);
        else
            unsetenv("QRN_BCAST_ADDRS");
    }
    BroadcastList(const BroadcastList &) = delete;
    BroadcastList &operator=(const BroadcastList &) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace testing_support
