#include "foundation/formats/TimeZoneRules.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "os/store/FileManager.h"
#include "os/store/TimeZoneFiles.h"

namespace {

std::int64_t readBE(const unsigned char* p, int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  if (n == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  return static_cast<std::int64_t>(v);
}

}  // namespace

std::optional<TimeZoneRules> TimeZoneRules::fromFile(const std::string& path, std::string name) {
  auto contents = os::FileManager::defaultManager().contentsAtPath(path);
  if (!contents) return std::nullopt;
  const os::Data& b = *contents;
  auto header = [&](std::size_t at, std::uint64_t counts[6]) {
    if (b.size() < at + 44 || b[at] != 'T' || b[at + 1] != 'Z' || b[at + 2] != 'i' || b[at + 3] != 'f') return false;
    for (int i = 0; i < 6; ++i) counts[i] = static_cast<std::uint32_t>(readBE(&b[at + 20 + 4 * i], 4));
    return true;
  };
  std::uint64_t c[6];  // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
  if (!header(0, c)) return std::nullopt;
  std::size_t at = 0;
  int timeSize = 4;
  if (b[4] >= '2') {
    // Skip the 32-bit block for the 64-bit one that follows it.
    at = 44 + static_cast<std::size_t>(c[3] * 5 + c[4] * 6 + c[5] + c[2] * 8 + c[1] + c[0]);
    if (!header(at, c)) return std::nullopt;
    timeSize = 8;
  }
  const std::size_t timecnt = static_cast<std::size_t>(c[3]), typecnt = static_cast<std::size_t>(c[4]);
  std::size_t p = at + 44;
  if (typecnt == 0 || b.size() < p + timecnt * (timeSize + 1) + typecnt * 6) return std::nullopt;
  TimeZoneRules z;
  z.name_ = std::move(name);
  std::vector<std::size_t> types(timecnt);
  for (std::size_t i = 0; i < timecnt; ++i) z.transitions_.push_back(readBE(&b[p + i * timeSize], timeSize));
  p += timecnt * timeSize;
  for (std::size_t i = 0; i < timecnt; ++i) types[i] = b[p + i];
  p += timecnt;
  std::vector<long> typeOffsets(typecnt);
  std::vector<bool> typeDst(typecnt);
  for (std::size_t i = 0; i < typecnt; ++i) {
    typeOffsets[i] = static_cast<long>(readBE(&b[p + i * 6], 4));
    typeDst[i] = b[p + i * 6 + 4] != 0;
  }
  for (std::size_t i = 0; i < timecnt; ++i) {
    if (types[i] >= typecnt) return std::nullopt;
    z.offsets_.push_back(typeOffsets[types[i]]);
  }
  z.initialOffset_ = typeOffsets[0];
  for (std::size_t i = 0; i < typecnt; ++i)
    if (!typeDst[i]) {
      z.initialOffset_ = typeOffsets[i];
      break;
    }
  return z;
}

std::optional<TimeZoneRules> TimeZoneRules::named(std::string_view name) {
  if (name.empty() || name.find("..") != std::string_view::npos || name.front() == '/') return std::nullopt;
  return fromFile(os::timeZoneDirectory() + "/" + std::string(name), std::string(name));
}

TimeZoneRules TimeZoneRules::fixed(long secondsEast, std::string name) {
  TimeZoneRules z;
  z.initialOffset_ = secondsEast;
  if (name.empty()) {
    const long h = std::labs(secondsEast) / 3600, m = std::labs(secondsEast) % 3600 / 60;
    name = "GMT" + std::string(secondsEast < 0 ? "-" : "+") + std::to_string(h) + (m ? ":" + std::to_string(m) : "");
    if (secondsEast == 0) name = "GMT";
  }
  z.name_ = std::move(name);
  return z;
}

TimeZoneRules TimeZoneRules::processLocal() {
  if (auto tz = os::processTimeZoneSetting()) {
    std::string_view n(*tz);
    if (n.front() == ':') n.remove_prefix(1);
    if (!n.empty() && n.front() == '/') {
      if (auto z = fromFile(std::string(n), std::string(n))) return *z;
    } else if (auto z = named(n)) {
      return *z;
    }
  }
  if (auto z = fromFile(os::kLocalTimeZoneFile, "localtime")) return *z;
  return fixed(0, "UTC");
}

long TimeZoneRules::offsetAt(double secondsSince1970) const {
  const auto t = static_cast<std::int64_t>(std::floor(secondsSince1970));
  auto it = std::upper_bound(transitions_.begin(), transitions_.end(), t);
  if (it == transitions_.begin()) return initialOffset_;
  return offsets_[static_cast<std::size_t>(it - transitions_.begin() - 1)];
}

double TimeZoneRules::momentFromLocal(double localSeconds) const {
  // Try the offsets in force around the reading; the earliest moment that reads back is it.
  const long before = offsetAt(localSeconds - 86400), after = offsetAt(localSeconds + 86400);
  const double a = localSeconds - before, b = localSeconds - after;
  const bool aFits = offsetAt(a) == before, bFits = offsetAt(b) == after;
  if (aFits && bFits) return std::min(a, b);
  if (aFits) return a;
  if (bFits) return b;
  // Skipped by a change: move forward by the size of the gap.
  return localSeconds - before;
}
