#include "tools/pushd/server/ReportService.h"

#include <httplib.h>

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
}  // namespace

ReportService::ReportService(PasswordOf passwordOf, bool verbose)
    : passwordOf_(std::move(passwordOf)), verbose_(verbose), http_(std::make_unique<httplib::Server>()) {}

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
    if (!envelope || !(*envelope)["content"].array()) return answer(400);
    auto uid = static_cast<std::uint32_t>((*envelope)["uid"].intValue());
    auto password = passwordOf_(uid);
    if (!password || !gzipped ||
        request.get_header_value("Authorization") != expectedAuthorization(uid, *password, os::stringFromData(*gzipped)))
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
    if (body) {
      auto uid = static_cast<std::uint32_t>((*body)["uid"].intValue());
      auto password = passwordOf_(uid);
      status = password && request.get_header_value("Authorization") == expectedAuthorization(uid, *password, request.body)
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
