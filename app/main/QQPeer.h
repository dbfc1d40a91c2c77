#pragma once
// The QQ application on the reader's simulated device, no bigger than the share road needs: it
// takes a share ("mqqapi://share/to_fri?..."), reads the message from the URL's query and the
// large-data record the reader left on the pasteboard, says on the console what it received (to a
// friend or to QZone), and answers on the reader's callback scheme that the share went out. The
// query and record are read as QQ itself would (Base64 texts, a keyed archive), not with the
// reader's QQ client. It answers to the schemes of a QQ new enough for shares to QZone.
#include <memory>
#include <ostream>
#include <string>

#include "app/main/PeerApplication.h"

namespace os {
class Sandbox;
class URL;
}  // namespace os

namespace reader {

class QQPeer {
 public:
  static std::shared_ptr<QQPeer> install(const std::string& folder, const std::shared_ptr<os::Sandbox>& reader,
                                         std::ostream& out);

  // One URL QQ was opened with; false when it is not QQ's.
  bool take(const os::URL& url);

 private:
  explicit QQPeer(std::ostream& out) : out_(out) {}

  std::ostream& out_;
  std::unique_ptr<PeerApplication> application_;
};

}  // namespace reader
