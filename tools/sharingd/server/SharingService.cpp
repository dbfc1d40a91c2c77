#include "tools/sharingd/server/SharingService.h"

#include <algorithm>

#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "os/core/DetachedValue.h"
#include "os/core/String.h"
#include "os/store/FileManager.h"
#include "os/crypto/Digest.h"
#include "os/runtime/Clock.h"
#include "tools/sharingd/server/SharingWire.h"

namespace sharingd {

namespace {

// The application information as handlers read it: platform name -> {"key", "secret"}, made of
// the entries the application posted for the platform. QQ's handler posts "qzone_key" and
// "qzone_secret" and reads them back from the "qzone" entry; no other platform's entries are
// known.
os::Dictionary appInfoAnswer(const os::Dictionary& posted) {
  static const struct {
    const char* posted;
    const char* platform;
    const char* field;
  } kEntries[] = {{"qzone_key", "qzone", "key"}, {"qzone_secret", "qzone", "secret"}};
  os::Dictionary answer;
  for (const auto& entry : kEntries) {
    if (!posted[entry.posted].isString()) continue;
    os::Dictionary platform = answer[entry.platform].isDictionary() ? *answer[entry.platform].dictionary() : os::Dictionary{};
    platform.set(entry.field, posted[entry.posted]);
    answer.set(entry.platform, os::Value(std::move(platform)));
  }
  return answer;
}

constexpr std::size_t kCommentPage = 20;
// The base parameters every request carries; application information is what is left.
const char* const kBaseKeys[] = {"mac", "sharedudid", "sdkv", "pcv", "en", "de", "os", "dt", "tp", "ak", "uid", "ek", "wid"};

std::string text(const os::Dictionary& d, const char* key) { return d[key].stringOr(); }

ActionAnswer refusal(int st, std::string message) {
  ActionAnswer a;
  a.st = st;
  a.message = std::move(message);
  return a;
}

std::string reversedCharacters(const std::string& s) {
  std::vector<std::string> characters;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t length = 1;
    os::decodeUTF8At(s, i, &length);
    characters.push_back(s.substr(i, length));
    i += length;
  }
  std::string out;
  for (auto it = characters.rbegin(); it != characters.rend(); ++it) out += *it;
  return out;
}

bool tokenLive(const os::Dictionary& account) {
  const os::Value& expiration = account["expiration"];
  return !expiration.isNumber() || expiration.doubleValue() >= os::Clock::now();
}

os::Dictionary stringsToDictionary(const std::map<std::string, std::string>& strings) {
  os::Dictionary d;
  for (const auto& [key, value] : strings) d.set(key, os::Value(value));
  return d;
}

os::Array setToArray(const std::set<std::string>& members) {
  os::Array a;
  for (const auto& member : members) a.emplace_back(member);
  return a;
}

std::set<std::string> arrayToSet(const os::Value& value) {
  std::set<std::string> members;
  if (const os::Array* a = value.array())
    for (const auto& member : *a)
      if (member.isString()) members.insert(*member.string());
  return members;
}

template <class T, class F>
std::map<std::string, T> dictionaryToMap(const os::Value& value, F convert) {
  std::map<std::string, T> out;
  if (const os::Dictionary* d = value.dictionary())
    for (const auto& [key, entry] : *d) out[key] = convert(entry);
  return out;
}

// Kept for the service's life: its own copy, not the read file's blocks.
os::Dictionary dictionaryOf(const os::Value& value) {
  return value.isDictionary() ? os::detached(*value.dictionary()) : os::Dictionary{};
}

bool isDecimal(const std::string& s, bool negativeAllowed) {
  std::size_t digits = negativeAllowed && s.starts_with('-') ? 1 : 0;
  return s.size() > digits && s.find_first_not_of("0123456789", digits) == std::string::npos;
}

// The operation code each action carries under "opid" (none for the others).
const char* operationOf(int action) {
  switch (action) {
    case 0: return "5";
    case 1: return "6";
    case 2: return "2";
    case 3: return "1";
    case 4: return "9";
    case 5: return "17";
    case 6: return "13";
    case 7: return "16";
    case 8: return "15";
    case 9: return "10";
    case 11: return "12";
    default: return nullptr;
  }
}

// What every action's parameters must hold whatever the service's state: the base parameters'
// application key, the action's operation code, and the forms of the fields the action reads.
std::optional<ActionAnswer> malformed(const ActionRequest& request) {
  const os::Dictionary& p = request.parameters;
  auto bad = [](std::string message) { return refusal(kStatusBadParameters, std::move(message)); };
  if (request.action == 18) {
    // Only the report and the user id: not the base parameters.
    for (const auto& [key, value] : p)
      if (key != "param" && key != "uid") return bad("the operation report carries only param and uid, not " + key);
    return std::nullopt;
  }
  if (text(p, "ak") != request.appKey) return bad("ak differs from the application key of the path");
  if (const char* operation = operationOf(request.action); operation && text(p, "opid") != operation)
    return bad(std::string("opid must be ") + operation);
  switch (request.action) {
    case 2:
      if (!isDecimal(text(p, "lct"), true)) return bad("lct must be a time in milliseconds or -1");
      break;
    case 5: {
      const std::string type = text(p, "type");
      if (type != "common" && type != "shake") return bad("type must be common or shake");
      auto targets = parseJSONObject(text(p, "sns"));
      if (!targets) return bad("sns must be a JSON object of platform names");
      bool ownScreen = false;
      for (const auto& [platform, usid] : *targets) {
        if (!usid.isString()) return bad("the usid of " + platform + " must be a string");
        ownScreen = ownScreen || usid.string()->empty();
      }
      // Platforms the client shares to itself stand with an empty usid and mark the share "tp" 1.
      if (ownScreen && text(p, "tp") != "1") return bad("tp must be 1 when a platform has no usid");
      if (p["ftype"].isString() && (!p["furl"].isString() || (text(p, "ftype") != "0" && text(p, "ftype") != "1" &&
                                                             text(p, "ftype") != "2")))
        return bad("ftype must be 0, 1 or 2 beside furl");
      break;
    }
    case 14: {
      const std::string gender = text(p, "gender");
      if (p["gender"].isString() && gender != "1" && gender != "0") return bad("gender must be 1 or 0");
      if (p["extend"].isString() && !parseJSONObject(text(p, "extend"))) return bad("extend must be a JSON object");
      break;
    }
    case 15: {
      const std::string platform = text(p, "to");
      if (p["openid"].isString() && text(p, "usid") != text(p, "openid"))
        return bad("usid must be the open id when an open id is given");
      if (p["expires_in"].isString() && !isDecimal(text(p, "expires_in"), true))
        return bad("expires_in must be whole seconds");
      break;
    }
    default:
      break;
  }
  return std::nullopt;
}

// A tree node's links and colour besides its value.
constexpr std::size_t kNodeBytes = 4 * sizeof(void*);

std::size_t heldBytes(const std::string& text) { return text.size(); }
std::size_t heldBytes(const os::Dictionary& dictionary) { return tools::heldBytes(dictionary); }

// What a set of texts and a map by text hold, near enough to bound them by.
std::size_t heldBytes(const std::set<std::string>& texts) {
  std::size_t bytes = 0;
  for (const auto& text : texts) bytes += kNodeBytes + sizeof(text) + text.size();
  return bytes;
}

template <typename V>
std::size_t heldBytes(const std::map<std::string, V>& map) {
  std::size_t bytes = 0;
  for (const auto& [key, value] : map) bytes += kNodeBytes + sizeof(key) + sizeof(value) + key.size() + heldBytes(value);
  return bytes;
}

}  // namespace

