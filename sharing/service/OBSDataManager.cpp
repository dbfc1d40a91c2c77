#include "sharing/service/OBSDataManager.h"

#include <algorithm>
#include <unordered_set>

#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSCacheManager.h"
#include "sharing/service/OBSCommentEntity.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSEntityFactory.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialJobFactory.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"
#include "sharing/service/OBUtils.h"

namespace {

std::string barCacheKey(const std::string& identifier) { return "OBSBarEntity-" + identifier; }

}  // namespace

OBSDataManager::OBSDataManager(std::string identifier) : identifier_(std::move(identifier)) {}

std::shared_ptr<OBSDataManager> OBSDataManager::currentDataManager() {
  auto set = OBSDataManagerSet::shareInstance();
  if (auto current = set->dataManager()) return current;
  set->setDataManagerWithHash(kOBSocialDefaultIdentifier);
  return set->dataManager();
}

std::shared_ptr<OBSDataManager> OBSDataManager::getDataManager(const std::string& identifier) {
  return OBSDataManagerSet::shareInstance()->getDataManager(identifier);
}

std::shared_ptr<OBSBarEntity> OBSDataManager::barEntity() {
  if (!barEntity_) {
    if (auto item = OBSCacheManager::shareInstance()->changeVariableFromCache(barCacheKey(identifier_)))
      if (auto value = item->toValue()) barEntity_ = OBSBarEntity::fromCacheValue(*value);
    if (!barEntity_) barEntity_ = std::make_shared<OBSBarEntity>();
  }
  return barEntity_;
}

void OBSDataManager::setBarEntity(std::shared_ptr<OBSBarEntity> bar) { barEntity_ = std::move(bar); }

void OBSDataManager::storeBarEntity() {
  OBSCacheManager::shareInstance()->setCacheToVariable(os::ArchiveItem(os::Value(barEntity()->cacheValue())),
                                                      barCacheKey(identifier_));
}

