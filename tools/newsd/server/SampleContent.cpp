#include "tools/newsd/server/SampleContent.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "os/core/String.h"
#include "os/crypto/Random.h"

namespace newsd {

namespace {

constexpr int kPastArticlesPerCategory = 28;
constexpr int kFutureArticlesPerCategory = 2;
constexpr long long kFirstArticleId = 20001;
constexpr int kAdCount = 14;
constexpr int kAdsForArticles = 5;

const Category kCategories[] = {
    {1, "要闻", 1},      {2, "中国军情", 1}, {3, "国际军情", 1}, {4, "军事评论", 1},
    {5, "武器装备", 1},  {6, "军史揭秘", 1}, {7, "图片", 1},     {8, "航空航天", 1},
    {9, "舰船知识", 1},  {10, "陆军风采", 1}, {11, "军事科技", 1}, {12, "环球视野", 1},
};

const char* const kSubjects[] = {
    "我国新型驱逐舰", "空军某航空兵旅", "海军舰艇编队", "陆军某合成旅", "火箭军某部",
    "新一代隐身战机", "国产大型运输机", "某型主战坦克", "海军陆战队", "战区联合指挥部",
    "无人机部队", "边防某团", "预警机编队", "两栖攻击舰", "远程轰炸机",
    "多国海军", "维和步兵营", "舰载直升机分队", "防空导弹营", "电子对抗部队",
};

const char* const kActions[] = {
    "完成远海实战化训练", "开展跨昼夜实弹演习", "首次公开亮相", "圆满完成护航任务",
    "参加国际联合演习", "创下多项训练纪录", "进行高原适应性试验", "开展夜间协同对抗",
    "接装新型装备", "举行开放日活动", "完成首次海上补给", "组织复杂电磁环境演练",
    "赴海外执行任务归来", "进行极限条件飞行测试", "展开全要素综合演练", "刷新远程奔袭距离",
    "进行首次编队亮相", "开展联合搜救演练", "完成换装后首次实射", "检验体系作战能力",
};

const char* const kTails[] = {
    "", "", "", "，现场画面曝光", "：细节首次披露", "，专家这样解读", "（组图）", "，官方回应",
};

const char* const kSources[] = {
    "新华社", "解放军报", "中国军网", "环球时报", "参考消息", "人民网", "央视新闻", "中国新闻网",
};

const char* const kSentences[] = {
    "此次训练紧贴实战要求，全程采取背靠背对抗方式进行。",
    "参训官兵克服高温高湿等不利条件，圆满完成了各项课目。",
    "据介绍，该型装备在机动性和防护能力上均有明显提升。",
    "演练中，各作战单元之间的协同配合更加默契。",
    "专家指出，这标志着部队远海作战能力迈上新台阶。",
    "训练期间，编队先后组织了防空、反潜和海上补给等多个课目。",
    "部队指挥员表示，下一步将继续加大实战化训练力度。",
    "现场画面显示，多架战机以密集队形低空通场。",
    "该部通过复盘总结，查找并解决了一批训练中的短板问题。",
    "此次活动吸引了众多市民和军事爱好者前来参观。",
    "据悉，这是该型装备列装以来首次在复杂海况下执行任务。",
    "参演兵力涵盖陆、海、空多个军兵种。",
    "演习导调组临机设置多种突发情况，全面检验部队应变能力。",
    "有分析认为，相关动向值得持续关注。",
    "官兵们表示，将以更加饱满的热情投入到训练中去。",
    "夜幕降临后，部队转入夜间训练，锤炼全天候作战本领。",
    "新装备的列装，使部队的信息化水平得到进一步提升。",
    "整个过程历时数小时，各项数据均达到预期指标。",
    "随行记者在现场记录下了这一难忘时刻。",
    "该编队此前已在相关海域连续执行任务多日。",
};

const char* const kCaptions[] = {
    "编队在海上航行", "战机起飞瞬间", "官兵进行战术训练", "装备整齐列阵", "夜间实弹射击",
    "直升机低空悬停", "坦克集群冲锋", "指挥所内紧张有序", "舰艇靠港补给", "雪原上的巡逻队",
    "导弹发射架竖起", "伞兵跳伞着陆",
};

const char* const kAdNames[] = {
    "军迷论坛", "战机图鉴", "舰船百科", "兵器知识", "军事历史", "环球防务",
    "航模天地", "野战生存", "军旅影像", "战略地图", "装备大全", "军歌合集",
    "阅兵回顾", "国防教育",
};

const char* const kAdSummaries[] = {
    "资深军迷都在用的交流社区", "收录上千款战机的高清图片", "从古代帆船到现代航母",
    "轻武器与重装备一网打尽", "重温那些波澜壮阔的战役", "每日更新全球防务动态",
};

// Deterministic numbers from the seed, through the platform's one seeded source.
class Dice {
 public:
  explicit Dice(std::uint64_t seed) : source_(seed) {}
  std::uint32_t next() {
    std::uint32_t v = 0;
    source_.fill(reinterpret_cast<std::uint8_t*>(&v), sizeof v);
    return v;
  }
  // Uniform enough in [low, high].
  int between(int low, int high) { return low + static_cast<int>(next() % static_cast<std::uint32_t>(high - low + 1)); }
  bool chance(int percent) { return between(1, 100) <= percent; }
  template <class T, std::size_t N> const T& pick(const T (&items)[N]) { return items[next() % N]; }

