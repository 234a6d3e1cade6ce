#include "fleet/mqtt_client.h"

#include <mosquitto.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace kvx::fleet {
namespace {

std::once_flag libraryStarted;

std::string mosquittoError(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

bool parsePort(std::string_view text, int& port) {
    if (text.empty() || text.size() > 5) return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > 65535) return false;
    port = n;
    return true;
}

}  // namespace

Decoded<BrokerAddress> parseBrokerUrl(std::string_view url) {
    using R = Decoded<BrokerAddress>;
    BrokerAddress a;
    std::string_view rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
    } else if (url.starts_with("mqtts://")) {
        rest = url.substr(8);
        a.tls = true;
        a.port = 8883;
    } else {
        return R::fail("broker \"" + std::string(url) +
                       "\" does not start with mqtt:// or mqtts://");
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    std::string_view host = rest;
    if (rest.starts_with('[')) {  // [IPv6]:port
        const auto close = rest.find(']');
        if (close == std::string_view::npos) return R::fail("broker address has no closing ]");
        host = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && (!after.starts_with(':') || !parsePort(after.substr(1), a.port)))
            return R::fail("broker port is not a number 1..65535");
    } else if (const auto colon = rest.rfind(':'); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        if (!parsePort(rest.substr(colon + 1), a.port))
            return R::fail("broker port is not a number 1..65535");
    }
    if (host.empty()) return R::fail("broker address has no host");
    for (char c : host) {
        if (c == '/' || c == '@' || c == '?' || c == '#' || static_cast<unsigned char>(c) <= ' ')
            return R::fail("broker host \"" + std::string(host) + "\" is not a host name");
    }
    a.host = std::string(host);
    return R::ok(std::move(a));
}

struct MqttClient::Impl {
    MqttOptions options;
    mosquitto* mosq = nullptr;
    bool looping = false;
    std::atomic<bool> connected{false};

    ConnectHandler connectHandler;
    DisconnectHandler disconnectHandler;
    MessageHandler messageHandler;

    mutable std::mutex mutex;
    std::vector<std::pair<std::string, int>> subscriptions;
    std::map<int, PublishedHandler> waiting;  // mid -> done
    std::set<int> earlyAcks;                  // acknowledged before publish() recorded the mid

    static Impl* self(void* obj) { return static_cast<Impl*>(obj); }

    static void onConnect(mosquitto* m, void* obj, int rc, int flags, const mosquitto_property*) {
        Impl* s = self(obj);
        if (rc != 0) {
            if (s->disconnectHandler)
                s->disconnectHandler(std::string("broker refused the connection: ") +
                                     mosquitto_connack_string(rc));
            return;
        }
        s->connected = true;
        std::vector<std::pair<std::string, int>> subs;
        {
            std::lock_guard lock(s->mutex);
            subs = s->subscriptions;
        }
        for (const auto& [filter, qos] : subs)
            mosquitto_subscribe(m, nullptr, filter.c_str(), qos);
        if (s->connectHandler) s->connectHandler((flags & 1) != 0);
    }

    static void onDisconnect(mosquitto*, void* obj, int rc, const mosquitto_property*) {
        Impl* s = self(obj);
        s->connected = false;
        if (s->disconnectHandler)
            s->disconnectHandler(rc == 0 ? std::string()
                                         : "connection lost: " + mosquittoError(rc));
    }

    static void onPublish(mosquitto*, void* obj, int mid, int, const mosquitto_property*) {
        Impl* s = self(obj);
        PublishedHandler done;
        {
            std::lock_guard lock(s->mutex);
            const auto it = s->waiting.find(mid);
            if (it == s->waiting.end()) {
                s->earlyAcks.insert(mid);
                return;
            }
            done = std::move(it->second);
            s->waiting.erase(it);
        }
        if (done) done();
    }

    static void onMessage(mosquitto*, void* obj, const mosquitto_message* msg,
                          const mosquitto_property*) {
        Impl* s = self(obj);
        if (!s->messageHandler || !msg->topic) return;
        const std::string_view payload(
            static_cast<const char*>(msg->payload),
            msg->payload ? static_cast<std::size_t>(msg->payloadlen) : 0);
        s->messageHandler(msg->topic, payload, msg->retain);
    }
};

MqttClient::MqttClient(MqttOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
}

MqttClient::~MqttClient() {
    stop();
    if (impl_->mosq) mosquitto_destroy(impl_->mosq);
}

void MqttClient::onConnect(ConnectHandler handler) {
    impl_->connectHandler = std::move(handler);
}
void MqttClient::onDisconnect(DisconnectHandler handler) {
    impl_->disconnectHandler = std::move(handler);
}
void MqttClient::onMessage(MessageHandler handler) {
    impl_->messageHandler = std::move(handler);
}

