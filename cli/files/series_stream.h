// Writing a scan series to files while it runs: CSV rows go out as each
// spectrum completes, and whole documents (JSON, SVG) replace their file in
// one step, so an interrupted program never leaves half of one behind.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "spectrum_series.h"

namespace quillon::cli {

class CsvStream {
  public:
    // `path` "-" is the program's standard output. The file is created with
    // the first spectrum; `numbered` adds the scan column of a series.
    CsvStream(std::string path, bool numbered) : path_(std::move(path)), numbered_(numbered) {}
    ~CsvStream();
    CsvStream(const CsvStream&) = delete;
    CsvStream& operator=(const CsvStream&) = delete;

    // Appends the rows of `scan` (after the header line, the first time) in
    // one write, so the file only ever holds whole rows of whole scans.
    // False after the failure was reported.
    bool add(const ScanSeries& series, const ScanResult& scan);

  private:
    std::string path_;
    bool numbered_;
    FILE* file_ = nullptr;
    bool ownsFile_ = false;
};

// Writes a whole document to `path` ("-": standard output) through a
// temporary file renamed over it. False after the failure was reported.
bool writeWholeFile(const std::string& path, const std::function<void(FILE*)>& write);

}  // namespace quillon::cli
