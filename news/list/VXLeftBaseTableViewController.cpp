#include "news/list/VXLeftBaseTableViewController.h"

#include "news/shell/NQSideViewController.h"
#include "os/views/NavigationController.h"

void VXLeftBaseTableViewController::backButtonClick() {
  if (auto* nav = navigationController()) nav->popViewController(true);
  NQSideViewController::share()->showLeftViewController(true);
}

// The screen already slid away under the finger: the menu shows at once.
void VXLeftBaseTableViewController::panGetstureRecognizerEnded() {
  NQSideViewController::share()->showLeftViewController(false);
}
