#include "tools/pushd/server/ReportService.h"

#include <httplib.h>

#include <algorithm>
#include <fstream>

#include "foundation/formats/Base64.h"
#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "os/core/Compression.h"
#include "os/crypto/Digest.h"

namespace pushd {

namespace {
// A report packet is about a kilobyte of JSON; anything that inflates past this is hostile.
constexpr std::size_t kMaximumInflated = 1 << 20;

bool isWholeNumber(const os::Value& value) {
  return value.isNumber() && value.doubleValue() == static_cast<double>(static_cast<long long>(value.doubleValue()));
}

// A list of entries, or "" when the client had none.
bool isListOrEmpty(const os::Value& value) { return value.array() || value == os::Value(""); }

// The record kinds and the fields each carries beside "type" and "itime".
bool isRecord(const os::Value& value) {
  const os::Dictionary* record = value.dictionary();
  if (!record || !(*record)["type"].isString() || !isWholeNumber((*record)["itime"])) return false;
  const std::string type = *(*record)["type"].string();
  const os::Dictionary& r = *record;
  if (type == "active_launch")
    return r["session_id"].isString() && r["date"].isString() && r["time"].isString();
  if (type == "active_terminate")
    return isWholeNumber(r["duration"]) && r["session_id"].isString() && isListOrEmpty(r["activities"]) &&
           r["date"].isString() && r["time"].isString();
  if (type == "device_info") return r["sdk_version"] == os::Value("1.8.1") && r["os_version"].isString();
  if (type == "msg_status") {
    const double result = r["result"].isNumber() ? r["result"].doubleValue() : 0;
    return isWholeNumber(r["result"]) && result >= 2000 && result <= 2004 && r["msg_id"].isString();
  }
  if (type == "loc_info") return isListOrEmpty(r["wifi"]) && isListOrEmpty(r["cell"]) && isListOrEmpty(r["gps"]);
  if (type == "crash_log") return r["crashlogs"].array() != nullptr;
  return false;
}

// The envelope: "platform" "i", the uid as a number, "sdk_ver" "1.8.1", "app_key", and at least
// one record in "content".
bool isEnvelope(const os::Dictionary& envelope) {
  const os::Array* content = envelope["content"].array();
  if (envelope["platform"] != os::Value("i") || envelope["sdk_ver"] != os::Value("1.8.1") ||
      !isWholeNumber(envelope["uid"]) || !envelope["app_key"].isString() || !content || content->empty())
    return false;
  return std::all_of(content->begin(), content->end(), isRecord);
}

// The badge body: "uid", "platform" "i", "app_key", "itime" (seconds with their fraction) and
// "content" {"badge": a value of 0 or more}.
bool isBadgeBody(const os::Dictionary& body) {
  const os::Value& badge = body["content"]["badge"];
  return isWholeNumber(body["uid"]) && body["platform"] == os::Value("i") && body["app_key"].isString() &&
         body["itime"].isNumber() && isWholeNumber(badge) && badge.doubleValue() >= 0;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
}  // namespace

ReportService::ReportService(IdentityOf identityOf, bool verbose)
    : identityOf_(std::move(identityOf)), verbose_(verbose), http_(std::make_unique<httplib::Server>()) {}

ReportService::~ReportService() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  host_.stop();
}

std::string ReportService::expectedAuthorization(std::uint32_t uid, const std::string& password, const std::string& body) {
  std::string id = std::to_string(static_cast<std::int32_t>(uid));
  std::string signature = os::md5Hex(id + os::md5Hex(password) + os::md5Hex(body));
  return "Basic " + base64EncodedString(id + ":" + signature).value_or("");
}

bool ReportService::start(std::uint16_t port) {
  http_->Post("/v2/report", [this](const httplib::Request& request, httplib::Response& response) {
    Mode mode;
    {
      std::lock_guard lock(mutex_);
      mode = mode_;
    }
    auto answer = [&](int status, const std::string& body = "{}") {
      response.status = status;
      response.set_content(body, "application/json");
      std::lock_guard lock(mutex_);
      answers_.push_back(status);
    };
    // Hold the answer until the service stops or the mode changes: the client's time-out decides.
    auto stall = [&](Mode held) {
      for (;;) {
        {
          std::lock_guard lock(mutex_);
          if (stopping_ || mode_ != held) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      return answer(500);
    };
    if (mode == Mode::Stall) return stall(mode);
    if (mode == Mode::Forbidden) return answer(403);
    if (mode == Mode::ServerError) return answer(500);
    // The packet is JSON, gzipped and said to be.
    if (!startsWith(request.get_header_value("Content-Type"), "application/json") ||
        request.get_header_value("Content-Encoding") != "gzip")
      return answer(400);
    os::Data body(request.body.begin(), request.body.end());
    std::optional<os::Data> inflated, gzipped;
    if (!body.empty() && body[0] == 0x1f) {
      gzipped = body;
      inflated = os::inflateData(body, kMaximumInflated, os::InflateFormat::Gzip);
    } else {
      // The HTTP library has already inflated a gzip body. The signature covers the compressed
      // bytes; the client's compressor is deterministic (zlib's default level, no file name or
      // time in the header), so compressing the text again gives those bytes back.
      inflated = body;
      gzipped = os::gzipData(body);
    }
    auto parsed = inflated ? objectFromJSONData(*inflated) : std::nullopt;
    const os::Dictionary* envelope = parsed ? parsed->dictionary() : nullptr;
    if (!envelope || !isEnvelope(*envelope) || request.get_header_value("X-App-Key") != (*envelope)["app_key"].stringOr())
      return answer(400);
    auto uid = static_cast<std::uint32_t>((*envelope)["uid"].intValue());
    auto identity = identityOf_(uid);
    if (!identity || !gzipped || identity->appkey != (*envelope)["app_key"].stringOr() ||
        request.get_header_value("Authorization") !=
            expectedAuthorization(uid, identity->password, os::stringFromData(*gzipped)))
      return answer(401);
    {
      std::lock_guard lock(mutex_);
      for (const auto& record : *(*envelope)["content"].array()) {
        if (!record.dictionary()) continue;
        // A record is the same record when it is the same object: uid, kind, time and fields.
        std::string identity = std::to_string(uid) + os::stringFromData(JSONData(record).value_or(os::Data{}));
        if (!seen_.insert(identity).second) {
          ++repeats_;
          continue;
        }
        records_.push_back(*record.dictionary());
        if (!storeFile_.empty()) {
          // Flushed to the system at once: a process killed after this line keeps the record.
          std::ofstream store(storeFile_, std::ios::app);
          store << uid << " " << os::stringFromData(JSONData(record).value_or(os::Data{})) << "\n";
        }
      }
    }
    if (mode == Mode::CrashAfterStore) return answer(500);
    if (mode == Mode::StallAfterStore) return stall(mode);
    if (verbose_) std::fprintf(stderr, "pushd: report of %zu records\n", (*envelope)["content"].array()->size());
    if (mode == Mode::Garbage) return answer(200, "\x1f\x8b garbage");
    answer(200);
  });
  http_->Post("/v1/user/", [this](const httplib::Request& request, httplib::Response& response) {
    auto parsed = objectFromJSONString(request.body);
    const os::Dictionary* body = parsed ? parsed->dictionary() : nullptr;
    int status = 400;
    // Plain JSON text, not compressed.
    if (body && isBadgeBody(*body) && startsWith(request.get_header_value("Content-Type"), "text/plain") &&
        request.get_header_value("Content-Encoding").empty()) {
      auto uid = static_cast<std::uint32_t>((*body)["uid"].intValue());
      auto identity = identityOf_(uid);
      status = identity && identity->appkey == (*body)["app_key"].stringOr() &&
                       request.get_header_value("Authorization") ==
                           expectedAuthorization(uid, identity->password, request.body)
                   ? 200
                   : 401;
    }
    std::lock_guard lock(mutex_);
    if (status == 200 && userStatus_ != 200) status = userStatus_;
    if (status == 200) badges_.push_back((*body)["content"]["badge"].intValue());
    answers_.push_back(status);
    response.status = status;
    response.set_content("{}", "application/json");
  });
  // One request per connection: nothing lingers in keep-alive when the service stops.
  http_->set_keep_alive_max_count(1);
  return host_.start("127.0.0.1", port).has_value();
}

bool ReportService::setStoreFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  std::ifstream earlier(path);
  std::string line;
  while (std::getline(earlier, line)) {
    auto space = line.find(' ');
    if (space == std::string::npos) continue;
    auto record = objectFromJSONString(line.substr(space + 1));
    if (!record || !record->dictionary()) continue;
    // The same identity the upload gives it: uid, then the record as the service wrote it.
    if (seen_.insert(line.substr(0, space) + line.substr(space + 1)).second) records_.push_back(*record->dictionary());
  }
  storeFile_ = path;
  return std::ofstream(path, std::ios::app).good();
}

void ReportService::setMode(Mode mode) {
  std::lock_guard lock(mutex_);
  mode_ = mode;
}

std::vector<os::Dictionary> ReportService::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

void ReportService::setUserStatus(int status) {
  std::lock_guard lock(mutex_);
  userStatus_ = status;
}

std::vector<long long> ReportService::badges() const {
  std::lock_guard lock(mutex_);
  return badges_;
}

std::size_t ReportService::repeats() const {
  std::lock_guard lock(mutex_);
  return repeats_;
}

std::vector<int> ReportService::answers() const {
  std::lock_guard lock(mutex_);
  return answers_;
}

}  // namespace pushd