std::string OBSDataManager::encodedDescriptor() const {
  std::string plain = os::percentUnescape(identifier_).value_or(identifier_);
  return os::percentEscape(plain, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._");
}

bool OBSDataManager::doActionWithType(std::int32_t action, OBSocialJobParams params) {
  auto job = OBSocialJobFactory::sharedInstance()->createSocialJob(action, params);
  if (!job) {
    // The caller still hears, once, that nothing went: an account upload's progress panel or a
    // share editor waiting for its answer would otherwise wait for ever.
    if (params.completion)
      params.completion(OBSocialResponseEntity::failure(OBSocialResponseCodeNotSent, "the request could not be built", action));
    return false;
  }
  const bool idle = actionArray_.empty();
  job->queueSerial = ++queuedCount_;
  actionArray_.push_back(job);
  if (idle) send(job);
  return true;
}

void OBSDataManager::send(const std::shared_ptr<OBSocialJob>& job) {
  std::weak_ptr<OBSDataManager> weak = weak_from_this();
  job->start([weak](const std::shared_ptr<OBSocialJob>& finishedJob, const std::shared_ptr<OBSocialResponseEntity>& response,
                    const std::optional<os::Dictionary>& answer) {
    if (auto manager = weak.lock()) manager->jobFinished(finishedJob, response, answer);
  });
}

void OBSDataManager::jobFinished(const std::shared_ptr<OBSocialJob>& job,
                                 const std::shared_ptr<OBSocialResponseEntity>& response,
                                 const std::optional<os::Dictionary>& answer) {
  // A cancelled queue no longer holds the job: its answer is not wanted.
  if (actionArray_.empty() || actionArray_.front() != job) return;
  if (answer && response->responseCode == OBSocialResponseCodeSuccess)
    OBSEntityFactory::storeAnswer(*this, job->actionType, job->paramDic, *answer);
  responseEntity = response;
  didFinishGetResponseInSDK(response);
  if (job->completion) job->completion(response);
  // The completion may have cancelled or queued more.
  if (actionArray_.empty() || actionArray_.front() != job) return;
  actionArray_.pop_front();
  sendNext();
}

void OBSDataManager::sendNext() {
  // A request that can no longer be built as its turn comes (the account it needs went while it
  // waited) is not sent, but its caller still hears so, once, after the queue has moved on: the
  // answer may queue more.
  std::vector<std::shared_ptr<OBSocialJob>> unsent;
  while (!actionArray_.empty()) {
    auto next = actionArray_.front();
    if (OBSocialJobFactory::sharedInstance()->updateJob(*next)) {
      send(next);
      break;
    }
    actionArray_.pop_front();
    unsent.push_back(std::move(next));
  }
  for (const auto& job : unsent)
    if (job->completion)
      job->completion(OBSocialResponseEntity::failure(OBSocialResponseCodeNotSent, "the request could not be built",
                                                      job->actionType));
}

std::vector<std::shared_ptr<OBSocialJob>> OBSDataManager::jobsQueuedAfter(std::uint64_t count) const {
  std::vector<std::shared_ptr<OBSocialJob>> jobs;
  // Serials grow along the queue: the newest are at its back.
  for (auto it = actionArray_.rbegin(); it != actionArray_.rend() && (*it)->queueSerial > count; ++it) jobs.push_back(*it);
  std::reverse(jobs.begin(), jobs.end());
  return jobs;
}

void OBSDataManager::cancelRequests(const std::vector<std::shared_ptr<OBSocialJob>>& jobs) {
  if (jobs.empty() || actionArray_.empty()) return;
  auto inFlight = actionArray_.front();
  std::unordered_set<const OBSocialJob*> wanted;
  for (const auto& job : jobs) wanted.insert(job.get());
  std::vector<std::shared_ptr<OBSocialJob>> dropped;
  std::erase_if(actionArray_, [&](const std::shared_ptr<OBSocialJob>& job) {
    if (!wanted.contains(job.get())) return false;
    dropped.push_back(job);
    return true;
  });
  // A cancelled request reports nothing: whoever cancelled already knows, and a screen that
  // closed must not hear its own close a second time.
  for (const auto& job : dropped) job->cancel();
  // Another caller's request waiting behind the cancelled one goes now.
  if (!actionArray_.empty() && actionArray_.front() != inFlight) sendNext();
}

void OBSDataManager::requestBarInfo(OBSocialCompletion completion) {
  const std::string descriptor = encodedDescriptor();
  OBUtils::outLogf("encodeDescriptor is %s", descriptor.c_str());
  OBSocialJobParams params;
  params.values.set("descriptor", os::Value(descriptor));
  if (title) params.values.set("title", os::Value(*title));
  params.completion = std::move(completion);
  doActionWithType(3, std::move(params));
}

void OBSDataManager::requestSocialEntityKey() {
  if (barEntity()->entityKey) return;
  OBSocialJobParams params;
  params.values.set("descriptor", os::Value(encodedDescriptor()));
  if (title) params.values.set("title", os::Value(*title));
  doActionWithType(3, std::move(params));
}

void OBSDataManager::requestCommentList(std::int64_t lastCommentTime, OBSocialCompletion completion) {
  requestSocialEntityKey();
  OBSocialJobParams params;
  params.values.set("lastCommentTime", os::Value(std::to_string(lastCommentTime)));
  params.completion = std::move(completion);
  doActionWithType(2, std::move(params));
}

void OBSDataManager::requestAddlikeOrDislike(bool like, OBSocialCompletion completion) {
  requestSocialEntityKey();
  OBSocialJobParams params;
  params.values.set("like", os::Value(like ? "1" : "0"));
  params.completion = std::move(completion);
  doActionWithType(1, std::move(params));
}

void OBSDataManager::requestAddComment(OBSocialCompletion completion) {
  requestSocialEntityKey();
  OBSocialJobParams params;
  // The job waits behind the bar request and is rebuilt when it goes: it keeps this comment, not
  // whatever comment was posted after it.
  auto post = std::make_shared<OBSocialCommentPost>();
  post->comment = currentComment;
  post->templateText = barEntity()->commentText;
  post->image = barEntity()->commentImage;
  post->shareTo = OBSUserManager::shareInstance()->commentShareAccountDic();
  params.commentPost = std::move(post);
  params.completion = std::move(completion);
  doActionWithType(0, std::move(params));
}

void OBSDataManager::postCommentWithContent(const std::string& content, const std::optional<OBSocialLocation>& location,
                                            OBSocialCompletion completion) {
  auto comment = std::make_shared<OBSCommentEntity>();
  comment->content = content;
  comment->location = location;
  currentComment = comment;
  requestAddComment(std::move(completion));
}

void OBSDataManager::postCommentWithContent(const std::string& content, const std::optional<OBSocialLocation>& location,
                                            const os::Dictionary& shareToSNSWithUsid, OBSocialCompletion completion) {
  OBSUserManager::shareInstance()->setCommentShareAccountDic(shareToSNSWithUsid);
  postCommentWithContent(content, location, std::move(completion));
}

void OBSDataManager::postCommentForDeveloperWithContent(const std::string& content, OBSocialCompletion completion) {
  OBSUserManager::shareInstance()->setCommentShareAccountDic(os::Dictionary{});
  postCommentWithContent(content, std::nullopt, std::move(completion));
}

void OBSDataManager::postCommentWithContent(const std::string& content, const std::shared_ptr<os::Image>& image,
                                            const std::optional<std::string>& templateText,
                                            const std::optional<OBSocialLocation>& location,
                                            const os::Dictionary& shareToSNSWithUsid, OBSocialCompletion completion) {
  static const char* const kAccepted[] = {"sina", "velmora", "renren", "douban", "qzone", "custom"};
  // A comment refused here is not sent; its caller still hears so, once.
  auto refuse = [&completion](const char* why) {
    if (completion) completion(OBSocialResponseEntity::failure(OBSocialResponseCodeNotSent, why, 0));
  };
  for (const auto& [key, value] : shareToSNSWithUsid) {
    if (std::find(std::begin(kAccepted), std::end(kAccepted), key) == std::end(kAccepted)) {
      OBUtils::outLogf("error key is %s", key.c_str());
      OBUtils::outLog("you should pass a sns type that one of OBShareToTypeSina, OBShareToTypeVelmra,OBShareToTypeRenren,OBShareToTypeDouban,OBShareToTypeQzone");
      return refuse("a comment cannot be shared to this platform");
    }
    if (!value.isString()) {
      OBUtils::outLog("you should pass a sns uid string");
      return refuse("a platform's user id is not a string");
    }
  }
  auto bar = barEntity();
  bar->commentText = templateText;
  bar->commentImage = image;
  postCommentWithContent(content, location, shareToSNSWithUsid, std::move(completion));
}

void OBSDataManager::postSNSWithTypes(const std::vector<std::string>& platformNames, const std::optional<std::string>& content,
                                      const std::shared_ptr<os::Image>& image, const std::optional<OBSocialLocation>& location,
                                      const std::shared_ptr<OBSocialUrlResource>& urlResource, OBSocialCompletion completion,
                                      const std::optional<std::string>& from) {
  os::Array names;
  for (const auto& name : platformNames) names.emplace_back(name);
  OBUtils::outLogf("platformTypes is %s", os::Value(names).description().c_str());
  if (platformNames.empty()) {
    OBUtils::outLog("you have not set sns types");
    // Nothing is shared; the caller hears so rather than waiting for an answer that never comes.
    if (completion)
      completion(OBSocialResponseEntity::failure(OBSocialResponseCodeNotSent, "no platform to share to", 5));
    return;
  }
  auto sns = std::make_shared<OBSSNSEntity>();
  int type = OBSocialSnsPlatformManagerInternal::getSnsPlatformType(platformNames.front());
  sns->platformType = type == 0 ? 11 : type;
  sns->shareText = content;
  sns->shareImage = image;
  sns->urlResource = urlResource;
  sns->location = location;
  if (urlResource)
    sns->isSendUrlResource = true;
  else if (image)
    sns->isSendImage = true;
  sns->isShake = from && *from == "46";
  snsEntity = sns;
  OBSocialJobParams params;
  params.snsEntity = sns;
  params.values.set("snsNames", os::Value(std::move(names)));
  params.completion = std::move(completion);
  doActionWithType(5, std::move(params));
}

bool OBSDataManager::postOpAnalyticsWithDictionary(const os::Dictionary& opDictionary, OBSocialCompletion completion) {
  OBSocialJobParams params;
  params.values.set("opDic", os::Value(opDictionary));
  params.completion = std::move(completion);
  return doActionWithType(18, std::move(params));
}

bool OBSDataManager::postAppInfo(const os::Dictionary& appInfo, OBSocialCompletion completion) {
  OBSocialJobParams params;
  params.values.set("appInfo", os::Value(appInfo));
  params.completion = std::move(completion);
  return doActionWithType(19, std::move(params));
}

void OBSDataManager::didFinishGetResponseInSDK(const std::shared_ptr<OBSocialResponseEntity>& response) {
  if (auto delegate = socialDelegate.lock()) delegate->didFinishGetOBSocialDataResponse(response);
}
