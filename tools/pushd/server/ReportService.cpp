#include "tools/pushd/server/ReportService.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <string_view>

#include "foundation/formats/Base64.h"
#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "os/core/Compression.h"
#include "os/crypto/Digest.h"
#include "os/net/Stream.h"
#include "os/store/FileManager.h"
#include "tools/common/HttpServer.h"
#include "tools/common/NewestKept.h"

namespace pushd {

namespace {

// A report packet is about a kilobyte of JSON; anything that inflates past this is hostile.
constexpr std::size_t kMaximumInflated = 1 << 20;
// A packet of more than one record stays within this many bytes, counted as the client counts
// them: the envelope's JSON without "content", each record's JSON and a comma after all but one,
// and 10.
constexpr std::size_t kPacketBudget = 1024;
// Where the library keeps a report's Content-Encoding once it has taken the header off, so that
// the body reaches the handler as the bytes that arrived.
constexpr const char* kArrivedEncoding = "X-Pushd-Arrived-Encoding";

// A JSON number that is a whole number within [least, most], read without casting a value out of
// range: a body may carry 1e300 or a fraction.
std::optional<long long> wholeNumber(const os::Value& value, double least, double most) {
  if (!value.isNumber()) return std::nullopt;
  const double d = value.doubleValue();
  if (!std::isfinite(d) || d < least || d > most || d != std::trunc(d)) return std::nullopt;
  return static_cast<long long>(d);
}
constexpr double kInt32Least = -2147483648.0, kInt32Most = 2147483647.0;
bool isWholeNumber(const os::Value& value) { return wholeNumber(value, kInt32Least, kInt32Most).has_value(); }
// Seconds since 1970 written with exactly ten digits.
bool isTenDigitTime(const os::Value& value) { return wholeNumber(value, 1e9, 9999999999.0).has_value(); }

// A list of entries, or "" when the client had none.
bool isListOrEmpty(const os::Value& value) { return value.array() || value == os::Value(""); }

// The device record is the device description and nothing else: these keys, each a string beside
// "itime", the two version keys the same text.
bool isDeviceRecord(const os::Dictionary& r) {
  static const char* const keys[] = {"os_version", "sdk_version", "timezone", "app_versioncode", "app_versionname",
                                     "language",   "resolution",  "Channel",  "model"};
  if (r.size() != std::size(keys) + 2) return false;
  for (const char* key : keys)
    if (!r[key].isString()) return false;
  return r["sdk_version"] == os::Value("1.8.1") && r["app_versioncode"] == r["app_versionname"];
}

// The record kinds and the fields each carries beside "type" and "itime".
bool isRecord(const os::Value& value) {
  const os::Dictionary* record = value.dictionary();
  if (!record || !(*record)["type"].isString() || !isTenDigitTime((*record)["itime"])) return false;
  const std::string type = *(*record)["type"].string();
  const os::Dictionary& r = *record;
  if (type == "active_launch")
    return r["session_id"].isString() && r["date"].isString() && r["time"].isString();
  if (type == "active_terminate")
    return isWholeNumber(r["duration"]) && r["session_id"].isString() && isListOrEmpty(r["activities"]) &&
           r["date"].isString() && r["time"].isString();
  if (type == "device_info") return isDeviceRecord(r);
  if (type == "msg_status") {
    return wholeNumber(r["result"], 2000, 2004) && r["msg_id"].isString();
  }
  if (type == "loc_info") return isListOrEmpty(r["wifi"]) && isListOrEmpty(r["cell"]) && isListOrEmpty(r["gps"]);
  if (type == "crash_log") return r["crashlogs"].array() != nullptr;
  return false;
}

// The envelope: "platform" "i", the uid as a signed 32-bit number, "sdk_ver" "1.8.1", "app_key",
// and at least one record in "content".
bool isEnvelope(const os::Dictionary& envelope) {
  const os::Array* content = envelope["content"].array();
  if (envelope["platform"] != os::Value("i") || envelope["sdk_ver"] != os::Value("1.8.1") ||
      !isWholeNumber(envelope["uid"]) || !envelope["app_key"].isString() || !content || content->empty())
    return false;
  return std::all_of(content->begin(), content->end(), isRecord);
}

// The records stand last-added first, and each packing adds the kind's record, made then, after
// the waiting ones: no record of a first packet is newer than its first. A session's close record
// is dated at the close, which may precede records made while the session was closed. The later
// packets of a request carry waiting records alone, in an order of the client's own: a packet out
// of this order is counted, not refused.
bool isNewestFirst(const os::Array& content) {
  const os::Dictionary& first = *content.front().dictionary();
  if (first["type"] == os::Value("active_terminate")) return true;
  const double newest = first["itime"].doubleValue();
  return std::all_of(content.begin(), content.end(),
                     [&](const os::Value& record) { return (*record.dictionary())["itime"].doubleValue() <= newest; });
}

// A record's identity: the uid and the record as JSON, and for the second and later of equal
// records in one packet their place among them (two statuses of one message in one second are two
// events). Compact JSON holds no raw line break, so the place cannot be mistaken for a record.
// Kept as its SHA-1 digest: an identity holds twenty bytes however large its record.
std::string recordIdentity(const std::string& uidAndRecord, std::size_t earlierEqual) {
  const os::Data digest =
      earlierEqual == 0 ? os::sha1(uidAndRecord) : os::sha1(uidAndRecord + "\n" + std::to_string(earlierEqual));
  return std::string(digest.begin(), digest.end());
}

// A record's JSON as the service writes it for its identity: the same record, however the client
// spelled its numbers and escapes, has one identity.
std::string identityJSON(const os::Value& record) { return os::stringFromData(JSONData(record).value_or(os::Data{})); }

// A store line is a uid, a space and a record's JSON as it arrived, in a packet no larger than this
// inflated: a longer line is none of the service's.
constexpr std::size_t kMaximumStoreLine = kMaximumInflated + 16;
// A line of this prefix and an identity in hexadecimal stands for a record written anew without
// it: its resend is still known.
constexpr std::string_view kKnownPrefix = "known ";

std::string hexOf(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}
std::optional<std::string> bytesOfHex(std::string_view hex) {
  auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  if (hex.size() % 2) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]), low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

// What a store file holds, read a piece at a time: a file an earlier run left long never stands
// whole in memory.
struct StoreScan {
  // Whether the identities are worked out: each record line read and written again, which a file
  // the running service wrote itself does not need.
  bool identities = true;
  // The identities of its records, as the service that wrote them knew them, the newest as many
  // as it knows: of every record the file holds or stands for, not only of those taken back.
  NewestKeys known;
  // Its newest record lines, as many as a record of the service keeps.
  tools::NewestKept<std::string> newest;
  // The last line had no line break: a process killed while appending cut it short.
  bool cutShort = false;
  // Read to its end: lines the file holds beyond a failed read are not let go by writing it anew.
  bool whole = true;
  // It had lines that are not the service's.
  bool foreign = false;
};

// Takes one line of a store. A record's identity is the one its upload gave it: the second and
// later of equal records of one packet took the first place among equal ones not yet known.
void scanLine(StoreScan& scan, std::string&& line) {
  if (std::string_view(line).starts_with(kKnownPrefix)) {
    auto identity = scan.identities ? bytesOfHex(std::string_view(line).substr(kKnownPrefix.size())) : std::nullopt;
    if (identity) scan.known.add(*identity);
    return;
  }
  if (!scan.identities) {
    scan.newest.keep(std::move(line));
    return;
  }
  auto space = line.find(' ');
  auto record = space == std::string::npos ? std::nullopt : objectFromJSONString(std::string_view(line).substr(space + 1));
  if (!record || !record->dictionary()) {
    scan.foreign = true;
    return;
  }
  const std::string uidAndRecord = line.substr(0, space) + identityJSON(*record);
  std::size_t place = 0;
  while (scan.known.contains(recordIdentity(uidAndRecord, place))) ++place;
  scan.known.add(recordIdentity(uidAndRecord, place));
  scan.newest.keep(std::move(line));
}

StoreScan scanStore(const std::string& path, bool identities) {
  StoreScan scan;
  scan.identities = identities;
  auto stream = os::InputStream::withFileAtPath(path);
  stream->open();
  std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
  std::string line;
  bool overlong = false;
  long count;
  while ((count = stream->read(buffer.data(), buffer.size())) > 0) {
    const char* at = reinterpret_cast<const char*>(buffer.data());
    const char* end = at + count;
    while (at != end) {
      const char* lineEnd = std::find(at, end, '\n');
      if (!overlong) line.append(at, lineEnd);
      if (line.size() > kMaximumStoreLine) {
        overlong = true;
        line.clear();
      }
      if (lineEnd == end) break;
      if (!overlong && !line.empty()) scanLine(scan, std::move(line));
      line.clear();
      overlong = false;
      at = lineEnd + 1;
    }
  }
  scan.whole = count == 0;
  stream->close();
  scan.cutShort = overlong || !line.empty();
  if (!overlong && !line.empty()) scanLine(scan, std::move(line));
  return scan;
}

// Writes the store file anew: the identities of the records let go, then the newest records'
// lines. Into a new file, renamed over the old one, so that a process killed while writing leaves
// the old file as it was. Answers the size written.
std::optional<std::size_t> writeStore(const std::string& path, const NewestKeys& known,
                                      const tools::NewestKept<std::string>& newest) {
  std::string text;
  // Each record the file held or stood for is one of the known identities, in the file's order,
  // and the newest lines are the last of them.
  const std::size_t letGo = known.entries() - std::min(known.entries(), newest.size());
  std::size_t n = 0;
  for (auto it = known.begin(); n < letGo; ++it, ++n) {
    text += kKnownPrefix;
    text += hexOf(*it);
    text += '\n';
  }
  for (const std::string& line : newest) {
    text += line;
    text += '\n';
  }
  if (!os::FileManager::defaultManager().writeData(os::dataFromString(text), path)) return std::nullopt;
  return text.size();
}

// The end of the JSON value that starts at `at`, in text a decoder has read whole.
std::size_t stringEnd(std::string_view text, std::size_t at) {
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\') ++i;
    else if (text[i] == '"') return i + 1;
  }
  return text.size();
}
std::size_t valueEnd(std::string_view text, std::size_t at) {
  if (at >= text.size()) return text.size();
  if (text[at] == '"') return stringEnd(text, at);
  if (text[at] == '{' || text[at] == '[') {
    std::size_t depth = 0;
    for (std::size_t i = at; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '"') i = stringEnd(text, i) - 1;
      else if (c == '{' || c == '[') ++depth;
      else if ((c == '}' || c == ']') && --depth == 0) return i + 1;
    }
    return text.size();
  }
  std::size_t i = at;
  while (i < text.size() && text[i] != ',' && text[i] != '}' && text[i] != ']') ++i;
  return i;
}