std::size_t SharingService::keptBytesLocked() const {
  std::size_t bytes = 0;
  for (const auto& [appKey, app] : apps_) {
    bytes += kNodeBytes + sizeof(App) + appKey.size() + heldBytes(app.uidByDevice) + heldBytes(app.keyByDescriptor) +
             heldBytes(app.accounts) + heldBytes(app.bindings) + heldBytes(app.customAccounts) + heldBytes(app.follows) +
             app.reports.bytes() + (app.appInfo ? tools::heldBytes(*app.appInfo) : 0);
    for (const auto& [key, bar] : app.barsByKey) {
      bytes += kNodeBytes + sizeof(bar) + key.size() + bar.descriptor.size() + bar.name.size() + bar.entityKey.size() +
               bar.sessionId.size() + heldBytes(bar.likes);
      for (const auto& comment : bar.comments) bytes += sizeof(comment) + tools::heldBytes(comment);
    }
  }
  return bytes;
}

std::size_t SharingService::keptBytes() const {
  std::lock_guard lock(mutex_);
  return keptBytesLocked();
}

ActionAnswer SharingService::answer(const ActionRequest& request) {
  std::lock_guard lock(mutex_);
  // Unbinding and deleting an authorisation only let go of what is kept.
  if (request.action != 7 && request.action != 8 && keptBytesLocked() > kStateByteLimit)
    return refusal(kStatusServiceFull, "the service keeps no more");
  if (!apps_.count(request.appKey) && apps_.size() >= kAppLimit)
    return refusal(kStatusServiceFull, "the service keeps no more applications");
  ActionAnswer answer = answerLocked(request);
  saveStateLocked();
  return answer;
}

