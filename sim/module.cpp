// The wire side of the simulated module: reports in, requests put together
// and checked, replies framed into reports (with any injected fault) and
// handed out one read at a time.
#include "sim/module.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "core/bytes.h"

#include "sim/state_file.h"

namespace quillon::sim {

using bytes::get16;
namespace {

constexpr uint8_t kReadRequestFlags = 0xC0;
constexpr uint8_t kWriteRequestFlags = 0x40;
constexpr uint8_t kFlag4 = 0x10;
constexpr uint8_t kFlag5 = 0x20;
// The longest request the module takes: WRITE_SCAN_CONFIG announces 128.
constexpr size_t kMaxRequestLength = 128;
constexpr size_t kOutputReportBytes = 1 + kReportBytes;

struct CommandShape {
    link::CommandCode code;
    bool read;
    uint16_t length;  // the length field the request must carry
};

constexpr CommandShape kCommands[] = {
    {link::kReadVersions, true, 2},
    {link::kReadActiveScanIndex, true, 2},
    {link::kSetActiveScanIndex, false, 3},
    {link::kReadEstimatedScanTime, true, 2},
    {link::kLampOffControl, false, 3},
    {link::kLampOnControl, false, 4},
    {link::kReadCalibrationCoefficients, true, 2},
    {link::kReadScanConfigCount, true, 2},
    {link::kReadScanConfig, true, 6},
    {link::kEraseScanConfigs, false, 3},
    {link::kWriteScanConfig, false, 128},
    {link::kSetAverageCount, false, 4},
    {link::kPreScanSetting, false, 4},
    {link::kStartScan, false, 3},
    {link::kReadDeviceStatus, true, 2},
    {link::kReadScanDataSize, true, 6},
    {link::kReadScanDataChunk, true, 2},
};

const CommandShape* findCommand(uint16_t code) {
    for (const CommandShape& shape : kCommands) {
        if (link::codeKey(shape.code) == code) return &shape;
    }
    return nullptr;
}

std::string hexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

// Every process that names the file must name the module the same way.
std::string absolutePath(std::string path) {
    if (path.empty()) return path;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

}  // namespace

Module::Module(std::wstring serialNumber, std::string statePath, size_t stateSlot)
    : serial_(std::move(serialNumber)),
      statePath_(absolutePath(std::move(statePath))),
      stateSlot_(stateSlot),
      state_(factoryState()),
      producer_(defaultScanProducer()) {
    loadPersisted();
    const char* writes = std::getenv("QUILLONLIB_SIMULATOR_UNPLUG_AFTER_WRITES");
    char* end = nullptr;
    const long value = writes != nullptr ? std::strtol(writes, &end, 10) : -1;
    if (writes != nullptr && *writes != '\0' && *end == '\0' && value >= 0 && value <= 255)
        unplugAfterWrites_ = static_cast<int>(value);
}

void Module::countSaveStep() {
    // The write was carried out and its request taken; the reply never comes.
    if (writesSinceErase_ == unplugAfterWrites_) {
        unplug();
        requestTakenBeforeUnplug_ = true;
    }
    ++writesSinceErase_;
}

void Module::loadPersisted() {
    if (statePath_.empty()) return;
    std::vector<PersistedState> saved;
    std::string why;
    switch (loadStateFile(statePath_, saved, why)) {
        case StateLoad::Loaded:
            // A module the file does not hold yet keeps the factory's state.
            if (stateSlot_ < saved.size()) {
                state_.configImages = std::move(saved[stateSlot_].configImages);
                state_.activeIndex = saved[stateSlot_].activeIndex;
                state_.lampOn = saved[stateSlot_].lampOn;
            }
            break;
        case StateLoad::Missing:
            break;
        case StateLoad::Refused:
            std::fprintf(stderr,
                         "quillon simulator: state file '%s' refused: %s; starting with the "
                         "factory configurations, the file is left untouched\n",
                         statePath_.c_str(), why.c_str());
            persist_ = false;
            break;
    }
}

void Module::stateChanged() {
    if (!persisting()) return;
    PersistedState saved{state_.activeIndex, state_.configImages, state_.lampOn};
    if (!saveModuleState(statePath_, stateSlot_, saved)) {
        std::fprintf(stderr, "quillon simulator: cannot save state file '%s'\n",
                     statePath_.c_str());
    }
}

void Module::switchLamp(bool on) {
    if (state_.lampOn == on) return;
    state_.lampOn = on;
    stateChanged();
}

void Module::unplug() {
    plugged_ = false;
    pending_.clear();
    outgoing_.clear();
    withheld_.clear();
}

void Module::replug() {
    if (plugged_) return;
    plugged_ = true;
    ++plugGeneration_;
}

void Module::injectFault(Fault fault, link::CommandCode command, int times, uint32_t value,
                         int skip) {
    faults_.push_back(FaultRule{fault, link::codeKey(command), times, value, skip});
}

void Module::injectFaultNext(Fault fault, int times, uint32_t value) {
    faults_.push_back(FaultRule{fault, kAnyCommand, times, value});
}

void Module::clearLog() {
    receivedReports_.clear();
    requests_.clear();
    protocolErrors_.clear();
    reportsIn_ = 0;
    reportsOut_ = 0;
}

bool Module::scanRunning() const {
    if (scansStarted_ == 0) return false;
    return scanStuck_ || moduleNow() < scanEnd_;
}

int Module::write(const uint8_t* data, size_t length) {
    if (!plugged_) return -1;
    if (data == nullptr || length != kOutputReportBytes || data[0] != 0) {
        if (recording_) {
            protocolErrors_.push_back("output report of " + std::to_string(length) + " bytes" +
                                      (data != nullptr && length > 0 && data[0] != 0
                                           ? ", report number " + hexByte(data[0])
                                           : std::string()));
        }
        return -1;
    }
    ++reportsIn_;
    const uint8_t* bytes = data + 1;
    if (recording_) {
        Report report;
        std::memcpy(report.data(), bytes, kReportBytes);
        receivedReports_.push_back(report);
    }
    if (pending_.empty()) {
        const size_t announced = get16(bytes + 2);
        if (announced > kMaxRequestLength) {
            refuse(bytes[0], bytes[1], "request length " + std::to_string(announced));
            return static_cast<int>(length);
        }
        const size_t total = 4 + announced;
        pendingTotal_ = (total + kReportBytes - 1) / kReportBytes * kReportBytes;
    }
    pending_.insert(pending_.end(), bytes, bytes + kReportBytes);
    if (pending_.size() >= pendingTotal_) {
        std::vector<uint8_t> message;
        message.swap(pending_);
        handleRequest(std::move(message));
        if (!plugged_ && !requestTakenBeforeUnplug_) return -1;
        requestTakenBeforeUnplug_ = false;
    }
    return static_cast<int>(length);
}

int Module::read(uint8_t* buffer, size_t length, int /*timeoutMs*/) {
    if (!plugged_) return -1;
    if (outgoing_.empty()) {
        // Whatever was held back arrives now, just after the host gave up.
        for (Outgoing& late : withheld_) outgoing_.push_back(late);
        withheld_.clear();
        return 0;
    }
    const Outgoing report = outgoing_.front();
    outgoing_.pop_front();
    ++reportsOut_;
    const size_t n = std::min(length, report.size);
    if (buffer != nullptr) std::memcpy(buffer, report.bytes.data(), n);
    if (report.unplugAfter) unplug();
    return static_cast<int>(n);
}

void Module::refuse(uint8_t flags, uint8_t sequence, std::string why) {
    if (recording_) protocolErrors_.push_back(std::move(why));
    Reply reply{static_cast<uint8_t>((flags & 0xC0) | kFlag4), sequence, {}};
    for (const Outgoing& report : frame(reply, nullptr)) outgoing_.push_back(report);
}

bool Module::checkRequest(const std::vector<uint8_t>& message) {
    const uint8_t flags = message[0];
    const uint8_t sequence = message[1];
    const uint16_t length = get16(message.data() + 2);
    const uint16_t code = get16(message.data() + 4);
    const std::string name = "command " + hexByte(message[4]) + "/" + hexByte(message[5]);
    if (flags != kReadRequestFlags && flags != kWriteRequestFlags) {
        refuse(flags, sequence, name + ": flags " + hexByte(flags));
        return false;
    }
    const CommandShape* shape = length >= 2 ? findCommand(code) : nullptr;
    if (shape == nullptr) {
        refuse(flags, sequence, name + ": unknown command (length " + std::to_string(length) + ")");
        return false;
    }
    if (shape->read != (flags == kReadRequestFlags)) {
        refuse(flags, sequence,
               name + ": flags " + hexByte(flags) + " for a " + (shape->read ? "read" : "write") +
                   " command");
        return false;
    }
    if (shape->read && sequence != 0) {
        refuse(flags, sequence, name + ": read request with sequence " + std::to_string(sequence));
        return false;
    }
    if (length != shape->length) {
        refuse(flags, sequence,
               name + ": length " + std::to_string(length) + ", expected " +
                   std::to_string(shape->length));
        return false;
    }
    return true;
}

FaultRule* Module::matchFault(uint16_t code) {
    for (FaultRule& rule : faults_) {
        if (rule.times == 0) continue;
        if (rule.command != kAnyCommand && rule.command != code) continue;
        if (rule.skip > 0) {
            --rule.skip;
            continue;
        }
        if (rule.times > 0) --rule.times;
        return &rule;
    }
    return nullptr;
}

void Module::handleRequest(std::vector<uint8_t> message) {
    if (recording_) {
        requests_.push_back(ReceivedRequest{message[0], message[1], get16(message.data() + 2),
                                            message[4], message[5], message});
    }
    if (!checkRequest(message)) return;
    const uint16_t code = get16(message.data() + 4);
    const FaultRule* matched = matchFault(code);
    std::optional<FaultRule> fault;
    if (matched != nullptr) fault = *matched;
    std::erase_if(faults_, [](const FaultRule& rule) { return rule.times == 0; });

    if (fault && fault->fault == Fault::NoReply) return;
    if (fault && fault->fault == Fault::Unplug && fault->value <= 1) {
        unplug();
        if (fault->value == 1) requestTakenBeforeUnplug_ = true;
        return;
    }
    // A reply held back earlier comes before the answer to this request.
    for (Outgoing& late : withheld_) outgoing_.push_back(late);
    withheld_.clear();

    std::vector<uint8_t> payload;
    const bool refuseWrite = fault && fault->fault == Fault::WriteStatus;
    execute(code, message, payload, refuseWrite, fault ? &*fault : nullptr);
    if (!plugged_) return;  // gone while carrying it out
    Reply reply{static_cast<uint8_t>(message[0] & 0xC0), message[1], std::move(payload)};
    std::vector<Outgoing> reports = frame(reply, fault ? &*fault : nullptr);
    if (fault && fault->fault == Fault::LateReply) {
        withheld_ = std::move(reports);
        return;
    }
    for (const Outgoing& report : reports) outgoing_.push_back(report);
}

std::vector<Module::Outgoing> Module::frame(const Reply& reply, const FaultRule* fault) {
    uint8_t flags = reply.flags;
    std::vector<uint8_t> payload = reply.payload;
    size_t announced = payload.size();
    const Fault kind = fault != nullptr ? fault->fault : Fault::NoReply;
    const uint32_t value = fault != nullptr ? fault->value : 0;
    if (fault != nullptr) {
        switch (kind) {
            case Fault::FailureFlag4:
                flags |= kFlag4;
                break;
            case Fault::FailureFlag5:
                flags |= kFlag5;
                break;
            case Fault::BothFailureFlags:
                flags |= kFlag4 | kFlag5;
                break;
            case Fault::ZeroLength:
                payload.clear();
                announced = 0;
                break;
            case Fault::OversizedLength:
                announced = std::min<uint32_t>(value != 0 ? value : 600, 0xFFFF - 4);
                payload.resize(announced, 0);
                break;
            case Fault::Garbled:
                for (uint8_t& byte : payload) {
                    garbleSeed_ ^= garbleSeed_ << 13;
                    garbleSeed_ ^= garbleSeed_ >> 17;
                    garbleSeed_ ^= garbleSeed_ << 5;
                    byte = static_cast<uint8_t>(garbleSeed_ >> 24);
                }
                break;
            case Fault::WrongSizeField:
                if (payload.size() < 4) payload.resize(4, 0);
                for (int i = 0; i < 4; ++i) payload[i] = static_cast<uint8_t>(value >> (8 * i));
                announced = payload.size();
                break;
            default:
                break;
        }
    }
    std::vector<uint8_t> message = {flags, reply.sequence, static_cast<uint8_t>(announced & 0xFF),
                                    static_cast<uint8_t>(announced >> 8)};
    message.insert(message.end(), payload.begin(), payload.end());

    std::vector<Outgoing> reports;
    for (size_t at = 0; at < message.size(); at += kReportBytes) {
        Outgoing report{{}, kReportBytes};
        const size_t take = std::min(kReportBytes, message.size() - at);
        std::memcpy(report.bytes.data(), message.data() + at, take);
        reports.push_back(report);
    }
    if (kind == Fault::ShortReply && fault != nullptr) {
        if (reports.size() > 1) {
            reports.resize(1);
        } else {
            const uint32_t claimed = value != 0 ? value : 100;
            reports[0].bytes[2] = static_cast<uint8_t>(claimed & 0xFF);
            reports[0].bytes[3] = static_cast<uint8_t>((claimed >> 8) & 0xFF);
        }
    }
    if (kind == Fault::Unplug && fault != nullptr) reports.front().unplugAfter = true;
    if (kind == Fault::TruncatedRead && fault != nullptr) {
        const size_t cut = std::min<size_t>(value != 0 ? value : 2, kReportBytes);
        for (Outgoing& report : reports) report.size = cut;
    }
    return reports;
}

}  // namespace quillon::sim
