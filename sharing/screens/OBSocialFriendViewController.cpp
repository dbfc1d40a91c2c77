#include "sharing/screens/OBSocialFriendViewController.h"

#include <algorithm>
#include <cctype>

#include "os/graphics/Image.h"
#include "os/store/Bundle.h"
#include "os/views/BarButtonItem.h"
#include "os/views/Button.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/NavigationBar.h"
#include "os/views/NavigationController.h"
#include "os/views/TextField.h"
#include "sharing/screens/OBSShareListController.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/screens/OBSocialUIHelper.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/widgets/OBImageLoader.h"
#include "sharing/widgets/OBSocialKHProgressHUD.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

constexpr const char* kCellIdentifier = "SocialFriendListCell";
constexpr double kSearchBarHeight = 50;

std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : "";
}

std::string localizedOr(const std::string& key, const std::string& fallback) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, fallback, "OBSocialLocalizable") : fallback;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A letter section for a pinyin starting with a Latin letter; every other friend, one without
// pinyin included, goes to the section of the rest rather than being left out.
std::string sectionKey(const std::optional<std::string>& pinyin, const std::string& otherKey) {
  if (!pinyin || pinyin->empty()) return otherKey;
  const char first = static_cast<char>(std::toupper(static_cast<unsigned char>((*pinyin)[0])));
  return first >= 'A' && first <= 'Z' ? std::string(1, first) : otherKey;
}

}  // namespace

std::optional<std::string> OBSocialFriendViewController::platformName() const {
  return socialControllerService ? socialControllerService->currentSnsPlatformName : std::nullopt;
}

void OBSocialFriendViewController::viewDidLoad() {
  auto root = view();
  const os::Rect bounds = root->bounds();
  auto self = std::dynamic_pointer_cast<OBSocialFriendViewController>(shared_from_this());
  std::weak_ptr<OBSocialFriendViewController> weak = self;

  auto back = os::Button::buttonWithType(os::ButtonType::Custom);
  OBSocialUIHelper::customNavBackButton(*back, localized("button_back"));
  back->addTarget(
      back.get(), [weak](os::Control&) { if (auto me = weak.lock()) me->close(); }, os::kControlEventTouchUpInside);
  navigationItem()->setLeftBarButtonItem(os::BarButtonItem::withCustomView(back));
  refreshButton_ = os::Button::buttonWithType(os::ButtonType::Custom);
  OBSocialUIHelper::customNavRefreshButton(*refreshButton_);
  refreshButton_->addTarget(
      refreshButton_.get(), [weak](os::Control&) { if (auto me = weak.lock()) me->refreshFriends(); },
      os::kControlEventTouchUpInside);
  navigationItem()->setRightBarButtonItem(os::BarButtonItem::withCustomView(refreshButton_));
  if (const auto& config = OBSocialConfigInternal::shareInstance()->navigationbarConfig) {
    OBSNavigationBarViews views;
    views.backButton = back.get();
    views.extraButton = refreshButton_.get();
    config(views);
  }

  searchBar_ = std::make_shared<os::SearchBar>(os::Rect(0, 0, bounds.size.width, kSearchBarHeight));
  searchBar_->setBackgroundColor(os::Color::rgba(196.0 / 255, 196.0 / 255, 196.0 / 255, 196.0 / 255));
  searchBar_->textField()->setBackgroundColor(os::Color::white());
  searchBar_->setDelegate(std::weak_ptr<os::SearchBarDelegate>(self));
  root->addSubview(searchBar_);

  tableView_ = std::make_shared<os::TableView>(
      os::Rect(0, kSearchBarHeight, bounds.size.width, bounds.size.height - kSearchBarHeight - 44), os::TableViewStyle::Plain);
  if (socialControllerService) tableView_->setBackgroundColor(socialControllerService->defaultColor);
  tableView_->setDataSource(std::weak_ptr<os::TableViewDataSource>(self));
  tableView_->setDelegate(std::weak_ptr<os::TableViewDelegate>(self));
  root->addSubview(tableView_);

  hud_ = OBSocialKHProgressHUD::initWithView(*root);
  hud_->setLabelText(localized("loading"));
  root->addSubview(hud_);
}

void OBSocialFriendViewController::layout() {
  const os::Rect bounds = view()->bounds();
  searchBar_->setFrame(os::Rect(0, -1, bounds.size.width, kSearchBarHeight));
  tableView_->setFrame(os::Rect(0, kSearchBarHeight, bounds.size.width, bounds.size.height - 45));
}

