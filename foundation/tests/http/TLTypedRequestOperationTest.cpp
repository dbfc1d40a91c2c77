#include <gtest/gtest.h>

#include "foundation/http/TLHTTPClient.h"
#include "foundation/http/TLImageRequestOperation.h"
#include "foundation/http/TLJSONRequestOperation.h"
#include "foundation/http/TLPropertyListRequestOperation.h"
#include "foundation/http/TLXMLRequestOperation.h"
#include "foundation/tests/http/HTTPTestSupport.h"
#include "os/graphics/ImageCodec.h"

#include <libxml/xmlerror.h>
#include <libxml/xmlmemory.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

CannedResponse typed(std::string body, std::string type) {
  CannedResponse r = CannedResponse::text(std::move(body));
  r.contentType = std::move(type);
  return r;
}

std::string pngBytes(int w, int h) {
  os::Bitmap bitmap(w, h);
  for (auto& p : bitmap.pixels) p = 200;
  auto data = os::encodePNG(*os::Image::create(std::move(bitmap)));
  return std::string(data->begin(), data->end());
}

// Two 1x1 frames, each with its own graphic control block (delay 10).
std::string twoFrameGIF() {
  std::string header("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00", 19);
  std::string frame("\x21\xf9\x04\x00\x0a\x00\x00\x00\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00", 23);
  return header + frame + frame + ";";
}

struct JSONOutcome {
  int successes = 0, failures = 0;
  std::optional<os::Value> json;
  std::optional<os::Error> error;
};

std::shared_ptr<TLJSONRequestOperation> fetchJSON(const std::string& url, JSONOutcome& out) {
  auto op = TLJSONRequestOperation::JSONRequestOperationWithRequest(
      os::URLRequest(url),
      [&out](const os::URLRequest&, const std::optional<os::HTTPURLResponse>&, const std::optional<os::Value>& json) {
        out.json = json;
        ++out.successes;
      },
      [&out](const os::URLRequest&, const std::optional<os::HTTPURLResponse>&, const os::Error& e, const std::optional<os::Value>&) {
        out.error = e;
        ++out.failures;
      });
  op->start();
  return op;
}

TEST(TLTypedRequestOperationTest, JSONIsParsedFromItsBytesWhateverTheCharset) {
  HttpTestServer server;
  server.route("GET", "/news", typed("{\"title\":\"军事新闻\"}", "text/javascript"));
  server.route("GET", "/blank", typed(" ", "application/json"));
  server.route("GET", "/cut", typed("{\"a\":[1,2", "application/json"));
  JSONOutcome news, blank, cut;
  auto a = fetchJSON(server.url("/news"), news);
  auto b = fetchJSON(server.url("/blank"), blank);
  auto c = fetchJSON(server.url("/cut"), cut);
  ASSERT_TRUE(httptest::runUntil([&] { return news.successes + news.failures + blank.successes + blank.failures +
                                                  cut.successes + cut.failures == 3; }));
  ASSERT_EQ(news.successes, 1);
  EXPECT_EQ((*news.json)["title"].stringOr(), "军事新闻");
  EXPECT_EQ(blank.successes, 1);
  EXPECT_FALSE(blank.json);
  ASSERT_EQ(cut.failures, 1);
  EXPECT_EQ(cut.error, c->JSONError());
}

TEST(TLTypedRequestOperationTest, JSONOperationClaimsRequestsByExtensionOrAcceptHeader) {
  EXPECT_TRUE(TLJSONRequestOperation::canProcessRequest(os::URLRequest("http://example.com/list.json")));
  EXPECT_FALSE(TLJSONRequestOperation::canProcessRequest(os::URLRequest("http://example.com/list.JSON")));
  os::URLRequest accept("http://example.com/list");
  accept.setValueForHTTPHeaderField("application/json", "Accept");
  EXPECT_TRUE(TLJSONRequestOperation::canProcessRequest(accept));
  EXPECT_TRUE(TLImageRequestOperation::canProcessRequest(os::URLRequest("http://example.com/a.png")));
  EXPECT_TRUE(TLPropertyListRequestOperation::canProcessRequest(os::URLRequest("http://example.com/a.plist")));
  EXPECT_TRUE(TLXMLRequestOperation::canProcessRequest(os::URLRequest("http://example.com/a.xml")));
}