// The records of a packet's compact JSON as they arrived, each its own text, in order: what is
// stored, so that a record is written no longer than it came. The decoder's reading of the same
// text decides which "content" counts: the last of its name.
std::optional<std::vector<std::string_view>> recordTexts(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!text.starts_with('{')) return std::nullopt;
  std::string_view content;
  for (std::size_t i = 1; i < text.size() && text[i] == '"';) {
    const std::size_t keyEnd = stringEnd(text, i);
    std::string_view key = text.substr(i, keyEnd - i);
    if (keyEnd >= text.size() || text[keyEnd] != ':') return std::nullopt;
    const std::size_t end = valueEnd(text, keyEnd + 1);
    bool isContent = key == "\"content\"";
    if (!isContent && key.find('\\') != std::string_view::npos) {
      auto decoded = objectFromJSONString("[" + std::string(key) + "]");
      isContent = decoded && decoded->at(0) == os::Value("content");
    }
    if (isContent) content = text.substr(keyEnd + 1, end - keyEnd - 1);
    i = end < text.size() && text[end] == ',' ? end + 1 : end;
  }
  if (!content.starts_with('[')) return std::nullopt;
  std::vector<std::string_view> records;
  for (std::size_t i = 1; i < content.size() && content[i] != ']';) {
    const std::size_t end = valueEnd(content, i);
    records.push_back(content.substr(i, end - i));
    i = end < content.size() && content[end] == ',' ? end + 1 : end;
  }
  return records;
}

