// A simulated spectrometer module as the host sees it on the wire: it takes
// 65-byte output reports (report number 0 and 64 message bytes), puts
// multi-report requests together, checks them as a module does, answers with
// 64-byte input reports, and keeps its state between requests. Tests inspect
// and alter its state, read its log of received reports and inject faults.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/command_codes.h"
#include "sim/faults.h"
#include "sim/module_clock.h"
#include "sim/module_state.h"
#include "sim/scan_producer.h"

namespace quillon::sim {

constexpr size_t kReportBytes = 64;
using Report = std::array<uint8_t, kReportBytes>;

// A request as the module put it together from its reports.
struct ReceivedRequest {
    uint8_t flags;
    uint8_t sequence;
    uint16_t length;
    uint8_t command;
    uint8_t group;
    std::vector<uint8_t> message;  // every byte of every report, header included
};

class Module {
  public:
    // `statePath` empty: nothing is persisted. Otherwise configurations and the
    // active index are loaded from that file (when it is intact) and saved to
    // it after every change, as module `stateSlot` of the bus it holds.
    explicit Module(std::wstring serialNumber, std::string statePath = {}, size_t stateSlot = 0);

    // The wire, with hidapi's results: bytes written or -1; bytes read, 0 when
    // nothing is waiting (a time-out, reported at once whatever `timeoutMs`
    // says), -1 when the module is gone.
    int write(const uint8_t* data, size_t length);
    int read(uint8_t* buffer, size_t length, int timeoutMs);

    const std::wstring& serialNumber() const { return serial_; }

    // Unplugging fails every read and write until replugged; a replugged
    // module has to be opened again (see plugGeneration).
    void unplug();
    void replug();
    bool plugged() const { return plugged_; }
    // The module vanishes from the bus once `writes` configurations of a save
    // (counted from its erase; 0: right after the erase) were stored, as a
    // pulled cable would take it. Negative: never. The process's default
    // comes from QUILLONLIB_SIMULATOR_UNPLUG_AFTER_WRITES.
    void setUnplugAfterWrites(int writes) { unplugAfterWrites_ = writes; }
    uint32_t plugGeneration() const { return plugGeneration_; }

    // State. After changing configImages, activeIndex or lampOn directly, call
    // stateChanged() so that a state file follows.
    ModuleState& state() { return state_; }
    const ModuleState& state() const { return state_; }
    void stateChanged();
    bool persisting() const { return !statePath_.empty() && persist_; }
    // The state file, as an absolute path; empty when there is none.
    const std::string& statePath() const { return statePath_; }
    size_t stateSlot() const { return stateSlot_; }
    // Reads the state file again (a module shared with other processes).
    void reloadPersisted() {
        if (persisting()) loadPersisted();
    }

    // Faults: a rule for requests of one command, or for the next requests of
    // any command. Rules are consulted in the order they were added.
    void injectFault(Fault fault, link::CommandCode command, int times = 1, uint32_t value = 0,
                     int skip = 0);
    void injectFaultNext(Fault fault, int times = 1, uint32_t value = 0);
    void clearFaults() { faults_.clear(); }
    size_t pendingFaults() const { return faults_.size(); }

    // Scanning.
    void setScanProducer(ScanProducer producer) { producer_ = std::move(producer); }
    bool scanRunning() const;
    uint32_t scansStarted() const { return scansStarted_; }
    const std::vector<uint8_t>& scanImage() const { return scanImage_; }

    // Log of what arrived and counters of reports each way.
    const std::vector<Report>& receivedReports() const { return receivedReports_; }
    const std::vector<ReceivedRequest>& requests() const { return requests_; }
    // Requests the module refused as malformed (wrong flags, sequence, length,
    // report size, unknown command), one line each.
    const std::vector<std::string>& protocolErrors() const { return protocolErrors_; }
    uint64_t reportsIn() const { return reportsIn_; }
    uint64_t reportsOut() const { return reportsOut_; }
    size_t waitingReports() const { return outgoing_.size(); }
    void clearLog();
    // Off: counters still count, the logs stay empty (long benchmark runs).
    void setRecording(bool on) { recording_ = on; }

  private:
    struct Outgoing {
        Report bytes;
        size_t size;               // what one read delivers
        bool unplugAfter = false;  // the module goes once this report was read
    };
    struct Reply {
        uint8_t flags;
        uint8_t sequence;
        std::vector<uint8_t> payload;
    };

    void handleRequest(std::vector<uint8_t> message);
    bool checkRequest(const std::vector<uint8_t>& message);
    void refuse(uint8_t flags, uint8_t sequence, std::string why);
    FaultRule* matchFault(uint16_t code);
    // Carries out a command; false when the command is unknown.
    bool execute(uint16_t code, const std::vector<uint8_t>& message, std::vector<uint8_t>& payload,
                 bool refuseWrite, const FaultRule* fault);
    uint32_t writeConfig(const std::vector<uint8_t>& message);
    uint32_t startScan(bool neverFinishes);
    void readConfig(const std::vector<uint8_t>& message, std::vector<uint8_t>& payload);
    void readChunk(std::vector<uint8_t>& payload);
    std::vector<Outgoing> frame(const Reply& reply, const FaultRule* fault);
    void loadPersisted();
    // The lamp is kept in the state file too: a lamp switched on by one
    // process stays on for the next, as on a module.
    void switchLamp(bool on);
    void countSaveStep();

    std::wstring serial_;
    std::string statePath_;
    size_t stateSlot_ = 0;
    bool persist_ = true;
    bool plugged_ = true;
    bool requestTakenBeforeUnplug_ = false;
    int unplugAfterWrites_ = -1;
    int writesSinceErase_ = 0;
    uint32_t plugGeneration_ = 0;
    ModuleState state_;

    std::vector<uint8_t> pending_;  // reports of a request not yet complete
    size_t pendingTotal_ = 0;       // bytes the pending request needs, whole reports
    std::deque<Outgoing> outgoing_;
    std::vector<Outgoing> withheld_;  // a late reply

    std::vector<FaultRule> faults_;
    uint32_t garbleSeed_ = 0x9E3779B9u;

    ScanProducer producer_;
    ModuleTime scanEnd_{};
    bool scanStuck_ = false;
    uint32_t scansStarted_ = 0;
    std::vector<uint8_t> scanImage_;
    size_t chunkCursor_ = 0;

    bool recording_ = true;
    std::vector<Report> receivedReports_;
    std::vector<ReceivedRequest> requests_;
    std::vector<std::string> protocolErrors_;
    uint64_t reportsIn_ = 0;
    uint64_t reportsOut_ = 0;
};

}  // namespace quillon::sim
