// A fresh temporary working directory for the length of a test, so log files
// and state files never land in the source or build tree.
#pragma once

#include <string>

namespace quillon::test {

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    // Names of the regular files in the directory.
    std::string only_file() const;

  private:
    std::string path_;
    std::string previous_;
};

std::string readFile(const std::string& path);

}  // namespace quillon::test
