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

namespace reader {

// Installs the messenger beside the reader: its own home and bundle in `folder`, the reader's
// device folder. Null when its folders cannot be made.
std::unique_ptr<PeerApplication> installMessenger(const std::string& folder, const std::shared_ptr<os::Sandbox>& reader,
                                                  std::ostream& out);

}  // namespace reader
