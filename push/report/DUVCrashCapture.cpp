#include "push/report/DUVCrashCapture.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "os/core/String.h"
#include "os/runtime/CrashHooks.h"
#include "os/store/FileManager.h"
#include "os/store/PreparedFile.h"
#include "os/store/Sandbox.h"
#include "push/report/DUVReportRecords.h"
#include "push/utilities/DUVUtilities.h"

namespace {
// Read by the crash handler, so a plain atomic the client thread keeps current.
std::atomic<long> gNetworkStatus{0};
constexpr const char* kNetworkTypeMark = "networktype=";
constexpr const char* kVersionMark = "versionname=";
constexpr const char* kDeviceInfoMark = "device_info=";
constexpr const char* kMessageMark = "message=";

// The run's version and device lines, ready for the crash handler. A handler may be reading the
// current one while it is replaced, so every one made stays for the life of the process (one per
// change: a start or two).
std::atomic<const std::string*> gRunFacts{nullptr};
std::mutex gRunFactsMutex;
std::vector<std::unique_ptr<const std::string>>& runFactsKept() {
  static auto* kept = new std::vector<std::unique_ptr<const std::string>>();
  return *kept;
}

const char* networkName(long status) {
  switch (status) {
    case 2: return "ReachableViaWiFi";
    case 3: return "ReachableViaWWAN";
    default: return "NotReachable";
  }
}

// The run's facts come first and the message takes one line of its own after them: a message of
// several lines, or one cut at the end of the buffer, can then neither hide the facts nor pass for
// them.
void writeFacts(os::CrashRecordWriter& w) {
  w.write(kNetworkTypeMark).write(networkName(gNetworkStatus.load())).write("\n");
  if (const std::string* facts = gRunFacts.load()) w.write(facts->data(), facts->size());
}

void writeStackAndSnapshot(os::CrashRecordWriter& w) {
  w.writeStack();
  os::PreparedFile::writeAllPrepared();
}

// A message on one line: backslash, line feed and carriage return escaped.
std::string escapedMessage(const std::string& message) {
  std::string out;
  out.reserve(message.size());
  for (char c : message) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string unescapedMessage(const std::string& line) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      out += line[i];
      continue;
    }
    char next = line[++i];
    if (next == 'n') out += '\n';
    else if (next == 'r') out += '\r';
    else if (next == '\\') out += '\\';
    else out.append({'\\', next});
  }
  return out;
}

bool startsWith(const std::string& line, const char* mark) { return line.rfind(mark, 0) == 0; }
bool isFactLine(const std::string& line) {
  return startsWith(line, kNetworkTypeMark) || startsWith(line, kVersionMark) || startsWith(line, kDeviceInfoMark);
}
}  // namespace

std::string DUVCrashCapture::recordDirectory() {
  return os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "CrashRecords");
}

void DUVCrashCapture::setNetworkStatus(long status) { gNetworkStatus.store(status); }

void DUVCrashCapture::setRunFacts(const std::string& version, const os::Dictionary& deviceInfo) {
  std::string line = version;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  auto json = ZRFJSONData(os::Value(deviceInfo));
  std::string facts = kVersionMark + line + "\n";
  if (json) facts += kDeviceInfoMark + std::string(json->begin(), json->end()) + "\n";
  std::lock_guard lock(gRunFactsMutex);
  if (const std::string* current = gRunFacts.load(); current && *current == facts) return;
  runFactsKept().push_back(std::make_unique<const std::string>(std::move(facts)));
  gRunFacts.store(runFactsKept().back().get());
}

bool DUVCrashCapture::install(const std::string& directory, os::Error* error) {
  os::CrashHook hook;
  hook.onSignal = [](os::CrashRecordWriter& w) {
    writeFacts(w);
    w.write(kMessageMark).write("Signal ").writeDecimal(w.signal()).write(" was raised.\n");
    writeStackAndSnapshot(w);
  };
  hook.onTerminate = [](os::CrashRecordWriter& w) {
    writeFacts(w);
    std::string message = escapedMessage(os::CrashHooks::currentExceptionReason());
    w.write(kMessageMark).write(message.data(), message.size()).write("\n");
    writeStackAndSnapshot(w);
  };
  // Its own folder: the crash reporter may have installed the hooks first, in its folder.
  hook.directory = directory;
  // The six signals of the push client's handler include SIGPIPE.
  hook.brokenPipe = true;
  if (!os::CrashHooks::addHook(kHookName, hook, error)) return false;
  return os::CrashHooks::isInstalled() || os::CrashHooks::install(directory, error);
}

