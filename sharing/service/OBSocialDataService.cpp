#include "sharing/service/OBSocialDataService.h"

#include <algorithm>
#include <utility>

#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/store/Bundle.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBUtils.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

struct DefaultService {
  std::shared_ptr<OBSocialDataService> service;
};

void toast(const std::string& key) {
  OBSocialXToast::makeText(os::Bundle::mainBundle()->localizedStringForKey(key, "", "OBSocialLocalizable"))->show();
}

bool directlyShared(int type) { return type >= 11 && type <= 14; }

}  // namespace

// The UI delegate of one share's controller service: the first result goes to that share's
// completion, once. The data service holds it until then, and through it the controller service,
// that service's own data service, the share data and the caller's completion: handlers of
// platforms an application adds may hold none of them. A handler that never answers leaves them
// held for as long as the data service that started the share lives.
class OBSocialDataService::PendingShare : public OBSocialUIDelegate {
 public:
  PendingShare(std::weak_ptr<OBSocialDataService> owner, std::shared_ptr<OBSocialControllerService> screens,
               OBSocialCompletion completion)
      : owner_(std::move(owner)), screens_(std::move(screens)), completion_(std::move(completion)) {}

  void didFinishGetOBSocialDataInViewController(const std::shared_ptr<OBSocialResponseEntity>& response) override {
    if (answered_) return;
    answered_ = true;
    auto done = std::move(completion_);
    completion_ = nullptr;
    if (auto owner = owner_.lock()) owner->shareAnswered(*this);
    if (done) done(response);
  }

 private:
  std::weak_ptr<OBSocialDataService> owner_;
  std::shared_ptr<OBSocialControllerService> screens_;
  OBSocialCompletion completion_;
  bool answered_ = false;
};

OBSocialDataService::OBSocialDataService(std::shared_ptr<OBSocialData> socialData) : socialData_(std::move(socialData)) {}

std::shared_ptr<OBSocialDataService> OBSocialDataService::defaultDataService() {
  return OBSocialContext::current()
      ->instance<DefaultService>([] {
        return std::make_shared<DefaultService>(DefaultService{std::make_shared<OBSocialDataService>(OBSocialData::defaultData())});
      })
      ->service;
}

std::shared_ptr<OBSDataManager> OBSocialDataService::manager() const {
  return OBSDataManager::getDataManager(socialData_->identifier());
}

std::weak_ptr<OBSocialDataDelegate> OBSocialDataService::socialDataDelegate() const { return manager()->socialDelegate; }
void OBSocialDataService::setOBSocialDelegate(std::weak_ptr<OBSocialDataDelegate> delegate) {
  manager()->socialDelegate = std::move(delegate);
}

void OBSocialDataService::queueing(const std::function<void()>& call) {
  // The call may answer at once, and its caller let go of this service in the answer.
  auto keep = weak_from_this().lock();
  // Requests go to the data's own manager, and the user manager's to the current one.
  auto own = manager();
  auto current = OBSDataManager::currentDataManager();
  const std::uint64_t ownBefore = own->queuedCount(), currentBefore = current->queuedCount();
  const std::uint64_t owner = requestOwner_;
  call();
  auto note = [&](const std::shared_ptr<OBSDataManager>& queue, std::uint64_t before) {
    for (auto& job : queue->jobsQueuedAfter(before)) queued_.push_back(QueuedRequest{job, queue, owner});
  };
  note(own, ownBefore);
  if (current != own) note(current, currentBefore);
  // Finished requests leave their entries behind: they are swept whenever the list has doubled.
  if (queued_.size() >= 2 * std::max<std::size_t>(queuedAfterPruning_, 8)) {
    std::erase_if(queued_, [](const QueuedRequest& request) { return request.job.expired(); });
    queuedAfterPruning_ = queued_.size();
  }
}

void OBSocialDataService::requestSocialDataWithCompletionInternal(OBSocialCompletion done) {
  queueing([&] {
    auto current = OBSDataManager::currentDataManager();
    current->completion = done;
    current->requestBarInfo(std::move(done));
  });
}