// Compact JSON: no white space outside strings.
bool isCompact(const os::Data& text) {
  bool inString = false, escaped = false;
  for (std::uint8_t c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      return false;
    }
  }
  return true;
}

// The budget of a packet of more than one record. In the compact text the envelope's four entries,
// the records and the commas between them stand once each, beside ',"content":[' and ']': 3 bytes
// more than the client's count.
bool fitsTheBudget(const os::Data& text, std::size_t records) { return records < 2 || text.size() - 3 <= kPacketBudget; }

// The badge body: "uid", "platform" "i", "app_key", "itime" (seconds with their fraction) and
// "content" {"badge": a value of 0 or more}.
bool isBadgeBody(const os::Dictionary& body) {
  const os::Value& badge = body["content"]["badge"];
  return isWholeNumber(body["uid"]) && body["platform"] == os::Value("i") && body["app_key"].isString() &&
         body["itime"].isNumber() && wholeNumber(badge, 0, kInt32Most);
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
}  // namespace

// One listening address of the service: its HTTP server and the thread serving it.
struct ReportService::Endpoint {
  explicit Endpoint(ReportService& service) : owner(service) { http.set_payload_max_length(kMaximumInflated); }
  ReportService& owner;
  tools::HttpServer http;
  tools::ServiceHost host{http};
  // Set (under the service's mutex) before the host stops, so a stalled answer on this address
  // is woken and lets go.
  bool stopping = false;
  ~Endpoint() {
    {
      std::lock_guard lock(owner.mutex_);
      stopping = true;
    }
    owner.changed_.notify_all();
    host.stop();
  }
};