TEST(TLTypedRequestOperationTest, ClientUsesARegisteredTypedClassAndItsParsedObject) {
  HttpTestServer server;
  server.route("GET", "/data.json", typed("{\"n\":3}", "application/json"));
  auto client = std::make_shared<TLHTTPClient>(*os::URL::parse(server.url("/")), TLHTTPClientEnvironment{});
  client->registerHTTPOperationClass(TLJSONRequestOperation::operationClass());
  os::Value object;
  bool done = false;
  client->getPath("data.json", std::nullopt,
                  [&](const TLHTTPRequestOperation::Pointer& op, const os::Value& o) {
                    EXPECT_TRUE(std::dynamic_pointer_cast<TLJSONRequestOperation>(op));
                    object = o;
                    done = true;
                  },
                  [&](const TLHTTPRequestOperation::Pointer&, const os::Error&) { done = true; });
  ASSERT_TRUE(httptest::runUntil([&] { return done; }));
  EXPECT_EQ(object["n"].intValue(), 3);
}

TEST(TLTypedRequestOperationTest, PropertyListsReadAndBadOnesFail) {
  HttpTestServer server;
  auto plist = os::PropertyList::write(os::Value(os::Dictionary{{"k", "v"}}), os::PropertyListFormat::Binary);
  server.route("GET", "/good", typed(std::string(plist->begin(), plist->end()), "application/x-plist"));
  server.route("GET", "/bad", typed("not a plist", "application/x-plist"));
  std::optional<os::Value> good;
  std::optional<os::Error> bad;
  auto a = TLPropertyListRequestOperation::propertyListRequestOperationWithRequest(
      os::URLRequest(server.url("/good")),
      [&](const os::URLRequest&, const std::optional<os::HTTPURLResponse>&, const std::optional<os::Value>& v) { good = v; },
      nullptr);
  auto b = TLPropertyListRequestOperation::propertyListRequestOperationWithRequest(
      os::URLRequest(server.url("/bad")), nullptr,
      [&](const os::URLRequest&, const std::optional<os::HTTPURLResponse>&, const os::Error& e, const std::optional<os::Value>&) {
        bad = e;
      });
  a->start();
  b->start();
  ASSERT_TRUE(httptest::runUntil([&] { return good && bad; }));
  EXPECT_EQ((*good)["k"].stringOr(), "v");
  EXPECT_EQ(a->propertyListFormat(), os::PropertyListFormat::Binary);
}

TEST(TLTypedRequestOperationTest, ImagesDecodeAndUndecodableOnesFail) {
  HttpTestServer server;
  server.route("GET", "/a.png", typed(pngBytes(4, 2), "image/png"));
  server.route("GET", "/anim.gif", typed(twoFrameGIF(), "image/gif"));
  server.route("GET", "/broken.png", typed("not an image", "image/png"));
  std::shared_ptr<os::Image> still, animated;
  std::optional<os::Error> broken;
  auto a = TLImageRequestOperation::imageRequestOperationWithRequest(os::URLRequest(server.url("/a.png")),
                                                                     [&](const auto& image) { still = image; });
  a->setImageScale(2);
  auto b = TLImageRequestOperation::imageRequestOperationWithRequest(os::URLRequest(server.url("/anim.gif")),
                                                                     [&](const auto& image) { animated = image; });
  auto c = TLImageRequestOperation::imageRequestOperationWithRequest(
      os::URLRequest(server.url("/broken.png")), nullptr, [](const auto&, const auto&, const auto&) { ADD_FAILURE(); },
      [&](const os::URLRequest&, const std::optional<os::HTTPURLResponse>&, const os::Error& e) { broken = e; });
  a->start();
  b->start();
  c->start();
  ASSERT_TRUE(httptest::runUntil([&] { return still && animated && broken; }));
  EXPECT_EQ(still->pixelWidth(), 4);
  EXPECT_EQ(still->scale(), 2);
  EXPECT_EQ(still->size().width, 2);
  EXPECT_TRUE(animated->isAnimated());
  EXPECT_EQ(animated->frames().size(), 2u);
  // A new scale makes the next image afresh.
  a->setImageScale(1);
  EXPECT_EQ(a->responseImage()->scale(), 1);
}

TEST(TLTypedRequestOperationTest, ImageProcessingRunsBeforeTheSuccessClosure) {
  HttpTestServer server;
  server.route("GET", "/a.png", typed(pngBytes(8, 8), "image/png"));
  std::shared_ptr<os::Image> result;
  auto op = TLImageRequestOperation::imageRequestOperationWithRequest(
      os::URLRequest(server.url("/a.png")), [](const auto& image) { return image->scaledToPixelSize(2, 2); },
      [&](const auto&, const auto& response, const auto& image) {
        EXPECT_TRUE(os::RunLoop::isMainThread());
        EXPECT_EQ(response->statusCode(), 200);
        result = image;
      },
      nullptr);
  op->start();
  ASSERT_TRUE(httptest::runUntil([&] { return result != nullptr; }));
  EXPECT_EQ(result->pixelWidth(), 2);
}