void OBSocialDataService::requestSocialDataWithCompletion(OBSocialCompletion done) {
  requestSocialDataWithCompletionInternal(std::move(done));
  OBSocialOpAnalytics::postSocialAnalytics("15");
}

void OBSocialDataService::postSNSWithTypes(const std::vector<std::string>& platformNames,
                                           const std::optional<std::string>& content, const std::shared_ptr<os::Image>& image,
                                           const std::optional<OBSocialLocation>& location,
                                           const std::shared_ptr<OBSocialUrlResource>& urlResource, OBSocialCompletion done) {
  postSNSWithTypesInternal(platformNames, content, image, location, urlResource, std::move(done), std::nullopt);
}

void OBSocialDataService::postSNSWithTypesInternal(const std::vector<std::string>& platformNames,
                                                   const std::optional<std::string>& content,
                                                   const std::shared_ptr<os::Image>& image,
                                                   const std::optional<OBSocialLocation>& location,
                                                   const std::shared_ptr<OBSocialUrlResource>& urlResource,
                                                   OBSocialCompletion done, const std::optional<std::string>& sourceOpType) {
  OBSocialOpAnalytics::postSocialAnalytics(
      "14", sourceOpType, platformNames.size() == 1 ? std::optional<std::string>(platformNames.front()) : std::nullopt);
  // The direct Facebook and Twitter handlers are not part of this system: those shares go through
  // their platforms' click handlers.
  queueing([&] {
    auto data = manager();
    data->completion = done;
    data->postSNSWithTypes(platformNames, content, image, location, urlResource, std::move(done), sourceOpType);
  });
}

void OBSocialDataService::postAddLikeOrCancelWithCompletion(OBSocialCompletion done) {
  queueing([&] {
    auto data = manager();
    data->completion = done;
    data->requestAddlikeOrDislike(!socialData_->isLike(), std::move(done));
  });
  OBSocialOpAnalytics::postSocialAnalytics("16");
}

void OBSocialDataService::postCommentWithContent(const std::string& content, OBSocialCompletion done) {
  queueing([&] {
    auto data = manager();
    data->completion = done;
    data->postCommentForDeveloperWithContent(content, std::move(done));
  });
  OBSocialOpAnalytics::postSocialAnalytics("17");
}

void OBSocialDataService::postCommentWithContent(const std::string& content, const std::shared_ptr<os::Image>& image,
                                                 const std::optional<std::string>& templateText,
                                                 const std::optional<OBSocialLocation>& location,
                                                 const os::Dictionary& shareToSNSWithUsid, OBSocialCompletion done) {
  queueing([&] {
    manager()->completion = done;
    OBSDataManager::currentDataManager()->postCommentWithContent(content, image, templateText, location, shareToSNSWithUsid,
                                                                 std::move(done));
  });
  OBSocialOpAnalytics::postSocialAnalytics("18");
}

void OBSocialDataService::requestCommentList(std::int64_t lastCommentTime, OBSocialCompletion done) {
  queueing([&] {
    auto data = manager();
    data->completion = done;
    data->requestCommentList(lastCommentTime, std::move(done));
  });
  OBSocialOpAnalytics::postSocialAnalytics("19");
}

void OBSocialDataService::requestSocialAccountWithCompletion(OBSocialCompletion done) {
  requestSocialAccountWithCompletionInternal(std::move(done));
  OBSocialOpAnalytics::postSocialAnalytics("20");
}

void OBSocialDataService::requestSocialAccountWithCompletionInternal(OBSocialCompletion done) {
  queueing([&] {
    manager()->completion = done;
    OBSUserManager::shareInstance()->requestSnsAccount(std::move(done));
  });
}

void OBSocialDataService::requestUnOauthWithType(const std::string& platformName, OBSocialCompletion done) {
  queueing([&] {
    manager()->completion = done;
    OBSUserManager::shareInstance()->requestUnOauthToPlatform(platformName, std::move(done));
  });
  OBSocialOpAnalytics::postSocialAnalytics("21");
}

