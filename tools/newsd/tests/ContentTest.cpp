#include <png.h>

#include <cstring>
#include <functional>

#include "foundation/xml/TMXMLDocument.h"
#include "tools/newsd/server/Pictures.h"
#include "tools/newsd/tests/NewsdFixture.h"

namespace newsd::testing {
namespace {

struct Row {
  int type;  // 1 text, 2 picture
  std::string content;
  std::string width, height, alt;
};

// Turns a body into rows the way the reader does: protect "& ", parse, and take the leaves in
// document order (an "img" leaf is a picture, any other leaf text).
std::optional<std::vector<Row>> readerRows(std::string body) {
  for (std::size_t at = body.find("& "); at != std::string::npos; at = body.find("& ", at)) body.replace(at, 2, "#amp#");
  os::Error error;
  auto doc = TMXMLDocument::createWithXMLString(body, 0, &error);
  if (!doc || !doc->rootElement()) return std::nullopt;
  std::vector<Row> rows;
  std::function<void(const std::shared_ptr<TMXMLNode>&)> walk = [&](const std::shared_ptr<TMXMLNode>& node) {
    if (node->childCount() > 0) {
      for (const auto& child : std::vector(node->children())) walk(child);
    } else if (node->name() == std::optional<std::string>("img")) {
      auto* element = static_cast<TMXMLElement*>(node.get());
      auto attr = [&](const char* name) {
        auto a = element->attributeForName(name);
        return a ? a->stringValue().value_or("") : std::string();
      };
      rows.push_back({2, attr("src"), attr("width"), attr("height"), attr("alt")});
    } else if (auto text = node->stringValue(); text && !text->empty()) {
      rows.push_back({1, *text, "", "", ""});
    }
  };
  auto root = doc->rootElement();  // children() lists belong to the node that holds them
  for (const auto& child : root->children()) walk(child);
  return rows;
}

struct DecodedPNG {
  unsigned width = 0, height = 0;
};

std::optional<DecodedPNG> decodePNG(const std::string& bytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return std::nullopt;
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
  DecodedPNG out{image.width, image.height};
  png_image_free(&image);
  return ok ? std::optional(out) : std::nullopt;
}

TEST(NewsdContentTest, ASeedAlwaysMakesTheSameSiteOfAFewHundredArticles) {
  SampleContent a = SampleContent::generate(42, kStartTime);
  SampleContent b = SampleContent::generate(42, kStartTime);
  SampleContent c = SampleContent::generate(43, kStartTime);
  ASSERT_EQ(a.articles().size(), b.articles().size());
  EXPECT_GE(a.articles().size(), 300u);
  int differences = 0, albums = 0;
  for (std::size_t i = 0; i < a.articles().size(); ++i) {
    EXPECT_EQ(a.articles()[i].title, b.articles()[i].title);
    EXPECT_EQ(bodyXML(a.articles()[i], ""), bodyXML(b.articles()[i], ""));
    differences += a.articles()[i].title != c.articles()[i].title;
    albums += a.articles()[i].type == "album";
  }
  EXPECT_GT(differences, 100);
  EXPECT_GT(albums, 12);
  for (const Category& category : a.categories()) EXPECT_GE(a.visibleArticles(category.id, kStartTime).size(), 20u);
}

TEST(NewsdContentTest, EveryBodyParsesIntoRowsAndAlbumsIntoCaptionedPictures) {
  SampleContent content = SampleContent::generate(7, kStartTime);
  bool sawMarker = false, sawAmpersand = false;
  for (const Article& article : content.articles()) {
    auto rows = readerRows(bodyXML(article, "http://h:1"));
    ASSERT_TRUE(rows.has_value()) << bodyXML(article, "http://h:1");
    int pictures = 0;
    for (const Row& row : *rows) {
      if (row.type == 2) {
        ++pictures;
        EXPECT_EQ(row.content.rfind("http://h:1/img/", 0), 0u);
        if (article.type == "album") {
          EXPECT_FALSE(row.alt.empty());
        }
      } else {
        sawMarker |= row.content.find("#lt#") != std::string::npos;
        sawAmpersand |= row.content.find("#amp#") != std::string::npos;
      }
    }
    if (article.type == "album") {
      EXPECT_GE(pictures, 4) << article.id;
    }
    EXPECT_FALSE(rows->empty());
  }
  EXPECT_TRUE(sawMarker);
  EXPECT_TRUE(sawAmpersand);
}

using NewsdArticleTest = NewsdTest;

TEST_F(NewsdArticleTest, DetailCarriesEveryMemberTheArticleScreenReadsAndAParsableBody) {
  os::Value list = news(1010, os::Dictionary{{"id", 1}, {"flag", 1}, {"uptime", -1}})["data"]["newslist"];
  ASSERT_GT(list.count(), 0u);
  for (const os::Value& item : *list.array()) {
    os::Value data = news(1020, os::Dictionary{{"id", item["id"]}})["data"];
    ASSERT_EQ(data["result"].intValue(), 1);
    EXPECT_EQ(data["title"].stringOr(), item["title"].stringOr());
    EXPECT_TRUE(data["source"].isString());
    EXPECT_TRUE(data["time"].isString());  // the header row shows it as text
    EXPECT_EQ(data["sourceurl"].stringOr(), base() + "/news/" + std::to_string(item["id"].intValue()) + ".html");
    // Stored whole as a property list by the reader, so nothing may be null.
    for (const auto& [key, value] : *data.dictionary()) EXPECT_FALSE(value.isNull()) << key;
    EXPECT_TRUE(readerRows(data["body"].stringOr()).has_value());
  }
  EXPECT_EQ(news(1020, os::Dictionary{{"id", 1}})["data"]["result"].intValue(), 2);
  // An article dated later than now is not served yet.
  const auto& all = server_->service().content().articles();
  EXPECT_EQ(news(1020, os::Dictionary{{"id", all.back().id}})["data"]["result"].intValue(), 2);
}

TEST_F(NewsdArticleTest, PicturesOfABodyAreServedAsDecodablePNGOfTheirSize) {
  const Article* article = nullptr;
  for (const Article& a : server_->service().content().articles())
    if (a.type == "album" && a.publishTime <= kStartTime) article = &a;
  ASSERT_NE(article, nullptr);
  auto rows = readerRows(news(1020, os::Dictionary{{"id", article->id}})["data"]["body"].stringOr());
  ASSERT_TRUE(rows.has_value());
  const Row& picture = *std::find_if(rows->begin(), rows->end(), [](const Row& r) { return r.type == 2; });
  auto res = get(picture.content.substr(base().size()));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "image/png");
  auto png = decodePNG(res->body);
  ASSERT_TRUE(png.has_value());
  if (!picture.width.empty()) {
    EXPECT_EQ(std::to_string(png->width), picture.width);
    EXPECT_EQ(std::to_string(png->height), picture.height);
  }
  auto again = get(picture.content.substr(base().size()));
  EXPECT_EQ(again->body, res->body);

  EXPECT_EQ(get("/img/x/5000x10.png")->status, 404);
  EXPECT_EQ(get("/img/x/0x10.png")->status, 404);
  EXPECT_EQ(get("/img/../x/10x10.png")->status, 404);
  EXPECT_FALSE(drawPicturePNG("x", kMaxPictureSide + 1, 1).has_value());
}

TEST_F(NewsdArticleTest, TheArticlePageIsServedAtItsSourceAddress) {
  const Article& a = *server_->service().content().visibleArticles(1, kStartTime).front();
  auto res = get("/news/" + std::to_string(a.id) + ".html");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find(a.title), std::string::npos);
  EXPECT_EQ(res->body.find("#lt#"), std::string::npos);
}

}  // namespace
}  // namespace newsd::testing
