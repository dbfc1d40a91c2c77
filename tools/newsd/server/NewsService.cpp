#include "tools/newsd/server/NewsService.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>

#include "os/core/Data.h"
#include "os/store/FileLock.h"
#include "os/store/FileManager.h"

#include "tools/newsd/server/Wire.h"

namespace newsd {

namespace {

constexpr long long kDefaultPageCount = 20;
constexpr long long kMaxPageCount = 50;
constexpr std::size_t kFavouritesPerPage = 10;
constexpr std::size_t kAdsPerPage = 6;
constexpr int kNotVoted = 1, kVotedUp = 2, kVotedDown = 3;

const char* const kAdCallbackUserAgent = "NewsdSample/1.0 (ad callback)";

// An integral number under key; strings, booleans and fractions count as absent, as they would
// be a fault of the reader's request layer.
std::optional<long long> integerField(const os::Value& dict, std::string_view key) {
  const os::Value& v = dict[key];
  if (!v.isNumber() || v.typeCode() == 'c' || v.typeCode() == 'B') return std::nullopt;
  if (v.isFloatingPoint()) {
    double d = v.doubleValue();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15) return std::nullopt;
    return static_cast<long long>(d);
  }
  return v.intValue();
}

std::optional<std::string> stringField(const os::Value& dict, std::string_view key) {
  if (const std::string* s = dict[key].string()) return *s;
  return std::nullopt;
}

os::Dictionary result(int value) { return os::Dictionary{{"result", value}}; }

os::Value refusalEnvelope(int errorcode, long long opcode, int failure, const std::string& message) {
  return envelope(errorcode, opcode, os::Dictionary{{"result", failure}, {"msg", message}});
}

const std::string* formValue(const std::vector<os::QueryItem>& form, std::string_view key) {
  for (const auto& [k, v] : form)
    if (k == key) return &v;
  return nullptr;
}

// The device a request speaks for: favourites and votes are kept per device.
std::string deviceOf(const os::Value& params) {
  const os::Value& sn = params["sn"];
  for (const char* key : {"sharedudid", "idfa", "mac"}) {
    if (const std::string* s = sn[key].string(); s && !s->empty()) return std::string(key) + ":" + *s;
  }
  return "anonymous";
}

// What a device's favourites and a vote hold in memory and in the state file, near enough to bound
// them by: the device's name, an entry's own bytes and an article id's.
constexpr std::size_t kStateEntryBytes = 64;
constexpr std::size_t kStateIdBytes = 16;

std::size_t favouriteBytes(const std::string& device, const std::vector<long long>& ids) {
  return ids.empty() ? 0 : kStateEntryBytes + device.size() + ids.size() * kStateIdBytes;
}

std::size_t voteBytes(const std::string& device) { return kStateEntryBytes + device.size() + kStateIdBytes; }

bool olderThan(const Article& a, long long time, long long id) {
  return a.publishTime < time || (a.publishTime == time && a.id < id);
}

bool newerThan(const Article& a, long long time, long long id) {
  return a.publishTime > time || (a.publishTime == time && a.id > id);
}

bool servedAt(Api api, long long opcode) {
  switch (api) {
    case Api::News: return opcode >= 1000 && opcode <= 1110;
    case Api::Promotion: return opcode == 2002;
    case Api::PromotionList: return opcode == 2613 || opcode == 2616;
  }
  return false;
}

}  // namespace

struct NewsService::Call {
  Api api;
  long long opcode;
  os::Value params;
  os::Value payload;  // "opdata" or "in"; null when absent
  std::string device;
  std::string base;
  double now;
};

NewsService::NewsService(SampleContent content, ServiceOptions options)
    : content_(std::move(content)),
      options_(std::move(options)),
      newsSigningKey_(deriveSigningKey(options_.newsKey)),
      promotionSigningKey_(deriveSigningKey(options_.promotionKey)) {}

