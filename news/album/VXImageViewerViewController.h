#pragma once
// The pictures of an article full screen: presented over the article screen when the reader
// taps a picture, it pages through every picture of the article, counts them, saves the one
// shown to the photo album, and closes on a single tap. While it is up the application is in a
// full-screen state (VXGlobalDefine::screenStatus() 1), so pushed headlines wait.
#include <memory>
#include <vector>

#include "news/album/VXImageViewer.h"
#include "news/article/VXNewsDetailDO.h"
#include "news/shell/NQBaseViewController.h"
#include "os/core/Error.h"
#include "os/views/Label.h"
#include "os/views/TableView.h"
#include "ui/widgets/PageFlowView.h"

class VXReaderContext;

class VXImageViewerViewController : public NQBaseViewController,
                                    public PageFlowViewDataSource,
                                    public PageFlowViewDelegate {
 public:
  static constexpr int kPageLabelTag = 1;
  static constexpr const char* kNotLoadedText = "照片尚未下载成功";
  static constexpr const char* kSaveFailedText = "保存失败";
  static constexpr const char* kSavedText = "保存成功";

  // Opens on picture `index` of the picture rows (other rows are left out); the article's table
  // is reloaded when the viewer closes. Enters the full-screen state of `context` at once, whose
  // HUD it shows.
  static std::shared_ptr<VXImageViewerViewController> initWithIndex(long index,
                                                                   const std::vector<VXNewsDetailDOPtr>& imageArray,
                                                                   const std::shared_ptr<os::TableView>& tableView,
                                                                   std::shared_ptr<VXReaderContext> context);
  explicit VXImageViewerViewController(std::shared_ptr<VXReaderContext> context) : context_(std::move(context)) {}
  ~VXImageViewerViewController() override;
  std::string className() const override { return "VXImageViewerViewController"; }

  long currentIndex() const { return currentIndex_; }
  const std::vector<std::shared_ptr<VXNewsDetailImageDO>>& imageArray() const { return imageArray_; }
  const std::shared_ptr<PageFlowView>& pageFlowView() const { return pageFlowView_; }
  const std::shared_ptr<os::View>& toolView() const { return toolView_; }
  // The "n/total" counter on the tool bar (tagged kPageLabelTag); null before the view loads.
  std::shared_ptr<os::Label> pageLabel() const;

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  bool prefersStatusBarHidden() const override { return true; }

  // Pages.
  std::optional<os::Size> sizeForPageInFlowView(PageFlowView& flowView) override;
  std::optional<int> numberOfPagesInFlowView(PageFlowView& flowView) override;
  std::shared_ptr<os::View> cellForPageAtIndex(PageFlowView& flowView, int index) override;
  void didScrollToPageAtIndex(PageFlowView& flowView, int index) override;
  void didTapPageAtIndex(PageFlowView& flowView, int index) override;

  // The save button: the picture shown goes to the photo album.
  void clickButton();
  void imageDidFinishSavingWithError(const os::Error* error);

 private:
  std::shared_ptr<VXImageViewerViewController> self();
  void showCount(long index);
  void showHud(const std::string& text);

  // Weak: the context holds the side menu, which holds the article screen presenting this one.
  std::weak_ptr<VXReaderContext> context_;
  long currentIndex_ = 0;
  std::vector<std::shared_ptr<VXNewsDetailImageDO>> imageArray_;
  std::weak_ptr<os::TableView> detailTabelView_;
  std::shared_ptr<PageFlowView> pageFlowView_;
  std::shared_ptr<os::View> toolView_;
};
