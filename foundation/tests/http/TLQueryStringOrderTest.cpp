// Query strings list dictionary keys ascending with case ignored, so a key follows its
// lower-case neighbours rather than every lower-case key.
#include <gtest/gtest.h>

#include "foundation/http/TLQueryStringPair.h"

namespace {

TEST(TLQueryStringOrder, KeysDifferingOnlyInCaseSortTogether) {
  auto query = [](os::Dictionary parameters) {
    return TLQueryStringFromParametersWithEncoding(os::Value(std::move(parameters)), os::StringEncoding::UTF8);
  };
  // Two keys equal but for case may come in either order; both come before "b".
  auto pair = query({{"b", 1}, {"a", 2}, {"A", 3}});
  EXPECT_TRUE(pair == "a=2&A=3&b=1" || pair == "A=3&a=2&b=1") << pair.value_or("(none)");
  auto upper = query({{"b", 1}, {"B", 2}, {"a", 3}});
  EXPECT_TRUE(upper == "a=3&b=1&B=2" || upper == "a=3&B=2&b=1") << upper.value_or("(none)");
  // The same inside a nested dictionary.
  auto nested = query({{"p", os::Dictionary{{"z", 1}, {"Y", 2}, {"y", 3}}}});
  EXPECT_TRUE(nested == "p[Y]=2&p[y]=3&p[z]=1" || nested == "p[y]=3&p[Y]=2&p[z]=1") << nested.value_or("(none)");
}

}  // namespace
