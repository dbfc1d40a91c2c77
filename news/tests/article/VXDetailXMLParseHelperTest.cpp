#include "news/article/VXDetailXMLParseHelper.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "os/testing/LogCapture.h"

namespace os {
void PrintTo(const Value& value, std::ostream* out) { *out << value.description(); }
}  // namespace os

namespace {

os::Value textRow(const std::string& content) {
  return os::Value(os::Dictionary{{"type", os::Value::number('i', 1)}, {"content", os::Value(content)}});
}

os::Value imageRow(const std::string& src, float width, float height, const std::string& alt = "") {
  return os::Value(os::Dictionary{{"type", os::Value::number('i', 2)}, {"content", os::Value(src)},
                                  {"originalwidth", os::Value(width)}, {"originalheight", os::Value(height)},
                                  {"alt", os::Value(alt)}});
}

class ArticleBodyParser : public ::testing::Test {
 protected:
  // Parses and expects success.
  os::Array rows(const std::string& body) {
    os::Array out;
    auto error = VXDetailXMLParseHelper::share()->parseXML(body, out);
    EXPECT_FALSE(error) << *error;
    return out;
  }

  os::testing::LogCapture console_;
};

TEST_F(ArticleBodyParser, NestedParagraphsComeOutAsLeavesInDocumentOrder) {
  os::Array out = rows(
      "<body name=\"ignored\">lead<div>\n    <p>one<!-- editor's note --></p>\n    <br/><?pi x?>\n"
      "    <p><a href=\"x\"><img src=\"u\" width=\"640\" height=\"480\"/></a>two</p>\n"
      "    <p><img src=\"v\" alt=\"a picture\"/></p>\n  </div></body>");
  EXPECT_EQ(out, (os::Array{textRow("lead"), textRow("one"), imageRow("u", 640, 480), textRow("two"),
                            imageRow("v", 0, 0, "a picture")}));
  // Types the rows and the offline property-list files rely on.
  EXPECT_EQ(out[0]["type"].typeCode(), 'i');
  EXPECT_EQ(out[2]["originalwidth"].typeCode(), 'f');

  os::Array appended{os::Value("kept")};
  EXPECT_FALSE(VXDetailXMLParseHelper::share()->parseXML(std::string("<r><p>x</p></r>"), appended));
  EXPECT_EQ(appended, (os::Array{os::Value("kept"), textRow("x")}));
  EXPECT_TRUE(console_.lines().empty());
}

TEST_F(ArticleBodyParser, AmpersandsAndMarkers) {
  EXPECT_EQ(rows("<r><p>A &amp; B</p></r>"), os::Array{textRow("A & B")});
  EXPECT_EQ(rows("<r><p>A & B</p></r>"), os::Array{textRow("A & B")});
  EXPECT_EQ(rows("<r><p>see #lt#word#rt# here</p></r>"), os::Array{textRow("see <word> here")});
  // Trimming comes first, so a marker at the edge keeps the blank it stands for.
  EXPECT_EQ(rows("<r><p> Q#amp#</p></r>"), os::Array{textRow("Q& ")});
}

TEST_F(ArticleBodyParser, BlankParagraphsAndPicturesWithoutASource) {
  EXPECT_EQ(rows("<r><p> </p></r>"), os::Array{textRow("")});
  EXPECT_EQ(rows("<r><p>\n</p><p></p><hr/></r>"), os::Array{textRow("")});
  EXPECT_EQ(rows("<r><img/><img src=\"\" width=\"10\" height=\"10\"/><p>after</p></r>"), os::Array{textRow("after")});
}

TEST_F(ArticleBodyParser, OnlyFinitePositiveDimensionsAreTaken) {
  // Anything else would reach the row's aspect-ratio division as nan, inf or a negative height.
  for (const char* value : {"nan", "inf", "-inf", "infinity", "-5", "0", "1e999", "1e40", "0x40", "wide", ""}) {
    std::string body = std::string("<r><img src=\"s\" width=\"") + value + "\" height=\"" + value + "\"/></r>";
    EXPECT_EQ(rows(body), os::Array{imageRow("s", 0, 0)}) << value;
  }
  EXPECT_EQ(rows("<r><img src=\"s\" width=\" 320.5px\" height=\"2e2\"/></r>"), os::Array{imageRow("s", 320.5f, 200)});
}

TEST_F(ArticleBodyParser, MalformedMarkupGivesTheErrorTextAndNoRows) {
  os::Array out{os::Value("kept")};
  EXPECT_FALSE(VXDetailXMLParseHelper::share()->parseXML(std::nullopt, out));
  EXPECT_FALSE(VXDetailXMLParseHelper::share()->parseXML(std::string(), out));
  EXPECT_TRUE(console_.lines().empty());

  for (const char* body : {"<r><p>ok</p><p>A&B</p></r>", "<r><p>ok</p><p>open</r>", "<r><p>1 < 2</p></r>", "text"}) {
    console_.clear();
    auto error = VXDetailXMLParseHelper::share()->parseXML(std::string(body), out);
    ASSERT_TRUE(error) << body;
    EXPECT_FALSE(error->empty());
    ASSERT_EQ(console_.lines().size(), 1u);
    EXPECT_EQ(console_.lines()[0], "xml parser errror: " + *error);
  }
  EXPECT_EQ(out, os::Array{os::Value("kept")});
}

TEST_F(ArticleBodyParser, EntitiesAreNeverExpanded) {
  // A reference stays unexpanded: the text around it stands as two leaves.
  EXPECT_EQ(rows("<!DOCTYPE r [<!ENTITY e \"SECRET\">]><r><p>a&e;b</p></r>"), (os::Array{textRow("a"), textRow("b")}));
  // Nor does the walk multiply out nested ones.
  EXPECT_EQ(rows("<!DOCTYPE r [<!ENTITY a \"xxxxxxxxxx\"><!ENTITY b \"&a;&a;&a;\">]><r><p>&b;</p><p>end</p></r>"),
            os::Array{textRow("end")});

  auto dir = std::filesystem::temp_directory_path() / ("article-body-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "secret.txt") << "TOP-SECRET";
  std::string external = "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + (dir / "secret.txt").string() +
                         "\"><!ENTITY n SYSTEM \"http://127.0.0.1:9/x\">]><r><p>&x;</p><p>&n;ok</p></r>";
  EXPECT_EQ(rows(external), os::Array{textRow("ok")});
  std::filesystem::remove_all(dir);
}

}  // namespace
