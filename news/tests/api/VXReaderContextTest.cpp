// The shared helpers belong to the reader context: made once while a context is current, and a
// fresh context starts with its own, so nothing of one run (an ad's screen, say) reaches the next.
#include <gtest/gtest.h>

#include <memory>

#include "news/ads/VXAdHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXDetailXMLParseHelper.h"
#include "news/article/VXShareHelper.h"
#include "news/tests/support/ReaderFixture.h"

namespace {

using SharedHelpers = newstest::RealTimeFixture;

TEST_F(SharedHelpers, AnswerFromTheCurrentContextWhichMakesThemOnce) {
  VXAdHelper* ads = &VXAdHelper::share();
  auto sharing = VXShareHelper::share();
  auto parser = VXDetailXMLParseHelper::share();
  EXPECT_EQ(&VXAdHelper::share(), ads);
  EXPECT_EQ(VXShareHelper::share(), sharing);
  EXPECT_EQ(VXDetailXMLParseHelper::share(), parser);
  EXPECT_EQ(env_.context().adHelper.peek().get(), ads);
  EXPECT_EQ(env_.context().shareHelper.peek(), sharing);
  EXPECT_EQ(env_.context().bodyParser.peek(), parser);

  auto fresh = std::make_shared<VXReaderContext>();
  auto previous = VXReaderContext::setCurrent(fresh);
  EXPECT_NE(&VXAdHelper::share(), ads);
  EXPECT_NE(VXShareHelper::share(), sharing);
  EXPECT_NE(VXDetailXMLParseHelper::share(), parser);
  EXPECT_EQ(fresh->shareHelper.peek(), VXShareHelper::share());
  VXReaderContext::setCurrent(previous);
  EXPECT_EQ(VXShareHelper::share(), sharing);
}

}  // namespace