ReportService::ReportService(IdentityOf identityOf, bool verbose)
    : identityOf_(std::move(identityOf)), verbose_(verbose) {}

ReportService::~ReportService() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  std::lock_guard lock(endpointMutex_);
  primary_.reset();
  backup_.reset();
}

std::string ReportService::expectedAuthorization(std::uint32_t uid, const std::string& password, const std::string& body) {
  std::string id = std::to_string(static_cast<std::int32_t>(uid));
  std::string signature = os::md5Hex(id + os::md5Hex(password) + os::md5Hex(body));
  return "Basic " + base64EncodedString(id + ":" + signature).value_or("");
}

void ReportService::serveReports(Endpoint& endpoint) {
  // The signature covers the gzip bytes as the client sent them. The HTTP library would inflate a
  // body it is told is gzipped before any handler sees it, so the header is taken off as soon as
  // the headers are read (the request is the server's own, not const) and kept aside.
  endpoint.http.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    auto& headers = const_cast<httplib::Request&>(request).headers;
    headers.erase(kArrivedEncoding);
    if (auto it = headers.find("Content-Encoding"); it != headers.end()) {
      headers.emplace(kArrivedEncoding, it->second);
      headers.erase(it);
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  endpoint.http.Post("/v2/report", [this, &endpoint](const httplib::Request& request, httplib::Response& response) {
    Mode mode;
    {
      std::lock_guard lock(mutex_);
      mode = mode_;
    }
    auto answer = [&](int status, const std::string& body = "{}") {
      response.status = status;
      response.set_content(body, "application/json");
      std::lock_guard lock(mutex_);
      answers_.keep(status);
    };
    // Hold the answer until the service or this address stops or the mode changes: the client's
    // time-out decides.
    auto stall = [&](Mode held) {
      {
        os::TrackedHttpServer::HeldRequest holding;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || endpoint.stopping || mode_ != held; });
      }
      return answer(500);
    };
    if (mode == Mode::Stall) return stall(mode);
    if (mode == Mode::Forbidden) return answer(403);
    if (mode == Mode::ServerError) return answer(500);
    auto refuse = [&](int status, const char* why) {
      if (verbose_) std::fprintf(stderr, "pushd: report refused (%d): %s\n", status, why);
      answer(status);
    };
    // The packet is compact JSON, gzipped and said to be.
    if (!startsWith(request.get_header_value("Content-Type"), "application/json") ||
        request.get_header_value(kArrivedEncoding) != "gzip")
      return refuse(400, "not gzipped JSON");
    const os::Data body(request.body.begin(), request.body.end());
    auto inflated = os::inflateData(body, kMaximumInflated, os::InflateFormat::Gzip);
    auto parsed = inflated ? objectFromJSONData(*inflated) : std::nullopt;
    const os::Dictionary* envelope = parsed ? parsed->dictionary() : nullptr;
    if (!envelope || !isEnvelope(*envelope)) return refuse(400, "not an envelope of records");
    if (!isCompact(*inflated)) return refuse(400, "white space in the JSON");
    if (request.get_header_value("X-App-Key") != (*envelope)["app_key"].stringOr())
      return refuse(400, "X-App-Key is not the envelope's app key");
    const os::Array& content = *(*envelope)["content"].array();
    if (!fitsTheBudget(*inflated, content.size())) return refuse(400, "more than one record over 1024 bytes");
    // A signed 32-bit number, as the envelope says; the service's uids are positive.
    auto uid = static_cast<std::uint32_t>(static_cast<std::int32_t>((*envelope)["uid"].intValue()));
    auto identity = identityOf_(uid);
    if (!identity || identity->appkey != (*envelope)["app_key"].stringOr() ||
        request.get_header_value("Authorization") != expectedAuthorization(uid, identity->password, request.body))
      return refuse(401, "not signed by a known uid and app key over these bytes");
    // Each record stored as it arrived: written again from its reading it could grow (a number
    // written in full) past what the service takes back at its next start.
    const std::string packet = os::stringFromData(*inflated);
    const auto texts = recordTexts(packet);
    if (!texts || texts->size() != content.size()) return refuse(500, "records not found in the packet's text");
    std::size_t repeated = 0;
    const bool newestFirst = isNewestFirst(content);
    bool stored = true;
    {
      std::lock_guard lock(mutex_);
      std::map<std::string, std::size_t> equalSoFar;
      bool equalRecords = false;
      std::vector<std::string> fresh;  // the identities of the records not kept before
      std::vector<const os::Dictionary*> freshRecords;
      std::string lines;               // the store file's lines of those
      for (std::size_t i = 0; i < content.size(); ++i) {
        // A record is the same record when it is the same object: uid, kind, time and fields, and
        // its place among equal ones of its packet. One that was kept already arrives again after
        // its answer was lost: counted, not kept twice.
        std::string json = identityJSON(content[i]);
        std::string identity = recordIdentity(std::to_string(uid) + json, equalSoFar[json]++);
        equalRecords = equalRecords || equalSoFar[json] > 1;
        if (seen_.contains(identity)) {
          ++repeated;
          continue;
        }
        fresh.push_back(std::move(identity));
        freshRecords.push_back(content[i].dictionary());
        if (!storeFile_.empty()) ((lines += std::to_string(uid)) += ' ').append((*texts)[i]) += '\n';
      }
      // Written to the system at once, before the answer: a process killed after this keeps the
      // records. Records that could not be written are not kept, and the answer says so: the
      // client keeps them and sends them again.
      if (!lines.empty()) {
        stored = os::FileManager::defaultManager().appendData(os::dataFromString(lines), storeFile_);
        if (stored) storeBytes_ += lines.size();
        // Part of them may have reached the file: written anew from what it holds, the next
        // append starts on a line of its own.
        else trimStore(true);
      }
      if (stored) {
        for (std::size_t i = 0; i < fresh.size(); ++i) {
          seen_.add(fresh[i]);
          records_.keep(*freshRecords[i]);
        }
        repeats_ += repeated;
        duplicates_ += equalRecords;
        disorders_ += !newestFirst;
        if (!lines.empty()) trimStore(false);
      }
    }
    if (!stored) return refuse(500, "records not stored");
    if (mode == Mode::CrashAfterStore) return answer(500);
    if (mode == Mode::StallAfterStore) return stall(mode);
    if (verbose_)
      std::fprintf(stderr, "pushd: report of %zu records, %zu sent again%s\n", content.size(), repeated,
                   newestFirst ? "" : ", the first not the newest");
    if (mode == Mode::Garbage) return answer(200, "\x1f\x8b garbage");
    answer(200);
  });
  endpoint.http.Post("/v1/user/", [this](const httplib::Request& request, httplib::Response& response) {
    auto parsed = objectFromJSONString(request.body);
    const os::Dictionary* body = parsed ? parsed->dictionary() : nullptr;
    int status = 400;
    // Plain JSON text, not compressed.
    if (body && isBadgeBody(*body) && startsWith(request.get_header_value("Content-Type"), "text/plain") &&
        request.get_header_value(kArrivedEncoding).empty()) {
      auto uid = static_cast<std::uint32_t>(static_cast<std::int32_t>((*body)["uid"].intValue()));
      auto identity = identityOf_(uid);
      status = identity && identity->appkey == (*body)["app_key"].stringOr() &&
                       request.get_header_value("Authorization") ==
                           expectedAuthorization(uid, identity->password, request.body)
                   ? 200
                   : 401;
    }
    std::lock_guard lock(mutex_);
    if (status == 200 && userStatus_ != 200) status = userStatus_;
    if (status == 200) badges_.keep((*body)["content"]["badge"].intValue());
    answers_.keep(status);
    response.status = status;
    response.set_content("{}", "application/json");
  });
  // One request per connection: nothing lingers in keep-alive when the service stops.
  endpoint.http.set_keep_alive_max_count(1);
}

