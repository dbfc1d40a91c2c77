#pragma once
// Lets a cell find the table it is shown in (the article's vote row asks it for its index path).
#include <memory>

#include "os/views/TableView.h"
#include "os/views/TableViewCell.h"

// The nearest table among the cell's ancestors, or null when the cell is in no table. Systems
// differ in how many views lie between a cell and its table, so the walk does not count levels.
std::shared_ptr<os::TableView> superviewOfCell(const os::TableViewCell& cell);
