#pragma once
// The base of the list screens opened from the left menu, over whichever paged-table screen
// class they derive from (`VXLeftBaseTableViewControllerOf<NQBaseTableViewController>`): going
// back pops this screen (if its navigation controller still holds it) and opens the menu.
#include <string>

#include "news/controllers/NQSideViewController.h"
#include "news/controllers/VXCustomNavController.h"
#include "os/views/NavigationController.h"

template <class TableScreen>
class VXLeftBaseTableViewControllerOf : public TableScreen, public VXNavBackClickDelegate {
 public:
  using TableScreen::TableScreen;
  std::string className() const override { return "VXLeftBaseTableViewController"; }

  void backButtonClick() override {
    if (auto* nav = this->navigationController()) nav->popViewController(true);
    NQSideViewController::share()->showLeftViewController(true);
  }
  void panGetstureRecognizerEnded() override { NQSideViewController::share()->showLeftViewController(false); }
};
