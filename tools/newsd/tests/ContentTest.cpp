#include <cstdlib>
#include <functional>
#include <map>

#include "foundation/xml/TMXMLDocument.h"
#include "os/graphics/ImageCodec.h"
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

std::shared_ptr<os::Image> decode(const std::string& bytes) { return os::decodeImage(os::Data(bytes.begin(), bytes.end())); }

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
  std::map<std::string, int> bodyFormats, iconFormats;
  for (const Article& article : content.articles()) {
    for (const Picture& icon : article.icons) ++iconFormats[std::string(extensionOf(icon.format))];
    auto rows = readerRows(bodyXML(article, "http://h:1"));
    ASSERT_TRUE(rows.has_value()) << bodyXML(article, "http://h:1");
    int pictures = 0;
    for (const Row& row : *rows) {
      if (row.type == 2) {
        ++pictures;
        EXPECT_EQ(row.content.rfind("http://h:1/img/", 0), 0u);
        ++bodyFormats[row.content.substr(row.content.rfind('.') + 1)];
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
  // Readers meet every picture format in bodies and in lists.
  for (const char* extension : {"png", "jpg", "gif"}) {
    EXPECT_GT(bodyFormats[extension], 5) << extension;
    EXPECT_GT(iconFormats[extension], 5) << extension;
  }
  EXPECT_EQ(bodyFormats.size(), 3u);
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

TEST_F(NewsdArticleTest, BodyPicturesAreServedInTheFormatTheirAddressNamesAtTheirSize) {
  // The first sized picture of each format among the bodies of the visible articles.
  std::map<std::string, Row> firstOfType;
  for (const Article& a : server_->service().content().articles()) {
    if (a.publishTime > kStartTime) continue;
    auto rows = readerRows(news(1020, os::Dictionary{{"id", a.id}})["data"]["body"].stringOr());
    ASSERT_TRUE(rows.has_value());
    for (const Row& row : *rows)
      if (row.type == 2 && !row.width.empty()) firstOfType.try_emplace(row.content.substr(row.content.size() - 3), row);
    if (firstOfType.size() == 3) break;
  }
  ASSERT_EQ(firstOfType.size(), 3u);

  const std::map<std::string, std::string> mimeTypes{{"png", "image/png"}, {"jpg", "image/jpeg"}, {"gif", "image/gif"}};
  for (const auto& [extension, picture] : firstOfType) {
    SCOPED_TRACE(picture.content);
    auto res = get(picture.content.substr(base().size()));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), mimeTypes.at(extension));
    auto image = decode(res->body);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::to_string(image->pixelWidth()), picture.width);
    EXPECT_EQ(std::to_string(image->pixelHeight()), picture.height);
    EXPECT_EQ(image->isAnimated(), extension == "gif");
    EXPECT_EQ(get(picture.content.substr(base().size()))->body, res->body);
  }
}

TEST(NewsdPicturesTest, AGIFIsAnAnimationWhoseFramesDifferAndKeepTheirDelays) {
  auto gif = drawPicture("p1_1", 64, 48, PictureFormat::GIF);
  ASSERT_TRUE(gif.has_value());
  auto image = os::decodeImage(*gif);
  ASSERT_NE(image, nullptr);
  ASSERT_TRUE(image->isAnimated());
  ASSERT_EQ(image->frames().size(), static_cast<std::size_t>(kAnimationFrames));
  ASSERT_EQ(image->frameDurations().size(), static_cast<std::size_t>(kAnimationFrames));
  for (int i = 0; i < kAnimationFrames; ++i) {
    EXPECT_NEAR(image->frameDurations()[i], kAnimationDelays[i] / 100.0, 1e-9);
    EXPECT_EQ(image->frames()[i]->pixelWidth(), 64);
  }
  EXPECT_NE(image->frames()[0]->bitmap(), image->frames()[1]->bitmap());  // the sun moves
  // The same name always gives the same bytes, in every format.
  EXPECT_EQ(drawPicture("p1_1", 64, 48, PictureFormat::GIF), gif);
  EXPECT_EQ(drawPicture("p1_1", 64, 48, PictureFormat::JPEG), drawPicture("p1_1", 64, 48, PictureFormat::JPEG));
}

TEST(NewsdPicturesTest, AStillPictureLooksAlikeInPNGAndJPEG) {
  auto png = os::decodeImage(*drawPicture("t20001_1", 90, 63, PictureFormat::PNG));
  auto jpeg = os::decodeImage(*drawPicture("t20001_1", 90, 63, PictureFormat::JPEG));
  ASSERT_NE(png, nullptr);
  ASSERT_NE(jpeg, nullptr);
  long long difference = 0;
  for (std::size_t i = 0; i < png->bitmap().pixels.size(); ++i)
    difference += std::abs(png->bitmap().pixels[i] - jpeg->bitmap().pixels[i]);
  EXPECT_LT(difference / static_cast<long long>(png->bitmap().pixels.size()), 8);  // lossy, not another picture
}

TEST_F(NewsdArticleTest, PictureAddressesOutsideTheRouteAreNotFound) {
  EXPECT_EQ(get("/img/x/5000x10.png")->status, 404);
  EXPECT_EQ(get("/img/x/0x10.jpg")->status, 404);
  EXPECT_EQ(get("/img/../x/10x10.png")->status, 404);
  EXPECT_EQ(get("/img/x/10x10.bmp")->status, 404);
  EXPECT_EQ(get("/img/x/10x10.gif")->status, 200);
  EXPECT_FALSE(drawPicture("x", kMaxPictureSide + 1, 1, PictureFormat::GIF).has_value());
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
