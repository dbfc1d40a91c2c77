#pragma once
// One request to the sharing service: a numbered action with its path, body and sending way. The
// query and the body travel enciphered; the answer is deciphered and read as JSON.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Error.h"
#include "os/core/Value.h"
#include "os/net/URLRequest.h"

class OBSCommentEntity;
class OBSSNSEntity;
class OBSocialAccountEntity;
class OBSocialCustomAccount;
class OBSocialResponseEntity;
class TLHTTPClient;
class TLHTTPRequestOperation;

using OBSocialCompletion = std::function<void(const std::shared_ptr<OBSocialResponseEntity>& response)>;

namespace os {
class Image;
}

// A comment as it stood when it was posted (action 0).
struct OBSocialCommentPost {
  std::shared_ptr<OBSCommentEntity> comment;
  std::optional<std::string> templateText;
  std::shared_ptr<os::Image> image;
  os::Dictionary shareTo;
};

// What the caller of an action gives: plain values by name, the completion, and the objects some
// actions read.
struct OBSocialJobParams {
  os::Dictionary values;
  OBSocialCompletion completion;
  std::shared_ptr<OBSocialAccountEntity> snsAccount;     // "snsAccount" (action 15)
  std::shared_ptr<OBSocialCustomAccount> customAccount;  // "customAccount" (action 14)
  std::uint64_t accountsRevision = 0;                    // the accounts as they stood when listed (action 10)
  // What a share (action 5) or a comment (action 0) says, taken when it is posted: a queued job is
  // rebuilt right before it goes, when a later post has replaced the data manager's own. Without
  // them the data manager's are read.
  std::shared_ptr<OBSSNSEntity> snsEntity;
  std::shared_ptr<const OBSocialCommentPost> commentPost;
};

enum OBSocialNetworkType : int {
  OBSocialNetworkTypePost = 0,
  OBSocialNetworkTypeGet = 1,
  OBSocialNetworkTypeMultipart = 2,
  OBSocialNetworkTypeNone = 3,
};

inline constexpr double kOBSocialRequestTimeout = 60;
inline constexpr const char* kOBSocialResponseErrorDomain = "OBSocialResponseErrorDomain";

class OBSocialJob : public std::enable_shared_from_this<OBSocialJob> {
 public:
  using Finished = std::function<void(const std::shared_ptr<OBSocialJob>& job,
                                      const std::shared_ptr<OBSocialResponseEntity>& response,
                                      const std::optional<os::Dictionary>& answer)>;

  std::int32_t actionType = -1;
  std::optional<std::string> pathString;  // relative to the service's base URL
  std::optional<os::Dictionary> baseDic;  // the body; "pic" holds image bytes
  int networkType = OBSocialNetworkTypeNone;
  OBSocialJobParams paramDic;
  OBSocialCompletion completion;
  // Its place among the jobs its data manager has queued (1 for the first), so a caller can tell
  // which of them its own call queued.
  std::uint64_t queueSerial = 0;

  // The request as it goes on the wire: the query replaced by "ud_get=" and the enciphered
  // query, the body (less "pic") by "ud_post" and the enciphered JSON text. Absent for way 3, or
  // when the base URL or the cipher fails.
  std::optional<os::URLRequest> makeResquest(const TLHTTPClient& client, os::Error* error = nullptr) const;
  // The path with its query enciphered.
  static std::optional<std::string> encryPathString(const std::string& path);

  // Sends the request through the component's client; `finished` runs once on the main queue.
  void start(Finished finished);
  void cancel();
  bool isRunning() const { return static_cast<bool>(operation_); }

  // An answer's body to a response record: code from "st", message "msg", data "data". Bodies
  // that do not decipher, are not JSON objects or carry no "st" give code 5050 with an error.
  static std::shared_ptr<OBSocialResponseEntity> responseForAnswer(const os::Data& body, std::int32_t action,
                                                                   std::optional<os::Dictionary>* answer = nullptr);
  // The same for a body already deciphered (its padding NULs still at the end).
  static std::shared_ptr<OBSocialResponseEntity> responseForDecipheredAnswer(std::string text, std::int32_t action,
                                                                             std::optional<os::Dictionary>* answer = nullptr);
  static std::shared_ptr<OBSocialResponseEntity> networkFailure(std::int32_t action, const os::Error& error);

 private:
  std::shared_ptr<TLHTTPRequestOperation> operation_;
};
