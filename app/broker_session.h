#pragma once
// The viewer's connection to an MQTT broker: read-only subscriptions, and every message and
// change of the connection handed to the UI thread. libmosquitto calls back on its own network
// thread, where nothing of the window (widgets, the panel's record) may be touched: each call
// is queued to this object, which lives on the UI thread, and runs there.
#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kvx {

namespace fleet {
class MqttClient;
}

struct ProgramSettings;

class BrokerSession : public QObject {
    Q_OBJECT
  public:
    // Run on the UI thread. bytes is the payload's size as it came; a payload larger than any
    // the decoders take is cut to one byte over their limit before it crosses threads.
    using MessageHandler = std::function<void(const std::string& topic, const std::string& payload,
                                              std::size_t bytes)>;
    // connected false: reason says why (refused, lost, unreachable).
    using ConnectionHandler = std::function<void(bool connected, const std::string& reason)>;

    explicit BrokerSession(QObject* parent = nullptr);
    // The network thread is stopped first, so no call can be queued to a session that is gone.
    ~BrokerSession() override;

    // Connects in the background to the broker at url, with the CA file and credentials file
    // of settings, and subscribes to filters (QoS 1). False with the reason when it cannot even
    // begin: a URL that does not parse, a credentials file that is refused (others may read it,
    // it is missing, it holds no password), TLS files that do not load.
    bool start(const std::string& url, const ProgramSettings& settings,
               const std::vector<std::string>& filters, std::string& why);
    void stop();

    void onMessage(MessageHandler handler) { onMessage_ = std::move(handler); }
    void onConnection(ConnectionHandler handler) { onConnection_ = std::move(handler); }

  private:
    std::unique_ptr<fleet::MqttClient> client_;
    MessageHandler onMessage_;
    ConnectionHandler onConnection_;
};

}  // namespace kvx
