// A save wrapped in its journal: the journal is on disk before the module's
// configurations are erased, and goes once every configuration was written.
#pragma once

#include <deque>
#include <string>

#include "config/save_journal.h"
#include "core/record_types.h"

namespace quillon {

class JournaledSave {
  public:
    // Writes the journal of a save that replaces `before` by `intended`.
    JournaledSave(const JournalTarget& target, const std::deque<ScanConfig>& intended,
                  uint8_t intendedActive, const std::deque<ScanConfig>& before,
                  uint8_t beforeActive);
    // False when nothing protects this save (no target, or the write failed).
    bool journaled() const { return journaled_; }
    // Every configuration reached the module: the journal goes. A save that
    // failed keeps it, so the next open finishes what this one could not.
    void complete();

  private:
    std::string file_;
    bool journaled_ = false;
};

// The record images of a list, as the save sends them; false when one of
// them cannot be encoded.
bool encodeConfigList(const std::deque<ScanConfig>& configs, std::vector<ConfigImage>& images);

}  // namespace quillon
