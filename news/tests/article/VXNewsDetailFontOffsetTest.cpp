// Smaller type shortens the article: the reader scrolled to its end stays within what is left.
#include <gtest/gtest.h>

#include "news/tests/support/ReaderFixture.h"

using newstest::ArticleScreenTest;

namespace {

TEST_F(ArticleScreenTest, SmallerTypeAtTheArticlesEndKeepsTheTableWithinItsContent) {
  auto screen = open(plainArticle());
  ASSERT_TRUE(waitComplete(*screen));
  auto table = screen->tableView();

  ASSERT_TRUE(os::TouchDriver::tap(*screen->toolBar()->fontButton()));
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("大"));
  table->layoutIfNeeded();
  table->setContentOffset(table->maximumContentOffset(), false);
  const double tallEnd = table->contentOffset().y;
  ASSERT_GT(tallEnd, 0);

  ASSERT_TRUE(os::TouchDriver::tap(*screen->toolBar()->fontButton()));
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("小"));
  table->layoutIfNeeded();
  EXPECT_LT(table->maximumContentOffset().y, tallEnd);
  EXPECT_LE(table->contentOffset().y, table->maximumContentOffset().y);
}

}  // namespace
