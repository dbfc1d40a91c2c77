#pragma once
// The operations of the news API and the promotion API over the sample content: checks a signed
// form, answers its opcode inside the common envelope, and keeps what readers change (favourites,
// votes) and what they send (read history, crash dumps, feedback) in memory; what readers change
// may also be kept in a state file between runs (keepStateIn).
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/store/FileLock.h"
#include "tools/common/NewestKept.h"
#include "tools/newsd/server/SampleContent.h"
#include "tools/newsd/server/Signing.h"

namespace newsd {

// Which API a form was posted to, by the last part of its path.
enum class Api {
  News,           // ".../imobile"
  Promotion,      // ".../imkt"
  PromotionList,  // ".../imkt/mil"
};

// "errorcode" of an answer. Negative values are refusals of the request as a whole.
enum ErrorCode : int {
  kOk = 0,
  kMalformedRequest = -1,  // fields missing, "p" not Base64 or not a JSON object, no opcode
  kBadCheckCode = -2,
  kBadInterfaceVersion = -3,
  kUnknownOperation = -4,  // an opcode that the API at this path does not serve
};

// "result" inside "data".
inline constexpr int kNewsSuccess = 1;
inline constexpr int kNewsFailure = 2;
inline constexpr int kPromotionSuccess = 0;
inline constexpr int kPromotionFailure = 1;

// "lastpage" of paged answers: 1 on the last page, 2 when more pages follow.
inline constexpr int kLastPage = 1;
inline constexpr int kMorePages = 2;

struct ServiceOptions {
  int pass = 0;                // "pass" of the activation answer: 1 turns ads off in the reader
  double nctime = 3600.0;      // list refresh interval handed to the reader, in seconds
  std::string latestVersion;   // empty: every version check answers "up to date"
  std::string updateURL;       // "content" of a positive version check; empty: this server's page
  std::string newsKey{kNewsSecretKey};
  std::string promotionKey{kPromotionSecretKey};
};

// What readers sent that the server only takes note of; tests read it back. Each kind keeps its
// newest reports only, at most tools::kRecordLimit of them and tools::kRecordByteLimit bytes:
// a server left running beside a reader would otherwise hold every one it was sent.
struct Received {
  std::vector<std::string> feedback;      // "suggestion" texts
  std::vector<std::string> crashDumps;    // decoded "dump" texts
  std::vector<std::string> parseErrors;   // "error" texts of XML error reports
  std::map<long long, int> reads;         // article id -> read-history reports (of the newest kept)
  std::vector<long long> adClicks;        // reported ad ids
  std::vector<std::pair<long long, std::string>> adCallbacks;  // ad id, User-Agent
};

class NewsService {
 public:
  NewsService(SampleContent content, ServiceOptions options);

  const SampleContent& content() const { return content_; }
  const ServiceOptions& options() const { return options_; }

  // The envelope answering one posted form. `base` is "http://host:port" of this server as the
  // reader reached it; `now` is the current time in seconds since 1970.
  os::Value answerForm(Api api, const std::vector<os::QueryItem>& form, const std::string& base, double now);

  // The parameters that the form's "p" carries, and the opcode they name, read without checking
  // the signature; nothing when "p" carries no JSON object or names no opcode.
  static std::optional<os::Dictionary> parametersOf(const std::vector<os::QueryItem>& form);
  static std::optional<long long> opcodeOf(const std::vector<os::QueryItem>& form);

  // The version check ("cmd" "verupdate" with the reader's "version"): an envelope whose
  // "data"."result" is 1 with the update address in "content" when a newer version exists.
  os::Value answerVersionCheck(const std::string& cmd, const std::string& version, const std::string& base);

  // A reader fired the callback address of an ad click.
  bool recordAdCallback(long long adid, const std::string& userAgent);

  Received received() const;
  // What the kept reports and forms hold together, by the measure their bounds use.
  std::size_t receivedBytes() const;

