#include "news/list/VXNewsListCells.h"

#include "news/list/VXNewsOneIconStyleCell.h"
#include "news/list/VXNewsThreeIconStyleCell.h"
#include "news/store/VXNewsDO.h"

namespace {
template <class Cell>
std::shared_ptr<VXNewsTitleStyleCell> dequeue(os::TableView& table, const char* identifier,
                                              const std::shared_ptr<VXReaderContext>& context) {
  // A reused cell was made by the same list, with the same context.
  auto cell = std::dynamic_pointer_cast<VXNewsTitleStyleCell>(table.dequeueReusableCellWithIdentifier(identifier));
  return cell ? cell : std::make_shared<Cell>(context);
}
}  // namespace

std::shared_ptr<VXNewsTitleStyleCell> newsCellForItem(os::TableView& table, const std::shared_ptr<VXNewsDO>& item,
                                                      const std::shared_ptr<VXReaderContext>& context) {
  std::shared_ptr<VXNewsTitleStyleCell> cell;
  switch (item->style()) {
    case VXNewsDO::kOneIconStyle: cell = dequeue<VXNewsOneIconStyleCell>(table, kOneIconStyleCellIdentifier, context); break;
    case VXNewsDO::kThreeIconStyle: cell = dequeue<VXNewsThreeIconStyleCell>(table, kThreeIconStyleCellIdentifier, context); break;
    default: cell = dequeue<VXNewsTitleStyleCell>(table, kTitleStyleCellIdentifier, context); break;
  }
  cell->setContent(item);
  return cell;
}
