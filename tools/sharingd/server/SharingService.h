#pragma once
// The state and the answers of the sharing service, apart from HTTP: per application key, the
// users (one service id per device), the share bars of the content identifiers with their
// comments, likes and share counts, the platform accounts and tokens of every user, friends,
// follows, custom accounts, application information and operation reports.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "tools/common/NewestKept.h"

namespace sharingd {

// One numbered action as the service received it.
struct ActionRequest {
  int action = -1;
  std::string method;
  std::string appKey;
  std::vector<std::string> pathArguments;  // the segments after the application key, unescaped
  os::Dictionary parameters;               // the deciphered query or body
  bool hasPicture = false;
};

struct ActionAnswer {
  int st = 200;
  std::string message = "ok";
  os::Dictionary data;
};

// Status codes of the service's refusals.
inline constexpr int kStatusNoSuchContent = 5001;
inline constexpr int kStatusBadParameters = 5002;
inline constexpr int kStatusBadSecret = 5003;
inline constexpr int kStatusNoUser = 5004;
inline constexpr int kStatusTokenExpired = 5027;
inline constexpr int kStatusShareRefused = 510;
// The service keeps no more of what peers send (SharingService::kStateByteLimit).
inline constexpr int kStatusServiceFull = 503;

class SharingService {
 public:
  ActionAnswer answer(const ActionRequest& request);

  // What the service keeps of what peers send (applications, users, share bars and their comments
  // and likes, accounts, follows, reports) is named by the peers: past this many bytes, by the
  // measure keptBytes() uses, every action but those that let go of something is answered
  // kStatusServiceFull. One request may take it past the bound by as much as it carries.
  static constexpr std::size_t kStateByteLimit = tools::kRecordByteLimit;
  // The applications it keeps apart at most: a request that does not decipher under its own
  // application's key is tried under every other one's, so each one more costs every such request.
  // A request naming an application past them is answered kStatusServiceFull.
  static constexpr std::size_t kAppLimit = 64;
  std::size_t keptBytes() const;

  // What tests and the program set or read directly.
  void setAccount(const std::string& appKey, const std::string& uid, const std::string& platform, os::Dictionary account);
  std::optional<os::Dictionary> account(const std::string& appKey, const std::string& uid, const std::string& platform) const;
  std::optional<std::string> uidForDevice(const std::string& appKey, const std::string& device) const;
  std::vector<os::Dictionary> comments(const std::string& appKey, const std::string& entityKey) const;
  // The newest operation reports of the application, oldest first.
  std::vector<os::Dictionary> operationReports(const std::string& appKey) const;
  std::optional<os::Dictionary> appInfo(const std::string& appKey) const;
  // The application keys the service has heard from.
  std::vector<std::string> appKeys() const;
  // The friends every platform answers with, by friend id (name, link_name, pinyin, usid,
  // profile_image_url); three sample friends until set.
  void setFriends(os::Dictionary friends);
  // Users, their platform accounts and bindings, and the platform keys the application posted
  // are kept in this file from now on (each change written to a new file renamed over it), as a
  // real service keeps them, so a reader signed in during an earlier run is still signed in.
  // What the file holds is read now; a missing file starts empty. A file that cannot be read or
  // is damaged changes nothing and is not written over: false, with the reason in `error`.
  bool keepStateIn(std::string path, std::string* error = nullptr);

 private:
  struct Bar {
    std::string descriptor, name, entityKey, sessionId;
    std::set<std::string> likes;
    std::vector<os::Dictionary> comments;
    int shares = 0;
    int views = 0;
  };
  struct App {
    std::map<std::string, std::string> uidByDevice;
    std::map<std::string, Bar> barsByKey;  // entity key -> bar
    std::map<std::string, std::string> keyByDescriptor;
    std::map<std::string, std::map<std::string, os::Dictionary>> accounts;  // uid -> platform -> account
    std::map<std::string, std::set<std::string>> bindings;                  // uid -> platforms
    std::map<std::string, os::Dictionary> customAccounts;                    // uid -> account
    std::map<std::string, std::set<std::string>> follows;                    // platform/usid -> followed
    // Only taken note of: the newest, within the bounds every local service's record keeps to.
    tools::NewestKept<os::Dictionary> reports;
    std::optional<os::Dictionary> appInfo;
    std::uint64_t nextUser = 1;
  };

  ActionAnswer answerLocked(const ActionRequest& request);
  std::size_t keptBytesLocked() const;
  void saveStateLocked();
  std::string uidFor(App& app, const os::Dictionary& parameters);
  Bar* barFor(App& app, const std::string& entityKey);
  os::Dictionary barData(const Bar& bar, const std::string& uid) const;
  ActionAnswer share(App& app, const ActionRequest& request, const std::string& uid);

  mutable std::mutex mutex_;
  std::map<std::string, App> apps_;
  std::optional<os::Dictionary> friends_;
  std::string statePath_;
  std::string savedState_;  // what the file holds, so unchanged state is not written again
};

}  // namespace sharingd
