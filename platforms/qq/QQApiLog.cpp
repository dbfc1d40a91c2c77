#include "platforms/qq/QQApiLog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "foundation/formats/DateCalendar.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

namespace {

constexpr std::size_t kLogLimit = 1048576;
constexpr std::size_t kLogKeep = 524288;

// The documents folder whose log this process has opened (each sandbox opens its own once).
std::string gOpenedFolder;

std::string timestamp(bool forHeader) {
  const os::Date now = os::Date::now();
  const DateComponents c = DateCalendar::currentCalendar().components(now);
  if (forHeader) {
    return os::format("%04ld-%02ld-%02ld %02ld:%02ld:%02ld", c.year, c.month, c.day, c.hour, c.minute, c.second);
  }
  const double seconds = now.timeIntervalSince1970();
  const long millis = static_cast<long>((seconds - static_cast<double>(static_cast<long long>(seconds))) * 1000);
  return os::format("%.4ld-%.2ld-%.2ld:%.2ld:%.2ld:%.2ld:%.3ld", c.year, c.month, c.day, c.hour, c.minute, c.second, millis);
}

// A log past `limit` bytes keeps only its last half megabyte.
void cutIfLongerThan(const std::string& folder, std::size_t limit) {
  auto& fm = os::FileManager::defaultManager();
  const std::string path = os::appendingPathComponent(folder, kQQApiLogFileName);
  const std::string temp = os::appendingPathComponent(folder, kQQApiLogTempFileName);
  auto attributes = fm.attributesOfItemAtPath(path);
  if (!attributes || attributes->size <= limit) return;
  auto contents = fm.contentsAtPath(path);
  if (!contents) return;
  fm.removeItemAtPath(temp);
  os::Data tail(contents->end() - static_cast<std::ptrdiff_t>(kLogKeep), contents->end());
  if (!fm.writeData(tail, temp)) return;
  if (fm.removeItemAtPath(path)) {
    fm.moveItemAtPath(temp, path);
  } else {
    fm.removeItemAtPath(temp);
  }
}

}  // namespace

void QQApiLog(const char* file, int line, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  char buffer[2048];
  std::vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);

  std::string where;
  if (file) {
    std::string name = file;
    if (const auto slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
    if (name.size() > 63) name.resize(63);
    if (!name.empty()) where = os::format("%s:%d ", name.c_str(), line);
  }
  const std::string stamp = timestamp(false);
  os::logf("%s -QQAPI- %s%s", stamp.c_str(), where.c_str(), buffer);

  auto sandbox = os::Sandbox::current();
  if (!sandbox) return;
  const std::string folder = sandbox->documentsDirectory();
  const std::string path = os::appendingPathComponent(folder, kQQApiLogFileName);
  auto& fm = os::FileManager::defaultManager();
  if (gOpenedFolder != folder) {
    // The folder is the application's documents: only the cut's leftovers of a run killed in it go.
    const std::string temp = os::appendingPathComponent(folder, kQQApiLogTempFileName);
    fm.removeAbandonedTemporaryFiles(temp);
    // A cut ended between removing the log and moving its tail into place left the tail alone,
    // whole (it is written atomically): it is the log.
    if (!fm.fileExistsAtPath(path) && fm.fileExistsAtPath(temp)) fm.moveItemAtPath(temp, path);
    cutIfLongerThan(folder, kLogLimit);
    gOpenedFolder = folder;
    fm.appendData(os::dataFromString("\n\n\n\n\n********** BEGIN LOG ON " + timestamp(true) + " **********\n"), path);
  }
  fm.appendData(os::dataFromString(stamp + "-QQAPI- " + where + buffer + "\n"), path);
  // A long run is cut as it goes too, with room to grow so that not every line copies the tail.
  cutIfLongerThan(folder, 2 * kLogLimit);
}