os::Value NewsService::answerForm(Api api, const std::vector<os::QueryItem>& form, const std::string& base, double now) {
  bool news = api == Api::News;
  auto refusal = [this](int errorcode, long long opcode, int failure, const std::string& message) {
    if (log_) log_("refused (" + std::to_string(errorcode) + "): " + message);
    return refusalEnvelope(errorcode, opcode, failure, message);
  };
  int failure = news ? kNewsFailure : kPromotionFailure;
  const std::string* p = formValue(form, "p");
  const std::string* v = formValue(form, "v");
  const std::string* check = formValue(form, news ? "c" : "check");
  if (!p || !v || !check) return refusal(kMalformedRequest, 0, failure, news ? "p, v and c are required" : "p, v and check are required");
  if (*v != (news ? "1" : "3")) return refusal(kBadInterfaceVersion, 0, failure, "unsupported interface version " + *v);

  // The code signs the text exactly as posted, so it is checked before anything is decoded.
  const std::string& key = news ? newsSigningKey_ : promotionSigningKey_;
  if (!checkCodeMatches(*check, checkCode(*p, key))) return refusal(kBadCheckCode, 0, failure, "check code does not match");

  auto text = decodeParameterText(*p);
  if (!text) return refusal(kMalformedRequest, 0, failure, "p is not Base64");
  auto params = parseJSON(*text);
  if (!params || !params->isDictionary()) return refusal(kMalformedRequest, 0, failure, "p is not a JSON object");
  auto opcode = integerField(*params, "opcode");
  if (!opcode) return refusal(kMalformedRequest, 0, failure, "no opcode");
  if (!servedAt(api, *opcode)) return refusal(kUnknownOperation, *opcode, failure, "no such operation here");

  if (log_) log_("opcode " + std::to_string(*opcode) + " " + writeJSON(*params));
  {
    std::lock_guard lock(mutex_);
    if (keepsForms_) forms_.keep({*opcode, *params});
  }
  Call call{api, *opcode, *params, (*params)[news ? "opdata" : "in"], deviceOf(*params), base, now};
  os::Dictionary data = dispatch(call);
  if (!data.contains("result")) return refusal(kUnknownOperation, *opcode, failure, "no such operation here");
  return envelope(kOk, *opcode, std::move(data));
}

std::optional<os::Dictionary> NewsService::parametersOf(const std::vector<os::QueryItem>& form) {
  const std::string* p = formValue(form, "p");
  return p ? decodeParameters(*p) : std::nullopt;
}

std::optional<long long> NewsService::opcodeOf(const std::vector<os::QueryItem>& form) {
  auto params = parametersOf(form);
  if (!params) return std::nullopt;
  return integerField(os::Value(*params), "opcode");
}

os::Dictionary NewsService::dispatch(Call& call) {
  switch (call.opcode) {
    case 1000: return activate(call);
    case 1001: return readHistory(call);
    case 1010: return newsList(call);
    case 1020: return articleDetail(call);
    case 1030: return articleInfo(call);
    case 1040: return categoryList(call);
    case 1050: return favouriteList(call);
    case 1060: return vote(call);
    case 1070: return favourite(call);
    case 1090: return crashDump(call);
    case 1100: return parseErrorReport(call);
    case 1110: return feedback(call);
    case 2002: return adClick(call);
    case 2613: return adList(call);
    case 2616: return allAdList(call);
    default: return {};
  }
}

os::Dictionary NewsService::activate(Call& call) {
  auto cp = integerField(call.payload, "cp");
  if (!cp || *cp < 1 || *cp > 3) return result(kNewsFailure);
  os::Dictionary data = result(kNewsSuccess);
  data.set("pass", options_.pass);
  data.set("nctime", options_.nctime);
  return data;
}

os::Dictionary NewsService::readHistory(Call& call) {
  auto id = integerField(call.payload, "id");
  if (!id) return result(kNewsFailure);
  // Any id is taken: a reader must not resend forever an id this server no longer knows.
  std::lock_guard lock(mutex_);
  received_.reads.keep(*id);
  return result(kNewsSuccess);
}

