// The page, its script and its style, compiled into the program from
// cli/serve/web/ (see CMakeLists.txt): the page needs no file and no network.
#pragma once

#include <cstddef>
#include <string>

namespace quillon::cli::serve {

struct WebAsset {
    const char* path;  // as requested, "/" for the page
    const char* contentType;
    const unsigned char* data;
    size_t size;
};

// The embedded file served at `path`, or null.
const WebAsset* findWebAsset(const std::string& path);

}  // namespace quillon::cli::serve
