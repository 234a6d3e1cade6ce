#pragma once
// A thin C++ face on libmosquitto shared by the agent, the archive and the viewer: one client,
// its own network thread that reconnects by itself with a pause doubling from
// reconnectMinSeconds to reconnectMaxSeconds after any failure (TLS ones included), and
// callbacks as std::function. Callbacks run on that network thread; keep them short and never
// stop or destroy the client from one.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fleet/credentials.h"
#include "fleet/decoded.h"

namespace kvx::fleet {

// mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883, TLS).
struct BrokerAddress {
    std::string host;
    int port = 1883;
    bool tls = false;
    bool operator==(const BrokerAddress&) const = default;
};
Decoded<BrokerAddress> parseBrokerUrl(std::string_view url);

struct MqttWill {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = true;
};

struct MqttOptions {
    BrokerAddress broker;
    std::string clientId;      // fixed for a persistent session
    bool cleanSession = true;  // false: the broker keeps subscriptions and queues QoS 1 messages
    int keepaliveSeconds = 30;
    std::optional<Credentials> credentials;
    std::string caFile;  // with TLS: the CA that signs the broker; empty: the system CAs
    std::optional<MqttWill> will;
    int maxInflight = 100;  // QoS 1 publishes awaiting the broker's acknowledgement
    int reconnectMinSeconds = 1;
    int reconnectMaxSeconds = 30;
};

class MqttClient {
  public:
    // sessionPresent: the broker still held this client id's session.
    using ConnectHandler = std::function<void(bool sessionPresent)>;
    // reason: why connecting failed, or why the broker refused or dropped the connection;
    // called at every failed attempt (not after stop()).
    using DisconnectHandler = std::function<void(const std::string& reason)>;
    using MessageHandler =
        std::function<void(const std::string& topic, std::string_view payload, bool retained)>;
    using PublishedHandler = std::function<void()>;
    // The broker's answer to a subscription (at every connect): ok false when it refused it.
    using SubscribedHandler = std::function<void(const std::string& filter, bool ok)>;

    explicit MqttClient(MqttOptions options);
    ~MqttClient();  // disconnects and stops the network thread
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Set before start().
    void onConnect(ConnectHandler handler);
    void onDisconnect(DisconnectHandler handler);
    void onMessage(MessageHandler handler);
    void onSubscribed(SubscribedHandler handler);

    // Sets the client up and starts connecting in the background. A broker that cannot be
    // reached, or whose certificate does not verify, is not an error here (the network thread
    // keeps trying, onDisconnect says why); a setup fault (an unreadable CA file, out of
    // memory) is: its reason is returned, empty on success.
    std::string start();
    // Disconnects cleanly (no last will) and joins the network thread. Idempotent.
    void stop();

    // Subscribes now if connected and again after every reconnect. Empty on success.
    std::string subscribe(const std::string& filter, int qos);
    // Queues a message; done runs on the network thread once the broker acknowledged it
    // (QoS 1: PUBACK; QoS 0: sent). Returns an empty string or the reason it was refused.
    std::string publish(const std::string& topic, std::string_view payload, int qos, bool retain,
                        PublishedHandler done = {});

    bool connected() const;
    // Messages handed to publish() whose acknowledgement has not come.
    std::size_t unacknowledged() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kvx::fleet
