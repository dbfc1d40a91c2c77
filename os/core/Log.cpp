#include "os/core/Log.h"

#include <algorithm>
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

// The line within kLogLineLimit: cut before a character that would not fit, with the note of what
// was left out (whose own length is kept within the limit too).
std::string_view fitted(std::string_view line, std::size_t fullLength, std::string& storage) {
  if (fullLength <= kLogLineLimit) return line;
  const std::string note = "... (" + std::to_string(fullLength) + " bytes in all)";
  std::size_t cut = std::min(line.size(), kLogLineLimit - note.size());
  // Never inside a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
  storage.assign(line.substr(0, cut));
  storage += note;
  return storage;
}

void write(std::string_view line) {
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

}  // namespace

void log(std::string_view line) {
  std::string storage;
  write(fitted(line, line.size(), storage));
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
  // Only what the line can hold is formatted: a huge argument is never copied whole.
  char buffer[kLogLineLimit + 1];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buffer, sizeof buffer, fmt, ap);
  va_end(ap);
  if (n < 0) return write({});
  std::string_view line(buffer, std::min(static_cast<std::size_t>(n), kLogLineLimit));
  std::string storage;
  write(fitted(line, static_cast<std::size_t>(n), storage));
}

std::function<void(std::string_view)> setLogSink(std::function<void(std::string_view)> s) {
  std::lock_guard lock(sinkMutex());
  auto prev = std::move(sink());
  sink() = std::move(s);
  return prev;
}

}  // namespace os
