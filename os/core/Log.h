#pragma once
// Console logging: to standard error, or to a log file with standard error as an option. Tests can
// capture lines through a sink.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace os {

// The longest line written: a longer one (a whole answer someone logs) is cut there, ending in a
// note of how many bytes the whole line had.
inline constexpr std::size_t kLogLineLimit = 4096;

// Writes one line: to the sink when one is set, else to the log file and standard error as
// logToFile chose (standard error alone until then).
void log(std::string_view line);
// printf-style convenience.
void logf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Replaces where lines go; an empty function restores standard error. Returns the previous sink.
std::function<void(std::string_view)> setLogSink(std::function<void(std::string_view)> sink);
// From now on lines are appended to the file at `path` (made when missing, kept between runs), and
// to standard error too when `alsoStandardError`. An empty path goes back to standard error alone.
// False, lines still going to standard error, when the file cannot be opened.
bool logToFile(const std::string& path, bool alsoStandardError);

}  // namespace os
