#pragma once
// The sample content the server ships: categories, articles (plain and albums) with XML bodies and
// pictures, and ads. Everything is made from a seed and the server's start time, so two servers
// started with the same seed at the same time serve the same content. Picture addresses are kept
// as names here and become URLs of this server only when an answer is written (the host the
// reader used is not known before it asks).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "tools/newsd/server/Pictures.h"

namespace newsd {

struct Category {
  int id = 0;
  std::string name;
  int flag = 1;
};

// A picture this server draws on request: "/img/<name>/<width>x<height>.<png|jpg|gif>".
struct Picture {
  std::string name;
  int width = 0;
  int height = 0;
  std::string alt;
  bool sized = true;  // false: the body gives no width and height attributes
  PictureFormat format = PictureFormat::PNG;
};

struct BodyBlock {
  enum class Kind { Text, Picture, Break };
  Kind kind = Kind::Text;
  std::string text;  // already in the body's own escaping (markers, "& ", entities)
  Picture picture;
};

struct Article {
  long long id = 0;
  int categoryId = 0;
  std::string type;  // "" for a plain article, "album" for a photo album
  std::string title;
  std::string source;
  std::string summary;
  std::string upmark;  // "hot" or ""
  long long publishTime = 0;  // seconds since 1970
  std::vector<Picture> icons;
  std::vector<BodyBlock> body;
  int diggCount = 0;
  int buryCount = 0;

  // The pictures of the body, in order.
  std::vector<Picture> pictures() const;
};

struct Ad {
  long long adid = 0;
  int type = 1;  // 1 an application in the store, 2 a web page
  std::string name;
  std::string summary;
  long long storeId = 0;  // the store item id of a type-1 ad
  bool forArticles = false;  // served by the short list for article pages
};

// The category of mostly albums (the reader shows no hot badge there); the others hold mostly
// plain articles.
inline constexpr int kPictureCategoryId = 7;

// Size of the thumbnails in lists: twice the list cell's icon (90 x 63).
inline constexpr int kThumbWidth = 180;
inline constexpr int kThumbHeight = 126;
inline constexpr int kAdIconSize = 100;

class SampleContent {
 public:
  // startTime: seconds since 1970. A few articles of every category are dated after it and appear
  // as the clock passes them, so a pull-to-refresh finds something new during a session.
  static SampleContent generate(std::uint64_t seed, double startTime);

  const std::vector<Category>& categories() const { return categories_; }
  const std::vector<Article>& articles() const { return articles_; }
  const std::vector<Ad>& ads() const { return ads_; }

  const Category* category(long long id) const;
  const Article* article(long long id) const;
  const Ad* ad(long long adid) const;
  // The store application ad whose store item id this is, or null.
  const Ad* storeItem(long long storeId) const;

  // The category's articles published at or before `now`, newest first (ties: higher id first).
  std::vector<const Article*> visibleArticles(long long categoryId, double now) const;

 private:
  std::vector<Category> categories_;
  std::vector<Article> articles_;  // by id ascending
  std::vector<Ad> ads_;
};

// Answers' pieces. `base` is "http://host:port" of this server as the reader reached it.
std::string pictureURL(const std::string& base, const Picture& picture);
std::string articlePageURL(const std::string& base, const Article& article);
std::string adIconURL(const std::string& base, const Ad& ad);
// The ad's target: the store address of a type-1 ad, the web page of a type-2 ad.
std::string adTargetURL(const std::string& base, const Ad& ad);

// The XML body: one root element holding paragraphs, pictures and line breaks.
std::string bodyXML(const Article& article, const std::string& base);
// "yyyy-MM-dd HH:mm" in Beijing time (UTC+8), whatever the machine's own zone.
std::string displayTime(long long secondsSince1970);

os::Value categoryItem(const Category& category);
os::Value newsListItem(const Article& article, const std::string& base);
// The detail answer's members besides "result"; every member is present and non-null, because
// the reader stores the answer whole as a property list for offline reading.
os::Dictionary articleDetail(const Article& article, const std::string& base);
os::Value adItem(const Ad& ad, const std::string& base);

}  // namespace newsd
