// One MQTT connection on libmosquitto, with its own network thread: connects
// in the background, reconnects with a growing delay after the broker goes
// away, and keeps its session (and the messages in flight) across that.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "broker_url.h"

struct mosquitto;
struct mosquitto_message;

namespace quillon::cli::publish {

struct Will {
    std::string topic;
    std::string payload;  // retained
};

class MqttConnection {
  public:
    // Called on the network thread.
    struct Events {
        std::function<void()> connected;
        std::function<void()> disconnected;
        std::function<void(int mid)> acknowledged;
        std::function<void(const std::string& topic, const std::string& payload)> message;
    };

    MqttConnection(const BrokerSettings& broker, const std::string& clientId, const Will& will,
                   Events events);
    ~MqttConnection();
    MqttConnection(const MqttConnection&) = delete;
    MqttConnection& operator=(const MqttConnection&) = delete;

    // Starts connecting; a broker that cannot be reached yet is tried again
    // later. False with the reason when the settings themselves are refused.
    bool start(std::string& why);
    // Publishes with QoS 1. The message id, or nothing when refused; a message
    // handed over while the connection is down goes out after it comes back.
    std::optional<int> publish(const std::string& topic, const std::string& payload, bool retain);
    bool subscribe(const std::string& topic);
    // Disconnects cleanly (the broker then does not send the will) and stops
    // the network thread.
    void stop();

    bool connected() const { return connected_.load(); }

  private:
    static void onConnect(mosquitto*, void* self, int rc, int flags);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    // Until the first connection: libmosquitto retries only once it had one.
    void connectLater();

    BrokerSettings broker_;
    std::string clientId_;
    Events events_;
    mosquitto* client_ = nullptr;
    bool started_ = false;
    std::mutex mutex_;
    std::condition_variable stopping_;
    bool stop_ = false;
    std::thread connector_;
    std::atomic<bool> connected_{false};
    std::string setupError_;
};

}  // namespace quillon::cli::publish