bool SharingService::keepStateIn(std::string path, std::string* error) {
  std::lock_guard lock(mutex_);
  auto fail = [&](const std::string& why) {
    if (error) *error = "the state file " + path + " " + why;
    return false;
  };
  auto& files = os::FileManager::defaultManager();
  // What a service killed while saving left beside the file.
  files.removeAbandonedTemporaryFiles(path);
  if (!files.fileExistsAtPath(path)) {
    // A first run: the file is made at the first change.
    statePath_ = std::move(path);
    savedState_.clear();
    return true;
  }
  os::Error readError;
  auto bytes = files.contentsAtPath(path, &readError);
  if (!bytes) return fail("cannot be read: " + readError.localizedDescription());
  const std::string saved = os::stringFromData(*bytes);
  auto state = objectFromJSONString(saved);
  if (!state || !state->isDictionary()) return fail("is damaged: not a JSON object");
  // Everything is checked before anything is taken, so a damaged file changes nothing.
  std::map<std::string, App> apps;
  for (const auto& [appKey, kept] : *state->dictionary()) {
    if (!kept.isDictionary()) return fail("is damaged: application " + appKey + " is not an object");
    for (const char* field : {"devices", "accounts", "bindings", "custom", "follows", "app_info"})
      if (!kept[field].isNull() && !kept[field].isDictionary())
        return fail("is damaged: " + std::string(field) + " of application " + appKey + " is not an object");
    if (!kept["next_user"].isNull() && !kept["next_user"].isNumber())
      return fail("is damaged: next_user of application " + appKey + " is not a number");
    App& app = apps[appKey];
    app.uidByDevice = dictionaryToMap<std::string>(kept["devices"], [](const os::Value& v) { return v.stringOr(); });
    app.accounts = dictionaryToMap<std::map<std::string, os::Dictionary>>(kept["accounts"], [](const os::Value& v) {
      return dictionaryToMap<os::Dictionary>(v, dictionaryOf);
    });
    app.bindings = dictionaryToMap<std::set<std::string>>(kept["bindings"], arrayToSet);
    app.customAccounts = dictionaryToMap<os::Dictionary>(kept["custom"], dictionaryOf);
    app.follows = dictionaryToMap<std::set<std::string>>(kept["follows"], arrayToSet);
    if (kept["app_info"].isDictionary()) app.appInfo = dictionaryOf(kept["app_info"]);
    app.nextUser = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(kept["next_user"].unsignedValue()));
  }
  for (auto& [appKey, app] : apps) apps_[appKey] = std::move(app);
  statePath_ = std::move(path);
  savedState_ = saved;
  return true;
}

