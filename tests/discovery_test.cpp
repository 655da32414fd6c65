// Finding modules on the local network: the scanner against simulated
// devices, each answering on its own loopback address.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

#include "broadcast_list.h"
#include "test_support.h"

using namespace testing_support;
using probesim::DiscoveryFault;
using probesim::DiscoveryModel;
using probesim::DiscoveryResponder;

namespace {

constexpr int kShortestInterval = -1;  // anything up to a quarter second gives 250 ms
constexpr auto kWait = std::chrono::seconds(5);

// Stops the scanner on every way out of a test.
struct ScannerRun {
    explicit ScannerRun(int seconds) : result(QRN_NET_ScanDevice_Init(seconds)) {}
    ~ScannerRun() { QRN_NET_ScanDevice_UnInit(); }
    const int result;
};

struct Device {
    std::string address = next_loopback_address();
    std::unique_ptr<DiscoveryResponder> responder;

    explicit Device(DiscoveryModel model = DiscoveryModel(), DiscoveryFault fault = DiscoveryFault::None)
        : responder(std::make_unique<DiscoveryResponder>(std::move(model)))
    {
        responder->set_fault(fault);
    }
    bool start() { return responder->start(address); }
};

std::vector<ScanDeviceInfo> listed()
{
    ScanDeviceInfo table[QRN_SCAN_MAX_DEVICES];
    int count = -1;
    if (QRN_NET_Scan_GetDeviceInfo(table, &count) != QRN_OK)
        return {};
    return std::vector<ScanDeviceInfo>(table, table + count);
}

const ScanDeviceInfo *entry_for(const std::vector<ScanDeviceInfo> &table, const std::string &address)
{
    for (const ScanDeviceInfo &info : table)
        if (address == info.address)
            return &info;
    return nullptr;
}

bool wait_for_table(const std::function<bool(const std::vector<ScanDeviceInfo> &)> &done,
                    std::chrono::milliseconds limit = kWait)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(listed())) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool wait_listed(const std::string &address)
{
    return wait_for_table([&](const auto &table) { return entry_for(table, address) != nullptr; });
}

// The alias field as stored: the text, then zeros to the end of its 20 bytes.
std::vector<char> alias_field(const std::string &text)
{
    std::vector<char> field(sizeof(ScanDeviceInfo::alias), 0);
    std::copy(text.begin(), text.end(), field.begin());
    return field;
}

DiscoveryModel device(uint32_t id, std::string alias)
{
    DiscoveryModel model;
    model.id = id;
    model.alias = std::move(alias);
    return model;
}

struct ReplyCase {
    const char *name;
    DiscoveryModel model;
    DiscoveryFault fault;
    bool listed;
    uint32_t id;
    std::string alias;
};

std::vector<ReplyCase> reply_cases()
{
    DiscoveryModel noisy = device(0x33, "noterm");
    noisy.noise_before_reply = true;
    DiscoveryModel front = device(0x111, "front");
    front.behind_same_address = {{0x222, "back"}};
    DiscoveryModel renamed = device(0x44, "before");
    renamed.changed_alias = "after";
    return {
        {"plain reply", device(0x01020304, "bench-probe"), DiscoveryFault::None, true, 0x01020304, "bench-probe"},
        {"no magic", device(0x55, "stranger"), DiscoveryFault::NoMagic, false, 0, ""},
        {"magic alone", device(0x0A0B0C0D, "cut"), DiscoveryFault::ThreeByteReply, true, 0, ""},
        {"alias of 30 characters", device(0x66, "an-alias-of-thirty-characters!"), DiscoveryFault::None, true, 0x66,
         "an-alias-of-thirty-"},
        {"unterminated alias after a long datagram", noisy, DiscoveryFault::UnterminatedAlias, true, 0x33, "noterm"},
        {"unterminated alias of 25 characters", device(0x77, "twenty-five-characters-xy"),
         DiscoveryFault::UnterminatedAlias, true, 0x77, "twenty-five-charact"},
        {"two devices behind one address", front, DiscoveryFault::None, true, 0x111, "front"},
        {"alias changed after the first reply", renamed, DiscoveryFault::ChangedAlias, true, 0x44, "before"},
    };
}

