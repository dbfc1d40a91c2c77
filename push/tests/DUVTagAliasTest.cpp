#include <gtest/gtest.h>

#include "push/model/DUVTagAlias.h"

namespace {

TEST(DUVTagAliasValidation, CodesAndFilter) {
  EXPECT_EQ(DUVTagAliasValidation::validateTagsAlias(std::nullopt, std::nullopt), kDUVTagAliasBothNil);
  EXPECT_EQ(DUVTagAliasValidation::validateTagsAlias(std::nullopt, std::string()), 0);
  std::string thirteen, fourteen;
  for (int i = 0; i < 13; ++i) thirteen += "军";
  fourteen = thirteen + "军";
  EXPECT_EQ(DUVTagAliasValidation::validateTags({thirteen}), 0);
  EXPECT_EQ(DUVTagAliasValidation::validateTags({fourteen}), kDUVTagAliasTagTooLong);
  EXPECT_EQ(DUVTagAliasValidation::validateTagsAlias(DUVTags{"ok"}, std::string("bad-alias")), kDUVTagAliasInvalidAlias);
  EXPECT_EQ(DUVTagAliasValidation::validateTags({"has space"}), kDUVTagAliasInvalidTag);
  EXPECT_EQ(DUVTagAliasValidation::validateAlias(std::string(41, 'a')), kDUVTagAliasAliasTooLong);
  DUVTags many;
  for (int i = 0; i < 150; ++i) many.push_back("t" + std::to_string(i));
  EXPECT_EQ(DUVTagAliasValidation::validateTags(DUVTags(many.begin(), many.begin() + 100)), 0);
  EXPECT_EQ(DUVTagAliasValidation::validateTags(DUVTags(many.begin(), many.begin() + 101)), kDUVTagAliasTooManyTags);
  EXPECT_EQ(DUVTagAliasValidation::filterValidTags(many).size(), 100u);
  DUVTags long40(30, std::string(40, 'x'));
  EXPECT_EQ(DUVTagAliasValidation::filterValidTags(long40).size(), 21u);  // 21 * 42 = 882, 22 * 42 > 894
}

}  // namespace
