#pragma once
// Misuse that would hang or corrupt the process (a deadlocking sync, a run loop driven from a
// foreign thread) stops it with a message instead.
#include <string_view>

namespace os {

[[noreturn]] void fatalError(std::string_view message);

}  // namespace os
