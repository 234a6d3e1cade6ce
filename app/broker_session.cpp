#include "app/broker_session.h"

#include <unistd.h>

#include <QMetaObject>
#include <atomic>

#include "app/core/program_settings.h"
#include "fleet/mqtt_client.h"
#include "fleet/payloads.h"

namespace kvx {

namespace {

std::string viewerClientId() {
    // Unique per session; the viewer keeps no session on the broker (clean session).
    static std::atomic<unsigned> count{0};
    return "kvx-viewer-" + std::to_string(::getpid()) + '-' + std::to_string(++count);
}

}  // namespace

BrokerSession::BrokerSession(QObject* parent) : QObject(parent) {}

BrokerSession::~BrokerSession() {
    stop();
}

void BrokerSession::stop() {
    if (client_) client_->stop();
    client_.reset();
}

bool BrokerSession::start(const std::string& url, const ProgramSettings& settings,
                          const std::vector<std::string>& filters, std::string& why) {
    stop();
    const fleet::Decoded<fleet::BrokerAddress> address = fleet::parseBrokerUrl(url);
    if (!address) {
        why = "the broker URL \"" + url + "\" is not one: " + address.reason;
        return false;
    }
    fleet::MqttOptions options;
    options.broker = *address;
    options.clientId = viewerClientId();
    options.cleanSession = true;
    if (!settings.brokerCredentialsFile.empty()) {
        fleet::Decoded<fleet::Credentials> credentials =
            fleet::readCredentialsFile(settings.brokerCredentialsFile);
        if (!credentials) {
            why = "the credentials file " + settings.brokerCredentialsFile +
                  " is refused: " + credentials.reason;
            return false;
        }
        options.credentials = std::move(*credentials.value);
    }
    if (address->tls) options.caFile = settings.brokerCaFile;

    auto client = std::make_unique<fleet::MqttClient>(std::move(options));
    // These run on the network thread: they copy what they got and queue the rest to this
    // object. A payload over the decoders' limit is refused anyway; only as much of it as
    // shows that crosses threads.
    client->onMessage([this](const std::string& topic, std::string_view payload, bool) {
        std::string copy(payload.substr(0, fleet::kMaxPayloadBytes + 1));
        QMetaObject::invokeMethod(
            this,
            [this, topic, copy = std::move(copy), bytes = payload.size()] {
                if (onMessage_) onMessage_(topic, copy, bytes);
            },
            Qt::QueuedConnection);
    });
    client->onConnect([this](bool) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (onConnection_) onConnection_(true, {});
            },
            Qt::QueuedConnection);
    });
    client->onDisconnect([this](const std::string& reason) {
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                if (onConnection_) onConnection_(false, reason);
            },
            Qt::QueuedConnection);
    });
    for (const std::string& filter : filters) {
        const std::string r = client->subscribe(filter, 1);
        if (!r.empty()) {
            why = "cannot subscribe to " + filter + ": " + r;
            return false;
        }
    }
    const std::string r = client->start();
    if (!r.empty()) {
        why = r;
        return false;
    }
    client_ = std::move(client);
    return true;
}

}  // namespace kvx
