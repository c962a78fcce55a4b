// The module behind the web server, apart from measuring: its description
// and stored configurations as last read, the lamp, and changes to the
// configurations. Library calls run on the module's thread (the job queue);
// readers get the last published state without waiting.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "event_hub.h"
#include "job_queue.h"
#include "lamp_switch.h"
#include "measurement.h"
#include "quillon.h"
#include "reply.h"
#include "section_values.h"

namespace quillon::cli::serve {

class ModuleService {
  public:
    using Done = std::function<void(Reply)>;

    // Serves `module` (open, owned by the caller) and publishes to `events`.
    ModuleService(quillon_module* module, const quillon_module_info& info, EventHub& events);
    ~ModuleService();
    ModuleService(const ModuleService&) = delete;
    ModuleService& operator=(const ModuleService&) = delete;

    // Reads the module's state and switches the lamp off, so that its state
    // is known from the start; call once, with the module open.
    void start();
    // Ends a series and a scan, drops waiting jobs, and switches the lamp
    // off if this server switched it on. The module stays open.
    void shutdown();

    Measurement& measurement() { return measurement_; }
    EventHub& events() { return events_; }
    // Where and what the module is: "path" and "serial".
    Json identity() const;
    Json state() const;
    Json configurations() const;
    const Json& tables() const { return tables_; }

    void maxPatterns(unsigned startNm, unsigned endNm, double width, unsigned scanType, Done done);
    void switchLamp(bool on, Done done);
    void activate(size_t position, Done done);
    void addConfiguration(const std::string& name, std::vector<SectionRequest> sections,
                          unsigned repeats, Done done);
    void removeConfiguration(const std::string& name, Done done);

  private:
    // Queues a change of the module, refused while a measurement runs.
    void change(std::function<Reply()> work, Done done);
    // Queues a question that may run between a series' spectra.
    void query(std::function<Reply()> work, Done done);
    // These run on the module's thread.
    void refresh();
    void publishStatus();
    Json stateLocked() const;

    quillon_module* const module_;
    const quillon_module_info info_;
    EventHub& events_;
    const Json tables_;
    JobQueue jobs_;
    LampSwitch lamp_;
    Measurement measurement_;

    mutable std::mutex mutex_;
    Json moduleState_ = Json::object();
    Json configs_ = Json::array();
};

}  // namespace quillon::cli::serve