TEST(ScanTable, ListsEachAddressOnceFromItsFirstReplyWithinItsFields)
{
    const std::vector<ReplyCase> cases = reply_cases();
    std::vector<Device> devices;
    std::vector<std::string> addresses;
    for (const ReplyCase &c : cases) {
        devices.emplace_back(c.model, c.fault);
        ASSERT_TRUE(devices.back().start()) << c.name;
        addresses.push_back(devices.back().address);
    }
    BroadcastList broadcast(addresses);
    ScannerRun scanner(kShortestInterval);
    ASSERT_EQ(scanner.result, QRN_OK);

    // A request after a quiet interval means every earlier reply was read:
    // the fourth comes after three answers from each device.
    for (const Device &d : devices)
        ASSERT_TRUE(d.responder->wait_for_requests(4, kWait)) << d.address;

    ScanDeviceInfo table[QRN_SCAN_MAX_DEVICES + 1];
    std::memset(table, 0xA5, sizeof table);
    int count = -1;
    ASSERT_EQ(QRN_NET_Scan_GetDeviceInfo(table, &count), QRN_OK);
    const auto listed_cases = std::count_if(cases.begin(), cases.end(), [](const ReplyCase &c) { return c.listed; });
    ASSERT_EQ(count, listed_cases);
    const auto *untouched = reinterpret_cast<const uint8_t *>(table + count);
    EXPECT_TRUE(std::all_of(untouched, untouched + sizeof(ScanDeviceInfo), [](uint8_t b) { return b == 0xA5; }))
        << "only the listed records are written";
    const std::vector<ScanDeviceInfo> entries(table, table + count);

    for (size_t i = 0; i < cases.size(); ++i) {
        const ReplyCase &c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_GE(devices[i].responder->replies_sent(), 3u);
        const ScanDeviceInfo *entry = entry_for(entries, devices[i].address);
        ASSERT_EQ(entry != nullptr, c.listed);
        if (!entry)
            continue;
        EXPECT_EQ(entry->id, c.id);
        EXPECT_EQ(std::vector<char>(entry->alias, entry->alias + sizeof entry->alias), alias_field(c.alias));
        EXPECT_EQ(std::vector<char>(entry->address, entry->address + sizeof entry->address),
                  alias_field(devices[i].address))
            << "the address field is the sender's, untouched by the alias";
    }

    ScanDeviceInformation long_form[QRN_SCAN_MAX_DEVICES];
    int long_count = -1;
    ASSERT_EQ(QRN_NET_Scan_GetDeviceInformation(long_form, &long_count), QRN_OK);
    ASSERT_EQ(long_count, count);
    for (int i = 0; i < long_count; ++i) {
        EXPECT_EQ(std::memcmp(&long_form[i].info, &table[i], sizeof(ScanDeviceInfo)), 0) << i;
        EXPECT_TRUE(std::all_of(std::begin(long_form[i].reserved), std::end(long_form[i].reserved),
                                [](uint8_t b) { return b == 0; }));
    }
}

TEST(ScanTable, SilentDeviceLeavesAtTheSixthQuietIntervalWhileAnAnsweringOneStays)
{
    DiscoveryModel once = device(0x10, "answers-once");
    once.reply_limit = 1;
    Device silent(once);
    Device steady(device(0x20, "answers-always"));
    ASSERT_TRUE(silent.start());
    ASSERT_TRUE(steady.start());
    BroadcastList broadcast({silent.address, steady.address});
    ScannerRun scanner(kShortestInterval);
    ASSERT_EQ(scanner.result, QRN_OK);
    ASSERT_TRUE(wait_listed(silent.address));

    // The first request is the one at start; every later one follows a quiet
    // interval and precedes that interval's ageing.
    ASSERT_TRUE(silent.responder->wait_for_requests(6, kWait));
    EXPECT_NE(entry_for(listed(), silent.address), nullptr) << "five agings leave time-to-live 0, still listed";
    ASSERT_TRUE(silent.responder->wait_for_requests(7, kWait));
    ASSERT_TRUE(wait_for_table([&](const auto &table) { return !entry_for(table, silent.address); }));
    EXPECT_EQ(silent.responder->requests().size(), 7u) << "gone at the sixth ageing, not later";
    EXPECT_EQ(silent.responder->replies_sent(), 1u);
    EXPECT_NE(entry_for(listed(), steady.address), nullptr) << "each answer restores its time-to-live";
}

// A module that, once asked, sends its reply every few milliseconds, far
// more often than the shortest interval, to whoever asked.
class FloodingModule {
public:
    explicit FloodingModule(std::string address) : address_(std::move(address)) {}
    ~FloodingModule()
    {
        run_ = false;
        if (thread_.joinable())
            thread_.join();
        close(socket_);
    }

