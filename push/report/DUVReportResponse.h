#pragma once
// The reply to one report packet: its HTTP status decides the fate of the packet's records in the
// report cache. 200, 400 and 401 delete them from the in-flight area (accepted, or refused for
// good); 403 and 5xx move them back to the pending records for a later report; any other status
// leaves them in flight until the next activation.
#include <memory>
#include <string>
#include <vector>

class DUVReportCache;

// The reply to one send: the status and nothing more.
class DUVHttpResponse {
 public:
  explicit DUVHttpResponse(int statusCode) : statusCode_(statusCode) {}
  virtual ~DUVHttpResponse() = default;
  int statusCode() const { return statusCode_; }
  virtual void handleReceipt() {}
  virtual void deleteContent() {}

 private:
  int statusCode_;
};

class DUVReportResponse : public DUVHttpResponse {
 public:
  // `keys`: where the packet's records wait in the in-flight area.
  DUVReportResponse(int statusCode, std::shared_ptr<DUVReportCache> cache, std::vector<std::string> keys)
      : DUVHttpResponse(statusCode), cache_(std::move(cache)), keys_(std::move(keys)) {}
  void handleReceipt() override;
  // The packet's records leave the in-flight area.
  void deleteContent() override;
  // The packet's records go back to the pending records.
  void saveReportPackage();

 private:
  std::shared_ptr<DUVReportCache> cache_;
  std::vector<std::string> keys_;
};
