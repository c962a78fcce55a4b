// The library prints a few short texts of its own on standard output when
// something goes wrong ("Scan Failed", ...). This program's standard output
// carries tables, CSV and JSON that other programs read, so those texts are
// caught and passed on to standard error instead.
#pragma once

#include <cstdio>

namespace quillon::cli {

class LibraryConsole {
  public:
    // Points file descriptor 1 at a private temporary file and keeps the real
    // standard output for the program. Call once, before any library call.
    static void divert();
    // Where the program writes its own output (the real standard output).
    static FILE* out();
    // Copies what the library printed since the last call to standard error,
    // ending it with a line end, and forgets it.
    static void relay();
};

}  // namespace quillon::cli