    bool start()
    {
        socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(probesim::kDiscoveryPort);
        inet_pton(AF_INET, address_.c_str(), &local.sin_addr);
        if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            return false;
        thread_ = std::thread([this] { flood(); });
        return true;
    }
    size_t replies_sent() const { return replies_; }
    const std::string &address() const { return address_; }

private:
    void flood()
    {
        sockaddr_in asker{};
        bool asked = false;
        const uint8_t reply[16] = {'Q', 'R', 'N', 0, 0, 0, 0, 0, 0x99, 0, 0, 0, 'f', 'l', 'o', 0};
        while (run_) {
            // The pace of the flood, not a wait for a result.
            pollfd descriptor{socket_, POLLIN, 0};
            if (poll(&descriptor, 1, 5) > 0) {
                uint8_t request[64];
                socklen_t length = sizeof asker;
                asked =
                    recvfrom(socket_, request, sizeof request, 0, reinterpret_cast<sockaddr *>(&asker), &length) > 0 ||
                    asked;
            }
            if (asked &&
                sendto(socket_, reply, sizeof reply, 0, reinterpret_cast<sockaddr *>(&asker), sizeof asker) > 0)
                ++replies_;
        }
    }

    std::string address_;
    int socket_ = -1;
    std::atomic<bool> run_{true};
    std::atomic<size_t> replies_{0};
    std::thread thread_;
};

TEST(ScanTable, FloodOfRepliesNeitherFreezesAgeingNorStopsTheRequests)
{
    FloodingModule flood(next_loopback_address());
    ASSERT_TRUE(flood.start());
    DiscoveryModel once = device(0x10, "answers-once");
    once.reply_limit = 1;
    Device quiet(once);
    ASSERT_TRUE(quiet.start());
    BroadcastList broadcast({flood.address(), quiet.address});
    ScannerRun scanner(kShortestInterval);
    ASSERT_EQ(scanner.result, QRN_OK);
    ASSERT_TRUE(wait_listed(quiet.address));
    ASSERT_TRUE(wait_listed(flood.address()));

    // Six ageings after its only answer the quiet module is gone, whatever
    // else keeps arriving; the flood itself stays listed.
    ASSERT_TRUE(wait_for_table([&](const auto &table) { return !entry_for(table, quiet.address); }))
        << "the quiet module is still listed under the flood";
    const auto removed_by = std::chrono::steady_clock::now();
    // Its answer came with the first request; it may go only at the sixth
    // ageing after that, six intervals of 250 ms later (rounds can run late
    // under load, never early). Half an interval allows for the responder
    // logging that first request late.
    ASSERT_TRUE(quiet.responder->wait_for_requests(1, kWait));
    const auto listed_for =
        std::chrono::duration_cast<std::chrono::milliseconds>(removed_by - quiet.responder->requests()[0].when);
    EXPECT_GE(listed_for.count(), 6 * 250 - 125) << "not before its sixth ageing";
    EXPECT_NE(entry_for(listed(), flood.address()), nullptr);
    EXPECT_GT(flood.replies_sent(), 100u) << "the flood ran faster than the interval";

    ASSERT_TRUE(quiet.responder->wait_for_requests(9, kWait)) << "requests go on under the flood";
    const auto requests = quiet.responder->requests();
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_GE(requests[i].when - requests[i - 1].when, std::chrono::milliseconds(200))
            << "one request per interval, not one per reply: request " << i;
}

TEST(ScanTable, ReadersRefuseWhileStoppedOrForNullAndAStartClearsTheTable)
{
    ScanDeviceInfo table[QRN_SCAN_MAX_DEVICES];
    ScanDeviceInformation long_form[QRN_SCAN_MAX_DEVICES];
    int count = 0;
    EXPECT_EQ(QRN_NET_Scan_GetDeviceInfo(table, &count), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Scan_GetDeviceInformation(long_form, &count), QRN_ERR_FAILED);

    Device probe(device(0x30, "probe"));
    ASSERT_TRUE(probe.start());
    BroadcastList broadcast({probe.address});
    ASSERT_EQ(QRN_NET_ScanDevice_Init(kShortestInterval), QRN_OK);
    ASSERT_TRUE(wait_listed(probe.address));
    EXPECT_EQ(QRN_NET_Scan_GetDeviceInfo(table, nullptr), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Scan_GetDeviceInfo(nullptr, &count), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Scan_GetDeviceInformation(long_form, nullptr), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_Scan_GetDeviceInformation(nullptr, &count), QRN_ERR_FAILED);

    EXPECT_EQ(QRN_NET_ScanDevice_UnInit(), QRN_OK);
    EXPECT_EQ(QRN_NET_Scan_GetDeviceInfo(table, &count), QRN_ERR_FAILED);
    EXPECT_EQ(QRN_NET_ScanDevice_UnInit(), QRN_OK) << "stopping a stopped scanner";

    probe.responder->stop();
    ScannerRun restarted(kShortestInterval);
    ASSERT_EQ(restarted.result, QRN_OK);
    count = -1;
    EXPECT_EQ(QRN_NET_Scan_GetDeviceInfo(table, &count), QRN_OK);
    EXPECT_EQ(count, 0) << "a start forgets the devices of the last run";
}

