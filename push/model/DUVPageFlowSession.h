#pragma once
// How long the application shows each of its pages: finished pages collect into the current
// flow (page name -> whole seconds), unfinished ones are parked, the flow outlives the process in
// the shared file cache, and it is reported as the activities of a usage session when it closes.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"

class DUVFileCache;

struct DUVPage {
  std::string pageName = "unknow";
  double startTime = 0;
  long duration = 0;  // whole seconds; 0 while unfinished
  // Under a second counts as one; otherwise truncated.
  void stop(double t);
};

class DUVPageFlowSession {
 public:
  // The file-cache entry of the finished pages kept over a pause.
  static constexpr const char* kLastFlowKey = "__ZRFPFLastFlow";
  // Told when a session closes: the launch of the next one, then the closed one's pages.
  struct Reporter {
    std::function<void()> reportLaunch;
    std::function<void(os::Array pages)> reportActive;
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
  // The finished pages of the open session.
  const os::Array& pageFlow() const { return pageFlow_; }
  const std::vector<DUVPage>& tempFlow() const { return tempFlow_; }
  const std::optional<DUVPage>& currentPage() const { return currentPage_; }

 private:
  void addPage(const DUVPage& page);

  std::shared_ptr<DUVFileCache> fileCache_;
  Reporter reporter_;
  bool isSetup_ = false;
  double startTime_ = 0;
  std::optional<DUVPage> currentPage_, tempPage_;
  os::Array pageFlow_;
  std::vector<DUVPage> tempFlow_, keptTempFlow_;
};