void OBSocialDataService::requestBindToSnsWithType(const std::string& platformName, OBSocialCompletion done) {
  queueing([&] {
    manager()->completion = done;
    OBSUserManager::shareInstance()->requestBindingSNSWithTye(platformName, std::move(done));
  });
  OBSocialOpAnalytics::postSocialAnalytics("22");
}

void OBSocialDataService::requestUnBindToSnsWithCompletion(OBSocialCompletion done) {
  queueing([&] { OBSUserManager::shareInstance()->requestUnBindingSNS(std::move(done)); });
  OBSocialOpAnalytics::postSocialAnalytics("23");
}

void OBSocialDataService::requestSnsInformation(const std::string& platformName, OBSocialCompletion done) {
  queueing([&] {
    manager()->completion = done;
    OBSUserManager::shareInstance()->requestSnsInformation(platformName, std::move(done));
  });
  OBSocialOpAnalytics::postSocialAnalytics("24");
}

void OBSocialDataService::requestSnsFriends(const std::string& platformName, OBSocialCompletion done) {
  requestSnsFriendsInternal(platformName, std::move(done));
  OBSocialOpAnalytics::postSocialAnalytics("25");
}

void OBSocialDataService::requestSnsFriendsInternal(const std::string& platformName, OBSocialCompletion done) {
  queueing([&] {
    manager()->completion = done;
    OBSUserManager::shareInstance()->requestGetFriends(platformName, std::move(done));
  });
}

void OBSocialDataService::requestAddFollow(const std::string& platformName, const std::vector<std::string>& followedUsids,
                                           OBSocialCompletion done) {
  queueing([&] {
    manager()->completion = done;
    OBSUserManager::shareInstance()->requestAddFollow(platformName, followedUsids, std::move(done));
  });
  OBSocialOpAnalytics::postSocialAnalytics("26");
}

void OBSocialDataService::requestIsTokenValid(const std::vector<std::string>& platformNames, OBSocialCompletion done) {
  queueing([&] { OBSUserManager::shareInstance()->requestIsTokenValid(platformNames, std::move(done)); });
}

OBSAccountDictionary OBSocialDataService::getOBSocialAccount() const {
  return OBSUserManager::shareInstance()->snsAccountDictionary();
}

bool OBSocialDataService::canDirectShare(int platformType) { return directlyShared(platformType); }

