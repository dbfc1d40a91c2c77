#include "ui/images/BNWebImagePrefetcher.h"

#include "os/runtime/Clock.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Once.h"

std::shared_ptr<BNWebImagePrefetcher> BNWebImagePrefetcher::sharedImagePrefetcher() {
  static os::Once once;
  static std::shared_ptr<BNWebImagePrefetcher> instance;
  once.call([] { instance = create(); });
  return instance;
}

std::shared_ptr<BNWebImagePrefetcher> BNWebImagePrefetcher::create() { return create(BNWebImageManager::create()); }

std::shared_ptr<BNWebImagePrefetcher> BNWebImagePrefetcher::create(std::shared_ptr<BNWebImageManager> manager) {
  return std::make_shared<BNWebImagePrefetcher>(PrivateTag{}, std::move(manager));
}

BNWebImagePrefetcher::BNWebImagePrefetcher(PrivateTag, std::shared_ptr<BNWebImageManager> manager) : manager_(std::move(manager)) {
  setMaxConcurrentDownloads(3);
}

void BNWebImagePrefetcher::prefetchURLs(std::vector<os::URL> urls, ProgressBlock progress, CompletionBlock completed) {
  cancelPrefetching();
  startedTime_ = os::Clock::now();
  prefetchURLs_ = std::move(urls);
  progressBlock_ = std::move(progress);
  completionBlock_ = std::move(completed);
  if (prefetchURLs_.empty()) {
    // Nothing to load: done at once, or a caller waiting for the completion would wait for ever.
    finishList();
    return;
  }
  for (std::size_t index = 0;
       static_cast<long long>(index) < maxConcurrentDownloads() && requestedCount_ < prefetchURLs_.size(); ++index)
    startPrefetchingAtIndex(index);
}

void BNWebImagePrefetcher::cancelPrefetching() {
  ++generation_;
  prefetchURLs_.clear();
  requestedCount_ = skippedCount_ = finishedCount_ = 0;
  manager_->cancelAll();
}

void BNWebImagePrefetcher::startPrefetchingAtIndex(std::size_t index) {
  if (index >= prefetchURLs_.size()) return;
  ++requestedCount_;
  std::weak_ptr<BNWebImagePrefetcher> weak = weak_from_this();
  std::uint64_t generation = generation_;
  os::URL url = prefetchURLs_[index];
  // A load may finish twice (a refresh reports the cached picture, then the download): the list
  // counts each of its loads once, at its first finish, or it would end early and count past
  // its length.
  auto counted = std::make_shared<bool>(false);
  manager_->downloadImageWithURL(
      url, options_, nullptr,
      [weak, generation, url, counted](BNImagePtr image, std::optional<os::Error>, BNCacheSource, bool finished,
                                       std::optional<os::URL>) {
        auto self = weak.lock();
        if (!self || !finished || generation != self->generation_ || *counted) return;
        *counted = true;
        ++self->finishedCount_;
        std::size_t total = self->prefetchURLs_.size();
        if (self->progressBlock_) self->progressBlock_(self->finishedCount_, total);
        if (!image) ++self->skippedCount_;
        if (auto delegate = self->delegate_.lock()) delegate->imagePrefetcherDidPrefetchURL(*self, url, self->finishedCount_, total);
        if (total > self->requestedCount_) {
          os::DispatchQueue::main()->async([weak, generation] {
            auto self = weak.lock();
            if (self && generation == self->generation_) self->startPrefetchingAtIndex(self->requestedCount_);
          });
        } else if (self->finishedCount_ == self->requestedCount_) {
          self->finishList();
        }
      });
}

void BNWebImagePrefetcher::finishList() {
  reportStatus();
  auto completion = std::move(completionBlock_);
  completionBlock_ = nullptr;
  if (completion) completion(finishedCount_, skippedCount_);
}

void BNWebImagePrefetcher::reportStatus() {
  std::size_t total = prefetchURLs_.size();
  if (auto delegate = delegate_.lock()) delegate->imagePrefetcherDidFinishWithTotalCount(*this, total - skippedCount_, skippedCount_);
}
