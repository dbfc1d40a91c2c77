#include "news/shell/CellSuperview.h"

std::shared_ptr<os::TableView> superviewOfCell(const os::TableViewCell& cell) {
  for (auto view = cell.superview(); view; view = view->superview()) {
    if (auto table = std::dynamic_pointer_cast<os::TableView>(view)) return table;
  }
  return nullptr;
}
