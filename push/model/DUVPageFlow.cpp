#include "push/model/DUVPageFlow.h"

#include <cmath>

#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVLogger.h"

void DUVPage::stop(double t) {
  double elapsed = t - startTime;
  if (elapsed > 0 && elapsed < 1)
    duration = 1;
  else
    duration = std::isfinite(elapsed) && std::fabs(elapsed) < 1e15 ? static_cast<long>(std::trunc(elapsed)) : 0;
}

void DUVPageFlow::addPage(const DUVPage& page) {
  if (page.duration == 0) {
    tempFlow_.push_back(page);
    return;
  }
  pageFlow_.push_back(os::Value(os::Dictionary{{page.pageName, os::Value(page.duration)}}));
  DUVClassLogger("DUVPageFlow")->logMessage("添加页面成功", "add page to flow succed.", &DUVLevel::debug());
}

void DUVPageFlow::writeToFile(DUVFileCache& cache) const { cache.setObject(os::Value(pageFlow_), kLastFlowKey); }

bool DUVPageFlow::readFromFile(DUVFileCache& cache) {
  os::Value stored = cache.objectForKey(kLastFlowKey);
  cache.removeObjectForKey(kLastFlowKey);
  const os::Array* flow = stored.array();
  if (!flow) return false;
  // Only entries of the form page name -> seconds: anything else in the file is not a page.
  pageFlow_.clear();
  for (const auto& entry : *flow)
    if (const os::Dictionary* page = entry.dictionary(); page && page->size() == 1 && page->begin()->second.isNumber())
      pageFlow_.push_back(entry);
  return true;
}

void DUVPageFlow::clearFlow() {
  pageFlow_.clear();
  tempFlow_.clear();
}
