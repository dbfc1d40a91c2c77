#pragma once
// Console logging. Tests can capture lines through a sink.
#include <functional>
#include <string>
#include <string_view>

namespace os {

// Writes one line (to standard error unless a sink is set).
void log(std::string_view line);
// printf-style convenience.
void logf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Replaces where lines go; an empty function restores standard error. Returns the previous sink.
std::function<void(std::string_view)> setLogSink(std::function<void(std::string_view)> sink);

}  // namespace os
