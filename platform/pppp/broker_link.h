// One MQTT connection (libmosquitto, its own network thread): a retained
// status with a last will, subscriptions that survive reconnects, and a
// handler for what arrives. The handler runs on the network thread and must
// not block.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

struct mosquitto;
struct mosquitto_message;

namespace pppp {

struct BrokerOptions {
    std::string host;
    int port = 0;
    std::string client_id;
    std::string status_topic;      // holds our retained status while connected
    std::string online_payload;    // published there on every connect
    std::string will_payload;      // left there by the broker when we vanish
    std::set<std::string> topics;  // subscribed before the status goes out
};

class BrokerLink {
public:
    using Handler = std::function<void(const std::string &topic, const char *payload, size_t length)>;

    // PPPP_ERROR_NONE, or PPPP_ERROR_SERVER_UNREACHABLE when no broker
    // answered within the connect time.
    // Returns once the broker has taken the status, so the topics are
    // subscribed by the time anyone can see us online.
    static int open(const BrokerOptions &options, Handler handler, std::shared_ptr<BrokerLink> *link);
    // Leaves the retained status as `final_payload` (the will when empty),
    // disconnects and ends the network thread.
    void close(const std::string &final_payload = std::string());
    ~BrokerLink();

    void subscribe(const std::string &topic);
    void unsubscribe(const std::string &topic);
    void publish(const std::string &topic, const std::string &payload, bool retain = false);

private:
    BrokerLink(const BrokerOptions &options, Handler handler);
    static void on_connect(struct mosquitto *, void *self, int rc);
    static void on_message(struct mosquitto *, void *self, const struct mosquitto_message *message);
    static void on_publish(struct mosquitto *, void *self, int message_id);

    BrokerOptions mOptions;
    Handler mHandler;
    struct mosquitto *mClient = nullptr;
    std::mutex mMutex;
    std::condition_variable mConnectedChanged;
    int mConnectResult = -1;  // -1 while waiting, then the CONNACK code
    int mStatusMessage = -1;  // the message ID of the status publication
    bool mStatusTaken = false;
    bool mClosed = false;
    std::set<std::string> mTopics;
};

}  // namespace pppp
