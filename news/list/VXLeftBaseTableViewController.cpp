#include "news/list/VXLeftBaseTableViewController.h"

#include "news/api/VXReaderContext.h"
#include "news/shell/NQSideViewController.h"
#include "os/views/NavigationController.h"

void VXLeftBaseTableViewController::backButtonClick() {
  if (auto* nav = navigationController()) nav->popViewController(true);
  if (auto context = readerContext()) NQSideViewController::share(*context)->showLeftViewController(true);
}

// The screen already slid away under the finger: the menu shows at once.
void VXLeftBaseTableViewController::panGetstureRecognizerEnded() {
  if (auto context = readerContext()) NQSideViewController::share(*context)->showLeftViewController(false);
}
