#pragma once
// Gives the sharing screens' navigation bars, titles and bar buttons their look, by the theme of
// the component's settings, and keeps the host application's bar translucency so that it can be
// given back when a sharing screen goes away.
#include <memory>
#include <optional>
#include <string>

namespace os {
class Button;
class NavigationBar;
class NavigationItem;
}  // namespace os

class OBSocialUIHelper {
 public:
  static std::shared_ptr<OBSocialUIHelper> shareInstance();

  static void customNavBar(os::NavigationBar& bar);
  static void setTranslucent(os::NavigationBar& bar);
  static void setNavigationBarTranslucent(os::NavigationBar& bar);
  static void customNavigationItem(os::NavigationItem& item);
  static void customNavBackButton(os::Button& button, const std::optional<std::string>& title);
  static void customNavButton(os::Button& button, const std::optional<std::string>& title);
  static void customNavPostButton(os::Button& button);
  static void customNavRefreshButton(os::Button& button);

  bool isTranslucent = false;
  bool isSetTranslucent = false;
};
