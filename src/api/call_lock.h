// The lock every one of the 29 exports holds for its whole call: the session,
// its default module and the link are one conversation at a time, and a scan
// holds them until its spectrum is read. Modules opened through quillon.h
// have locks of their own.
#pragma once

#include <mutex>

namespace quillon {

std::mutex& exportCallLock();

}  // namespace quillon
