#include "series_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "library_console.h"
#include "module_session.h"
#include "spectrum_output.h"

namespace quillon::cli {

CsvStream::~CsvStream() {
    if (ownsFile_) std::fclose(file_);
}

bool CsvStream::add(const ScanSeries& series, const ScanResult& scan) {
    const bool first = file_ == nullptr;
    if (first) {
        if (path_ == "-") {
            file_ = LibraryConsole::out();
        } else {
            file_ = std::fopen(path_.c_str(), "w");
            if (file_ == nullptr) {
                reportError("cannot write '" + path_ + "': " + std::strerror(errno));
                return false;
            }
            ownsFile_ = true;
        }
    }
    char* text = nullptr;
    size_t size = 0;
    FILE* rows = open_memstream(&text, &size);
    if (rows == nullptr) {
        reportError("out of memory writing '" + path_ + "'");
        return false;
    }
    if (first) writeCsvHeader(rows, series, numbered_);
    writeCsvRows(rows, series, scan, numbered_);
    const bool formatted = std::fclose(rows) == 0;
    const bool written =
        formatted && std::fwrite(text, 1, size, file_) == size && std::fflush(file_) == 0;
    std::free(text);
    if (!written) reportError("cannot write '" + path_ + "'");
    return written;
}

bool writeWholeFile(const std::string& path, const std::function<void(FILE*)>& write) {
    if (path == "-") {
        write(LibraryConsole::out());
        return std::fflush(LibraryConsole::out()) == 0;
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        reportError("cannot write '" + path + "': " + std::strerror(errno));
        if (fd >= 0) {
            close(fd);
            unlink(temporary.c_str());
        }
        return false;
    }
    // mkstemp makes the file private; the document is as readable as any other.
    const mode_t mask = umask(0);
    umask(mask);
    (void)fchmod(fd, 0666 & ~mask);
    write(file);
    const bool ok = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        reportError("cannot write '" + path + "'");
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace quillon::cli
