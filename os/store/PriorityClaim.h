#pragma once
// A claim to go first for a resource that has no queue of its own, seen across processes and across
// connections of one process: a party that has waited long claims, and newcomers hold back while a
// claim stands. Made of an advisory lock on a side file (created by the first claim), so the claim
// of a party that dies goes with it.
#include <string>

namespace os {

class PriorityClaim {
 public:
  explicit PriorityClaim(std::string path) : path_(std::move(path)) {}
  ~PriorityClaim();
  PriorityClaim(const PriorityClaim&) = delete;
  PriorityClaim& operator=(const PriorityClaim&) = delete;

  // Never waits: false when another party holds the claim.
  bool claim();
  void release();
  bool held() const { return held_; }
  // Whether another party holds the claim (false while this one holds it).
  bool claimedByOther();

 private:
  std::string path_;
  int claimFd_ = -1;
  int probeFd_ = -1;
  bool held_ = false;
};

}  // namespace os
