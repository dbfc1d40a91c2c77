#pragma once
// How long the application shows each of its pages: finished pages collect into the current
// flow, unfinished ones are parked, the flow outlives the process in the shared file cache, and
// it is reported as the activities of a usage session when it closes.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "push/model/DUVPageFlow.h"

class DUVFileCache;

class DUVPageFlowSession {
 public:
  static constexpr const char* kLastFlowKey = DUVPageFlow::kLastFlowKey;
  // Told when a session closes: the launch of the next one, then the closed one's flow.
  struct Reporter {
    std::function<void()> reportLaunch;
    std::function<void(const DUVPageFlow& flow)> reportActive;
  };
  DUVPageFlowSession(std::shared_ptr<DUVFileCache> fileCache, Reporter reporter)
      : fileCache_(std::move(fileCache)), reporter_(std::move(reporter)) {}

  void setViewStart(const std::optional<std::string>& name);
  void setViewStop(const std::optional<std::string>& name);
  // (name, seconds); 0 seconds parks the page as unfinished.
  void setViewLogSecond(const os::Array& pageAndSeconds);
  void trySetupSession();
  void setupSession();
  void closeSession();
  void savePageFlowWithTime(double t);
  // The finished list savePageFlowWithTime(t) would store, changing nothing.
  os::Array flowSavedAt(double t) const;
  void resetCurrentPage(double t);

  bool isSetup() const { return isSetup_; }
  // The flow of the open session; absent between sessions.
  const std::optional<DUVPageFlow>& currentFlow() const { return currentFlow_; }
  // Its finished pages (none between sessions).
  const os::Array& pageFlow() const;
  const std::optional<DUVPage>& currentPage() const { return currentPage_; }

 private:
  void addPage(const DUVPage& page);
  void resumeLastFlow();

  std::shared_ptr<DUVFileCache> fileCache_;
  Reporter reporter_;
  bool isSetup_ = false;
  double startTime_ = 0;
  std::optional<DUVPage> currentPage_, tempPage_;
  std::optional<DUVPageFlow> currentFlow_;
  std::vector<DUVPage> keptTempFlow_;  // the unfinished pages at the last move to the background
};
