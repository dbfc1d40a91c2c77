#pragma once
// The list cell that shows a news item in its style, reused from the table when one is free.
#include <memory>

#include "news/list/VXNewsTitleStyleCell.h"
#include "os/views/TableView.h"

class VXNewsDO;
class VXReaderContext;

// `context`: the reader context of the list.
std::shared_ptr<VXNewsTitleStyleCell> newsCellForItem(os::TableView& table, const std::shared_ptr<VXNewsDO>& item,
                                                      const std::shared_ptr<VXReaderContext>& context);
