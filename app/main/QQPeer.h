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

namespace reader {

// Installs QQ beside the reader as installMessenger does the messenger.
std::unique_ptr<PeerApplication> installQQ(const std::string& folder, const std::shared_ptr<os::Sandbox>& reader,
                                           std::ostream& out);

}  // namespace reader
