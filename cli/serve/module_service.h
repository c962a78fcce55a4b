// The module behind the web server. One thread owns the module and runs every
// library call, one job at a time; HTTP threads hand it jobs and wait for the
// reply, or read the last state it published without waiting at all. A scan
// or a running series refuses jobs that would change what it measures.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "event_hub.h"
#include "spectrum_series.h"

namespace quillon::cli::serve {

using Json = nlohmann::json;

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::string fileName;  // offered as a download when set
};

Reply jsonReply(const Json& body, int status = 200);
Reply errorReply(int status, const std::string& text);

class ModuleService {
  public:
    explicit ModuleService(EventHub& events);
    ~ModuleService();
    ModuleService(const ModuleService&) = delete;
    ModuleService& operator=(const ModuleService&) = delete;

    // Reads the module's state; call once, with the module open.
    void start();
    // Ends a series, lets the last job finish and switches the lamp off if
    // this service switched it on. The module stays open.
    void shutdown();

    Json state() const;
    Json configurations() const;
    Json tables() const { return tables_; }
    Reply maxPatterns(const std::string& start, const std::string& end, const std::string& width,
                      const std::string& type);
    Reply scan(const Json& request);
    Reply capture(const std::string& kind);  // "dark" or "reference"
    Reply lamp(const Json& request);
    Reply activate(const Json& request);
    Reply addConfiguration(const Json& request);
    Reply removeConfiguration(const Json& request);
    Reply startSeries(const Json& request);
    Reply stopSeries();
    // A kept spectrum ("latest", "dark", "reference") as "csv", "json" or "jcamp".
    Reply download(const std::string& which, const std::string& format) const;

  private:
    enum class Admission {
        Query,       // waits its turn
        Change,      // refused while a scan runs or a series is on
        Scan,        // the same, and marks a scan as running until it ends
        SeriesScan,  // a scan of the running series
        SeriesStep,  // the series' lamp switching before and after
    };
    enum class Lamp { Keep, On, Off };
    struct Job {
        std::function<Reply()> work;
        std::promise<Reply> done;
        bool scan = false;
    };

    // The "lamp" of a request: on or off for the scans and back after them, or keep.
    static std::optional<Lamp> lampMode(const Json& request);
    Reply run(Admission admission, std::function<Reply()> work);
    void workerLoop();
    void seriesLoop(unsigned long count, double intervalSeconds, Lamp lamp, Quantity quantity);
    // These run on the module's thread.
    void refresh();
    void switchLamp(bool on);
    std::optional<bool> applyLamp(Lamp lamp);
    void restoreLamp(std::optional<bool> before);
    // A scan kept as `kind` ("sample", "dark", "reference"); a sample's values
    // become `quantity` against the kept white reference and dark spectrum.
    Reply measure(const std::string& kind, unsigned number, double startedSeconds,
                  Quantity quantity);
    void publishStatus();
    Json stateLocked() const;

    EventHub& events_;
    Json tables_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    bool scanning_ = false;  // a scan is queued or running
    bool seriesOn_ = false;
    bool seriesStop_ = false;
    unsigned long seriesCount_ = 0;
    unsigned long seriesDone_ = 0;
    std::condition_variable seriesWake_;
    std::thread worker_;
    std::thread series_;

    // What the module's thread last published.
    Json module_;
    Json configs_ = Json::array();
    std::optional<bool> lampOn_;  // the module cannot be asked
    bool switchedOn_ = false;
    std::optional<ScanSeries> latest_, dark_, reference_;
};

}  // namespace quillon::cli::serve
