#include "os/core/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace os {

namespace {
std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}
std::function<void(std::string_view)>& sink() {
  static std::function<void(std::string_view)> s;
  return s;
}
// The log file and whether lines go to standard error as well; under sinkMutex.
struct Destination {
  std::FILE* file = nullptr;
  bool alsoStandardError = true;
};
Destination& destination() {
  static Destination d;
  return d;
}
}  // namespace

void log(std::string_view line) {
  std::lock_guard lock(sinkMutex());
  if (sink()) {
    sink()(line);
    return;
  }
  Destination& to = destination();
  if (to.file) {
    // Each line reaches the file at once, so a crash leaves the lines before it there.
    std::fprintf(to.file, "%.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(to.file);
  }
  if (!to.file || to.alsoStandardError) std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

bool logToFile(const std::string& path, bool alsoStandardError) {
  std::FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "ae");
  std::lock_guard lock(sinkMutex());
  Destination& to = destination();
  if (to.file) std::fclose(to.file);
  to.file = file;
  to.alsoStandardError = alsoStandardError;
  return path.empty() || file != nullptr;
}

void logf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, ap2);
  va_end(ap2);
  log(s);
}

std::function<void(std::string_view)> setLogSink(std::function<void(std::string_view)> s) {
  std::lock_guard lock(sinkMutex());
  auto prev = std::move(sink());
  sink() = std::move(s);
  return prev;
}

}  // namespace os