os::Dictionary NewsService::newsList(Call& call) {
  auto categoryId = integerField(call.payload, "id");
  auto flag = integerField(call.payload, "flag");
  if (!categoryId || !content_.category(*categoryId) || !flag || (*flag != 1 && *flag != 2)) return result(kNewsFailure);
  long long count = integerField(call.payload, "count").value_or(0);
  if (count <= 0) count = kDefaultPageCount;
  count = std::min(count, kMaxPageCount);

  std::vector<const Article*> all = content_.visibleArticles(*categoryId, call.now);
  std::vector<const Article*> page;
  bool last = true;
  if (*flag == 1) {
    long long uptime = integerField(call.payload, "uptime").value_or(-1);
    long long upid = integerField(call.payload, "upid").value_or(0);
    if (uptime < 0) {
      // The newest page: a first load, or a forced refresh that replaces the reader's list.
      page.assign(all.begin(), all.begin() + std::min<std::size_t>(all.size(), count));
      last = page.size() == all.size();
    } else {
      // What appeared since the reader's first row; the ones next to it first when there are
      // more than asked, so no gap opens in the reader's list.
      std::vector<const Article*> newer;
      for (const Article* a : all)
        if (newerThan(*a, uptime, upid)) newer.push_back(a);
      std::size_t skip = newer.size() > static_cast<std::size_t>(count) ? newer.size() - count : 0;
      page.assign(newer.begin() + skip, newer.end());
      last = std::none_of(all.begin(), all.end(), [&](const Article* a) { return olderThan(*a, uptime, upid); });
    }
  } else {
    long long downtime = integerField(call.payload, "downtime").value_or(-1);
    long long downid = integerField(call.payload, "downid").value_or(0);
    if (downtime < 0) {
      const Article* anchor = content_.article(downid);
      if (anchor) downtime = anchor->publishTime;
    }
    std::vector<const Article*> older;
    for (const Article* a : all)
      if (downtime < 0 || olderThan(*a, downtime, downid)) older.push_back(a);
    page.assign(older.begin(), older.begin() + std::min<std::size_t>(older.size(), count));
    last = page.size() == older.size();
  }

  os::Array items;
  for (const Article* a : page) items.push_back(newsListItem(*a, call.base));
  os::Dictionary data = result(kNewsSuccess);
  data.set("newslist", std::move(items));
  data.set("lastpage", last ? kLastPage : kMorePages);
  return data;
}

os::Dictionary NewsService::articleDetail(Call& call) {
  auto id = integerField(call.payload, "id");
  const Article* article = id ? content_.article(*id) : nullptr;
  if (!article || static_cast<double>(article->publishTime) > call.now) return result(kNewsFailure);
  os::Dictionary data = result(kNewsSuccess);
  for (auto& [key, value] : newsd::articleDetail(*article, call.base)) data.set(key, value);
  return data;
}

os::Dictionary NewsService::articleInfo(Call& call) {
  auto id = integerField(call.payload, "id");
  const Article* article = id ? content_.article(*id) : nullptr;
  if (!article) return result(kNewsFailure);
  std::lock_guard lock(mutex_);
  auto vote = votes_.find({call.device, article->id});
  auto counted = voteCounts_.find(article->id);
  const std::pair<int, int> added = counted == voteCounts_.end() ? std::pair<int, int>{} : counted->second;
  // Read without keeping anything for a device never heard from.
  auto kept = favourites_.find(call.device);
  const std::vector<long long> favs = kept == favourites_.end() ? std::vector<long long>{} : kept->second;
  os::Dictionary data = result(kNewsSuccess);
  data.set("diggbury", vote == votes_.end() ? kNotVoted : vote->second);
  data.set("diggcount", article->diggCount + added.first);
  data.set("burycount", article->buryCount + added.second);
  data.set("favorite", std::find(favs.begin(), favs.end(), article->id) != favs.end() ? 1 : 0);
  return data;
}