TEST(ScanInterval, ZeroMeansOneSecondAndASecondInitChangesNothing)
{
    Device probe;
    ASSERT_TRUE(probe.start());
    BroadcastList broadcast({probe.address});
    const auto started = std::chrono::steady_clock::now();
    ScannerRun scanner(0);
    ASSERT_EQ(scanner.result, QRN_OK);
    EXPECT_EQ(QRN_NET_ScanDevice_Init(kShortestInterval), QRN_OK) << "already running";

    ASSERT_TRUE(probe.responder->wait_for_requests(3, kWait));
    const auto requests = probe.responder->requests();
    EXPECT_LT(requests[0].when - started, std::chrono::milliseconds(900)) << "the first request goes out at start";
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_TRUE(requests[i].well_formed) << i;
        if (i == 0)
            continue;
        EXPECT_GE(requests[i].when - requests[i - 1].when, std::chrono::milliseconds(900))
            << "one scanner, asking once a second: request " << i;
    }
}

TEST(ScanTable, FullTableDropsTheFiftyFirstAddressUntilASlotAgesOut)
{
    // The first fifty answer once, so nothing but the newcomer's own replies
    // could change the table while it is full.
    DiscoveryModel once;
    once.reply_limit = 1;
    std::vector<Device> devices;
    std::vector<std::string> addresses;
    for (int i = 0; i < QRN_SCAN_MAX_DEVICES; ++i) {
        devices.emplace_back(once);
        ASSERT_TRUE(devices.back().start()) << devices.back().address;
        addresses.push_back(devices.back().address);
    }
    Device late;
    addresses.push_back(late.address);
    BroadcastList broadcast(addresses);
    ScannerRun scanner(kShortestInterval);
    ASSERT_EQ(scanner.result, QRN_OK);
    ASSERT_TRUE(wait_for_table([](const auto &table) { return table.size() == QRN_SCAN_MAX_DEVICES; }));

    ASSERT_TRUE(late.start());
    ASSERT_TRUE(late.responder->wait_for_replies(1, kWait));
    ASSERT_TRUE(late.responder->wait_for_requests(2, kWait)) << "its reply has been read by now";
    const std::vector<ScanDeviceInfo> table = listed();
    ASSERT_EQ(table.size(), static_cast<size_t>(QRN_SCAN_MAX_DEVICES));
    EXPECT_EQ(entry_for(table, late.address), nullptr);
    for (const Device &d : devices)
        EXPECT_NE(entry_for(table, d.address), nullptr) << d.address;

    // Once the silent fifty have aged out, the next answer finds a slot.
    ASSERT_TRUE(wait_for_table([&](const auto &now) { return now.size() == 1 && entry_for(now, late.address); }));
}

TEST(ScanTable, DiscoveredAddressReachesTheProbe)
{
    RunningSim running = start_sim();
    DiscoveryModel model = device(0x00ABCDEF, "bench-probe");
    ASSERT_TRUE(running.sim->start_discovery(model));
    BroadcastList broadcast({running.address});
    ScannerRun scanner(kShortestInterval);
    ASSERT_EQ(scanner.result, QRN_OK);
    ASSERT_TRUE(wait_listed(running.address));

    const std::vector<ScanDeviceInfo> table = listed();
    const ScanDeviceInfo *found = entry_for(table, running.address);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->id, 0x00ABCDEFu);
    EXPECT_STREQ(found->alias, "bench-probe");
    int handle = -1;
    ASSERT_EQ(QRN_NET_ConnectDevice(&handle, found->address, nullptr), 0);
    EXPECT_TRUE(disconnect_and_wait(handle));
}

}  // namespace