void OBSocialFriendViewController::viewWillAppear(bool) {
  if (socialControllerService) view()->setBackgroundColor(socialControllerService->defaultColor);
  layout();
  auto name = platformName();
  if (name && OBSUserManager::shareInstance()->friendsDictionaryWithSnsName(*name))
    buildSections();
  else
    refreshFriends();
  tableView_->reloadData();
}

void OBSocialFriendViewController::viewWillDisappear(bool) {
  if (socialControllerService) socialControllerService->socialDataService()->setOBSocialDelegate({});
}

void OBSocialFriendViewController::buildSections() {
  sections_.clear();
  hasRecent_ = false;
  auto name = platformName();
  if (!name) return;
  auto users = OBSUserManager::shareInstance();
  const std::string otherKey = localized("shareEdit_C");

  std::vector<Section> letters;
  for (const auto& [id, entity] : users->friendsDictionaryWithSnsName(*name).value_or(OBSFriendDictionary{})) {
    if (!entity) continue;
    const std::string key = sectionKey(entity->pinyin, otherKey);
    auto section = std::find_if(letters.begin(), letters.end(), [&](const Section& s) { return s.key == key; });
    if (section == letters.end()) section = letters.insert(letters.end(), Section{key, {}});
    section->friends.push_back(entity);
  }
  std::stable_sort(letters.begin(), letters.end(),
                   [](const Section& a, const Section& b) { return lowered(a.key) < lowered(b.key); });

  // Kept oldest first: the newest come first here.
  auto recent = users->atFriendsDictionaryWithSnsName(*name);
  if (recent && !recent->empty()) {
    Section used{localized("shareEdit_used"), {}};
    for (auto entry = recent->rbegin(); entry != recent->rend() && used.friends.size() < kOBSocialRecentFriendsShown; ++entry)
      if (auto entity = OBSFriendEntity::fromCacheValue(*entry)) used.friends.push_back(entity);
    sections_.push_back(std::move(used));
    hasRecent_ = true;
  }
  for (auto& section : letters) sections_.push_back(std::move(section));
}

std::vector<std::string> OBSocialFriendViewController::sectionIndexTitles() const {
  std::vector<std::string> titles;
  if (isSearch_) return titles;
  const std::size_t first = hasRecent_ ? 1 : 0;
  if (hasRecent_) titles.push_back(sections_.front().key);
  std::optional<std::string> other;
  for (std::size_t i = first; i < sections_.size(); ++i) {
    const std::string& key = sections_[i].key;
    if (key.size() == 1 && key[0] >= 'A' && key[0] <= 'Z')
      titles.push_back(key);
    else
      other = key;
  }
  if (other) titles.push_back(*other);
  return titles;
}

void OBSocialFriendViewController::refreshFriends() {
  if (!socialControllerService) return;
  auto name = platformName();
  if (!name || !OBSUserManager::isPlatformTypeValid(*name)) {
    // The service keeps friends only for some platforms and refuses the others without a word:
    // no panel is put up to wait for an answer that never comes, and the reader learns why the
    // list stays empty.
    OBSocialXToast::makeText(localizedOr("friendList_unsupported", "该平台没有好友列表"))->show();
    return;
  }
  if (hud_) hud_->show(true);
  auto self = std::dynamic_pointer_cast<OBSocialFriendViewController>(shared_from_this());
  auto data = socialControllerService->socialDataService();
  data->setOBSocialDelegate(std::weak_ptr<OBSocialDataDelegate>(self));
  // The answer also comes as the completion: the request may go out on another data's queue,
  // whose answers this screen does not hear as its delegate, or not go out at all (no
  // application key), and neither may leave the panel spinning.
  std::weak_ptr<OBSocialFriendViewController> weak = self;
  data->requestSnsFriendsInternal(*name, [weak](const std::shared_ptr<OBSocialResponseEntity>& response) {
    if (auto me = weak.lock()) me->didFinishGetOBSocialDataResponse(response);
  });
}

void OBSocialFriendViewController::didFinishGetOBSocialDataResponse(const std::shared_ptr<OBSocialResponseEntity>&) {
  buildSections();
  if (hud_) hud_->hide(true);
  if (tableView_) tableView_->reloadData();
}

void OBSocialFriendViewController::searchFrinds(const std::string& text) {
  if (text.empty()) {
    isSearch_ = false;
    tableView_->reloadData();
    return;
  }
  if (sections_.empty()) return;
  hits_.clear();
  const std::size_t first = hasRecent_ ? 1 : 0;
  const std::string wanted = lowered(text);
  for (std::size_t i = first; i < sections_.size(); ++i)
    for (const auto& entity : sections_[i].friends)
      if (entity->name && lowered(*entity->name).find(wanted) != std::string::npos) hits_.push_back(entity);
  isSearch_ = true;
  tableView_->reloadData();
}

