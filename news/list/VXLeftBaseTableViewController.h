#pragma once
// The base of the paged list screens opened from the left menu: going back pops this screen (if
// its navigation controller still holds it) and opens the menu of the context it was made with.
#include <string>

#include "news/list/NQBaseTableViewController.h"
#include "news/shell/VXCustomNavController.h"

class VXLeftBaseTableViewController : public NQBaseTableViewController, public VXNavBackClickDelegate {
 public:
  using NQBaseTableViewController::NQBaseTableViewController;
  std::string className() const override { return "VXLeftBaseTableViewController"; }

  void backButtonClick() override;
  void panGetstureRecognizerEnded() override;
};
