#include "news/common/VXDetailXMLParseHelper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "os/core/Log.h"

namespace {

os::Value textRow(const std::string& content) {
  return os::Value(os::Dictionary{{"type", os::Value::number('i', 1)}, {"content", os::Value(content)}});
}

os::Value imageRow(const std::string& src, float width, float height, const std::string& alt = "") {
  return os::Value(os::Dictionary{{"type", os::Value::number('i', 2)},
                                  {"content", os::Value(src)},
                                  {"originalwidth", os::Value(width)},
                                  {"originalheight", os::Value(height)},
                                  {"alt", os::Value(alt)}});
}

class ArticleBodyParser : public ::testing::Test {
 protected:
  void SetUp() override {
    previousSink_ = os::setLogSink([this](std::string_view line) { console_.emplace_back(line); });
  }
  void TearDown() override { os::setLogSink(previousSink_); }

  // Parses and expects success.
  os::Array rows(const std::string& body) {
    os::Array out;
    auto error = VXDetailXMLParseHelper::share()->parseXML(body, out);
    EXPECT_FALSE(error) << *error;
    return out;
  }

  std::function<void(std::string_view)> previousSink_;
  std::vector<std::string> console_;
};

TEST_F(ArticleBodyParser, NestedParagraphsComeOutAsLeavesInDocumentOrder) {
  os::Array out = rows(
      "<body>\n  <div>\n    <p>one</p>\n    <br/>\n"
      "    <p><a href=\"x\"><img src=\"u\" width=\"640\" height=\"480\"/></a>two</p>\n  </div>\n</body>");
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], textRow("one"));
  EXPECT_EQ(out[1], imageRow("u", 640, 480));
  EXPECT_EQ(out[2], textRow("two"));
  // Types the rows and the offline property-list files rely on.
  EXPECT_EQ(out[0]["type"].typeCode(), 'i');
  EXPECT_EQ(out[1]["originalwidth"].typeCode(), 'f');
  EXPECT_TRUE(console_.empty());
}

TEST_F(ArticleBodyParser, RootTextIsKeptAndRowsAreAppended) {
  os::Array out{os::Value("already there")};
  auto error = VXDetailXMLParseHelper::share()->parseXML(
      std::string("<root name=\"ignored\">  lead  <p>\n  tail\n</p><p><img src=\"v\" alt=\"a picture\"/></p></root>"), out);
  EXPECT_FALSE(error);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], os::Value("already there"));
  EXPECT_EQ(out[1], textRow("lead"));
  EXPECT_EQ(out[2], textRow("tail"));
  EXPECT_EQ(out[3], imageRow("v", 0, 0, "a picture"));
}

TEST_F(ArticleBodyParser, BothAmpersandFormsReadTheSame) {
  EXPECT_EQ(rows("<r><p>A &amp; B</p></r>"), os::Array{textRow("A & B")});
  EXPECT_EQ(rows("<r><p>A & B</p></r>"), os::Array{textRow("A & B")});
  // A bare ampersand at the very end of the text keeps its trailing blank inside the row.
  EXPECT_EQ(rows("<r><p>R& D</p><p>x</p></r>"), (os::Array{textRow("R& D"), textRow("x")}));
}

TEST_F(ArticleBodyParser, MarkersBecomeAngleBracketsAndAmpersands) {
  EXPECT_EQ(rows("<r><p>see #lt#word#rt# here</p></r>"), os::Array{textRow("see <word> here")});
  EXPECT_EQ(rows("<r><p>Q#amp#A</p></r>"), os::Array{textRow("Q& A")});
  // Trimming comes first, so a marker at the edge keeps the blank it stands for.
  EXPECT_EQ(rows("<r><p> x#amp#</p></r>"), os::Array{textRow("x& ")});
}

TEST_F(ArticleBodyParser, ALoneBlankParagraphIsAnEmptyRowButEmptyElementsAreNothing) {
  EXPECT_EQ(rows("<r><p> </p></r>"), os::Array{textRow("")});
  EXPECT_EQ(rows("<r><p>\n</p></r>"), os::Array{textRow("")});
  EXPECT_EQ(rows("<r><p></p><br/><hr/></r>"), os::Array{});
}

TEST_F(ArticleBodyParser, PicturesWithoutASourceAreDropped) {
  EXPECT_EQ(rows("<r><img/><img src=\"\" width=\"10\" height=\"10\"/><p>after</p></r>"), os::Array{textRow("after")});
  EXPECT_EQ(rows("<r><img src=\"s\"/></r>"), os::Array{imageRow("s", 0, 0)});
}

