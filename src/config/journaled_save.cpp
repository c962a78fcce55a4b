#include "config/journaled_save.h"

#include "serial/records.h"

namespace quillon {

bool encodeConfigList(const std::deque<ScanConfig>& configs, std::vector<ConfigImage>& images) {
    images.clear();
    for (const ScanConfig& config : configs) {
        size_t size = 0;
        if (scanConfigImageSize(config, size) != RecordStatus::Ok) return false;
        ConfigImage image(size);
        if (encodeScanConfig(config, image.data(), size) != RecordStatus::Ok) return false;
        images.push_back(std::move(image));
    }
    return true;
}

JournaledSave::JournaledSave(const JournalTarget& target, const std::deque<ScanConfig>& intended,
                             uint8_t intendedActive, const std::deque<ScanConfig>& before,
                             uint8_t beforeActive) {
    if (target.file.empty()) return;
    SaveJournal journal;
    journal.module = target.module;
    journal.intendedActive = intendedActive;
    journal.beforeActive = beforeActive;
    if (!encodeConfigList(intended, journal.intended) || !encodeConfigList(before, journal.before))
        return;
    // Writing back the list from before after a failed save: that save's
    // journal already says all there is (the module holds a prefix of its
    // list, which this write-back turns into a prefix of the list from
    // before), and a new one would lose the first of the two.
    SaveJournal earlier;
    std::string why;
    if (readSaveJournal(target.file, earlier, why) == JournalLoad::Loaded &&
        sameModule(earlier.module, target.module) && earlier.before == journal.intended &&
        earlier.beforeActive == intendedActive) {
        journaled_ = true;
    } else {
        journaled_ = writeSaveJournal(target.file, journal);
    }
    if (journaled_) file_ = target.file;
}

void JournaledSave::complete() {
    if (journaled_) removeSaveJournal(file_);
    journaled_ = false;
}

}  // namespace quillon