void OBSocialDataService::postSNSWithTypes(const std::vector<std::string>& platformNames,
                                           const std::optional<std::string>& content, const std::shared_ptr<os::Image>& image,
                                           const std::optional<OBSocialLocation>& location,
                                           const std::shared_ptr<OBSocialUrlResource>& urlResource,
                                           const std::shared_ptr<os::ViewController>& presentedController,
                                           OBSocialCompletion done) {
  if (platformNames.size() != 1)
    return postSNSWithTypesInternal(platformNames, content, image, location, urlResource, std::move(done), std::nullopt);
  const std::string name = platformNames.front();
  const int type = OBSocialSnsPlatformManager::getSnsPlatformType(name);
  auto platform = OBSocialSnsPlatformManager::sharedInstance()->getSnsPlatformWithName(name, false);
  if (!canDirectShare(type)) {
    if (!platform || !platform->snsClickHandler) {
      // No handler takes this platform's shares: the caller hears so now rather than never.
      auto response = OBSocialResponseEntity::failure(OBSocialResponseCodeNotSent, "no platform shares to this name", 5);
      response->data = os::Dictionary{{name, os::Value("")}};
      if (done) done(response);
      return;
    }
    // A handler may answer inside its click (a messenger that is not installed), and the caller
    // let go of this service in the answer: it stays until the share data is restored.
    auto keep = weak_from_this().lock();
    // The platform's screen reads the share data: it gets this share's content for the time of
    // the call, and the data its own back afterwards.
    auto savedText = socialData_->shareText();
    auto savedImage = socialData_->shareImage();
    auto savedResource = socialData_->urlResource();
    auto resourceType = savedResource ? savedResource->resourceType : 0;
    auto resourceURL = savedResource ? savedResource->url : std::nullopt;
    socialData_->setShareText(content);
    socialData_->setShareImage(image);
    if (savedResource) {
      savedResource->resourceType = urlResource ? urlResource->resourceType : 0;
      savedResource->url = urlResource ? urlResource->url : std::nullopt;
    }
    // The platform's screen reports to its controller service's UI delegate, which belongs to
    // this share alone: another share started before it answers has a delegate of its own.
    auto screens = std::make_shared<OBSocialControllerService>(socialData_);
    auto pending = std::make_shared<PendingShare>(weak_from_this(), screens, std::move(done));
    screens->setSocialUIDelegate(pending);
    pendingShares_.push_back(pending);
    platform->snsClickHandler(presentedController, screens, true);
    socialData_->setShareText(savedText);
    socialData_->setShareImage(savedImage);
    if (savedResource) {
      savedResource->resourceType = resourceType;
      savedResource->url = resourceURL;
    }
    return;
  }
  if (!OBSocialAccountManager::isOauthAndTokenNotExpired(name)) {
    if (!presentedController) {
      postSNSWithTypesInternal(platformNames, content, image, location, urlResource, std::move(done), std::nullopt);
      OBUtils::outLog("Not oauth with the platform, so you should pass the current ViewController!");
      return;
    }
    // Held until the sign-in has answered: the caller may let go of this service meanwhile and
    // still waits to hear how its share ended.
    auto self = weak_from_this().lock();
    loginThenShare(
        name, presentedController,
        [self, platformNames, content, image, location, urlResource, done] {
          if (self)
            self->postSNSWithTypesInternal(platformNames, content, image, location, urlResource, done, std::string("4"));
        },
        done);
    return;
  }
  postSNSWithTypesInternal(platformNames, content, image, location, urlResource, std::move(done), std::nullopt);
}

void OBSocialDataService::loginThenShare(const std::string& platformName, const std::shared_ptr<os::ViewController>& controller,
                                         std::function<void()> loggedIn, OBSocialCompletion failed) {
  auto platform = OBSocialSnsPlatformManager::sharedInstance()->getSnsPlatformWithName(platformName, false);
  if (!platform || !platform->loginClickHandler) {
    // Nothing can sign in to this platform: the caller hears so instead of waiting.
    auto response = OBSocialResponseEntity::failure(OBSocialResponseCodeCancelled, "the platform cannot log in here", 5);
    response->data = os::Dictionary{{platformName, os::Value("")}};
    if (failed) failed(response);
    return;
  }
  // The login handler opens the OAuth screen on this controller service; the screen holds it
  // while it is up.
  auto screens = std::make_shared<OBSocialControllerService>(socialData_);
  platform->loginClickHandler(controller, screens, true,
                              [loggedIn = std::move(loggedIn), failed](const std::shared_ptr<OBSocialResponseEntity>& response) {
                                if (response->responseCode != OBSocialResponseCodeSuccess) {
                                  if (failed) failed(response);
                                  return;
                                }
                                loggedIn();
                              });
}

void OBSocialDataService::postSnsWithDictionary(OBSocialShareRequest request) {
  const std::string name = request.snsType.value_or("");
  OBSocialCompletion callerCompletion = request.completion;
  OBSocialCompletion done = [name, callerCompletion](const std::shared_ptr<OBSocialResponseEntity>& response) {
    handleShareResult(name, response);
    if (callerCompletion) callerCompletion(response);
  };
  const int type = OBSocialSnsPlatformManager::getSnsPlatformType(name);
  if (!directlyShared(type))
    return postSNSWithTypes({name}, request.content, request.image, request.location, request.urlResource, request.controller,
                            std::move(done));
  if (OBSocialAccountManager::isOauthAndTokenNotExpired(name))
    return postSNSWithTypesInternal({name}, request.content, request.image, request.location, request.urlResource,
                                    std::move(done), request.sourceOpType);
  if (!request.controller) {
    // Not authorised and nowhere to log in from: nothing is sent, and the caller hears so rather
    // than waiting for a share that never goes. No toast: the reader asked for nothing that failed.
    auto response =
        OBSocialResponseEntity::failure(OBSocialResponseCodeNotSent, "not authorised, and no screen to log in from", 5);
    response->data = os::Dictionary{{name, os::Value("")}};
    if (callerCompletion) callerCompletion(response);
    return;
  }
  // Held until the sign-in has answered, as above.
  auto self = weak_from_this().lock();
  loginThenShare(
      name, request.controller,
      [self, request, done, name] {
        if (self)
          self->postSNSWithTypesInternal({name}, request.content, request.image, request.location, request.urlResource, done,
                                         request.sourceOpType);
      },
      request.completion);
}

