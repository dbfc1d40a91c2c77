#pragma once
// The article screen: one table of rows (header, body text and pictures, an ad, the votes) over
// the article toolbar. It opens from the article's offline file when there is a readable one,
// else asks the server for the article, shows it, and keeps the answer as the offline file.
// Votes and the favourite mark come from the server each time it opens.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "news/article/VXNewsDetailBaseCell.h"
#include "news/article/VXNewsDetailDO.h"
#include "news/article/VXNewsDetailToolbar.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/store/VXAdDO.h"
#include "os/core/Value.h"
#include "os/views/AlertView.h"
#include "os/views/TableView.h"

class VXNewsDetailViewController;

// Each may be left empty: the ad comes from the application-wide state, ad taps go to the shared
// ad helper, and a picture tap opens the reader context's picture viewer.
struct VXNewsDetailServices {
  // The random ad, or nothing (no ads, or ads switched off).
  std::function<std::optional<VXAdDO>()> randAd;
  // An ad tap: ad id, URL type, address (already checked to be http, https or the store's), and
  // the screen.
  std::function<void(long long adid, long long urlType, const std::string& url, VXNewsDetailViewController& screen)>
      adClick;
  // A picture tap, in place of the image viewer: the picture's index among the picture rows,
  // those rows and the table.
  std::function<void(long index, const std::vector<VXNewsDetailDOPtr>& images, os::TableView& table,
                     VXNewsDetailViewController& screen)>
      showImages;
};

// Rows live in the paged table's listData(), each a VXNewsDetailDOPtr; there is no pull-to-refresh
// and never a next page.
class VXNewsDetailViewController : public NQBaseTableViewController,
                                   public os::ActionSheetDelegate,
                                   public VXNewsDetailRowOwner {
 public:
  enum TableViewState : int {
    kStateNormal = NQTableViewStateIdle,
    kStateLoading = NQTableViewStateLoading,
    kStateError = NQTableViewStateFailed,
  };
  static constexpr int kFontSheetTag = 1;
  static constexpr int kMoreSheetTag = 2;
  static constexpr const char* kErrorText = "网络错误，点击重试";
  // The error view's text when the server answered that it has no such article (a pushed id it
  // no longer knows, or one not yet published): a retry may still find it.
  static constexpr const char* kNotFoundText = "没有找到这篇文章，点击重试";
  // A retry that fails leaves the same error view; the HUD says that it failed, and why.
  static constexpr const char* kRetryFailedText = "网络异常";
  static constexpr const char* kRetryNotFoundText = "没有找到这篇文章";

  // Replacements for the screen's collaborators, for tests and start-up, kept in the reader
  // context (see VXNewsDetailServices); without a context, the current one's.
  using Services = VXNewsDetailServices;
  static void setServices(Services services);
  static void setServices(VXReaderContext& context, Services services);
  // A copy of the context's services.
  static Services services();
  static Services services(VXReaderContext& context);

  // {"id", "category", "icon"} of the article; the dictionary is copied. `context`: the reader
  // context whose servers, database, text style, helpers and routes the screen uses.
  static std::shared_ptr<VXNewsDetailViewController> initWitInfo(const os::Dictionary& info,
                                                                std::shared_ptr<VXReaderContext> context);
  explicit VXNewsDetailViewController(std::shared_ptr<VXReaderContext> context);
  ~VXNewsDetailViewController() override;
  std::string className() const override { return "VXNewsDetailViewController"; }

  const os::Dictionary& infoDict() const { return infoDict_; }
  const std::shared_ptr<VXNewsDetailToolbar>& toolBar() const { return toolBar_; }
  // The rows of listData(), in order.
  std::vector<VXNewsDetailDOPtr> rows() const;
  // The row at an index of listData(), or null.
  VXNewsDetailDOPtr rowAt(long index) const;
  std::vector<VXNewsDetailDOPtr> rowList() override { return rows(); }

  void viewDidLoad() override;

  // The article's detail request.
  std::unique_ptr<NQBaseRequest> request() override;
  void loadFirstPage() override;
  // Shows a detail answer; false when there is none or its "result" is not 1.
  bool parseResponseNoAddData(const std::optional<os::Dictionary>& data) override;
  // Without the template's HUD: the error view says it all and taps to retry.
  void changeTableViewState(int state) override;
  std::shared_ptr<os::View> getLoadingView() override;
  std::shared_ptr<os::View> getErrorView() override;

  void addTitle(const os::Value& title, const os::Value& source, const os::Value& time);
  // Appends the body's rows, then the ad and the votes; false (nothing added) when the body does
  // not parse, reported to the server when `feedback`.
  bool parseXML(const os::Value& body, bool feedback);
  void addAd();
  void addOtherInfo();
  void addToolBar();
  void feedbackParseError(const std::string& error);

  // Table.
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;

  // Toolbar and rows.
  void favoriteButtonClick();
  void shareButtonClick();
  void fontButtonClick();
  void moreButtonClick();
  void clickAdCell(const VXNewsDetailDOPtr& row);
  void clickImageCell(const VXNewsDetailDOPtr& row);

  // Action sheets.
  void clickedButtonAtIndex(os::ActionSheet& sheet, long buttonIndex) override;
  void willPresentActionSheet(os::ActionSheet& sheet) override;

  // The context it was made with; null once that context is gone.
  using NQBaseTableViewController::readerContext;

  // Offline saves of the current context still running, and a wait for them (real seconds), for
  // tests and shut-down.
  static int pendingOfflineSaves();
  static bool waitForOfflineSaves(double seconds);

  // Whether an address from the server may be opened: http, https and the store's schemes only.
  static bool isOpenableURL(const std::string& url);

 private:
  std::shared_ptr<VXNewsDetailViewController> self();
  os::Value infoValue(std::string_view key) const;
  bool openFromOfflineFile();
  void addRow(VXNewsDetailDOPtr row);

  os::Dictionary infoDict_;
  // The last load ended with the server's answer that the article is not there, not a failure to
  // reach it; the error view says which.
  bool notFound_ = false;
  // The load under way was started from the error view's retry.
  bool retrying_ = false;
  std::shared_ptr<os::Label> errorLabel_;
  void showErrorText();
  std::shared_ptr<VXNewsDetailToolbar> toolBar_;
  std::shared_ptr<os::ActionSheet> sheet_;
};