void OBSocialFriendViewController::textDidChange(os::SearchBar&, const std::string& text) { searchFrinds(text); }

void OBSocialFriendViewController::searchBarSearchButtonClicked(os::SearchBar& bar) {
  bar.resignFirstResponder();
  searchFrinds(bar.text());
}

void OBSocialFriendViewController::scrollViewWillBeginDragging(os::ScrollView&) {
  if (searchBar_) searchBar_->resignFirstResponder();
}

long OBSocialFriendViewController::numberOfSectionsInTableView(os::TableView&) {
  return isSearch_ ? 1 : static_cast<long>(sections_.size());
}

long OBSocialFriendViewController::numberOfRowsInSection(os::TableView&, long section) {
  if (isSearch_) return static_cast<long>(hits_.size());
  return section >= 0 && static_cast<std::size_t>(section) < sections_.size()
             ? static_cast<long>(sections_[static_cast<std::size_t>(section)].friends.size())
             : 0;
}

std::optional<std::string> OBSocialFriendViewController::titleForHeaderInSection(os::TableView&, long section) {
  if (isSearch_) return std::string();
  if (section < 0 || static_cast<std::size_t>(section) >= sections_.size()) return std::nullopt;
  return sections_[static_cast<std::size_t>(section)].key;
}

std::shared_ptr<os::TableViewCell> OBSocialFriendViewController::cellForRowAtIndexPath(os::TableView& table,
                                                                                     const os::IndexPath& path) {
  auto cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
  if (!cell) {
    cell = std::make_shared<os::TableViewCell>(os::TableViewCellStyle::Default, kCellIdentifier);
    cell->textLabel()->setTextColor(os::Color::rgba(0.2, 0.2, 0.2, 1));
    cell->textLabel()->setFont(os::Font::systemFont(12));
    cell->imageView()->layer().setCornerRadius(7);
    cell->imageView()->setClipsToBounds(true);
  }
  std::shared_ptr<OBSFriendEntity> entity;
  if (isSearch_) {
    if (path.row >= 0 && static_cast<std::size_t>(path.row) < hits_.size()) entity = hits_[static_cast<std::size_t>(path.row)];
  } else if (path.section >= 0 && static_cast<std::size_t>(path.section) < sections_.size()) {
    const auto& friends = sections_[static_cast<std::size_t>(path.section)].friends;
    if (path.row >= 0 && static_cast<std::size_t>(path.row) < friends.size()) entity = friends[static_cast<std::size_t>(path.row)];
  }
  cell->textLabel()->setText(entity && entity->name ? *entity->name : "");
  // The cached picture when there is one, else the placeholder; a download fills the cache for
  // the next time the row shows.
  auto picture =
      std::make_shared<OBImageView>(os::imageNamed("OBSocialSDKResourcesNew.bundle/Buttons/OBS_User-Avatar-Placeholder"));
  if (entity && entity->imageURL) picture->setImageURL(entity->imageURL);
  cell->imageView()->setImage(OBSShareListController::changeImage(picture->image(), os::Size{35, 35}));
  return cell;
}

void OBSocialFriendViewController::didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& path) {
  table.deselectRowAtIndexPath(path, true);
  if (isSearch_) {
    if (path.row >= 0 && static_cast<std::size_t>(path.row) < hits_.size()) pick(hits_[static_cast<std::size_t>(path.row)]);
    return;
  }
  if (path.section < 0 || static_cast<std::size_t>(path.section) >= sections_.size()) return;
  const auto& friends = sections_[static_cast<std::size_t>(path.section)].friends;
  if (path.row >= 0 && static_cast<std::size_t>(path.row) < friends.size()) pick(friends[static_cast<std::size_t>(path.row)]);
}

void OBSocialFriendViewController::pick(const std::shared_ptr<OBSFriendEntity>& picked) {
  auto name = platformName();
  if (!picked || !name) return;
  auto users = OBSUserManager::shareInstance();
  // The friend's earlier places go: the list holds each friend once, newest last.
  os::Array recent = users->atFriendsDictionaryWithSnsName(*name).value_or(os::Array{});
  if (picked->usid)
    std::erase_if(recent, [&](const os::Value& entry) { return entry["usid"].stringOr() == *picked->usid; });
  recent.emplace_back(picked->cacheValue());
  users->setAtFriendsArray(recent, *name);
  if (auto delegate = umsDelegate.lock()) delegate->itemClicked("@" + picked->linkName.value_or(""));
  if (auto navigation = navigationController()) navigation->popViewController(true);
}

void OBSocialFriendViewController::close() {
  if (searchBar_) searchBar_->resignFirstResponder();
  if (auto navigation = navigationController()) navigation->popViewController(true);
}