void OBSocialDataService::handleShareResult(const std::string& platformName,
                                            const std::shared_ptr<OBSocialResponseEntity>& response) {
  switch (response->responseCode) {
    case OBSocialResponseCodeCancelled:
      return;
    case OBSocialResponseCodeShareRefused: {
      int st = 0;
      if (response->data && !response->data->empty()) st = static_cast<int>((*response->data).entries().front().second["st"].intValue());
      switch (st) {
        case 505: return toast("shareEdit_error_user_baned");
        case 5007: return toast("shareEdit_error_empty_content");
        case 5016: return toast("shareEdit_error_text_repeated");
        case 5027: {
          // Several queued shares may come back expired; the account goes, and the reader is told,
          // once.
          auto users = OBSUserManager::shareInstance();
          auto accounts = users->snsAccountDictionary();
          if (accounts.erase(platformName) == 0) return;
          users->setSnsAccountDictionary(accounts);
          return toast("shareEdit_error_auth_expired");
        }
        case 99999: return toast("shareEdit_error_no_auth");
        default: return toast("shareEdit_error_fail");
      }
    }
    case OBSocialResponseCodeSuccess: {
      defaultDataService()->requestSocialDataWithCompletionInternal([platformName](const std::shared_ptr<OBSocialResponseEntity>&) {
        auto platform = OBSocialSnsPlatformManager::sharedInstance()->getSnsPlatformWithName(platformName, false);
        if (!platform || platform->shareToType < 15) toast("shareEdit_post_finish");
        os::NotificationCenter::defaultCenter().post(kOBSocialUpdateSocialBarNotification);
      });
      return;
    }
    default:
      return toast("shareEdit_error_network_fail_message");
  }
}

void OBSocialDataService::cancelAllRequestInQueueInternal() {
  std::vector<std::pair<std::shared_ptr<OBSDataManager>, std::vector<std::shared_ptr<OBSocialJob>>>> byQueue;
  std::erase_if(queued_, [&](const QueuedRequest& request) {
    if (request.owner != requestOwner_) return false;
    auto job = request.job.lock();
    auto queue = request.manager.lock();
    if (job && queue) {
      auto slot = std::find_if(byQueue.begin(), byQueue.end(), [&](const auto& entry) { return entry.first == queue; });
      if (slot == byQueue.end()) slot = byQueue.insert(byQueue.end(), {queue, {}});
      slot->second.push_back(std::move(job));
    }
    return true;
  });
  for (const auto& [queue, jobs] : byQueue) queue->cancelRequests(jobs);
}

void OBSocialDataService::didFinishGetOBSocialDataInViewController(const std::shared_ptr<OBSocialResponseEntity>& response) {
  if (completion) completion(response);
}

void OBSocialDataService::shareAnswered(const PendingShare& share) {
  auto found = std::find_if(pendingShares_.begin(), pendingShares_.end(), [&](const auto& p) { return p.get() == &share; });
  if (found == pendingShares_.end()) return;
  auto answered = std::move(*found);
  pendingShares_.erase(found);
  // The controller service that answered may still be on its way out (a close goes on after its
  // report): it is let go on the next turn of the run loop, not under its own feet.
  os::DispatchQueue::main()->async([answered] {});
}
