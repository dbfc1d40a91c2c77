#pragma once
// The messenger on the reader's simulated device, no bigger than the share road needs: it takes
// a share request ("weixin://app/<app id>/sendreq/?"), reads the record the reader left on the
// pasteboard, says on the console what it received, and answers that the share went out. The
// record is read as plain property lists, as the messenger itself would, not with the reader's
// messenger client.
#include <memory>
#include <ostream>
#include <string>

#include "app/main/PeerApplication.h"

namespace os {
class Sandbox;
class URL;
}  // namespace os

namespace reader {

class MessengerPeer {
 public:
  // Installs the messenger beside the reader: its own home and bundle in `folder`, the reader's
  // device folder (pasteboards, URL schemes). Null when its folders cannot be made.
  static std::shared_ptr<MessengerPeer> install(const std::string& folder, const std::shared_ptr<os::Sandbox>& reader,
                                                std::ostream& out);

  // One URL the messenger was opened with; false when it is no request it knows.
  bool take(const os::URL& url);

 private:
  explicit MessengerPeer(std::ostream& out) : out_(out) {}

  std::ostream& out_;
  std::unique_ptr<PeerApplication> application_;
};

}  // namespace reader
