#include "push/model/DUVPageFlowSession.h"

#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUtilities.h"

namespace {
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVPageFlowSession"); }
}  // namespace

const os::Array& DUVPageFlowSession::pageFlow() const {
  static const os::Array none;
  return currentFlow_ ? currentFlow_->pageFlow() : none;
}

void DUVPageFlowSession::addPage(const DUVPage& page) {
  if (currentFlow_) currentFlow_->addPage(page);  // between sessions there is no flow
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
    if (currentFlow_ && !currentFlow_->tempFlow().empty()) {
      currentPage_ = currentFlow_->tempFlow().back();
      currentFlow_->tempFlow().pop_back();
    }
    return;
  }
  if (currentFlow_) {
    auto& parked = currentFlow_->tempFlow();
    for (auto it = parked.begin(); it != parked.end(); ++it) {
      if (it->pageName != pageName) continue;
      DUVPage page = *it;
      parked.erase(it);
      page.stop(now);
      addPage(page);
      return;
    }
  }
  logger()->logMessage("该页面已经被停止或者从未被开始", "this page never start,or has already stoped", &DUVLevel::debug());
  logger()->logMessage("不存在要停止的页面", "there's no such page:" + pageName + " start,please check wether set that viewLog start",
                       &DUVLevel::warn());
}

void DUVPageFlowSession::setViewLogSecond(const os::Array& pageAndSeconds) {
  if (pageAndSeconds.size() < 2 || !pageAndSeconds[0].string()) {
    logger()->logMessage("缺少页面Log时间或者页面的名称", "page log error,duration or pageName missing", &DUVLevel::error());
    return;
  }
  addPage(DUVPage{*pageAndSeconds[0].string(), DUVGetCurrentTimestamp(), static_cast<long>(pageAndSeconds[1].intValue())});
}

void DUVPageFlowSession::setupSession() {
  if (isSetup_) return;
  if (currentFlow_ && currentFlow_->pageFlow().size() >= 2) closeSession();
  currentFlow_.emplace();
  startTime_ = DUVGetCurrentTimestamp();
  isSetup_ = true;
}

void DUVPageFlowSession::closeSession() {
  if (reporter_.reportLaunch) reporter_.reportLaunch();
  if (reporter_.reportActive) reporter_.reportActive(currentFlow_.value_or(DUVPageFlow{}));
  currentFlow_.reset();
  startTime_ = 0;
  isSetup_ = false;
}

void DUVPageFlowSession::resumeLastFlow() {
  if (fileCache_ && currentFlow_) currentFlow_->readFromFile(*fileCache_);
}

void DUVPageFlowSession::trySetupSession() {
  setupSession();
  resumeLastFlow();
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
  if (!currentFlow_) return;
  keptTempFlow_ = currentFlow_->tempFlow();
  std::vector<DUVPage> parked;
  parked.swap(currentFlow_->tempFlow());
  for (auto page : parked) {
    page.stop(t);
    addPage(page);
  }
  if (currentPage_) {
    DUVPage page = *currentPage_;
    page.stop(t);
    addPage(page);
  }
  if (fileCache_) currentFlow_->writeToFile(*fileCache_);
}

os::Array DUVPageFlowSession::flowSavedAt(double t) const {
  if (!currentFlow_) return {};
  DUVPageFlow flow = *currentFlow_;
  std::vector<DUVPage> parked;
  parked.swap(flow.tempFlow());
  for (auto page : parked) {
    page.stop(t);
    flow.addPage(page);
  }
  if (currentPage_) {
    DUVPage page = *currentPage_;
    page.stop(t);
    flow.addPage(page);
  }
  return flow.pageFlow();
}

void DUVPageFlowSession::resetCurrentPage(double t) {
  if (currentPage_) {
    currentPage_->duration = 0;
    currentPage_->startTime = t;
  }
}
