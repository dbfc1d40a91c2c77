#include "push/model/DUVMessageCenter.h"

#include <algorithm>

#include "push/model/DUVNotifications.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUtilities.h"

void DUVMessageCenter::dispatchMessage(const DUVMessageDispatch& message) {
  std::uint32_t id = message.messageID();
  if (std::find(receivedMsgIds_.begin(), receivedMsgIds_.end(), id) != receivedMsgIds_.end()) {
    DUVClassLogger("DUVMessageCenter")
        ->logMessage(std::nullopt, "repeated for message id " + std::to_string(id), &DUVLevel::debug());
    return;
  }
  if (receivedMsgIds_.size() >= kRememberedIds) receivedMsgIds_.pop_front();
  receivedMsgIds_.push_back(id);
  if (auto info = message.getDispatchMessageUserInfo()) {
    const std::size_t charge = os::URLReceiveWindow::charge(message.messageContent().value_or("").size());
    window_->handedOver(charge);
    DUVPostNotificationWithUserInfo(kDUVNetworkDidReceiveMessageNotification, *info,
                                    [window = window_, charge] { window->taken(charge); });
  }
}