std::string MqttClient::start() {
    Impl& s = *impl_;
    if (s.mosq) return "the client is already started";
    std::call_once(libraryStarted, [] { mosquitto_lib_init(); });
    const MqttOptions& o = s.options;
    s.mosq = mosquitto_new(o.clientId.empty() ? nullptr : o.clientId.c_str(), o.cleanSession, &s);
    if (!s.mosq) {
        return o.clientId.empty() && !o.cleanSession
                   ? "a persistent session needs a client id"
                   : "cannot create the MQTT client: " + mosquittoError(MOSQ_ERR_ERRNO);
    }
    mosquitto_int_option(s.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_v5_callback_set(s.mosq, &Impl::onConnect);
    mosquitto_disconnect_v5_callback_set(s.mosq, &Impl::onDisconnect);
    mosquitto_publish_v5_callback_set(s.mosq, &Impl::onPublish);
    mosquitto_message_v5_callback_set(s.mosq, &Impl::onMessage);
    mosquitto_reconnect_delay_set(s.mosq, o.reconnectMinSeconds, o.reconnectMaxSeconds, true);
    mosquitto_max_inflight_messages_set(s.mosq, static_cast<unsigned>(o.maxInflight));

    int rc = MOSQ_ERR_SUCCESS;
    if (o.credentials) {
        rc = mosquitto_username_pw_set(s.mosq, o.credentials->user.c_str(),
                                       o.credentials->password.c_str());
        if (rc != MOSQ_ERR_SUCCESS) return "user name and password: " + mosquittoError(rc);
    }
    if (o.will) {
        rc = mosquitto_will_set(s.mosq, o.will->topic.c_str(),
                                static_cast<int>(o.will->payload.size()), o.will->payload.data(),
                                o.will->qos, o.will->retain);
        if (rc != MOSQ_ERR_SUCCESS) return "last will: " + mosquittoError(rc);
    }
    if (o.broker.tls) {
        if (!o.caFile.empty()) {
            rc = mosquitto_tls_set(s.mosq, o.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS)
                return "CA file " + o.caFile + " cannot be used: " + mosquittoError(rc);
        } else {
            rc = mosquitto_int_option(s.mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
            if (rc != MOSQ_ERR_SUCCESS) return "the system's CAs: " + mosquittoError(rc);
        }
        // The broker's certificate and its name are always checked.
        rc = mosquitto_tls_opts_set(s.mosq, 1, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_insecure_set(s.mosq, false);
        if (rc != MOSQ_ERR_SUCCESS) return "TLS options: " + mosquittoError(rc);
    }
    // The network thread first: started after a first connect that failed (a broker still
    // down), libmosquitto's thread waits for a connection that never begins and never retries.
    rc = mosquitto_loop_start(s.mosq);
    if (rc != MOSQ_ERR_SUCCESS) return "cannot start the network thread: " + mosquittoError(rc);
    s.looping = true;
    rc = mosquitto_connect_async(s.mosq, o.broker.host.c_str(), o.broker.port, o.keepaliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_EAI) {
        stop();
        return "cannot connect to " + o.broker.host + ": " + mosquittoError(rc);
    }
    if (rc != MOSQ_ERR_SUCCESS && s.disconnectHandler)
        s.disconnectHandler("cannot reach " + o.broker.host + ": " + mosquittoError(rc));
    return {};
}

void MqttClient::stop() {
    Impl& s = *impl_;
    if (!s.mosq || !s.looping) return;
    mosquitto_disconnect(s.mosq);
    mosquitto_loop_stop(s.mosq, false);
    s.looping = false;
    s.connected = false;
}

std::string MqttClient::subscribe(const std::string& filter, int qos) {
    Impl& s = *impl_;
    {
        std::lock_guard lock(s.mutex);
        s.subscriptions.emplace_back(filter, qos);
    }
    if (!s.mosq || !s.connected) return {};
    const int rc = mosquitto_subscribe(s.mosq, nullptr, filter.c_str(), qos);
    // Not connected after all: the next connect subscribes.
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN)
        return "subscribe " + filter + ": " + mosquittoError(rc);
    return {};
}

std::string MqttClient::publish(const std::string& topic, std::string_view payload, int qos,
                                bool retain, PublishedHandler done) {
    Impl& s = *impl_;
    if (!s.mosq) return "the client is not started";
    if (!s.connected) return "not connected to the broker";
    int mid = 0;
    const int rc = mosquitto_publish(s.mosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) return "publish " + topic + ": " + mosquittoError(rc);
    bool alreadyAcknowledged;
    {
        std::lock_guard lock(s.mutex);
        alreadyAcknowledged = s.earlyAcks.erase(mid) > 0;
        if (!alreadyAcknowledged) s.waiting.emplace(mid, std::move(done));
    }
    if (alreadyAcknowledged && done) done();
    return {};
}

bool MqttClient::connected() const {
    return impl_->connected;
}

std::size_t MqttClient::unacknowledged() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->waiting.size();
}

}  // namespace kvx::fleet