void SharingService::saveStateLocked() {
  if (statePath_.empty()) return;
  os::Dictionary state;
  for (const auto& [appKey, app] : apps_) {
    os::Dictionary accounts, bindings, custom, follows;
    for (const auto& [uid, platforms] : app.accounts) {
      os::Dictionary byPlatform;
      for (const auto& [platform, account] : platforms) byPlatform.set(platform, os::Value(account));
      accounts.set(uid, os::Value(std::move(byPlatform)));
    }
    for (const auto& [uid, platforms] : app.bindings) bindings.set(uid, os::Value(setToArray(platforms)));
    for (const auto& [uid, account] : app.customAccounts) custom.set(uid, os::Value(account));
    for (const auto& [key, followed] : app.follows) follows.set(key, os::Value(setToArray(followed)));
    os::Dictionary kept{{"devices", os::Value(stringsToDictionary(app.uidByDevice))},
                        {"accounts", os::Value(std::move(accounts))},
                        {"bindings", os::Value(std::move(bindings))},
                        {"custom", os::Value(std::move(custom))},
                        {"follows", os::Value(std::move(follows))},
                        {"next_user", os::Value(static_cast<unsigned long long>(app.nextUser))}};
    // The platform keys the application posted: the QQ token check and the application
    // information answer need them after a restart too.
    if (app.appInfo) kept.set("app_info", os::Value(*app.appInfo));
    state.set(appKey, os::Value(std::move(kept)));
  }
  auto text = JSONString(os::Value(std::move(state)));
  if (!text || *text == savedState_) return;
  // Tokens are in it: readable by its owner only.
  if (os::FileManager::defaultManager().writeData(os::dataFromString(*text), statePath_, {.atomic = true, .mode = 0600}))
    savedState_ = std::move(*text);
}

std::string SharingService::uidFor(App& app, const os::Dictionary& parameters) {
  std::string uid = text(parameters, "uid");
  if (!uid.empty()) return uid;
  std::string device = text(parameters, "sharedudid");
  auto known = app.uidByDevice.find(device);
  if (known != app.uidByDevice.end()) return known->second;
  uid = "u" + std::to_string(app.nextUser++);
  app.uidByDevice[device] = uid;
  return uid;
}

SharingService::Bar* SharingService::barFor(App& app, const std::string& entityKey) {
  auto found = app.barsByKey.find(entityKey);
  return found == app.barsByKey.end() ? nullptr : &found->second;
}

os::Dictionary SharingService::barData(const Bar& bar, const std::string& uid) const {
  return os::Dictionary{{"ek", os::Value(bar.entityKey)},
                        {"sid", os::Value(bar.sessionId)},
                        {"cm", os::Value(static_cast<int>(bar.comments.size()))},
                        {"lk", os::Value(static_cast<int>(bar.likes.size()))},
                        {"sn", os::Value(bar.shares)},
                        {"pv", os::Value(bar.views)},
                        {"fr", os::Value(bar.likes.count(uid) ? 1 : 0)},
                        {"uid", os::Value(uid)}};
}

ActionAnswer SharingService::share(App& app, const ActionRequest& request, const std::string& uid) {
  auto targets = parseJSONObject(text(request.parameters, "sns"));
  if (!targets || targets->empty()) return refusal(kStatusBadParameters, "no platforms");
  ActionAnswer answer;
  bool refused = false;
  for (const auto& [platform, usid] : *targets) {
    int st = 200;
    if (!usid.stringOr().empty()) {
      auto account = app.accounts[uid].find(platform);
      bool ok = account != app.accounts[uid].end() && text(account->second, "usid") == usid.stringOr() &&
                tokenLive(account->second);
      st = ok ? 200 : kStatusTokenExpired;
    }
    refused = refused || st != 200;
    answer.data.set(platform, os::Value(os::Dictionary{{"st", os::Value(st)}}));
  }
  if (Bar* bar = barFor(app, request.pathArguments.empty() ? "" : request.pathArguments[0])) {
    if (!refused) ++bar->shares;
    answer.data.set("sn", os::Value(bar->shares));
  }
  if (refused) {
    answer.st = kStatusShareRefused;
    answer.message = "refused on some platforms";
  }
  return answer;
}