std::unique_ptr<ReportService::Endpoint> ReportService::listen(std::uint16_t port, bool freeIfTaken) {
  auto endpoint = std::make_unique<Endpoint>(*this);
  serveReports(*endpoint);
  if (!endpoint->host.start("127.0.0.1", port, freeIfTaken)) return nullptr;
  return endpoint;
}

bool ReportService::start(std::uint16_t port, std::uint16_t backupPort, bool freeIfTaken) {
  std::lock_guard lock(endpointMutex_);
  primary_ = listen(port, freeIfTaken);
  backup_ = primary_ ? listen(backupPort, freeIfTaken) : nullptr;
  if (!primary_ || !backup_) return false;
  primaryPort_ = static_cast<std::uint16_t>(primary_->host.port());
  backupPort_ = static_cast<std::uint16_t>(backup_->host.port());
  return true;
}

bool ReportService::setPrimaryDown(bool down) {
  std::lock_guard lock(endpointMutex_);
  if (down) {
    primary_.reset();
    return true;
  }
  if (!primary_) primary_ = listen(primaryPort_);
  return primary_ != nullptr;
}

bool ReportService::setStoreFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto& files = os::FileManager::defaultManager();
  // What a process killed while writing the file anew left beside it.
  files.removeAbandonedTemporaryFiles(path);
  StoreScan earlier = scanStore(path, true);
  for (const std::string& line : earlier.newest) {
    auto record = objectFromJSONString(std::string_view(line).substr(line.find(' ') + 1));
    records_.keep(*record->dictionary());
  }
  storeFile_ = path;
  auto attributes = files.attributesOfItemAtPath(path);
  storeBytes_ = attributes ? attributes->size : 0;
  // A line cut short would run into the next one appended, and one not the service's would stand
  // for no identity when the file is next written anew: the file is written anew, its records'
  // lines alone.
  if (earlier.whole && (earlier.cutShort || earlier.foreign || storeBytes_ > kStoreByteLimit)) {
    if (auto written = writeStore(path, earlier.known, earlier.newest)) storeBytes_ = *written;
  }
  seen_ = std::move(earlier.known);
  return files.appendData({}, path);
}

