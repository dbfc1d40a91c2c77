#include "sharing/screens/OBSShareListController.h"

#include <algorithm>

#include "os/graphics/Image.h"
#include "os/store/Bundle.h"
#include "os/views/Device.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/NamedImage.h"
#include "os/views/NavigationBar.h"
#include "os/views/NavigationController.h"
#include "os/views/Screen.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/screens/OBSocialUIHelper.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialUIDelegate.h"

namespace {

constexpr const char* kCellIdentifier = "OBSocialListCell";

std::string localized(const std::string& key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "OBSocialLocalizable") : "";
}

}  // namespace

void OBSShareListController::viewDidLoad() {
  setTitle(localized("shareList_title"));
  auto root = view();
  tableView_ = std::make_shared<os::TableView>(root->bounds(), os::TableViewStyle::Plain);
  tableView_->setAutoresizingMask(os::kViewAutoresizingFlexibleWidth | os::kViewAutoresizingFlexibleHeight);
  tableView_->setBackgroundView(nullptr);
  tableView_->setBackgroundColor(os::Color::clear());
  auto self = std::dynamic_pointer_cast<OBSShareListController>(shared_from_this());
  tableView_->setDataSource(std::weak_ptr<os::TableViewDataSource>(self));
  tableView_->setDelegate(std::weak_ptr<os::TableViewDelegate>(self));
  root->addSubview(tableView_);
  if (socialControllerService) socialControllerService->addCloseButton(*this);
  if (auto navigation = navigationController()) {
    OBSocialUIHelper::customNavBar(*navigation->navigationBar());
    if (const auto& config = OBSocialConfigInternal::shareInstance()->navigationbarConfig) {
      OBSNavigationBarViews views;
      views.navigationBar = navigation->navigationBar().get();
      views.navigationItem = navigationItem().get();
      config(views);
    }
  }
}

void OBSShareListController::viewWillAppear(bool) {
  if (os::Device::current().userInterfaceIdiom() != os::UserInterfaceIdiom::Pad) return;
  auto navigation = navigationController();
  auto sheet = navigation ? navigation->view()->superview() : nullptr;
  if (!sheet) return;
  os::Rect bounds = OBSocialConfigInternal::shareInstance()->boundsForiPad;
  if (bounds.size.width <= 0 || bounds.size.height <= 0) bounds = os::Rect(0, 0, 533, 545);
  sheet->setBounds(bounds);
}

bool OBSShareListController::shouldAutorotate() const {
  return OBSocialConfigInternal::shareInstance()->socialInterfaceOrientations != 0;
}

void OBSShareListController::setAllSnsArray(os::Array names) {
  allSnsArray_ = std::move(names);
  if (tableView_) tableView_->reloadData();
}

std::shared_ptr<os::Image> OBSShareListController::changeImage(const std::shared_ptr<os::Image>& image, os::Size size) {
  if (!image) return nullptr;
  const double scale = os::Screen::main().scale();
  auto redrawn = image->scaledToPixelSize(std::max(1, static_cast<int>(size.width * scale)),
                                          std::max(1, static_cast<int>(size.height * scale)));
  return redrawn ? redrawn->withScale(scale) : nullptr;
}

bool OBSShareListController::grouped() const {
  return std::any_of(allSnsArray_.begin(), allSnsArray_.end(), [](const os::Value& entry) { return entry.isArray(); });
}

long OBSShareListController::numberOfSectionsInTableView(os::TableView&) {
  return grouped() ? static_cast<long>(allSnsArray_.size()) : 1;
}

long OBSShareListController::numberOfRowsInSection(os::TableView&, long section) {
  if (!grouped()) return static_cast<long>(allSnsArray_.size());
  const os::Array* group = allSnsArray_[static_cast<std::size_t>(section)].array();
  return group ? static_cast<long>(group->size()) : 0;
}

std::optional<std::string> OBSShareListController::nameAt(const os::IndexPath& path) const {
  const os::Array* list = &allSnsArray_;
  if (grouped()) {
    if (path.section < 0 || static_cast<std::size_t>(path.section) >= allSnsArray_.size()) return std::nullopt;
    list = allSnsArray_[static_cast<std::size_t>(path.section)].array();
  }
  if (!list || path.row < 0 || static_cast<std::size_t>(path.row) >= list->size()) return std::nullopt;
  const std::string* name = (*list)[static_cast<std::size_t>(path.row)].string();
  return name ? std::optional<std::string>(*name) : std::nullopt;
}

std::shared_ptr<os::TableViewCell> OBSShareListController::cellForRowAtIndexPath(os::TableView& table,
                                                                                 const os::IndexPath& path) {
  auto cell = table.dequeueReusableCellWithIdentifier(kCellIdentifier);
  if (!cell) {
    cell = std::make_shared<os::TableViewCell>(os::TableViewCellStyle::Value1, kCellIdentifier);
    auto background =
        std::make_shared<os::ImageView>(os::imageNamed("OBSocialSDKResourcesNew.bundle/Buttons/OBS_comment_view_cell_white"));
    background->setFrame(os::Rect(0, 0, table.bounds().size.width, 45));
    cell->setBackgroundView(background);
    if (const auto& config = OBSocialConfigInternal::shareInstance()->tableViewCellConfig) config(cell.get());
  }
  auto name = nameAt(path);
  // A name the registry does not know gives an empty row.
  auto platform = name ? OBSocialSnsPlatformManager::sharedInstance()->getSnsPlatformWithName(*name, false) : nullptr;
  cell->textLabel()->setText(platform ? platform->displayName : "");
  cell->imageView()->setImage(platform ? changeImage(os::imageNamed(platform->bigImageName), os::Size{25, 25}) : nullptr);
  return cell;
}

std::shared_ptr<os::View> OBSShareListController::viewForHeaderInSection(os::TableView&, long) {
  auto header = std::make_shared<os::View>(os::Rect(0, 0, 50, 40));
  header->setBackgroundColor(os::Color::clear());
  return header;
}

void OBSShareListController::didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& path) {
  table.deselectRowAtIndexPath(path, true);
  auto name = nameAt(path);
  auto service = socialControllerService;
  if (!name || !service) return;
  auto self = std::static_pointer_cast<os::ViewController>(shared_from_this());
  auto delegate = service->socialUIDelegate();
  if (delegate && delegate->isDirectShareInIconActionSheet()) return service->directShare(*name, self);
  auto platform = OBSocialSnsPlatformManager::sharedInstance()->getSnsPlatformWithName(*name, false);
  if (platform && platform->snsClickHandler) platform->snsClickHandler(self, service, false);
}