class ElementCollector : public TLXMLParserDelegate {
 public:
  std::vector<std::string> names;
  std::string text;
  void didStartElement(TLXMLParser&, const std::string& name, const std::string&, const std::string&,
                       const os::Dictionary& attributes) override {
    names.push_back(name + (attributes.contains("id") ? "#" + attributes["id"].stringOr() : ""));
  }
  void foundCharacters(TLXMLParser&, const std::string& characters) override { text += characters; }
};

TEST(TLTypedRequestOperationTest, XMLParserIsHandedToTheCaller) {
  HttpTestServer server;
  server.route("GET", "/body.xml", typed("<article id=\"7\"><p>军</p><p>news</p></article>", "text/xml"));
  server.route("GET", "/bad.xml", typed("<article><p></article>", "text/xml"));
  std::shared_ptr<TLXMLParser> good, bad;
  auto collect = [](std::shared_ptr<TLXMLParser>& into) {
    return [&into](const os::URLRequest&, const std::optional<os::HTTPURLResponse>&, const std::shared_ptr<TLXMLParser>& p) {
      into = p;
    };
  };
  auto a = TLXMLRequestOperation::XMLParserRequestOperationWithRequest(os::URLRequest(server.url("/body.xml")), collect(good), nullptr);
  auto b = TLXMLRequestOperation::XMLParserRequestOperationWithRequest(os::URLRequest(server.url("/bad.xml")), collect(bad), nullptr);
  a->start();
  b->start();
  ASSERT_TRUE(httptest::runUntil([&] { return good && bad; }));
  auto collector = std::make_shared<ElementCollector>();
  good->setDelegate(collector);
  EXPECT_TRUE(good->parse());
  EXPECT_EQ(collector->names, (std::vector<std::string>{"article#7", "p", "p"}));
  EXPECT_EQ(collector->text, "军news");
  EXPECT_FALSE(bad->parse());
  EXPECT_TRUE(bad->parserError());
}

// Counts the blocks libxml2 allocates while it is installed and has not freed yet.
class LibxmlBlocks {
 public:
  LibxmlBlocks() {
    xmlMemGet(&free_, &malloc_, &realloc_, &strdup_);
    xmlMemSetup(&release, &allocate, &reallocate, &duplicate);
  }
  ~LibxmlBlocks() { xmlMemSetup(free_, malloc_, realloc_, strdup_); }
  static std::size_t live() {
    std::lock_guard<std::mutex> lock(mutex());
    return blocks().size();
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::unordered_set<void*>& blocks() {
    static std::unordered_set<void*> b;
    return b;
  }
  static void* allocate(std::size_t n) {
    void* p = std::malloc(n);
    std::lock_guard<std::mutex> lock(mutex());
    if (p) blocks().insert(p);
    return p;
  }
  static void* reallocate(void* p, std::size_t n) {
    void* q = std::realloc(p, n);
    std::lock_guard<std::mutex> lock(mutex());
    if (q) {
      blocks().erase(p);
      blocks().insert(q);
    }
    return q;
  }
  static void release(void* p) {
    {
      std::lock_guard<std::mutex> lock(mutex());
      blocks().erase(p);
    }
    std::free(p);
  }
  static char* duplicate(const char* s) {
    auto* p = static_cast<char*>(allocate(std::strlen(s) + 1));
    if (p) std::strcpy(p, s);
    return p;
  }
  xmlFreeFunc free_ = nullptr;
  xmlMallocFunc malloc_ = nullptr;
  xmlReallocFunc realloc_ = nullptr;
  xmlStrdupFunc strdup_ = nullptr;
};

TEST(TLTypedRequestOperationTest, XMLParserFreesWhatEntityDeclarationsMake) {
  const std::string body = "<!DOCTYPE article [<!ENTITY big \"" + std::string(64 * 1024, 'x') +
                           "\"><!ENTITY small \"s\">]><article id=\"1\"><p>&amp;</p></article>";
  // libxml2 sets up a few tables the first time it meets a document type; that is not a leak.
  TLXMLParser(os::dataFromString("<!DOCTYPE w [<!ENTITY e \"v\">]><w>&e;</w>")).parse();
  auto collector = std::make_shared<ElementCollector>();
  std::size_t left = 0;
  {
    LibxmlBlocks counting;
    TLXMLParser parser(os::dataFromString(body));
    parser.setDelegate(collector);
    EXPECT_TRUE(parser.parse());
    TLXMLParser broken(os::dataFromString("<!DOCTYPE a [<!ENTITY e \"v\">]><a><b></a>"));
    EXPECT_FALSE(broken.parse());
    xmlResetLastError();  // the thread's copy of the last error is kept by design
    left = LibxmlBlocks::live();
  }
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(collector->names, (std::vector<std::string>{"article#1", "p"}));
  EXPECT_EQ(collector->text, "&");
}

}  // namespace
