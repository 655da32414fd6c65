#include "broker_link.h"

#include "PPPP_API.h"
#include "signal_message.h"

#include <mosquitto.h>

#include <chrono>

namespace pppp {
namespace {

constexpr auto kConnectTime = std::chrono::milliseconds(3000);
// The broker notices a peer that vanished without closing its socket after
// 1.5 keep-alive periods and publishes its will.
constexpr int kKeepAliveSeconds = 10;
constexpr int kQos = 1;

void init_library()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

BrokerLink::BrokerLink(const BrokerOptions &options, Handler handler)
    : mOptions(options), mHandler(std::move(handler)), mTopics(options.topics)
{
}

int BrokerLink::open(const BrokerOptions &options, Handler handler, std::shared_ptr<BrokerLink> *link)
{
    init_library();
    std::shared_ptr<BrokerLink> self(new BrokerLink(options, std::move(handler)));
    self->mClient = mosquitto_new(options.client_id.c_str(), true, self.get());
    if (self->mClient == nullptr)
        return PPPP_ERROR_SERVER_UNREACHABLE;
    mosquitto_connect_callback_set(self->mClient, on_connect);
    mosquitto_message_callback_set(self->mClient, on_message);
    mosquitto_publish_callback_set(self->mClient, on_publish);
    mosquitto_reconnect_delay_set(self->mClient, 1, 5, false);
    // Signalling is a few small messages, each waited for.
    mosquitto_int_option(self->mClient, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_will_set(self->mClient, options.status_topic.c_str(), static_cast<int>(options.will_payload.size()),
                       options.will_payload.data(), kQos, true);
    if (mosquitto_connect_async(self->mClient, options.host.c_str(), options.port, kKeepAliveSeconds) !=
            MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(self->mClient) != MOSQ_ERR_SUCCESS) {
        // Nothing started: no thread to stop.
        mosquitto_destroy(self->mClient);
        self->mClient = nullptr;
        return PPPP_ERROR_SERVER_UNREACHABLE;
    }
    bool connected;
    {
        std::unique_lock<std::mutex> lock(self->mMutex);
        connected = self->mConnectedChanged.wait_for(lock, kConnectTime, [&] { return self->mStatusTaken; });
    }
    if (!connected) {
        self->close();
        return PPPP_ERROR_SERVER_UNREACHABLE;
    }
    *link = self;
    return PPPP_ERROR_NONE;
}

void BrokerLink::close(const std::string &final_payload)
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mClosed || mClient == nullptr)
            return;
        mClosed = true;
    }
    if (mConnectResult == 0) {
        const std::string &payload = final_payload.empty() ? mOptions.will_payload : final_payload;
        mosquitto_publish(mClient, nullptr, mOptions.status_topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), kQos, true);
    }
    mosquitto_disconnect(mClient);
    mosquitto_loop_stop(mClient, false);
    mosquitto_destroy(mClient);
    mClient = nullptr;
}

BrokerLink::~BrokerLink()
{
    close();
}

void BrokerLink::subscribe(const std::string &topic)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mClosed || !mTopics.insert(topic).second)
        return;
    mosquitto_subscribe(mClient, nullptr, topic.c_str(), kQos);
}

void BrokerLink::unsubscribe(const std::string &topic)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mClosed || mTopics.erase(topic) == 0)
        return;
    mosquitto_unsubscribe(mClient, nullptr, topic.c_str());
}

void BrokerLink::publish(const std::string &topic, const std::string &payload, bool retain)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mClosed)
        return;
    mosquitto_publish(mClient, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), kQos, retain);
}

// Every connect, the first and each reconnect, starts a clean session:
// subscribe again and publish the status again.
void BrokerLink::on_connect(struct mosquitto *client, void *data, int rc)
{
    auto *self = static_cast<BrokerLink *>(data);
    std::lock_guard<std::mutex> lock(self->mMutex);
    if (rc == 0 && !self->mClosed) {
        // The broker handles one client's packets in order: the
        // subscriptions are in place before the status says online.
        for (const std::string &topic : self->mTopics)
            mosquitto_subscribe(client, nullptr, topic.c_str(), kQos);
        mosquitto_publish(client, &self->mStatusMessage, self->mOptions.status_topic.c_str(),
                          static_cast<int>(self->mOptions.online_payload.size()), self->mOptions.online_payload.data(),
                          kQos, true);
    }
    self->mConnectResult = rc;
    self->mConnectedChanged.notify_all();
}

void BrokerLink::on_publish(struct mosquitto *, void *data, int message_id)
{
    auto *self = static_cast<BrokerLink *>(data);
    std::lock_guard<std::mutex> lock(self->mMutex);
    if (message_id == self->mStatusMessage) {
        self->mStatusTaken = true;
        self->mConnectedChanged.notify_all();
    }
}

void BrokerLink::on_message(struct mosquitto *, void *data, const struct mosquitto_message *message)
{
    auto *self = static_cast<BrokerLink *>(data);
    if (message == nullptr || message->topic == nullptr || message->payloadlen < 0 ||
        static_cast<size_t>(message->payloadlen) > kMaxMessageBytes)
        return;
    self->mHandler(message->topic, static_cast<const char *>(message->payload),
                   static_cast<size_t>(message->payloadlen));
}

}  // namespace pppp
