#include "mqtt_connection.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace quillon::cli::publish {
namespace {

constexpr unsigned kFirstRetrySeconds = 1;
constexpr unsigned kLongestRetrySeconds = 30;
// Below libmosquitto's default of 20, so that the library never holds a
// spectrum back in a queue of its own.
constexpr int kInFlightLimit = 20;

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string mosquittoText(int rc) {
    return rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc);
}

}  // namespace

MqttConnection::MqttConnection(const BrokerSettings& broker, const std::string& clientId,
                               const Will& will, Events events)
    : broker_(broker), clientId_(clientId), events_(std::move(events)) {
    initLibrary();
    // A persistent session: the broker keeps the command subscription and the
    // unacknowledged messages while this client is away.
    client_ = mosquitto_new(clientId.c_str(), false, this);
    if (client_ == nullptr) {
        setupError_ = "cannot create an MQTT client: " + std::string(std::strerror(errno));
        return;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_max_inflight_messages_set(client_, kInFlightLimit);
    mosquitto_reconnect_delay_set(client_, kFirstRetrySeconds, kLongestRetrySeconds, true);
    mosquitto_connect_with_flags_callback_set(client_, onConnect);
    mosquitto_disconnect_callback_set(client_, onDisconnect);
    mosquitto_publish_callback_set(client_, onPublish);
    mosquitto_message_callback_set(client_, onMessage);
    int rc = mosquitto_will_set(client_, will.topic.c_str(), static_cast<int>(will.payload.size()),
                                will.payload.data(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !broker.username.empty())
        rc = mosquitto_username_pw_set(client_, broker.username.c_str(),
                                       broker.password.empty() ? nullptr : broker.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && broker.tls)
        rc = mosquitto_tls_set(client_, broker.caFile.empty() ? nullptr : broker.caFile.c_str(),
                               broker.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                               nullptr);
    if (rc != MOSQ_ERR_SUCCESS) setupError_ = "MQTT client settings: " + mosquittoText(rc);
}

MqttConnection::~MqttConnection() {
    stop();
    if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttConnection::start(std::string& why) {
    if (!setupError_.empty()) {
        why = setupError_;
        return false;
    }
    const int rc = mosquitto_connect_async(client_, broker_.host.c_str(), broker_.port,
                                           broker_.keepaliveSeconds);
    if (rc == MOSQ_ERR_INVAL) {
        why = "cannot connect to " + broker_.host + ": " + mosquittoText(rc);
        return false;
    }
    started_ = true;
    if (rc != MOSQ_ERR_SUCCESS) {
        // A broker that cannot be reached yet is no failure: it is tried again.
        connector_ = std::thread([this] { connectLater(); });
        return true;
    }
    const int loop = mosquitto_loop_start(client_);
    if (loop != MOSQ_ERR_SUCCESS) {
        why = "cannot start the MQTT thread: " + mosquittoText(loop);
        return false;
    }
    return true;
}

void MqttConnection::connectLater() {
    unsigned delay = kFirstRetrySeconds;
    std::unique_lock lock(mutex_);
    while (!stopping_.wait_for(lock, std::chrono::seconds(delay), [this] { return stop_; })) {
        if (mosquitto_connect_async(client_, broker_.host.c_str(), broker_.port,
                                    broker_.keepaliveSeconds) == MOSQ_ERR_SUCCESS) {
            mosquitto_loop_start(client_);
            return;
        }
        delay = std::min(delay * 2, kLongestRetrySeconds);
    }
}

std::optional<int> MqttConnection::publish(const std::string& topic, const std::string& payload,
                                           bool retain) {
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 1, retain);
    // While disconnected the library keeps a QoS 1 message and sends it on reconnection.
    if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) return mid;
    return std::nullopt;
}

bool MqttConnection::subscribe(const std::string& topic) {
    return mosquitto_subscribe(client_, nullptr, topic.c_str(), 1) == MOSQ_ERR_SUCCESS;
}

void MqttConnection::stop() {
    if (!started_) return;
    started_ = false;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopping_.notify_all();
    if (connector_.joinable()) connector_.join();
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    connected_ = false;
}

void MqttConnection::onConnect(mosquitto*, void* self, int rc, int) {
    auto* connection = static_cast<MqttConnection*>(self);
    if (rc != 0) {
        // A wrong password or a refused client id does not mend itself: say so.
        std::fprintf(stderr, "quillon publish: the broker refused %s: %s\n",
                     connection->clientId_.c_str(), mosquitto_connack_string(rc));
        return;
    }
    connection->connected_ = true;
    if (connection->events_.connected) connection->events_.connected();
}

void MqttConnection::onDisconnect(mosquitto*, void* self, int) {
    auto* connection = static_cast<MqttConnection*>(self);
    connection->connected_ = false;
    if (connection->events_.disconnected) connection->events_.disconnected();
}

void MqttConnection::onPublish(mosquitto*, void* self, int mid) {
    auto* connection = static_cast<MqttConnection*>(self);
    if (connection->events_.acknowledged) connection->events_.acknowledged(mid);
}

void MqttConnection::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* connection = static_cast<MqttConnection*>(self);
    if (!connection->events_.message) return;
    const auto* bytes = static_cast<const char*>(message->payload);
    connection->events_.message(message->topic,
                                std::string(bytes, bytes + std::max(message->payloadlen, 0)));
}

}  // namespace quillon::cli::publish
