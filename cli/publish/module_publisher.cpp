#include "module_publisher.h"

#include <cstdio>
#include <ctime>

#include "output_json.h"
#include "series_runner.h"

namespace quillon::cli::publish {
namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// Counts change with every spectrum; the status follows them this often at most.
constexpr auto kCountsEvery = std::chrono::milliseconds(100);
constexpr auto kTick = std::chrono::milliseconds(100);
// In flight at once: enough to keep a loopback link busy, few enough that a
// reconnection resends little.
constexpr size_t kWindow = 16;
constexpr auto kOfflineAckWait = std::chrono::seconds(1);

}  // namespace

std::string utcText(std::chrono::system_clock::time_point at) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(us.count() / 1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%06dZ", static_cast<int>(us.count() % 1000000));
    return text;
}

namespace {

// A configuration name is the module's bytes, not always UTF-8.
std::string dumped(const Json& doc) {
    return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The series' description with `scan` as its only spectrum, without copying
// the spectra a long series holds.
ScanSeries withOnly(const ScanSeries& series, const ScanResult& scan) {
    ScanSeries one;
    one.position = series.position;
    one.configuration = series.configuration;
    one.candidateNames = series.candidateNames;
    one.versions = series.versions;
    one.estimatedScanMs = series.estimatedScanMs;
    one.average = series.average;
    one.quantity = series.quantity;
    one.referenceFile = series.referenceFile;
    one.darkFile = series.darkFile;
    one.scans.push_back(scan);
    return one;
}

}  // namespace

ModulePublisher::ModulePublisher(std::unique_ptr<Instrument> instrument, PublishSettings settings)
    : instrument_(std::move(instrument)),
      settings_(std::move(settings)),
      serial_(instrument_->serial()),
      topicRoot_(settings_.prefix + "/" + serial_ + "/"),
      queue_(settings_.queue, kWindow),
      lamp_(instrument_->handle()),
      nextId_(settings_.firstId) {}

ModulePublisher::~ModulePublisher() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        stopRunning();
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    if (mqtt_) mqtt_->stop();
}

bool ModulePublisher::start(std::string& why) {
    ModuleFacts facts;
    if (!instrument_->read(facts, why)) return false;
    facts_ = std::move(facts);
    const Will will{topic("status"), dumped(Json{{"online", false}, {"serial", serial_}})};
    MqttConnection::Events events;
    events.connected = [this] { onConnected(); };
    events.acknowledged = [this](int mid) { onAcknowledged(mid); };
    events.message = [this](const std::string& t, const std::string& payload) {
        if (t == topic("cmd")) onCommand(payload);
    };
    mqtt_ = std::make_unique<MqttConnection>(settings_.broker, settings_.clientId, will, events);
    worker_ = std::thread([this] { work(); });
    return mqtt_->start(why);
}

void ModulePublisher::stopRunning() {
    stopAsked_ = true;
    if (runner_ != nullptr) runner_->cancel();
    wake_.notify_all();
}

uint64_t ModulePublisher::nextId() const {
    std::lock_guard lock(mutex_);
    return nextId_;
}

bool ModulePublisher::serving() const {
    std::lock_guard lock(mutex_);
    return !gone_;
}

// ---------------------------------------------------------------- network thread

void ModulePublisher::onConnected() {
    mqtt_->subscribe(topic("cmd"));
    Json configs;
    {
        std::lock_guard lock(mutex_);
        configs = facts_.configurations;
        // What the connection held when it went down is sent again first.
        resuming_ = queue_.inFlight() > 0;
    }
    mqtt_->publish(topic("configurations"), dumped(configs), true);
    {
        std::lock_guard lock(statusMutex_);
        lastStatus_ = Json();  // the broker may hold the will instead
    }
    publishStatus();
    pumpSpectra();
}

void ModulePublisher::onAcknowledged(int mid) {
    if (queue_.acknowledge(mid)) {
        pumpSpectra();
        return;
    }
    std::lock_guard lock(mutex_);
    if (awaitedMid_ == mid) {
        awaitedMid_.reset();
        acknowledged_.notify_all();
    }
}

void ModulePublisher::reply(const nlohmann::json& id, const std::string& error, Json extra) {
    Json doc{{"id", id}, {"ok", error.empty()}, {"error", error.empty() ? Json() : Json(error)}};
    for (auto& item : extra.items()) doc[item.key()] = std::move(item.value());
    mqtt_->publish(topic("reply"), dumped(doc), false);
}

