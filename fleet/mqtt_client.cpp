#include "fleet/mqtt_client.h"

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
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
    std::thread thread;
    std::condition_variable wake;
    bool stopping = false;  // under mutex
    std::atomic<bool> connected{false};
    std::string lastLibraryError;  // the library's last error line, for the reasons given

    ConnectHandler connectHandler;
    DisconnectHandler disconnectHandler;
    MessageHandler messageHandler;
    SubscribedHandler subscribedHandler;

    mutable std::mutex mutex;
    std::vector<std::pair<std::string, int>> subscriptions;
    std::map<int, PublishedHandler> waiting;  // mid -> done
    std::set<int> earlyAcks;                  // acknowledged before publish() recorded the mid
    std::map<int, std::string> subscribing;   // mid -> filter, until the broker answers

    void sendSubscribe(const std::string& filter, int qos) {
        // Under the mutex, so that the answer cannot come before the mid is recorded.
        std::lock_guard lock(mutex);
        int mid = 0;
        if (mosquitto_subscribe(mosq, &mid, filter.c_str(), qos) == MOSQ_ERR_SUCCESS)
            subscribing[mid] = filter;
    }

    static void onSubscribe(mosquitto*, void* obj, int mid, int count, const int* granted,
                            const mosquitto_property*) {
        Impl* s = self(obj);
        std::string filter;
        {
            std::lock_guard lock(s->mutex);
            const auto it = s->subscribing.find(mid);
            if (it == s->subscribing.end()) return;
            filter = std::move(it->second);
            s->subscribing.erase(it);
        }
        const bool ok = count > 0 && granted[0] < 0x80;
        if (s->subscribedHandler) s->subscribedHandler(filter, ok);
    }

    static Impl* self(void* obj) { return static_cast<Impl*>(obj); }

    void report(const std::string& reason) {
        if (disconnectHandler) disconnectHandler(reason);
    }

    // Waits before the next attempt; false when stop() came meanwhile.
    bool pause(int seconds) {
        std::unique_lock lock(mutex);
        return !wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopping; });
    }

    bool stopRequested() {
        std::lock_guard lock(mutex);
        return stopping;
    }

    // The network thread: connects, runs the session, and after any failure (a broker away, a
    // refused login, a certificate that does not verify) tries again after a pause that doubles
    // up to the maximum, until stop(). Run by hand rather than by mosquitto_loop_start, whose
    // thread ends for good at the first TLS error.
    void run() {
        int delay = options.reconnectMinSeconds;
        bool first = true;
        while (!stopRequested()) {
            lastLibraryError.clear();
            // Without waiting for the connection (the loop below completes it), so that stop()
            // is never held up by a broker that does not answer.
            int rc = first ? mosquitto_connect_async(mosq, options.broker.host.c_str(),
                                                     options.broker.port, options.keepaliveSeconds)
                           : mosquitto_reconnect_async(mosq);
            first = rc != MOSQ_ERR_SUCCESS && first;
            if (rc == MOSQ_ERR_SUCCESS) {
                while ((rc = mosquitto_loop(mosq, 200, 1)) == MOSQ_ERR_SUCCESS) {
                    if (connected) delay = options.reconnectMinSeconds;
                    if (stopRequested()) break;
                }
            }
            connected = false;
            if (stopRequested()) break;
            std::string reason = "cannot reach " + options.broker.host + ":" +
                                 std::to_string(options.broker.port) + ": " + mosquittoError(rc);
            if (!lastLibraryError.empty()) reason += " (" + lastLibraryError + ")";
            if (rc != MOSQ_ERR_CONN_REFUSED) report(reason);  // a refusal was reported at CONNACK
            if (!pause(delay)) break;
            delay = std::min(delay * 2, options.reconnectMaxSeconds);
        }
        // Let the DISCONNECT that stop() queued go out.
        for (int i = 0; i < 5 && mosquitto_loop(mosq, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
    }

    static void onLog(mosquitto*, void* obj, int level, const char* text) {
        if (level == MOSQ_LOG_ERR && text) self(obj)->lastLibraryError = text;
    }

    static void onConnect(mosquitto*, void* obj, int rc, int flags, const mosquitto_property*) {
        Impl* s = self(obj);
        if (rc != 0) {
            s->report(std::string("broker refused the connection: ") +
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
            s->sendSubscribe(filter, qos);
        if (s->connectHandler) s->connectHandler((flags & 1) != 0);
    }

    // Why a connection ended is reported by run(), which sees the error.
    static void onDisconnect(mosquitto*, void* obj, int, const mosquitto_property*) {
        self(obj)->connected = false;
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
void MqttClient::onSubscribed(SubscribedHandler handler) {
    impl_->subscribedHandler = std::move(handler);
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
    mosquitto_log_callback_set(s.mosq, &Impl::onLog);
    mosquitto_subscribe_v5_callback_set(s.mosq, &Impl::onSubscribe);
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
    mosquitto_threaded_set(s.mosq, true);
    s.thread = std::thread([&s] { s.run(); });
    return {};
}

void MqttClient::stop() {
    Impl& s = *impl_;
    if (!s.thread.joinable()) return;
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    s.wake.notify_all();
    mosquitto_disconnect(s.mosq);
    s.thread.join();
    s.connected = false;
}

std::string MqttClient::subscribe(const std::string& filter, int qos) {
    Impl& s = *impl_;
    {
        std::lock_guard lock(s.mutex);
        s.subscriptions.emplace_back(filter, qos);
    }
    if (!s.mosq || !s.connected) return {};
    s.sendSubscribe(filter, qos);  // when the connection is gone meanwhile, the next connect does
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