 private:
  os::SeededRandomSource source_;
};

struct PictureSize {
  int width;
  int height;
};
const PictureSize kPictureSizes[] = {{640, 480}, {640, 360}, {600, 800}, {800, 450}, {480, 480}};

Picture makePicture(Dice& dice, long long articleId, int index, bool album) {
  Picture p;
  p.name = "p" + std::to_string(articleId) + "_" + std::to_string(index);
  const PictureSize& size = dice.pick(kPictureSizes);
  p.width = size.width;
  p.height = size.height;
  if (album || dice.chance(50)) p.alt = dice.pick(kCaptions);
  // A few pictures come without their size; the reader then lays them out square.
  p.sized = !dice.chance(8);
  // Photographs mostly come as JPEG, now and then as an animated GIF.
  int roll = dice.between(1, 100);
  p.format = roll <= 45 ? PictureFormat::JPEG : roll <= 55 ? PictureFormat::GIF : PictureFormat::PNG;
  return p;
}

std::string paragraph(Dice& dice) {
  std::string text;
  int sentences = dice.between(2, 4);
  for (int i = 0; i < sentences; ++i) text += dice.pick(kSentences);
  return text;
}

// Text blocks sometimes carry what the body format escapes on its own: "#lt#"/"#rt#" for angle
// brackets, a bare "& " (protected by the reader before parsing) and a proper entity.
std::string decoratedParagraph(Dice& dice) {
  std::string text = paragraph(dice);
  switch (dice.between(0, 11)) {
    case 0: return "据#lt#军事观察#rt#报道，" + text;
    case 1: return "此次陆军 & 空军联合演练历时三天。" + text;
    case 2: return text + "海军&amp;陆战队官兵共同参与。";
    default: return text;
  }
}

void buildBody(Dice& dice, Article& a) {
  int next = 1;
  if (a.type == "album") {
    a.body.push_back({BodyBlock::Kind::Text, paragraph(dice), {}});
    int pictures = dice.between(4, 8);
    for (int i = 0; i < pictures; ++i) a.body.push_back({BodyBlock::Kind::Picture, {}, makePicture(dice, a.id, next++, true)});
    return;
  }
  int paragraphs = dice.between(3, 6);
  int pictures = dice.between(0, 3);
  for (int i = 0; i < paragraphs; ++i) {
    a.body.push_back({BodyBlock::Kind::Text, decoratedParagraph(dice), {}});
    if (pictures > 0 && (i == 0 || dice.chance(50))) {
      a.body.push_back({BodyBlock::Kind::Picture, {}, makePicture(dice, a.id, next++, false)});
      --pictures;
    }
    if (i + 1 < paragraphs && dice.chance(15)) a.body.push_back({BodyBlock::Kind::Break, {}, {}});
  }
}

void buildIcons(Dice& dice, Article& a) {
  int count;
  if (a.type == "album") {
    count = dice.chance(70) ? 3 : 1;
  } else {
    int roll = dice.between(1, 100);
    count = roll <= 25 ? 0 : roll <= 75 ? 1 : roll <= 95 ? 3 : 2;
  }
  for (int i = 1; i <= count; ++i) {
    Picture icon;
    icon.name = "t" + std::to_string(a.id) + "_" + std::to_string(i);
    icon.width = kThumbWidth;
    icon.height = kThumbHeight;
    int roll = dice.between(1, 100);
    icon.format = roll <= 40 ? PictureFormat::JPEG : roll <= 45 ? PictureFormat::GIF : PictureFormat::PNG;
    a.icons.push_back(icon);
  }
}

bool newerFirst(const Article* a, const Article* b) {
  if (a->publishTime != b->publishTime) return a->publishTime > b->publishTime;
  return a->id > b->id;
}

}  // namespace

SampleContent SampleContent::generate(std::uint64_t seed, double startTime) {
  SampleContent content;
  Dice dice(seed);
  long long start = static_cast<long long>(std::floor(startTime));
  content.categories_.assign(std::begin(kCategories), std::end(kCategories));

  std::vector<Article> drafts;
  for (const Category& category : content.categories_) {
    long long t = start - dice.between(5 * 60, 40 * 60);
    for (int i = 0; i < kPastArticlesPerCategory; ++i) {
      Article a;
      a.categoryId = category.id;
      a.publishTime = t;
      t -= dice.between(20 * 60, 240 * 60);
      drafts.push_back(a);
    }
    for (int i = 1; i <= kFutureArticlesPerCategory; ++i) {
      Article a;
      a.categoryId = category.id;
      a.publishTime = start + i * 15 * 60 + dice.between(0, 300);
      drafts.push_back(a);
    }
  }
  // Ids grow with publication time across the whole site, as a real server's would.
  std::stable_sort(drafts.begin(), drafts.end(),
                   [](const Article& x, const Article& y) { return x.publishTime < y.publishTime; });
  long long id = kFirstArticleId;
  for (Article& a : drafts) {
    a.id = id++;
    bool album = a.categoryId == kPictureCategoryId ? dice.chance(80) : dice.chance(12);
    a.type = album ? "album" : "";
    a.title = std::string(dice.pick(kSubjects)) + dice.pick(kActions) + dice.pick(kTails);
    if (album) a.title = "图集：" + a.title;
    a.source = dice.pick(kSources);
    // Some sources arrive padded, as an editor's copy and paste leaves them.
    if (dice.chance(10)) a.source = " " + a.source + "\n";
    a.upmark = dice.chance(15) ? "hot" : "";
    a.diggCount = dice.between(0, 300);
    a.buryCount = dice.between(0, 80);
    buildIcons(dice, a);
    buildBody(dice, a);
    a.summary = std::string(dice.pick(kSentences));
  }
  content.articles_ = std::move(drafts);

  for (int i = 0; i < kAdCount; ++i) {
    Ad ad;
    ad.adid = 501 + i;
    ad.type = i % 3 == 2 ? 2 : 1;
    ad.name = kAdNames[i];
    ad.summary = dice.pick(kAdSummaries);
    ad.storeId = 100000000 + dice.between(1, 899999999);
    ad.forArticles = i < kAdsForArticles;
    content.ads_.push_back(ad);
  }
  return content;
}

const Category* SampleContent::category(long long id) const {
  for (const Category& c : categories_)
    if (c.id == id) return &c;
  return nullptr;
}

const Article* SampleContent::article(long long id) const {
  auto it = std::lower_bound(articles_.begin(), articles_.end(), id,
                             [](const Article& a, long long v) { return a.id < v; });
  return it != articles_.end() && it->id == id ? &*it : nullptr;
}

const Ad* SampleContent::ad(long long adid) const {
  for (const Ad& a : ads_)
    if (a.adid == adid) return &a;
  return nullptr;
}

const Ad* SampleContent::storeItem(long long storeId) const {
  for (const Ad& a : ads_)
    if (a.type == 1 && a.storeId == storeId) return &a;
  return nullptr;
}

std::vector<const Article*> SampleContent::visibleArticles(long long categoryId, double now) const {
  std::vector<const Article*> out;
  for (const Article& a : articles_)
    if (a.categoryId == categoryId && static_cast<double>(a.publishTime) <= now) out.push_back(&a);
  std::sort(out.begin(), out.end(), newerFirst);
  return out;
}

std::vector<Picture> Article::pictures() const {
  std::vector<Picture> out;
  for (const BodyBlock& block : body)
    if (block.kind == BodyBlock::Kind::Picture) out.push_back(block.picture);
  return out;
}

std::string pictureURL(const std::string& base, const Picture& picture) {
  return base + "/img/" + picture.name + "/" + std::to_string(picture.width) + "x" +
         std::to_string(picture.height) + "." + std::string(extensionOf(picture.format));
}

std::string articlePageURL(const std::string& base, const Article& article) {
  return base + "/news/" + std::to_string(article.id) + ".html";
}

std::string adIconURL(const std::string& base, const Ad& ad) {
  Picture icon{"ad" + std::to_string(ad.adid), kAdIconSize, kAdIconSize, "", true};
  return pictureURL(base, icon);
}

std::string adTargetURL(const std::string& base, const Ad& ad) {
  if (ad.type == 1) return base + "/app/id" + std::to_string(ad.storeId) + "?mt=8";
  return base + "/ad/" + std::to_string(ad.adid) + ".html";
}

std::string bodyXML(const Article& article, const std::string& base) {
  std::string xml = "<content>";
  for (const BodyBlock& block : article.body) {
    switch (block.kind) {
      case BodyBlock::Kind::Text: xml += "<p>" + block.text + "</p>"; break;
      case BodyBlock::Kind::Break: xml += "<br/>"; break;
      case BodyBlock::Kind::Picture: {
        const Picture& p = block.picture;
        xml += "<p><img src=\"" + os::escapeMarkup(pictureURL(base, p)) + "\"";
        if (p.sized) xml += " width=\"" + std::to_string(p.width) + "\" height=\"" + std::to_string(p.height) + "\"";
        if (!p.alt.empty()) xml += " alt=\"" + os::escapeMarkup(p.alt) + "\"";
        xml += "/></p>";
        break;
      }
    }
  }
  return xml + "</content>";
}

std::string displayTime(long long secondsSince1970) {
  std::time_t t = static_cast<std::time_t>(secondsSince1970 + 8 * 3600);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
  return text;
}

os::Value categoryItem(const Category& category) {
  return os::Dictionary{{"id", category.id}, {"name", category.name}, {"flag", category.flag}};
}

os::Value newsListItem(const Article& article, const std::string& base) {
  os::Array icons;
  for (const Picture& icon : article.icons) icons.emplace_back(pictureURL(base, icon));
  return os::Dictionary{
      {"id", article.id},
      {"categoryid", article.categoryId},
      {"type", article.type},
      {"title", article.title},
      {"source", article.source},
      {"summary", article.summary},
      {"publishtime", article.publishTime},
      {"icons", std::move(icons)},
      {"upmark", article.upmark},
  };
}

os::Dictionary articleDetail(const Article& article, const std::string& base) {
  // The article page shows the source as it stands, so it goes out trimmed here (the lists send
  // it as edited and the reader trims it there).
  std::string source = article.source;
  source.erase(0, source.find_first_not_of(" \n"));
  source.erase(source.find_last_not_of(" \n") + 1);
  return os::Dictionary{
      {"id", article.id},
      {"categoryid", article.categoryId},
      {"type", article.type},
      {"title", article.title},
      {"source", source},
      {"time", displayTime(article.publishTime)},
      {"sourceurl", articlePageURL(base, article)},
      {"body", bodyXML(article, base)},
  };
}

os::Value adItem(const Ad& ad, const std::string& base) {
  return os::Dictionary{
      {"adid", ad.adid},
      {"type", ad.type},
      {"content", adTargetURL(base, ad)},
      {"icon", adIconURL(base, ad)},
      {"name", ad.name},
      {"summary", ad.summary},
  };
}

}  // namespace newsd