void ReportService::trimStore(bool afterFailure) {
  if (!afterFailure && storeBytes_ <= kStoreByteLimit) return;
  // The file alone knows each record's uid: its newest lines are what is written. Each of its
  // records is one of the identities known, in order, but after a failed append, which may have
  // written some of its lines, the file is read again for them.
  StoreScan scan = scanStore(storeFile_, afterFailure);
  const NewestKeys& known = afterFailure ? scan.known : seen_;
  if (auto written = scan.whole ? writeStore(storeFile_, known, scan.newest) : std::nullopt) {
    storeBytes_ = *written;
    // What the file holds is what a restart knows: records of a failed append that reached it
    // whole are known now too.
    if (afterFailure) seen_ = std::move(scan.known);
  } else if (verbose_) {
    std::fprintf(stderr, "pushd: %s not written anew\n", storeFile_.c_str());
  }
}

void ReportService::setMode(Mode mode) {
  {
    std::lock_guard lock(mutex_);
    mode_ = mode;
  }
  changed_.notify_all();
}

std::vector<os::Dictionary> ReportService::records() const {
  std::lock_guard lock(mutex_);
  return records_.entries();
}

void ReportService::setUserStatus(int status) {
  std::lock_guard lock(mutex_);
  userStatus_ = status;
}

std::vector<long long> ReportService::badges() const {
  std::lock_guard lock(mutex_);
  return {badges_.begin(), badges_.end()};
}

std::size_t ReportService::duplicates() const {
  std::lock_guard lock(mutex_);
  return duplicates_;
}

std::size_t ReportService::disorders() const {
  std::lock_guard lock(mutex_);
  return disorders_;
}

std::size_t ReportService::repeats() const {
  std::lock_guard lock(mutex_);
  return repeats_;
}

std::vector<int> ReportService::answers() const {
  std::lock_guard lock(mutex_);
  return {answers_.begin(), answers_.end()};
}

}  // namespace pushd
