#pragma once
// The data of one content identifier (its bar record, the share being sent, the comment being
// posted, the last answer) and its queue of requests to the sharing service: one request in
// flight at a time, each rebuilt right before it is sent so its body carries the state of then.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sharing/service/OBSocialJob.h"
#include "sharing/service/OBSocialLocation.h"

namespace os {
class Image;
}
class OBSBarEntity;
class OBSCommentEntity;
class OBSSNSEntity;
class OBSocialResponseEntity;
class OBSocialUrlResource;

// Told of every answer of its data manager's requests.
class OBSocialDataDelegate {
 public:
  virtual ~OBSocialDataDelegate() = default;
  virtual void didFinishGetOBSocialDataResponse(const std::shared_ptr<OBSocialResponseEntity>& response) {}
};

inline constexpr const char* kOBSocialDefaultIdentifier = "OBSocialDefault";

class OBSDataManager : public std::enable_shared_from_this<OBSDataManager> {
 public:
  explicit OBSDataManager(std::string identifier);

  // The current data manager; the default identifier's when none is current.
  static std::shared_ptr<OBSDataManager> currentDataManager();
  static std::shared_ptr<OBSDataManager> getDataManager(const std::string& identifier);

  const std::string& identifier() const { return identifier_; }
  // Restored from the disk cache on first use when it holds one, else new.
  std::shared_ptr<OBSBarEntity> barEntity();
  void setBarEntity(std::shared_ptr<OBSBarEntity> bar);
  // Keeps the service's part of the bar record in the disk cache.
  void storeBarEntity();

  std::shared_ptr<OBSSNSEntity> snsEntity;
  std::shared_ptr<OBSCommentEntity> currentComment;
  std::shared_ptr<OBSocialResponseEntity> responseEntity;
  std::optional<std::string> title;
  std::weak_ptr<OBSocialDataDelegate> socialDelegate;
  OBSocialCompletion completion;

  const std::deque<std::shared_ptr<OBSocialJob>>& actionArray() const { return actionArray_; }

  // Queues the action; false when no job could be built (no application key, a refused action),
  // in which case nothing is sent and the completion hears 5054 at once.
  bool doActionWithType(std::int32_t action, OBSocialJobParams params);
  // How many jobs this manager has queued so far, and those of them still queued that came after
  // the first `count`: what a call queued, read around it.
  std::uint64_t queuedCount() const { return queuedCount_; }
  std::vector<std::shared_ptr<OBSocialJob>> jobsQueuedAfter(std::uint64_t count) const;
  // Drops these jobs from the queue, cancelling the one in flight (the next then goes); the rest
  // of the queue goes on. None of the dropped reports anything.
  void cancelRequests(const std::vector<std::shared_ptr<OBSocialJob>>& jobs);

  void requestBarInfo(OBSocialCompletion completion);
  void requestSocialEntityKey();
  void requestCommentList(std::int64_t lastCommentTime, OBSocialCompletion completion);
  void requestAddlikeOrDislike(bool like, OBSocialCompletion completion);
  void requestAddComment(OBSocialCompletion completion);
  void postCommentWithContent(const std::string& content, const std::optional<OBSocialLocation>& location,
                              OBSocialCompletion completion);
  void postCommentWithContent(const std::string& content, const std::optional<OBSocialLocation>& location,
                              const os::Dictionary& shareToSNSWithUsid, OBSocialCompletion completion);
  void postCommentForDeveloperWithContent(const std::string& content, OBSocialCompletion completion);
  void postCommentWithContent(const std::string& content, const std::shared_ptr<os::Image>& image,
                              const std::optional<std::string>& templateText,
                              const std::optional<OBSocialLocation>& location, const os::Dictionary& shareToSNSWithUsid,
                              OBSocialCompletion completion);
  void postSNSWithTypes(const std::vector<std::string>& platformNames, const std::optional<std::string>& content,
                        const std::shared_ptr<os::Image>& image, const std::optional<OBSocialLocation>& location,
                        const std::shared_ptr<OBSocialUrlResource>& urlResource, OBSocialCompletion completion,
                        const std::optional<std::string>& from);
  bool postOpAnalyticsWithDictionary(const os::Dictionary& opDictionary, OBSocialCompletion completion);
  bool postAppInfo(const os::Dictionary& appInfo, OBSocialCompletion completion);

  void didFinishGetResponseInSDK(const std::shared_ptr<OBSocialResponseEntity>& response);

  // The identifier as the service reads it: unescaped, then escaped with every reserved mark.
  std::string encodedDescriptor() const;

 private:
  void send(const std::shared_ptr<OBSocialJob>& job);
  // Rebuilds and sends the head, dropping heads that can no longer be built.
  void sendNext();
  void jobFinished(const std::shared_ptr<OBSocialJob>& job, const std::shared_ptr<OBSocialResponseEntity>& response,
                   const std::optional<os::Dictionary>& answer);

  std::string identifier_;
  std::shared_ptr<OBSBarEntity> barEntity_;
  std::deque<std::shared_ptr<OBSocialJob>> actionArray_;
  std::uint64_t queuedCount_ = 0;
};
