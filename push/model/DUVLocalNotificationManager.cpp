#include "push/model/DUVLocalNotificationManager.h"

#include "foundation/formats/DateCalendar.h"
#include "os/views/AlertView.h"
#include "os/views/Device.h"
#include "push/utilities/DUVLogger.h"

namespace {
void error(const std::string& message) { DUVClassLogger("DUVLocalNotificationManager")->log(DUVLevel::error(), message); }
}  // namespace

std::optional<os::LocalNotification> DUVLocalNotificationManager::setLocalNotification(
    std::optional<os::Date> fireDate, const std::string& alertBody, int badge, const std::string& alertAction,
    const std::string& identifierKey, const os::Dictionary& userInfo, const std::string& soundName,
    const std::optional<os::CircularRegion>& region, bool regionTriggersOnce, const std::optional<std::string>& category) {
  if (!fireDate) {
    error("通知时间不能为空");
    return std::nullopt;
  }
  if (*fireDate < os::Date::now()) {
    error("设置LocalNotification通知时间小于当前时间");
    return std::nullopt;
  }
  auto app = os::Application::shared();
  if (!app) {
    error("设置LocalNotification失败");
    return std::nullopt;
  }
  os::LocalNotification notification;
  notification.fireDate = fireDate;
  notification.timeZone = DateCalendar::currentCalendar().timeZone().name();
  notification.alertBody = alertBody;
  notification.soundName = soundName.empty() ? "UILocalNotificationDefaultSoundName" : soundName;
  notification.alertAction = alertAction;
  if (badge != 0) notification.applicationIconBadgeNumber = badge;
  notification.userInfo = userInfo;
  if (!identifierKey.empty()) notification.userInfo.set(kDUVNotificationKey, os::Value(identifierKey));
  if (os::Device::current().systemVersionNumber() >= 8.0) {
    notification.region = region;
    notification.regionTriggersOnce = regionTriggersOnce;
    notification.category = category;
  }
  if (app->scheduledLocalNotifications().size() >= kMaximumScheduled) {
    // Not scheduled: answering it would tell the caller it will fire.
    error("设置本地通知不能大于64个");
    return std::nullopt;
  }
  app->scheduleLocalNotification(notification);
  return notification;
}

void DUVLocalNotificationManager::showLocalNotificationAtFront(const std::optional<os::LocalNotification>& notification,
                                                               const std::optional<std::string>& identifierKey) {
  if (!notification) return error("notification参数错误，不能为空");
  if (identifierKey && notification->userInfo[kDUVNotificationKey] != os::Value(*identifierKey)) return;
  std::vector<std::string> others;
  if (!notification->alertAction.empty()) others.push_back(notification->alertAction);
  auto alert = std::make_shared<os::AlertView>("", notification->alertBody, std::weak_ptr<os::AlertViewDelegate>(),
                                               std::string("关闭"), others);
  alert->show();
}

std::optional<std::vector<os::LocalNotification>> DUVLocalNotificationManager::findLocalNotificationWithIdentifier(
    const std::optional<std::string>& identifierKey) {
  if (!identifierKey) {
    error("notificationKey参数错误，不能为空");
    return std::nullopt;
  }
  std::vector<os::LocalNotification> found;
  if (auto app = os::Application::shared())
    for (const auto& n : app->scheduledLocalNotifications())
      if (n.userInfo[kDUVNotificationKey] == os::Value(*identifierKey)) found.push_back(n);
  return found;
}

void DUVLocalNotificationManager::deleteLocalNotificationWithIdentifierKey(const std::optional<std::string>& identifierKey) {
  if (!identifierKey) return error("notificationKey参数错误,不能为空");
  auto app = os::Application::shared();
  if (!app) return;
  auto found = findLocalNotificationWithIdentifier(identifierKey);
  for (const auto& n : *found) app->cancelLocalNotification(n);
}

void DUVLocalNotificationManager::deleteLocalNotification(const std::optional<os::LocalNotification>& notification) {
  if (!notification) return error("localNotification参数错误,不能为空");
  if (auto app = os::Application::shared()) app->cancelLocalNotification(*notification);
}

void DUVLocalNotificationManager::clearAllLocalNotifications() {
  if (auto app = os::Application::shared()) app->cancelAllLocalNotifications();
}
