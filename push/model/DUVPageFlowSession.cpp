#include "push/model/DUVPageFlowSession.h"

#include <cmath>

#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUtilities.h"

namespace {
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVPageFlowSession"); }
}  // namespace

void DUVPage::stop(double t) {
  double elapsed = t - startTime;
  duration = elapsed > 0 && elapsed < 1 ? 1 : static_cast<long>(std::trunc(elapsed));
}

void DUVPageFlowSession::addPage(const DUVPage& page) {
  if (!isSetup_) return;  // between sessions there is no flow
  if (page.duration != 0) {
    pageFlow_.push_back(os::Value(os::Dictionary{{page.pageName, os::Value(page.duration)}}));
    logger()->log(DUVLevel::debug(), "添加页面成功");
  } else {
    tempFlow_.push_back(page);
  }
}

void DUVPageFlowSession::setViewStart(const std::optional<std::string>& name) {
  if (currentPage_) {
    logger()->logMessage(std::nullopt, "Last Page log did not stop,Please stop it", &DUVLevel::debug());
    addPage(*currentPage_);
    currentPage_.reset();
  }
  currentPage_ = DUVPage{name.value_or("unknow"), DUVGetCurrentTimestamp(), 0};
}

void DUVPageFlowSession::setViewStop(const std::optional<std::string>& name) {
  double now = DUVGetCurrentTimestamp();
  std::string pageName = name.value_or("unknow");
  if (currentPage_ && currentPage_->pageName == pageName) {
    currentPage_->stop(now);
    addPage(*currentPage_);
    currentPage_.reset();
    // The page parked last resumes.
    if (!tempFlow_.empty()) {
      currentPage_ = tempFlow_.back();
      tempFlow_.pop_back();
    }
    return;
  }
  for (auto it = tempFlow_.begin(); it != tempFlow_.end(); ++it) {
    if (it->pageName != pageName) continue;
    DUVPage page = *it;
    tempFlow_.erase(it);
    page.stop(now);
    addPage(page);
    return;
  }
  logger()->log(DUVLevel::debug(), "该页面已经被停止或者从未被开始");
  logger()->log(DUVLevel::warn(), "不存在要停止的页面");
}

void DUVPageFlowSession::setViewLogSecond(const os::Array& pageAndSeconds) {
  if (pageAndSeconds.size() < 2 || !pageAndSeconds[0].string()) {
    logger()->log(DUVLevel::error(), "缺少页面Log时间或者页面的名称");
    return;
  }
  addPage(DUVPage{*pageAndSeconds[0].string(), DUVGetCurrentTimestamp(), static_cast<long>(pageAndSeconds[1].intValue())});
}

void DUVPageFlowSession::setupSession() {
  if (isSetup_) return;
  if (pageFlow_.size() >= 2) closeSession();
  pageFlow_.clear();
  tempFlow_.clear();
  startTime_ = DUVGetCurrentTimestamp();
  isSetup_ = true;
}

void DUVPageFlowSession::closeSession() {
  if (reporter_.reportLaunch) reporter_.reportLaunch();
  if (reporter_.reportActive) reporter_.reportActive(pageFlow_);
  pageFlow_.clear();
  tempFlow_.clear();
  startTime_ = 0;
  isSetup_ = false;
}

void DUVPageFlowSession::trySetupSession() {
  setupSession();
  if (fileCache_) {
    if (const os::Array* last = fileCache_->objectForKey(kLastFlowKey).array()) pageFlow_ = *last;
    fileCache_->removeObjectForKey(kLastFlowKey);
  }
  if (tempPage_) {
    currentPage_ = DUVPage{tempPage_->pageName, startTime_, 0};
    tempPage_.reset();
  }
  for (auto page : keptTempFlow_) {
    page.startTime = startTime_;
    page.duration = 0;
    addPage(page);
  }
  keptTempFlow_.clear();
}

void DUVPageFlowSession::savePageFlowWithTime(double t) {
  tempPage_ = currentPage_;
  keptTempFlow_ = tempFlow_;
  for (auto page : std::vector<DUVPage>(tempFlow_)) {
    page.stop(t);
    if (page.duration != 0) pageFlow_.push_back(os::Value(os::Dictionary{{page.pageName, os::Value(page.duration)}}));
  }
  tempFlow_.clear();
  if (currentPage_) {
    DUVPage page = *currentPage_;
    page.stop(t);
    addPage(page);
  }
  if (fileCache_) fileCache_->setObject(os::Value(pageFlow_), kLastFlowKey);
}

os::Array DUVPageFlowSession::flowSavedAt(double t) const {
  os::Array flow = pageFlow_;
  auto finish = [&](DUVPage page) {
    page.stop(t);
    if (page.duration != 0) flow.push_back(os::Value(os::Dictionary{{page.pageName, os::Value(page.duration)}}));
  };
  for (const auto& page : tempFlow_) finish(page);
  if (currentPage_ && isSetup_) finish(*currentPage_);
  return flow;
}

void DUVPageFlowSession::resetCurrentPage(double t) {
  if (currentPage_) {
    currentPage_->duration = 0;
    currentPage_->startTime = t;
  }
}