ActionAnswer SharingService::answerLocked(const ActionRequest& request) {
  if (auto refused = malformed(request)) return *refused;
  App& app = apps_[request.appKey];
  const os::Dictionary& p = request.parameters;
  const std::string arg = request.pathArguments.empty() ? "" : request.pathArguments[0];
  switch (request.action) {
    case 3: {
      std::string descriptor = text(p, "dc");
      if (descriptor.empty()) return refusal(kStatusBadParameters, "dc must be the percent-escaped descriptor");
      std::string uid = uidFor(app, p);
      auto& key = app.keyByDescriptor[descriptor];
      if (key.empty()) {
        key = "ek" + os::md5Hex(request.appKey + "\n" + descriptor).substr(0, 16);
        Bar& bar = app.barsByKey[key];
        bar.descriptor = descriptor;
        bar.entityKey = key;
        bar.sessionId = "s" + os::md5Hex(key).substr(0, 8);
      }
      Bar& bar = app.barsByKey[key];
      if (p["name"].isString()) bar.name = text(p, "name");
      ++bar.views;
      return ActionAnswer{200, "ok", barData(bar, uid)};
    }
    case 0: {
      Bar* bar = barFor(app, arg);
      if (!bar) return refusal(kStatusNoSuchContent, "no such content");
      if (text(p, "ct").empty()) return refusal(kStatusBadParameters, "empty comment");
      std::string uid = uidFor(app, p);
      os::Dictionary comment{{"uid", os::Value(uid)},
                             {"ct", os::Value(text(p, "ct"))},
                             {"nk", os::Value("读者" + uid)},
                             {"dt", os::Value(static_cast<long long>(os::Clock::now() * 1000))}};
      if (p["lc"].isString()) comment.set("lc", p["lc"]);
      if (p["tpt"].isString()) comment.set("tpt", p["tpt"]);
      comment.set("pic", os::Value(request.hasPicture));
      // Kept for as long as the bar: its own copy of what the request's tree holds.
      bar->comments.push_back(os::detached(comment));
      ActionAnswer answer{200, "ok", os::Dictionary{{"cm", os::Value(static_cast<int>(bar->comments.size()))}}};
      if (auto targets = parseJSONObject(text(p, "sns"))) {
        os::Dictionary shared;
        for (const auto& [platform, usid] : *targets) {
          auto account = app.accounts[uid].find(platform);
          bool ok = account != app.accounts[uid].end() && tokenLive(account->second);
          shared.set(platform, os::Value(os::Dictionary{{"st", os::Value(ok ? 200 : kStatusTokenExpired)}}));
        }
        answer.data.set("sns", os::Value(std::move(shared)));
      }
      return answer;
    }
    case 1: {
      Bar* bar = barFor(app, arg);
      if (!bar) return refusal(kStatusNoSuchContent, "no such content");
      std::string uid = uidFor(app, p);
      if (text(p, "st") == "1")
        bar->likes.insert(uid);
      else if (text(p, "st") == "0")
        bar->likes.erase(uid);
      else
        return refusal(kStatusBadParameters, "like must be 1 or 0");
      return ActionAnswer{200, "ok",
                          os::Dictionary{{"lk", os::Value(static_cast<int>(bar->likes.size()))},
                                         {"fr", os::Value(bar->likes.count(uid) ? 1 : 0)}}};
    }
    case 2: {
      Bar* bar = barFor(app, arg);
      if (!bar) return refusal(kStatusNoSuchContent, "no such content");
      long long before = os::longLongValue(text(p, "lct"));
      os::Array page;
      for (auto it = bar->comments.rbegin(); it != bar->comments.rend() && page.size() < kCommentPage; ++it)
        if (before <= 0 || (*it)["dt"].intValue() < before) page.emplace_back(*it);
      return ActionAnswer{200, "ok",
                          os::Dictionary{{"cm", os::Value(static_cast<int>(bar->comments.size()))},
                                         {"comments", os::Value(std::move(page))}}};
    }
    case 4: {
      Bar* bar = barFor(app, arg);
      if (!bar) return refusal(kStatusNoSuchContent, "no such content");
      ++bar->shares;
      return ActionAnswer{200, "ok", os::Dictionary{{"sn", os::Value(bar->shares)}}};
    }
    case 5:
      return share(app, request, uidFor(app, p));
    case 6: {
      if (text(p, "sns").empty()) return refusal(kStatusBadParameters, "no platform");
      app.bindings[uidFor(app, p)].insert(text(p, "sns"));
      return ActionAnswer{};
    }
    case 7:
      app.bindings.erase(uidFor(app, p));
      return ActionAnswer{};
    case 8:
      app.accounts[uidFor(app, p)].erase(text(p, "via"));
      return ActionAnswer{};
    case 9: {
      // The reader authorised the platform on the service's page: a fresh account for a month.
      std::string platform = text(p, "via");
      if (platform.empty()) return refusal(kStatusBadParameters, "via is required");
      std::string uid = uidFor(app, p);
      std::string usid = std::to_string(100000 + (app.nextUser++) * 7919 % 900000);
      constexpr double kLifetime = 30 * 86400.0;
      os::Dictionary account{{"usid", os::Value(usid)},
                             {"access_token", os::Value("tk-" + platform + "-" + usid)},
                             {"username", os::Value("用户" + usid)},
                             {"expiration", os::Value(os::Clock::now() + kLifetime)}};
      app.accounts[uid][platform] = account;
      return ActionAnswer{200, "ok",
                          os::Dictionary{{"uid", os::Value(uid)},
                                         {"via", os::Value(platform)},
                                         {"usid", os::Value(usid)},
                                         {"access_token", account["access_token"]},
                                         {"username", account["username"]},
                                         {"expires_in", os::Value(std::to_string(static_cast<long long>(kLifetime)))}}};
    }
    case 10: {
      os::Dictionary accounts;
      for (const auto& [platform, account] : app.accounts[arg]) accounts.set(platform, os::Value(account));
      return ActionAnswer{200, "ok", os::Dictionary{{"uid", os::Value(arg)}, {"accounts", os::Value(std::move(accounts))}}};
    }
    case 11: {
      for (const auto& [uid, platforms] : app.accounts) {
        auto found = platforms.find(text(p, "sns"));
        if (found != platforms.end() && text(found->second, "usid") == arg)
          return ActionAnswer{200, "ok",
                              os::Dictionary{{"usid", os::Value(arg)},
                                             {"username", found->second["username"]},
                                             {"icon", found->second["icon"]}}};
      }
      return refusal(kStatusNoUser, "no such user");
    }
    case 12: {
      if (friends_) return ActionAnswer{200, "ok", os::Dictionary{{"friends", os::Value(*friends_)}}};
      static const char* const kNames[][2] = {{"张三", "zhangsan"}, {"李四", "lisi"}, {"王五", "wangwu"}};
      os::Dictionary friends;
      for (int i = 0; i < 3; ++i) {
        std::string id = "f" + std::to_string(i + 1) + "-" + arg;
        // The link name is the platform's screen name; the "@" is the client's.
        friends.set(id, os::Value(os::Dictionary{{"name", os::Value(kNames[i][0])},
                                                 {"link_name", os::Value(kNames[i][0])},
                                                 {"pinyin", os::Value(kNames[i][1])},
                                                 {"usid", os::Value(id)},
                                                 {"profile_image_url", os::Value("http://127.0.0.1/img/" + id + ".png")}}));
      }
      return ActionAnswer{200, "ok", os::Dictionary{{"friends", os::Value(std::move(friends))}}};
    }
    case 13: {
      auto& followed = app.follows[text(p, "to") + "/" + arg];
      for (const auto& id : os::split(text(p, "fusid"), ","))
        if (!id.empty()) followed.insert(id);
      return ActionAnswer{200, "ok", os::Dictionary{{"followed", os::Value(static_cast<int>(followed.size()))}}};
    }
    case 14: {
      if (text(p, "username").empty()) return refusal(kStatusBadParameters, "no user name");
      app.customAccounts[arg] = p;
      return ActionAnswer{200, "ok", os::Dictionary{{"uid", os::Value(arg)}}};
    }
    case 15: {
      std::string platform = text(p, "to");
      if (platform.empty() || text(p, "usid").empty() || text(p, "access_token").empty())
        return refusal(kStatusBadParameters, "platform, usid and access_token are required");
      // The QQ platforms' tokens are good only with the QQ application they were issued to: once
      // the app has told its QQ application (its "qzone_key" and "qzone_secret"), a QZone or QQ
      // token carries that application's "app_id" and "app_secret".
      if ((platform == "qzone" || platform == "qq") && app.appInfo && (*app.appInfo)["qzone_key"].isString() &&
          (p["app_id"] != (*app.appInfo)["qzone_key"] || p["app_secret"] != (*app.appInfo)["qzone_secret"]))
        return refusal(kStatusBadParameters, "app_id and app_secret must be the QQ application's for " + platform);
      std::string uid = uidFor(app, p);
      os::Dictionary account{{"usid", p["usid"]},
                             {"access_token", p["access_token"]},
                             {"username", os::Value("用户" + text(p, "usid"))}};
      if (p["expires_in"].isString())
        account.set("expiration", os::Value(os::Clock::now() + os::doubleValue(text(p, "expires_in"))));
      if (p["openid"].isString()) account.set("openid", p["openid"]);
      if (p["refresh_token"].isString()) account.set("refresh_token", p["refresh_token"]);
      app.accounts[uid][platform] = std::move(account);
      return ActionAnswer{200, "ok", os::Dictionary{{"uid", os::Value(uid)}}};
    }
    case 16:
      return ActionAnswer{200, "ok", appInfoAnswer(app.appInfo.value_or(os::Dictionary{}))};
    case 17: {
      std::string uid = uidFor(app, p);
      os::Dictionary states;
      for (const auto& platform : os::split(text(p, "platforms"), ",")) {
        if (platform.empty()) continue;
        auto found = app.accounts[uid].find(platform);
        bool live = found != app.accounts[uid].end() && tokenLive(found->second);
        states.set(platform, os::Value(os::Dictionary{{"st", os::Value(live ? 200 : kStatusTokenExpired)}}));
      }
      return ActionAnswer{200, "ok", std::move(states)};
    }
    case 18: {
      auto report = parseJSONObject(text(p, "param"));
      if (!report) return refusal(kStatusBadParameters, "param is not a JSON object");
      app.reports.keep(std::move(*report));
      return ActionAnswer{};
    }
    case 19: {
      if (text(p, "ombra_secret") != reversedCharacters(request.appKey)) return refusal(kStatusBadSecret, "bad secret");
      // Each platform's handler posts its own keys: they add to what the others posted.
      os::Dictionary info = app.appInfo.value_or(os::Dictionary{});
      for (const auto& [key, value] : p) info.set(key, value);
      for (const char* key : kBaseKeys) info.remove(key);
      info.remove("ombra_secret");
      app.appInfo = os::detached(info);
      return ActionAnswer{};
    }
    default:
      return refusal(kStatusBadParameters, "unknown action");
  }
}

