// One module on the broker: its status, configurations and spectra out, its
// commands in. The module has a thread of its own that makes every call to
// it, one command at a time, and its own MQTT connection, so that its will
// speaks for it alone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "instrument.h"
#include "lamp_switch.h"
#include "module_command.h"
#include "mqtt_connection.h"
#include "spectrum_queue.h"
#include "spectrum_series.h"

namespace quillon::cli {
class SeriesRunner;
}

namespace quillon::cli::publish {

struct PublishSettings {
    BrokerSettings broker;
    std::string prefix = "quillon";
    std::string clientId;  // for this module's connection
    std::string host;      // this computer's name, in the status
    size_t queue = 1000;   // spectra kept while the broker is away
    // This run of the program, in every spectrum: ids start again with a run.
    std::string run;
    uint64_t firstId = 1;  // above the ids an earlier attachment of the module used
};

// "2026-12-07T18:49:48.123456Z"
std::string utcText(std::chrono::system_clock::time_point at);

class ModulePublisher {
  public:
    ModulePublisher(std::unique_ptr<Instrument> instrument, PublishSettings settings);
    ~ModulePublisher();
    ModulePublisher(const ModulePublisher&) = delete;
    ModulePublisher& operator=(const ModulePublisher&) = delete;

    // Reads the module and starts its thread and connection.
    bool start(std::string& why);
    // Ends a series, switches off a lamp this publisher switched on, sends what
    // is queued until `deadline`, says the module is offline, and disconnects.
    void shutdown(std::chrono::steady_clock::time_point deadline);
    // False once the module went away; the publisher then said so and stopped.
    bool serving() const;
    const std::string& serial() const { return serial_; }
    // The id the next spectrum gets.
    uint64_t nextId() const;

  private:
    using Json = nlohmann::ordered_json;
    struct Job {
        nlohmann::json id;
        ModuleCommand command;
    };

    // On the network thread.
    void onConnected();
    void onAcknowledged(int mid);
    void onCommand(const std::string& payload);
    void reply(const nlohmann::json& id, const std::string& error, Json extra = Json::object());

    // Asks the running scan or series to end; with mutex_ held.
    void stopRunning();

    // On the module's thread.
    void work();
    void runJob(const Job& job);
    // A scan (one spectrum, answered when measured) or a series (answered
    // when it starts), each spectrum published as it completes.
    void runMeasurement(const Job& job);
    uint64_t publishSpectrum(const ScanSeries& series, const ScanResult& scan,
                             const ScanSettings& settings);
    void refreshFacts();
    void moduleFailed(const std::string& why);

    // Anywhere.
    Json statusJson(bool online) const;
    // When anything but the counts changed at once, else at most every 0.1 s.
    void publishStatus();
    void pumpSpectra();
    std::string topic(const char* leaf) const { return topicRoot_ + leaf; }

    std::unique_ptr<Instrument> instrument_;
    const PublishSettings settings_;
    const std::string serial_;
    const std::string topicRoot_;  // "prefix/serial/"
    SpectrumQueue queue_;
    std::unique_ptr<MqttConnection> mqtt_;

    std::mutex statusMutex_;    // one status message at a time, in order
    mutable std::mutex mutex_;  // guards what follows
    std::condition_variable wake_;
    std::condition_variable acknowledged_;
    std::deque<Job> jobs_;
    bool busy_ = false;               // a job is queued or running
    bool stopAsked_ = false;          // the running job should end
    SeriesRunner* runner_ = nullptr;  // of the running scan or series
    bool closing_ = false;
    bool gone_ = false;
    bool resuming_ = false;  // reconnected: what was in flight goes first
    ModuleFacts facts_;
    std::string lastError_;  // of the last command or series that failed
    LampSwitch lamp_;
    uint64_t nextId_ = 1;
    Json lastStatus_;
    std::chrono::steady_clock::time_point lastStatusAt_{};
    std::optional<int> awaitedMid_;
    std::thread worker_;
};

}  // namespace quillon::cli::publish
