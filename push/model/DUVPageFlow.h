#pragma once
// The pages of one statistics session: finished pages in order, each a one-entry dictionary page
// name -> whole seconds, and the unfinished (parked) pages. The finished list outlives the process
// in the shared file cache.
#include <memory>
#include <string>
#include <vector>

#include "os/core/Value.h"

class DUVFileCache;

// One page view.
struct DUVPage {
  std::string pageName = "unknow";
  double startTime = 0;
  long duration = 0;  // whole seconds; 0 while unfinished
  // Under a second counts as one; otherwise truncated towards zero.
  void stop(double t);
};

class DUVPageFlow {
 public:
  // The file-cache entry of the finished pages kept over a pause.
  static constexpr const char* kLastFlowKey = "__ZRFPFLastFlow";

  // A finished page (non-zero duration) joins the finished list; an unfinished one is parked.
  void addPage(const DUVPage& page);
  const os::Array& pageFlow() const { return pageFlow_; }
  std::vector<DUVPage>& tempFlow() { return tempFlow_; }
  const std::vector<DUVPage>& tempFlow() const { return tempFlow_; }
  // The finished list into the file cache, and back (the entry leaves the cache); false when
  // none was kept.
  void writeToFile(DUVFileCache& cache) const;
  bool readFromFile(DUVFileCache& cache);
  void clearFlow();

 private:
  os::Array pageFlow_;
  std::vector<DUVPage> tempFlow_;
};
