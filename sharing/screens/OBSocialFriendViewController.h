#pragma once
// The friend picker: the current platform's friends in alphabetical sections by the first letter
// of their pinyin, the recently mentioned ones in a section of their own on top, a search field,
// and a reload from the sharing service. Picking a friend hands "@" and the friend's link name
// to the screen that opened the picker, remembers the friend as recently mentioned and pops.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/views/SearchBar.h"
#include "os/views/TableView.h"
#include "sharing/screens/OBSocialViewController.h"
#include "sharing/service/OBSDataManager.h"

namespace os {
class Button;
class Image;
}  // namespace os
class KHProgressHUD;
class OBSFriendEntity;

// The screen that takes a picked mention.
class OBSGridViewItemClickedDelegate {
 public:
  virtual ~OBSGridViewItemClickedDelegate() = default;
  virtual void itemClicked(const std::string& text) {}
};

// Recently mentioned friends show at most this many, newest first.
inline constexpr std::size_t kOBSocialRecentFriendsShown = 5;

class OBSocialFriendViewController : public OBSocialViewController,
                                     public OBSocialDataDelegate,
                                     public os::TableViewDataSource,
                                     public os::TableViewDelegate,
                                     public os::SearchBarDelegate {
 public:
  struct Section {
    std::string key;
    std::vector<std::shared_ptr<OBSFriendEntity>> friends;
  };

  using OBSocialViewController::OBSocialViewController;
  std::string className() const override { return "OBSocialFriendViewController"; }

  std::weak_ptr<OBSGridViewItemClickedDelegate> umsDelegate;

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  // Rebuilds the sections from the friends the user manager holds for the platform.
  void buildSections();
  const std::vector<Section>& filterFriendArray() const { return sections_; }
  // The side index: the recent key, each letter that has a section, then the other key.
  std::vector<std::string> sectionIndexTitles() const;
  void refreshFriends();
  void searchFrinds(const std::string& text);
  bool isSearch() const { return isSearch_; }
  const std::vector<std::shared_ptr<OBSFriendEntity>>& searchFriendArray() const { return hits_; }
  void close();

  const std::shared_ptr<os::TableView>& tableView() const { return tableView_; }
  const std::shared_ptr<os::SearchBar>& searchBar() const { return searchBar_; }
  const std::shared_ptr<KHProgressHUD>& hudView() const { return hud_; }

  void didFinishGetOBSocialDataResponse(const std::shared_ptr<OBSocialResponseEntity>& response) override;

  long numberOfSectionsInTableView(os::TableView& table) override;
  long numberOfRowsInSection(os::TableView& table, long section) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<std::string> titleForHeaderInSection(os::TableView& table, long section) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  void scrollViewWillBeginDragging(os::ScrollView& scrollView) override;

  void textDidChange(os::SearchBar& bar, const std::string& text) override;
  void searchBarSearchButtonClicked(os::SearchBar& bar) override;

 private:
  std::optional<std::string> platformName() const;
  void layout();
  void pick(const std::shared_ptr<OBSFriendEntity>& picked);

  std::vector<Section> sections_;
  std::vector<std::shared_ptr<OBSFriendEntity>> hits_;
  bool isSearch_ = false;
  bool hasRecent_ = false;  // the first section is the recently mentioned one
  std::shared_ptr<os::TableView> tableView_;
  std::shared_ptr<os::SearchBar> searchBar_;
  std::shared_ptr<KHProgressHUD> hud_;
  std::shared_ptr<os::Button> refreshButton_;
};