os::Dictionary NewsService::categoryList(Call& call) {
  os::Array items;
  for (const Category& c : content_.categories()) items.push_back(categoryItem(c));
  os::Dictionary data = result(kNewsSuccess);
  data.set("categorylist", std::move(items));
  return data;
}

os::Dictionary NewsService::favouriteList(Call& call) {
  auto pageno = integerField(call.payload, "pageno");
  if (!pageno || *pageno < 1) return result(kNewsFailure);
  std::vector<long long> ids;
  {
    std::lock_guard lock(mutex_);
    if (auto kept = favourites_.find(call.device); kept != favourites_.end()) ids = kept->second;
  }
  os::Array items;
  std::size_t first = static_cast<std::size_t>(*pageno - 1) * kFavouritesPerPage;
  for (std::size_t i = first; i < ids.size() && i < first + kFavouritesPerPage; ++i)
    if (const Article* a = content_.article(ids[i])) items.push_back(newsListItem(*a, call.base));
  os::Dictionary data = result(kNewsSuccess);
  data.set("newslist", std::move(items));
  data.set("lastpage", first + kFavouritesPerPage >= ids.size() ? kLastPage : kMorePages);
  return data;
}

os::Dictionary NewsService::vote(Call& call) {
  auto id = integerField(call.payload, "id");
  auto categoryId = integerField(call.payload, "categoryid");
  auto action = integerField(call.payload, "action");
  const Article* article = id ? content_.article(*id) : nullptr;
  if (!article || !categoryId || !action || (*action != 1 && *action != 2)) return result(kNewsFailure);
  std::lock_guard lock(mutex_);
  const std::pair<std::string, long long> key{call.device, article->id};
  if (votes_.count(key)) return result(kNewsFailure);  // one vote per reader and article
  const std::size_t bytes = voteBytes(call.device);
  if (!roomForLocked(bytes)) return result(kNewsFailure);
  auto it = votes_.emplace(key, *action == 1 ? kVotedUp : kVotedDown).first;
  if (!saveStateLocked()) {
    votes_.erase(it);
    return result(kNewsFailure);
  }
  stateBytes_ += bytes;
  auto& counts = voteCounts_[article->id];
  (*action == 1 ? counts.first : counts.second) += 1;
  return result(kNewsSuccess);
}

os::Dictionary NewsService::favourite(Call& call) {
  auto id = integerField(call.payload, "id");
  auto categoryId = integerField(call.payload, "categoryid");
  auto action = integerField(call.payload, "action");
  const Article* article = id ? content_.article(*id) : nullptr;
  if (!article || !categoryId || !action || (*action != 1 && *action != 2)) return result(kNewsFailure);
  std::lock_guard lock(mutex_);
  auto kept = favourites_.find(call.device);
  const std::vector<long long> before = kept == favourites_.end() ? std::vector<long long>{} : kept->second;
  std::vector<long long> after = before;
  after.erase(std::remove(after.begin(), after.end(), article->id), after.end());
  if (*action == 1) after.insert(after.begin(), article->id);
  const std::size_t beforeBytes = favouriteBytes(call.device, before), afterBytes = favouriteBytes(call.device, after);
  if (afterBytes > beforeBytes && !roomForLocked(afterBytes - beforeBytes)) return result(kNewsFailure);
  // A device with no favourites left is not kept.
  auto keep = [&](const std::vector<long long>& ids) {
    if (ids.empty())
      favourites_.erase(call.device);
    else
      favourites_[call.device] = ids;
  };
  keep(after);
  if (!saveStateLocked()) {
    // The reader is told it failed, so what it shows matches what a restart would show.
    keep(before);
    return result(kNewsFailure);
  }
  stateBytes_ = stateBytes_ - beforeBytes + afterBytes;
  return result(kNewsSuccess);
}