std::pair<os::Dictionary, std::string> DUVCrashCapture::crashRecord(const std::string& raw, double time,
                                                                    const os::Dictionary& deviceInfo,
                                                                    const std::string& networkType) {
  // A record is bytes from a dying process: text that is not UTF-8 would make the whole crash
  // report unwritable as JSON.
  std::string text = os::repairUTF8(raw);
  auto takeLine = [&text](std::size_t& at) {
    auto end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    return line;
  };
  // The crashing run's own facts; a record without one (an older run's) takes the reader's.
  std::string network = networkType;
  std::string version = DUVGetCurrentAPPVersion();
  os::Dictionary device = deviceInfo;
  auto takeFact = [&](const std::string& line) {
    if (startsWith(line, kNetworkTypeMark)) {
      network = line.substr(std::strlen(kNetworkTypeMark));
    } else if (startsWith(line, kVersionMark)) {
      version = line.substr(std::strlen(kVersionMark));
    } else if (startsWith(line, kDeviceInfoMark)) {
      std::string json = line.substr(std::strlen(kDeviceInfoMark));
      auto value = ZRFJSONObject(os::Data(json.begin(), json.end()));
      if (value && value->dictionary()) device = *value->dictionary();
    }
  };
  std::string message;
  std::size_t at = 0;
  std::size_t stackAt = 0;
  std::string first = takeLine(at);
  if (isFactLine(first) || startsWith(first, kMessageMark)) {
    // The facts, then the message on its own escaped line, then the stack.
    for (std::string line = first;; line = takeLine(at)) {
      if (startsWith(line, kMessageMark)) {
        message = unescapedMessage(line.substr(std::strlen(kMessageMark)));
        stackAt = at;
        break;
      }
      if (!isFactLine(line)) break;
      takeFact(line);
      stackAt = at;
      if (at >= text.size()) break;
    }
  } else {
    // As earlier versions wrote it: the message on the first line, the facts after it.
    message = first;
    stackAt = at;
    while (stackAt < text.size()) {
      std::size_t next = stackAt;
      std::string line = takeLine(next);
      if (!isFactLine(line)) break;
      takeFact(line);
      stackAt = next;
    }
  }
  std::string stack = text.substr(std::min(stackAt, text.size()));
  os::Array lines;
  for (std::size_t from = 0; from < stack.size();) {
    auto end = stack.find('\n', from);
    std::string line = stack.substr(from, end == std::string::npos ? std::string::npos : end - from);
    if (!line.empty()) lines.push_back(os::Value(line));
    from = end == std::string::npos ? stack.size() : end + 1;
  }
  // A time no clock gave (damaged, not finite) reads as the time the record is read.
  double when = DUVPlausibleTime(time).value_or(DUVPlausibleTime(DUVGetCurrentTimestamp()).value_or(0));
  os::Dictionary record{{"stacktrace", os::Value(lines)},
                        {"message", os::Value(message)},
                        {"count", os::Value(1)},
                        {"crashtime", os::Value(static_cast<long long>(when))},
                        {"versionname", os::Value(version)},
                        {"versioncode", os::Value(version)},
                        {"device_info", os::Value(device)},
                        {"networktype", os::Value(network)}};
  return {std::move(record), std::move(stack)};
}

namespace {
// A record's mark: its crash time to the microsecond, its signal, and its text's length and hash,
// in the form earlier versions stored. Two records alike in all of these are the same crash; a
// damaged time far past any clock is spelled whole, so it cannot push the rest out of the mark.
std::string recordMark(const os::CrashRecord& crash) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a: stable from build to build
  for (unsigned char c : crash.text) hash = (hash ^ c) * 1099511628211ull;
  constexpr const char* kFormat = "%.6f %d %zu %016llx";
  const auto hashValue = static_cast<unsigned long long>(hash);
  char shortMark[96];
  int length = std::snprintf(shortMark, sizeof shortMark, kFormat, crash.time, crash.signal, crash.text.size(), hashValue);
  if (length < 0) return {};
  if (static_cast<std::size_t>(length) < sizeof shortMark) return std::string(shortMark, static_cast<std::size_t>(length));
  std::vector<char> mark(static_cast<std::size_t>(length) + 1);
  std::snprintf(mark.data(), mark.size(), kFormat, crash.time, crash.signal, crash.text.size(), hashValue);
  return std::string(mark.data(), static_cast<std::size_t>(length));
}