void SharingService::setAccount(const std::string& appKey, const std::string& uid, const std::string& platform,
                                os::Dictionary account) {
  std::lock_guard lock(mutex_);
  apps_[appKey].accounts[uid][platform] = std::move(account);
  saveStateLocked();
}

std::optional<os::Dictionary> SharingService::account(const std::string& appKey, const std::string& uid,
                                                      const std::string& platform) const {
  std::lock_guard lock(mutex_);
  auto app = apps_.find(appKey);
  if (app == apps_.end()) return std::nullopt;
  auto user = app->second.accounts.find(uid);
  if (user == app->second.accounts.end()) return std::nullopt;
  auto found = user->second.find(platform);
  if (found == user->second.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> SharingService::uidForDevice(const std::string& appKey, const std::string& device) const {
  std::lock_guard lock(mutex_);
  auto app = apps_.find(appKey);
  if (app == apps_.end()) return std::nullopt;
  auto found = app->second.uidByDevice.find(device);
  if (found == app->second.uidByDevice.end()) return std::nullopt;
  return found->second;
}

std::vector<os::Dictionary> SharingService::comments(const std::string& appKey, const std::string& entityKey) const {
  std::lock_guard lock(mutex_);
  auto app = apps_.find(appKey);
  if (app == apps_.end()) return {};
  auto bar = app->second.barsByKey.find(entityKey);
  return bar == app->second.barsByKey.end() ? std::vector<os::Dictionary>{} : bar->second.comments;
}

std::vector<os::Dictionary> SharingService::operationReports(const std::string& appKey) const {
  std::lock_guard lock(mutex_);
  auto app = apps_.find(appKey);
  return app == apps_.end() ? std::vector<os::Dictionary>{} : app->second.reports.entries();
}

std::optional<os::Dictionary> SharingService::appInfo(const std::string& appKey) const {
  std::lock_guard lock(mutex_);
  auto app = apps_.find(appKey);
  return app == apps_.end() ? std::nullopt : app->second.appInfo;
}

std::vector<std::string> SharingService::appKeys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> keys;
  for (const auto& [key, app] : apps_) keys.push_back(key);
  return keys;
}

void SharingService::setFriends(os::Dictionary friends) {
  std::lock_guard lock(mutex_);
  friends_ = std::move(friends);
}

}  // namespace sharingd