void ModulePublisher::onCommand(const std::string& payload) {
    const ParsedCommand parsed = parseCommand(payload);
    if (!parsed.command) return reply(parsed.id, parsed.error);
    const ModuleCommand& command = *parsed.command;
    if (command.op == Op::Status) return reply(parsed.id, "", {{"status", statusJson(true)}});
    std::unique_lock lock(mutex_);
    if (closing_ || gone_) return lock.unlock(), reply(parsed.id, "stopping");
    if (command.op == Op::Stop) {
        const bool running = busy_;
        if (running) stopRunning();
        lock.unlock();
        if (running) instrument_->cancel();
        return reply(parsed.id, "", {{"stopped", running}});
    }
    if (busy_) return lock.unlock(), reply(parsed.id, "busy");
    std::string refusal;
    if (command.op == Op::Activate && command.position >= facts_.configurations.size())
        refusal = "no configuration at position " + std::to_string(command.position) + " (" +
                  std::to_string(facts_.configurations.size()) + " stored)";
    if ((command.op == Op::Scan || command.op == Op::Series) &&
        command.scan.quantity != Quantity::Intensity)
        refusal = std::string("quantity ") + namesOf(command.scan.quantity).key +
                  " needs a white reference, which the publisher does not keep";
    if (!refusal.empty()) return lock.unlock(), reply(parsed.id, refusal);
    busy_ = true;
    stopAsked_ = false;
    jobs_.push_back({parsed.id, command});
    lock.unlock();
    wake_.notify_all();
    publishStatus();
}

// ---------------------------------------------------------------- module thread

void ModulePublisher::work() {
    std::unique_lock lock(mutex_);
    while (!closing_ && !gone_) {
        wake_.wait_for(lock, kTick, [this] { return !jobs_.empty() || closing_; });
        if (closing_) break;
        if (jobs_.empty()) {
            lock.unlock();
            pumpSpectra();
            publishStatus();
            lock.lock();
            continue;
        }
        const Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        runJob(job);
        lock.lock();
        busy_ = false;
        stopAsked_ = false;
        lock.unlock();
        publishStatus();
        lock.lock();
    }
    // Jobs accepted but not begun are answered rather than forgotten.
    for (const Job& job : jobs_) {
        lock.unlock();
        reply(job.id, "stopping");
        lock.lock();
    }
    jobs_.clear();
}

void ModulePublisher::runJob(const Job& job) {
    std::string why;
    switch (job.command.op) {
        case Op::Scan:
        case Op::Series:
            return runMeasurement(job);
        case Op::Lamp:
            if (!lamp_.set(job.command.lampOn)) {
                why = std::string("cannot switch the lamp ") + (job.command.lampOn ? "on" : "off");
                moduleFailed(why);
            }
            publishStatus();
            return reply(job.id, why);
        case Op::Activate:
            if (instrument_->activate(job.command.position, why))
                refreshFacts();
            else
                moduleFailed(why);
            return reply(job.id, why);
        case Op::Stop:
        case Op::Status:
            return;  // answered on arrival
    }
}

void ModulePublisher::runMeasurement(const Job& job) {
    const ModuleCommand& command = job.command;
    const bool single = command.op == Op::Scan;
    SeriesPlan plan;
    plan.count = single ? 1 : command.count;
    plan.intervalSeconds = command.intervalSeconds;
    plan.average = command.scan.average;
    plan.keepLast = 1;  // each spectrum is handed on as it completes
    plan.module = instrument_->handle();
    switch (command.scan.lamp) {
        case LampRequest::Auto:
            plan.lamp = LampPolicy::On;
            break;
        case LampRequest::On:  // switched here, so that the runner leaves it on
            if (!lamp_.set(true)) return reply(job.id, "cannot switch the lamp on");
            plan.lamp = LampPolicy::Keep;
            break;
        case LampRequest::Off:
            plan.lamp = LampPolicy::Off;
            break;
        case LampRequest::Keep:
            plan.lamp = LampPolicy::Keep;
            break;
    }
    // Every call to the module is followed by the status it may have changed.
    SeriesRunner runner(std::move(plan), lamp_, [this](const std::function<void()>& call) {
        call();
        publishStatus();
    });
    {
        std::lock_guard lock(mutex_);
        if (stopAsked_) return reply(job.id, "stopped");
        runner_ = &runner;
    }
    bool answered = false;
    std::optional<uint64_t> last;
    const SeriesEnd end = runner.run(
        [&](const ScanSeries&) {
            if (single) return;
            reply(job.id, "");
            answered = true;
        },
        [&](const ScanSeries& series, const ScanResult& scan) {
            last = publishSpectrum(series, scan, command.scan);
            return true;
        });
    {
        std::lock_guard lock(mutex_);
        runner_ = nullptr;
    }
    const bool failed = end.kind != SeriesEnd::Completed && end.kind != SeriesEnd::Stopped;
    if (failed) moduleFailed(end.why);
    if (answered) return;
    if (single && last) return reply(job.id, "", {{"spectrum", *last}});
    reply(job.id, failed ? end.why : "stopped");
}

