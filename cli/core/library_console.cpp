#include "library_console.h"

#include <unistd.h>

#include <string>

namespace quillon::cli {
namespace {

FILE* programOut = nullptr;
FILE* caught = nullptr;

}  // namespace

void LibraryConsole::divert() {
    if (caught != nullptr) return;
    std::fflush(stdout);
    int realOut = dup(STDOUT_FILENO);
    if (realOut < 0) return;  // no standard output at all: nothing to protect
    FILE* sink = std::tmpfile();
    FILE* out = fdopen(realOut, "w");
    if (sink == nullptr || out == nullptr || dup2(fileno(sink), STDOUT_FILENO) < 0) {
        if (sink != nullptr) std::fclose(sink);
        if (out != nullptr)
            std::fclose(out);
        else
            close(realOut);
        return;
    }
    caught = sink;
    programOut = out;
}

FILE* LibraryConsole::out() {
    return programOut != nullptr ? programOut : stdout;
}

void LibraryConsole::relay() {
    if (caught == nullptr) return;
    std::fflush(stdout);
    off_t size = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if (size <= 0) return;
    std::string text(static_cast<size_t>(size), '\0');
    ssize_t got = pread(STDOUT_FILENO, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    if (ftruncate(STDOUT_FILENO, 0) != 0) return;
    lseek(STDOUT_FILENO, 0, SEEK_SET);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    if (text.empty()) return;
    std::fflush(out());
    std::fprintf(stderr, "quillonlib: %s\n", text.c_str());
}

}  // namespace quillon::cli