  // Takes the favourites and votes kept in the file at `path` (none when it does not exist yet)
  // and writes every later change there, whole, through a temporary file that is synced before it
  // replaces the old one: a crash or a full disk leaves the previous state, never half of one. A
  // change that cannot be written is undone and answered as a failure. A file that is not a whole
  // state (cut short, garbage) is not read: it is moved aside to a name of its own, never
  // overwritten, and what is wrong with it is returned; nothing is returned when all went well.
  // The file is kept by one server at a time: while another holds it (a lock on `path`.lock,
  // dropped when its holder ends) it is refused, naming the holder's process.
  std::optional<std::string> keepStateIn(const std::string& path);
  // The most the favourites and votes kept (and so written whole to the state file on every
  // change) may hold together: a change from a reader that would pass it is answered as failed.
  // A reader's own favourites and votes take a few kilobytes; peers under ever new device names
  // would otherwise add to them for the server's whole run.
  static constexpr std::size_t kStateByteLimit = std::size_t{4} << 20;
  // What they hold, by the measure the bound uses.
  std::size_t keptStateBytes() const;

  // Receives one line per form: the opcode and the decoded parameters, or why it was refused.
  void setLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
  // Keeps the parameters of every form accepted from now on (off at first: a long run would pile
  // them up), for forms() to read back.
  void setKeepsForms(bool keep);
  // The parameters of the kept forms of the operation (the newest, as the reports), in order of
  // arrival.
  std::vector<os::Value> forms(long long opcode) const;

 private:
  struct Call;
  os::Dictionary dispatch(Call& call);
  os::Dictionary activate(Call& call);
  os::Dictionary readHistory(Call& call);
  os::Dictionary newsList(Call& call);
  os::Dictionary articleDetail(Call& call);
  os::Dictionary articleInfo(Call& call);
  os::Dictionary categoryList(Call& call);
  os::Dictionary favouriteList(Call& call);
  os::Dictionary vote(Call& call);
  os::Dictionary favourite(Call& call);
  os::Dictionary crashDump(Call& call);
  os::Dictionary parseErrorReport(Call& call);
  os::Dictionary feedback(Call& call);
  os::Dictionary adClick(Call& call);
  // Writes the state file (when one is kept); false when it could not be written. Under mutex_.
  bool saveStateLocked();
  // Whether the kept state has room for `bytes` more. Under mutex_.
  bool roomForLocked(std::size_t bytes) const;
  os::Dictionary adList(Call& call);
  os::Dictionary allAdList(Call& call);

  SampleContent content_;
  ServiceOptions options_;
  std::string newsSigningKey_;
  std::string promotionSigningKey_;

  mutable std::mutex mutex_;
  std::map<std::string, std::vector<long long>> favourites_;  // device -> ids, newest first
  std::map<std::pair<std::string, long long>, int> votes_;     // (device, id) -> 2 up / 3 down
  std::map<long long, std::pair<int, int>> voteCounts_;        // id -> (digg, bury) added
  std::size_t stateBytes_ = 0;  // what favourites_ and votes_ hold, by the measure of their bound
  // What received() reads, each bounded by count and bytes.
  struct Kept {
    tools::NewestKept<std::string> feedback;
    tools::NewestKept<std::string> crashDumps;
    tools::NewestKept<std::string> parseErrors;
    tools::NewestKept<long long> reads;  // the article id of each read-history report
    tools::NewestKept<long long> adClicks;
    tools::NewestKept<std::pair<long long, std::string>> adCallbacks;
  };
  Kept received_;
  std::string statePath_;
  std::unique_ptr<os::FileLock> stateLock_;  // held while statePath_ is kept
  std::function<void(const std::string&)> log_;
  bool keepsForms_ = false;
  tools::NewestKept<std::pair<long long, os::Value>> forms_;  // opcode, parameters
};

// Comparison of dotted version texts by their numeric parts ("1.10" is newer than "1.9").
int compareVersions(const std::string& a, const std::string& b);

}  // namespace newsd