uint64_t ModulePublisher::publishSpectrum(const ScanSeries& series, const ScanResult& scan,
                                          const ScanSettings& settings) {
    const auto completed = std::chrono::system_clock::now();
    Json doc = seriesJson(withOnly(series, scan));
    uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
    }
    doc["serial"] = serial_;
    doc["run"] = settings_.run;
    doc["id"] = id;
    doc["started"] = utcText(scan.startedAt);
    doc["completed"] = utcText(completed);
    if (!settings.sample.empty()) doc["sample"] = settings.sample;
    if (!settings.comment.empty()) doc["comment"] = settings.comment;
    queue_.push(dumped(doc));
    pumpSpectra();
    publishStatus();
    return id;
}

void ModulePublisher::refreshFacts() {
    ModuleFacts facts;
    std::string why;
    if (!instrument_->read(facts, why)) return moduleFailed(why);
    {
        std::lock_guard lock(mutex_);
        facts_ = std::move(facts);
    }
    mqtt_->publish(topic("configurations"), dumped(facts_.configurations), true);
    publishStatus();
}

void ModulePublisher::moduleFailed(const std::string& why) {
    {
        std::lock_guard lock(mutex_);
        lastError_ = why;
        if (instrument_->gone()) gone_ = true;
    }
    std::fprintf(stderr, "quillon publish: %s: %s\n", serial_.c_str(), why.c_str());
    publishStatus();
}

// ---------------------------------------------------------------- anywhere

Json ModulePublisher::statusJson(bool online) const {
    const std::optional<bool> lamp = lamp_.state();
    std::lock_guard lock(mutex_);
    return Json{{"online", online && !gone_},
                {"host", settings_.host},
                {"serial", serial_},
                {"versions", facts_.versions ? Json(*facts_.versions) : Json()},
                {"lamp", lamp ? Json(*lamp) : Json()},
                {"active_position", facts_.activePosition ? Json(*facts_.activePosition) : Json()},
                {"active_name", facts_.activeName ? Json(*facts_.activeName) : Json()},
                {"busy", busy_},
                {"queued", queue_.size()},
                {"dropped", queue_.dropped()},
                {"last_error", lastError_.empty() ? Json() : Json(lastError_)}};
}

void ModulePublisher::publishStatus() {
    std::lock_guard lock(statusMutex_);
    if (!mqtt_ || !mqtt_->connected()) return;
    Json doc = statusJson(true);
    if (doc == lastStatus_) return;
    const auto now = Clock::now();
    const auto withoutCounts = [](Json status) {
        if (status.is_object()) status.erase("queued"), status.erase("dropped");
        return status;
    };
    if (withoutCounts(doc) == withoutCounts(lastStatus_) && now - lastStatusAt_ < kCountsEvery)
        return;  // the next tick sends it
    if (!mqtt_->publish(topic("status"), dumped(doc), true)) return;
    lastStatus_ = std::move(doc);
    lastStatusAt_ = now;
}

void ModulePublisher::pumpSpectra() {
    if (!mqtt_ || !mqtt_->connected()) return;
    {
        std::lock_guard lock(mutex_);
        if (resuming_ && queue_.inFlight() > 0) return;
        resuming_ = false;
    }
    queue_.pump([this](const std::string& payload) {
        return mqtt_->publish(topic("spectrum"), payload, false);
    });
}

void ModulePublisher::shutdown(Clock::time_point deadline) {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        stopRunning();
    }
    wake_.notify_all();
    instrument_->cancel();
    if (worker_.joinable()) worker_.join();
    if (lamp_.state() == true && lamp_.switchedOn() && !lamp_.set(false))
        std::fprintf(stderr, "quillon publish: %s: cannot switch the lamp off\n", serial_.c_str());
    if (!mqtt_) return;
    publishStatus();
    while (Clock::now() < deadline && queue_.size() > 0) {
        pumpSpectra();
        queue_.waitEmpty(std::min(deadline, Clock::now() + kTick));
    }
    const std::string offline = dumped(statusJson(false));
    {
        // Held across publishing, so the acknowledgement cannot come first.
        std::unique_lock lock(mutex_);
        awaitedMid_ = mqtt_->publish(topic("status"), offline, true);
        if (awaitedMid_ && mqtt_->connected())
            acknowledged_.wait_until(lock, std::max(deadline, Clock::now() + kOfflineAckWait),
                                     [this] { return !awaitedMid_; });
    }
    mqtt_->stop();
}

}  // namespace quillon::cli::publish