os::Dictionary NewsService::crashDump(Call& call) {
  auto dump = stringField(call.payload, "dump");
  if (!dump) return result(kNewsFailure);
  // An empty dump file is still a dump the reader holds: refusing it would have the reader keep
  // it, and its ever-growing log, and send both again on every launch.
  auto text = dump->empty() ? std::optional<std::string>("") : decodeBase64Blob(*dump);
  if (!text) return result(kNewsFailure);
  std::lock_guard lock(mutex_);
  received_.crashDumps.keep(std::move(*text));
  return result(kNewsSuccess);
}

os::Dictionary NewsService::parseErrorReport(Call& call) {
  if (call.payload["id"].isNull()) return result(kNewsFailure);
  std::lock_guard lock(mutex_);
  received_.parseErrors.keep(stringField(call.payload, "error").value_or(""));
  return result(kNewsSuccess);
}

os::Dictionary NewsService::feedback(Call& call) {
  auto suggestion = stringField(call.payload, "suggestion");
  if (!suggestion || suggestion->empty()) return result(kNewsFailure);
  std::lock_guard lock(mutex_);
  received_.feedback.keep(std::move(*suggestion));
  return result(kNewsSuccess);
}

os::Dictionary NewsService::adClick(Call& call) {
  auto adid = integerField(call.payload, "appid");
  const Ad* ad = adid ? content_.ad(*adid) : nullptr;
  if (!ad) return result(kPromotionFailure);
  {
    std::lock_guard lock(mutex_);
    received_.adClicks.keep(ad->adid);
  }
  os::Dictionary data = result(kPromotionSuccess);
  data.set("callbackurl", call.base + "/adcb/" + std::to_string(ad->adid));
  data.set("useragent", kAdCallbackUserAgent);
  return data;
}

os::Dictionary NewsService::adList(Call& call) {
  os::Array items;
  for (const Ad& ad : content_.ads())
    if (ad.forArticles) items.push_back(adItem(ad, call.base));
  os::Dictionary data = result(kPromotionSuccess);
  data.set("adlist", std::move(items));
  data.set("lastpage", kLastPage);
  return data;
}

os::Dictionary NewsService::allAdList(Call& call) {
  auto pageno = integerField(call.payload, "pageno");
  if (!pageno || *pageno < 1) return result(kPromotionFailure);
  const auto& ads = content_.ads();
  std::size_t first = static_cast<std::size_t>(*pageno - 1) * kAdsPerPage;
  os::Array items;
  for (std::size_t i = first; i < ads.size() && i < first + kAdsPerPage; ++i) items.push_back(adItem(ads[i], call.base));
  os::Dictionary data = result(kPromotionSuccess);
  data.set("adlist", std::move(items));
  data.set("lastpage", first + kAdsPerPage >= ads.size() ? kLastPage : kMorePages);
  return data;
}

os::Value NewsService::answerVersionCheck(const std::string& cmd, const std::string& version, const std::string& base) {
  if (cmd != "verupdate") return refusalEnvelope(kUnknownOperation, 0, kNewsFailure, "unknown command");
  bool newer = !options_.latestVersion.empty() && compareVersions(options_.latestVersion, version) > 0;
  os::Dictionary data = result(newer ? 1 : 0);
  if (newer) data.set("content", options_.updateURL.empty() ? base + "/app/update" : options_.updateURL);
  return envelope(kOk, 0, std::move(data));
}

bool NewsService::recordAdCallback(long long adid, const std::string& userAgent) {
  if (!content_.ad(adid)) return false;
  std::lock_guard lock(mutex_);
  received_.adCallbacks.keep({adid, userAgent});
  return true;
}

void NewsService::setKeepsForms(bool keep) {
  std::lock_guard lock(mutex_);
  keepsForms_ = keep;
}

std::vector<os::Value> NewsService::forms(long long opcode) const {
  std::lock_guard lock(mutex_);
  std::vector<os::Value> out;
  for (const auto& [op, params] : forms_.entries())
    if (op == opcode) out.push_back(params);
  return out;
}

