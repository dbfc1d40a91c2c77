#pragma once
// Command 10: the tags and alias of this device, as a compact JSON object.
#include <functional>
#include <vector>

#include "push/protocol/tcp/base/DUVRequest.h"

class DUVSetTagAlias : public DUVRequest {
 public:
  // The frame may not reach this size; such a request is answered with kDUVTagAliasTooLong.
  static constexpr std::size_t kMaximumFrameSize = 1024;
  static constexpr int kDUVTagAliasTooLong = 6008;

  DUVSetTagAlias(std::uint16_t rid, std::optional<std::vector<std::string>> tags, std::optional<std::string> alias)
      : DUVRequest(4, 10, kDUVLoginRequired | kDUVExclusive | kDUVCanBeQueuedIfNotLogin | kDUVAckOrRespRequiredForVersion1,
                   rid),
        tags_(std::move(tags)), alias_(std::move(alias)) {}
  std::string name() const override { return "tags and alias"; }

  const std::optional<std::vector<std::string>>& tags() const { return tags_; }
  const std::optional<std::string>& alias() const { return alias_; }
  bool isEqualToRequest(const DUVRequest& other) const override;
  os::Data requestJsonData() const;
  // Told (rid, 6008) when the frame is too long; the request then yields no frame.
  void setTooLongHandler(std::function<void(std::uint16_t, int)> handler) { tooLong_ = std::move(handler); }

 protected:
  bool packData(os::ByteWriter& buffer, const DUVPacketContext& context) override;

 private:
  std::optional<std::vector<std::string>> tags_;
  std::optional<std::string> alias_;
  std::function<void(std::uint16_t, int)> tooLong_;
};