TEST_F(ArticleBodyParser, OnlyFinitePositiveDimensionsAreTaken) {
  // Anything else would reach the row's aspect-ratio division as nan, inf or a negative height.
  const char* bad[] = {"nan", "NAN", "inf", "-inf", "infinity", "-5", "0", "-0", "1e999", "0x40", "wide", ""};
  for (const char* value : bad) {
    std::string body = std::string("<r><img src=\"s\" width=\"") + value + "\" height=\"" + value + "\"/></r>";
    EXPECT_EQ(rows(body), os::Array{imageRow("s", 0, 0)}) << value;
  }
  EXPECT_EQ(rows("<r><img src=\"s\" width=\" 320.5px\" height=\"2e2\"/></r>"), os::Array{imageRow("s", 320.5f, 200)});
  EXPECT_EQ(VXDetailXMLParseHelper::dimensionValue(std::string("1e40")), 0.0f);
  EXPECT_EQ(VXDetailXMLParseHelper::dimensionValue(std::nullopt), 0.0f);
}

TEST_F(ArticleBodyParser, NothingToParseIsNotAFailure) {
  os::Array out;
  EXPECT_FALSE(VXDetailXMLParseHelper::share()->parseXML(std::nullopt, out));
  EXPECT_FALSE(VXDetailXMLParseHelper::share()->parseXML(std::string(), out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(console_.empty());
}

TEST_F(ArticleBodyParser, MalformedMarkupGivesTheErrorTextAndNoRows) {
  const char* bodies[] = {
      "<r><p>first</p><p>A&B</p></r>",  // bare ampersand without a blank after it
      "<r><p>first</p><p>open</r>",     // unclosed tag
      "<r><p>1 < 2</p></r>",            // stray angle bracket
      "plain text",                     // no element at all
  };
  for (const char* body : bodies) {
    console_.clear();
    os::Array out{os::Value("kept")};
    auto error = VXDetailXMLParseHelper::share()->parseXML(std::string(body), out);
    ASSERT_TRUE(error) << body;
    EXPECT_FALSE(error->empty());
    EXPECT_EQ(out, os::Array{os::Value("kept")}) << body;
    ASSERT_EQ(console_.size(), 1u);
    EXPECT_EQ(console_[0], "xml parser errror: " + *error);
  }
}

TEST_F(ArticleBodyParser, EntitiesAreNeverExpanded) {
  // An internal entity stays an unexpanded reference: its text never reaches a row, and the text
  // around it stands as two leaves.
  EXPECT_EQ(rows("<!DOCTYPE r [<!ENTITY e \"SECRET\">]><r><p>a&e;b</p></r>"), (os::Array{textRow("a"), textRow("b")}));

  // Nested entities small enough for the parser to accept are not multiplied out by the walk.
  std::string nested = "<!DOCTYPE r [<!ENTITY a \"xxxxxxxxxx\"><!ENTITY b \"&a;&a;&a;\">]>";
  nested += "<r><p>&b;</p><p>end</p></r>";
  EXPECT_EQ(rows(nested), os::Array{textRow("end")});

  // An external entity is not read from disk (nor fetched).
  static std::atomic<int> counter{0};
  auto dir = std::filesystem::temp_directory_path() / ("article-body-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  auto secret = dir / "secret.txt";
  std::ofstream(secret) << "TOP-SECRET";
  std::string external = "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret.string() + "\">]><r><p>&x;</p><p>ok</p></r>";
  EXPECT_EQ(rows(external), os::Array{textRow("ok")});
  std::string network = "<!DOCTYPE r [<!ENTITY n SYSTEM \"http://127.0.0.1:9/x\">]><r><p>&n;ok</p></r>";
  EXPECT_EQ(rows(network), os::Array{textRow("ok")});
  std::filesystem::remove_all(dir);

  // Exponential expansion is refused outright.
  std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    std::string prev = "&l" + std::to_string(i - 1) + ";";
    std::string body;
    for (int k = 0; k < 10; ++k) body += prev;
    laughs += "<!ENTITY l" + std::to_string(i) + " \"" + body + "\">";
  }
  laughs += "]><r><p>&l9;</p></r>";
  os::Array out;
  EXPECT_TRUE(VXDetailXMLParseHelper::share()->parseXML(laughs, out));
  EXPECT_TRUE(out.empty());
}

TEST_F(ArticleBodyParser, CommentsAndProcessingInstructionsAreNotText) {
  EXPECT_EQ(rows("<r><p>shown<!-- editor's note --></p><?pi data?><!--alone--></r>"), os::Array{textRow("shown")});
}

TEST_F(ArticleBodyParser, OneSharedParserServesSeveralThreads) {
  auto parser = VXDetailXMLParseHelper::share();
  EXPECT_EQ(parser, VXDetailXMLParseHelper::share());
  const std::string body = "<r><p>one</p><p><img src=\"u\" width=\"2\" height=\"1\"/>two</p></r>";
  const os::Array expected{textRow("one"), imageRow("u", 2, 1), textRow("two")};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        os::Array out;
        if (parser->parseXML(body, out) || out != expected) ++mismatches;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