namespace {

constexpr const char* kStateMark = "newsd-state";
constexpr long long kStateVersion = 1;

bool isInteger(const os::Value& v) { return v.isNumber() && !v.isFloatingPoint() && v.typeCode() != 'c' && v.typeCode() != 'B'; }

}  // namespace

std::optional<std::string> NewsService::keepStateIn(const std::string& path) {
  const auto& files = os::FileManager::defaultManager();
  std::lock_guard lock(mutex_);
  statePath_.clear();
  stateLock_.reset();
  // Each server rewrites the whole file from what it holds, so a second one on the same file
  // would drop the first one's changes: one server per state file, the second refused at once.
  int holder = 0;
  os::Error lockError;
  auto stateLock = os::FileLock::tryExclusive(path + ".lock", &holder, &lockError);
  if (!stateLock) {
    if (lockError.code != EWOULDBLOCK) return "cannot lock " + path + ".lock: " + lockError.localizedDescription();
    return path + " is kept by another news server" + (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
           "; stop it first";
  }
  // What a server killed while saving left beside the file.
  files.removeAbandonedTemporaryFiles(path);
  bool isDirectory = false;
  if (!files.fileExistsAtPath(path, &isDirectory)) {
    statePath_ = path;
    stateLock_ = std::move(stateLock);
    return std::nullopt;
  }
  if (isDirectory) return path + " is a folder, not a state file";
  os::Error error;
  auto bytes = files.contentsAtPath(path, &error);
  if (!bytes) return "cannot read " + path + ": " + error.localizedDescription();

  std::map<std::string, std::vector<long long>> favourites;
  std::map<std::pair<std::string, long long>, int> votes;
  std::string problem;
  auto state = bytes->empty() ? std::nullopt : parseJSON(os::stringFromData(*bytes));
  if (bytes->empty()) {
    problem = "it is empty (cut short)";
  } else if (!state) {
    problem = "it is not whole JSON (cut short or garbage)";
  } else if (!state->isDictionary() || !isInteger((*state)[kStateMark]) || (*state)[kStateMark].intValue() != kStateVersion ||
             !(*state)["favourites"].isDictionary() || !(*state)["votes"].isArray()) {
    problem = "it is not a state file of this server";
  } else {
    for (const auto& [device, ids] : *(*state)["favourites"].dictionary()) {
      if (!ids.isArray()) problem = "the favourites of " + device + " are not a list";
      for (const os::Value& id : ids.isArray() ? *ids.array() : os::Array{}) {
        if (!isInteger(id)) problem = "a favourite of " + device + " is not an article id";
        else favourites[device].push_back(id.intValue());
      }
    }
    for (const os::Value& vote : *(*state)["votes"].array()) {
      const std::string* device = vote["device"].string();
      const os::Value& value = vote["vote"];
      if (!device || !isInteger(vote["id"]) || !isInteger(value) || (value.intValue() != kVotedUp && value.intValue() != kVotedDown))
        problem = "a vote is not a device, an article id and 2 or 3";
      else votes[{*device, vote["id"].intValue()}] = static_cast<int>(value.intValue());
    }
  }
  if (!problem.empty()) {
    // Kept for a person to look at; the next start begins afresh.
    std::string aside = os::refusedFileName(path);
    if (!files.moveItemAtPath(path, aside, &error))
      return path + " is refused: " + problem + "; it could not be moved aside: " + error.localizedDescription();
    return path + " is refused: " + problem + "; it was moved to " + aside + " and the next start begins with no favourites";
  }
  favourites_ = std::move(favourites);
  votes_ = std::move(votes);
  stateBytes_ = 0;
  for (const auto& [device, ids] : favourites_) stateBytes_ += favouriteBytes(device, ids);
  for (const auto& [key, vote] : votes_) stateBytes_ += voteBytes(key.first);
  voteCounts_.clear();
  for (const auto& [key, vote] : votes_) (vote == kVotedUp ? voteCounts_[key.second].first : voteCounts_[key.second].second) += 1;
  statePath_ = path;
  stateLock_ = std::move(stateLock);
  return std::nullopt;
}

bool NewsService::saveStateLocked() {
  if (statePath_.empty()) return true;
  os::Dictionary favourites;
  for (const auto& [device, ids] : favourites_) {
    if (ids.empty()) continue;
    os::Array list;
    for (long long id : ids) list.push_back(os::Value(id));
    favourites.set(device, os::Value(std::move(list)));
  }
  os::Array votes;
  for (const auto& [key, vote] : votes_)
    votes.push_back(os::Value(os::Dictionary{{"device", os::Value(key.first)}, {"id", os::Value(key.second)}, {"vote", os::Value(vote)}}));
  os::Value state(os::Dictionary{{kStateMark, os::Value(kStateVersion)},
                                 {"favourites", os::Value(std::move(favourites))},
                                 {"votes", os::Value(std::move(votes))}});
  os::Error error;
  // The rename is the folder's change: synced too, or a power loss could bring back the state
  // before a change already answered as done.
  const auto& files = os::FileManager::defaultManager();
  if (files.writeData(os::dataFromString(writeJSON(state)), statePath_, {.atomic = true, .mode = 0600}, &error) &&
      files.synchronizeDirectoryAtPath(os::deletingLastPathComponent(statePath_), &error))
    return true;
  std::fprintf(stderr, "newsd: cannot save the state to %s: %s\n", statePath_.c_str(), error.localizedDescription().c_str());
  return false;
}

std::size_t NewsService::keptStateBytes() const {
  // Counted afresh from what is kept, an empty entry included.
  std::lock_guard lock(mutex_);
  std::size_t bytes = 0;
  for (const auto& [device, ids] : favourites_) bytes += kStateEntryBytes + device.size() + ids.size() * kStateIdBytes;
  for (const auto& [key, vote] : votes_) bytes += voteBytes(key.first);
  return bytes;
}

bool NewsService::roomForLocked(std::size_t bytes) const {
  return stateBytes_ <= kStateByteLimit && bytes <= kStateByteLimit - stateBytes_;
}

Received NewsService::received() const {
  std::lock_guard lock(mutex_);
  Received out;
  out.feedback = received_.feedback.entries();
  out.crashDumps = received_.crashDumps.entries();
  out.parseErrors = received_.parseErrors.entries();
  for (long long id : received_.reads.entries()) ++out.reads[id];
  out.adClicks = received_.adClicks.entries();
  out.adCallbacks = received_.adCallbacks.entries();
  return out;
}

std::size_t NewsService::receivedBytes() const {
  std::lock_guard lock(mutex_);
  return received_.feedback.bytes() + received_.crashDumps.bytes() + received_.parseErrors.bytes() +
         received_.reads.bytes() + received_.adClicks.bytes() + received_.adCallbacks.bytes() + forms_.bytes();
}

int compareVersions(const std::string& a, const std::string& b) {
  auto parts = [](const std::string& s) {
    std::vector<long long> out;
    std::size_t i = 0;
    while (i <= s.size()) {
      std::size_t dot = s.find('.', i);
      if (dot == std::string::npos) dot = s.size();
      long long n = 0;
      for (std::size_t k = i; k < dot && k < i + 9; ++k) {
        if (s[k] < '0' || s[k] > '9') break;
        n = n * 10 + (s[k] - '0');
      }
      out.push_back(n);
      i = dot + 1;
    }
    while (!out.empty() && out.back() == 0) out.pop_back();
    return out;
  };
  auto x = parts(a), y = parts(b);
  for (std::size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
    long long l = i < x.size() ? x[i] : 0, r = i < y.size() ? y[i] : 0;
    if (l != r) return l < r ? -1 : 1;
  }
  return 0;
}

}  // namespace newsd
