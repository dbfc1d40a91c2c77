#pragma once
// The sharing component's service for one share data object: shares to platforms, comments,
// likes, the bar data, accounts, platform user information, friends, follows and token checks.
// Each operation counts itself and hands the work to the data manager of the share data's
// identifier or to the user manager; results come back as response records. The icon sheet's
// share entry also turns the result into a toast.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialJob.h"
#include "sharing/service/OBSocialLocation.h"
#include "sharing/service/OBSocialUIDelegate.h"

namespace os {
class Image;
class ViewController;
}  // namespace os
class OBSocialData;
class OBSocialDataDelegate;
class OBSocialUrlResource;

inline constexpr const char* kOBSocialUpdateSocialBarNotification = "UpdateSocialBar";

// What the icon sheet hands over for one share; every field may be missing.
struct OBSocialShareRequest {
  std::optional<std::string> snsType;
  std::optional<std::string> content;
  std::shared_ptr<os::Image> image;
  std::shared_ptr<OBSocialUrlResource> urlResource;
  std::optional<OBSocialLocation> location;
  std::shared_ptr<os::ViewController> controller;
  OBSocialCompletion completion;
  std::optional<std::string> sourceOpType;
};

// A share that goes through a platform's screen gets a controller service of its own, whose UI
// delegate hands the screen's result to that share's completion. The service itself answers as a
// UI delegate too, through `completion`, for callers that make it the delegate of their screens.
class OBSocialDataService : public OBSocialUIDelegate, public std::enable_shared_from_this<OBSocialDataService> {
 public:
  explicit OBSocialDataService(std::shared_ptr<OBSocialData> socialData);
  static std::shared_ptr<OBSocialDataService> defaultDataService();

  const std::shared_ptr<OBSocialData>& socialData() const { return socialData_; }
  std::weak_ptr<OBSocialDataDelegate> socialDataDelegate() const;
  void setOBSocialDelegate(std::weak_ptr<OBSocialDataDelegate> delegate);
  // Hears the screens this service is the UI delegate of.
  OBSocialCompletion completion;

  void requestSocialDataWithCompletion(OBSocialCompletion completion);
  void requestSocialDataWithCompletionInternal(OBSocialCompletion completion);
  void postSNSWithTypes(const std::vector<std::string>& platformNames, const std::optional<std::string>& content,
                        const std::shared_ptr<os::Image>& image, const std::optional<OBSocialLocation>& location,
                        const std::shared_ptr<OBSocialUrlResource>& urlResource, OBSocialCompletion completion);
  void postAddLikeOrCancelWithCompletion(OBSocialCompletion completion);
  void postCommentWithContent(const std::string& content, OBSocialCompletion completion);
  void postCommentWithContent(const std::string& content, const std::shared_ptr<os::Image>& image,
                              const std::optional<std::string>& templateText, const std::optional<OBSocialLocation>& location,
                              const os::Dictionary& shareToSNSWithUsid, OBSocialCompletion completion);
  void requestCommentList(std::int64_t lastCommentTime, OBSocialCompletion completion);
  void requestSocialAccountWithCompletion(OBSocialCompletion completion);
  // The same, not counted as an operation of the application's (the account upload after a login).
  void requestSocialAccountWithCompletionInternal(OBSocialCompletion completion);
  void requestUnOauthWithType(const std::string& platformName, OBSocialCompletion completion);
  void requestBindToSnsWithType(const std::string& platformName, OBSocialCompletion completion);
  void requestUnBindToSnsWithCompletion(OBSocialCompletion completion);
  void requestSnsInformation(const std::string& platformName, OBSocialCompletion completion);
  void requestSnsFriends(const std::string& platformName, OBSocialCompletion completion);
  // The same, not counted as an operation of the application's (the friend picker's reload).
  void requestSnsFriendsInternal(const std::string& platformName, OBSocialCompletion completion);
  void requestAddFollow(const std::string& platformName, const std::vector<std::string>& followedUsids,
                        OBSocialCompletion completion);
  void requestIsTokenValid(const std::vector<std::string>& platformNames, OBSocialCompletion completion);
  OBSAccountDictionary getOBSocialAccount() const;

  // The icon sheet's share: to one platform, with the result as a toast.
  void postSnsWithDictionary(OBSocialShareRequest request);
  // A share that may open the platform's screen or its login first.
  void postSNSWithTypes(const std::vector<std::string>& platformNames, const std::optional<std::string>& content,
                        const std::shared_ptr<os::Image>& image, const std::optional<OBSocialLocation>& location,
                        const std::shared_ptr<OBSocialUrlResource>& urlResource,
                        const std::shared_ptr<os::ViewController>& presentedController, OBSocialCompletion completion);
  void postSNSWithTypesInternal(const std::vector<std::string>& platformNames, const std::optional<std::string>& content,
                                const std::shared_ptr<os::Image>& image, const std::optional<OBSocialLocation>& location,
                                const std::shared_ptr<OBSocialUrlResource>& urlResource, OBSocialCompletion completion,
                                const std::optional<std::string>& sourceOpType);
  // Platforms whose shares the service posts itself (sina, velmora, renren, douban).
  static bool canDirectShare(int platformType);
  // The screen that requests queued through this service from now on are for (0: none is up);
  // the controller service that owns this service sets it as its screens open and close.
  void setRequestOwner(std::uint64_t screen) { requestOwner_ = screen; }
  // Stops the requests queued through this service for the current owner, and only those: the
  // data's queue is shared with other screens and callers, whose requests go on.
  void cancelAllRequestInQueueInternal();
  void didFinishGetOBSocialDataInViewController(const std::shared_ptr<OBSocialResponseEntity>& response) override;

  // The toast and bookkeeping for a share's result on a platform.
  static void handleShareResult(const std::string& platformName, const std::shared_ptr<OBSocialResponseEntity>& response);

 private:
  std::shared_ptr<class OBSDataManager> manager() const;
  // Signs in to the platform through its login handler, on a controller service of this share
  // data, then runs `loggedIn`; a login that does not succeed goes to `failed`.
  void loginThenShare(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller,
                      std::function<void()> loggedIn, OBSocialCompletion failed);

  // Runs a call that queues requests and notes those it queued as the current owner's.
  void queueing(const std::function<void()>& call);

  class PendingShare;
  // Lets go of an answered share on the next turn of the run loop.
  void shareAnswered(const PendingShare& share);

  std::shared_ptr<OBSocialData> socialData_;
  // Shares through a platform's screen that have not answered yet, each with its own controller
  // service and completion: a late answer reaches its own caller, never a later share's.
  std::vector<std::shared_ptr<PendingShare>> pendingShares_;

  struct QueuedRequest {
    std::weak_ptr<OBSocialJob> job;
    std::weak_ptr<class OBSDataManager> manager;
    std::uint64_t owner = 0;
  };
  // What this service queued and who for; entries of finished requests are dropped as it grows.
  std::vector<QueuedRequest> queued_;
  std::size_t queuedAfterPruning_ = 0;
  std::uint64_t requestOwner_ = 0;
};
