// `quillon config export|import` and `config rm --all`: the module's whole
// list through the library's own interface (positions, repeat counts and
// record images, which the older one does not show), stored in one save.
#pragma once

#include <string>

#include "module_session.h"

namespace quillon::cli {

int exportConfigurations(const std::string& file, const GlobalOptions& global);
int importConfigurations(const std::string& file, bool replace, const GlobalOptions& global);
int removeAllConfigurations(const GlobalOptions& global);

}  // namespace quillon::cli