// The marks stored before a reading, each covering one record: two records alike to the
// microsecond are two crashes, and one mark stands for one of them.
class StoredMarks {
 public:
  explicit StoredMarks(const os::Array& taken) {
    marks_.reserve(taken.size());
    for (const os::Value& mark : taken)
      if (const std::string* text = mark.string()) ++marks_[*text];
  }
  // True, using it up, when a stored mark is left for the record.
  bool cover(const std::string& mark) {
    auto found = marks_.find(mark);
    if (found == marks_.end() || found->second == 0) return false;
    --found->second;
    return true;
  }

 private:
  std::unordered_map<std::string, std::size_t> marks_;
};

// The crash set's elements by their call-stack text and message, so that a record finds the one it
// repeats without a walk through the whole set. The first of equal elements answers, as a walk
// from the front would: the one a repeat has always counted in.
class CrashSetIndex {
 public:
  CrashSetIndex(os::Array& logSet, std::size_t adding) : logSet_(logSet) {
    elements_.reserve(logSet.size() + adding);
    for (std::size_t i = 0; i < logSet.size(); ++i) add(i);
  }
  // The record of the element with this stack and message; null when there is none.
  os::Dictionary* find(const std::string& stack, const os::Value& message) {
    const std::string* text = message.string();
    if (!text) return nullptr;
    // Equal elements stand in the index in no particular order.
    auto [from, to] = elements_.equal_range(key(stack, *text));
    std::size_t first = logSet_.size();
    for (auto at = from; at != to; ++at) {
      const os::Array* pair = logSet_[at->second].array();
      if (at->second < first && *(*pair)[1].string() == stack && (*pair)[0]["message"] == message) first = at->second;
    }
    if (first == logSet_.size()) return nullptr;
    return logSet_[first].mutableArray()->front().mutableDictionary();
  }
  void add(std::size_t i) {
    const os::Array* pair = logSet_[i].array();
    if (!pair || pair->size() < 2 || !(*pair)[0].dictionary()) return;
    const std::string* stack = (*pair)[1].string();
    const std::string* message = (*pair)[0]["message"].string();
    if (stack && message) elements_.emplace(key(*stack, *message), i);
  }

 private:
  static std::size_t key(const std::string& stack, const std::string& message) {
    std::hash<std::string> hash;
    return hash(stack) * 1099511628211ull ^ hash(message);
  }
  os::Array& logSet_;
  std::unordered_multimap<std::size_t, std::size_t> elements_;  // key -> position in the set
};
}  // namespace

std::size_t DUVCrashCapture::collect(const std::string& directory, os::Array& logSet, os::Array& taken,
                                     const os::Dictionary& deviceInfo, const std::string& networkType,
                                     const std::function<bool()>& keep) {
  std::size_t bytes = 0;
  auto records = os::CrashHooks::readRecords(directory, kHookName, &bytes);
  if (records.empty() && taken.empty()) return 0;
  std::size_t counted = 0;
  // Only the marks of earlier readings: the ones this reading adds cover nothing in it.
  StoredMarks stored(taken);
  CrashSetIndex crashes(logSet, records.size());
  for (const auto& crash : records) {
    std::string mark = recordMark(crash);
    if (stored.cover(mark)) continue;  // counted by an earlier reading whose discard did not happen
    auto [record, stack] = crashRecord(crash.text, crash.time, deviceInfo, networkType);
    if (os::Dictionary* kept = crashes.find(stack, record["message"])) {
      long long count = (*kept)["count"].intValue();
      kept->set("count", os::Value(count < std::numeric_limits<int>::max() ? count + 1 : count));
    } else {
      logSet.push_back(os::Value(os::Array{os::Value(record), os::Value(stack)}));
      crashes.add(logSet.size() - 1);
    }
    taken.push_back(os::Value(std::move(mark)));
    ++counted;
  }
  // Out of the hook's file only once the crash set that holds them is stored: a run that ends
  // before then leaves them to the next, which knows them by their marks if the set was stored.
  if (keep && keep() && os::CrashHooks::discardRecords(directory, kHookName, bytes)) taken.clear();
  return counted;
}

bool DUVCrashCapture::release(const std::string& directory, os::Array& taken) {
  if (taken.empty()) return true;
  std::size_t bytes = 0;
  auto records = os::CrashHooks::readRecords(directory, kHookName, &bytes);
  // Only when the stored set holds every one, each mark covering one record: another (a crash
  // written after the reading) is left for the next reading.
  StoredMarks marked(taken);
  for (const auto& crash : records)
    if (!marked.cover(recordMark(crash))) return false;
  if (!os::CrashHooks::discardRecords(directory, kHookName, bytes)) return false;
  taken.clear();
  return true;
}
