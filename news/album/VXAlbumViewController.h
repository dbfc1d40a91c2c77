#pragma once
// A photo album: an article of type "album" whose body is pictures, paged full screen on black
// with the album's title, a page counter, the picture's caption and a small tool bar (favourite,
// share, save to the photo album). It opens from the article's offline file when that holds
// pictures, else asks the server and keeps the answer as the offline file. A tap on a picture
// hides or shows every control.
#include <memory>
#include <optional>
#include <vector>

#include "news/album/VXImageViewer.h"
#include "news/shell/NQBaseViewController.h"
#include "os/core/Error.h"
#include "os/core/Value.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/ScrollView.h"
#include "ui/widgets/PageFlowView.h"

class VXReaderContext;

class VXAlbumViewController : public NQBaseViewController, public PageFlowViewDataSource, public PageFlowViewDelegate {
 public:
  static constexpr int kCaptionLabelTag = 1;
  static constexpr int kFavoriteButtonTag = 1;
  static constexpr int kShareButtonTag = 2;
  static constexpr int kDownloadButtonTag = 3;
  // How far a short picture is raised, clear of the caption.
  static constexpr double kPageOffset = 40;

  // {"id", "category", "icon"} of the album; the dictionary is copied. `context`: the reader
  // context whose servers, HUD and helpers the screen uses.
  static std::shared_ptr<VXAlbumViewController> initWithDict(const os::Dictionary& dict,
                                                             std::shared_ptr<VXReaderContext> context);
  explicit VXAlbumViewController(std::shared_ptr<VXReaderContext> context) : context_(std::move(context)) {}
  ~VXAlbumViewController() override;
  std::string className() const override { return "VXAlbumViewController"; }

  const os::Dictionary& infoDict() const { return infoDict_; }
  const std::vector<std::shared_ptr<VXNewsDetailImageDO>>& imageArray() const { return imageArray_; }
  bool hideControls() const { return hideControls_; }
  const std::shared_ptr<PageFlowView>& pageFlowView() const { return pageFlowView_; }
  const std::shared_ptr<os::Button>& backButton() const { return backButton_; }
  const std::shared_ptr<os::Label>& titleLabel() const { return titleLabel_; }
  const std::shared_ptr<os::Label>& pageLabel() const { return pageLabel_; }
  const std::shared_ptr<os::ScrollView>& summaryView() const { return summaryView_; }
  const std::shared_ptr<os::View>& toolView() const { return toolView_; }
  std::shared_ptr<os::Label> captionLabel() const;
  std::shared_ptr<os::Button> toolButton(int tag) const;

  void viewDidLoad() override;
  bool prefersStatusBarHidden() const override { return true; }
  void initViews();
  // Fills the pictures from the offline file and asks the server for the favourite mark (no
  // detail request); false when the file has no picture.
  bool loadOfflineData();
  void loadRequest();
  // Takes the pictures, title and address of a detail answer; false when it has no picture.
  bool parseWithDict(const std::optional<os::Dictionary>& answer);
  void addOtherInfo();
  // Counter and caption of picture i (ignored beyond the pictures).
  void changeControlsByIndex(long index);
  // Offline saves of the current context still running, and a wait for them (real seconds), for
  // tests and shut-down.
  static int pendingOfflineSaves();
  static bool waitForOfflineSaves(double seconds);

  // Pages.
  std::optional<os::Size> sizeForPageInFlowView(PageFlowView& flowView) override;
  std::optional<int> numberOfPagesInFlowView(PageFlowView& flowView) override;
  std::shared_ptr<os::View> cellForPageAtIndex(PageFlowView& flowView, int index) override;
  void didScrollToPageAtIndex(PageFlowView& flowView, int index) override;
  void didTapPageAtIndex(PageFlowView& flowView, int index) override;

  // Buttons.
  void clickBackButton();
  void clickFavoriteButton();
  void clickShareButton();
  void clickDownloadButton();
  void imageDidFinishSavingWithError(const os::Error* error);

 private:
  std::shared_ptr<VXAlbumViewController> self();
  void showHud(const std::string& text, bool autoHide);
  os::Value infoValue(std::string_view key) const;
  std::shared_ptr<os::Button> addToolButton(int tag, double x, const char* label, const char* image, const char* pressed,
                                            const char* selected, void (VXAlbumViewController::*action)());

  // Weak: the context holds the side menu, which holds the navigation showing this screen.
  std::weak_ptr<VXReaderContext> context_;
  os::Dictionary infoDict_;
  std::vector<std::shared_ptr<VXNewsDetailImageDO>> imageArray_;
  bool hideControls_ = false;
  std::shared_ptr<PageFlowView> pageFlowView_;
  std::shared_ptr<os::Button> backButton_;
  std::shared_ptr<os::Label> titleLabel_;
  std::shared_ptr<os::Label> pageLabel_;
  std::shared_ptr<os::ScrollView> summaryView_;
  std::shared_ptr<os::View> toolView_;
};
