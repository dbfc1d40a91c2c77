#pragma once
// What the list tests share: named bundle pictures, item dictionaries as the news API sends
// them, and a loopback news server whose answers to the list operations the test queues and
// whose received "opdata" it reads back.
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/formats/JSONTideSerializing.h"
#include "news/tests/support/RequestTestSupport.h"
#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/graphics/ImageCodec.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TestSandbox.h"

namespace listtest {

// A plain picture of the given size, stored in the bundle under `fileName`.
inline void writeBundlePicture(os::TestSandbox& sandbox, const std::string& fileName, int width, int height) {
  os::Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.pixels.assign(static_cast<std::size_t>(width * height * 4), 180);
  auto png = os::encodePNG(*os::Image::create(bitmap));
  if (png) sandbox.writeBundleFile(fileName, std::string(png->begin(), png->end()));
}

// One item of a "newslist"; a type of nullopt leaves "type" out.
inline os::Dictionary item(long long id, long long publishTime, std::optional<std::string> type = std::string(),
                           int icons = 0) {
  os::Dictionary d;
  d.set("id", os::Value(id));
  if (type) d.set("type", os::Value(*type));
  d.set("title", os::Value("新闻标题 " + std::to_string(id)));
  d.set("source", os::Value("来源"));
  d.set("publishtime", os::Value(publishTime));
  os::Array urls;
  for (int i = 0; i < icons; ++i) urls.push_back(os::Value("http://127.0.0.1:1/img/" + std::to_string(id) + "_" + std::to_string(i) + ".png"));
  if (icons) d.set("icons", os::Value(urls));
  return d;
}

// The JSON envelope around a "data" dictionary.
inline std::string envelope(const os::Dictionary& data, int errorcode = 0) {
  os::Dictionary top;
  top.set("errorcode", os::Value(errorcode));
  top.set("opcode", os::Value(1010));
  top.set("data", os::Value(data));
  return JSONString(os::Value(top)).value_or("{}");
}

inline std::string listAnswer(const os::Array& items, std::optional<int> lastpage, int result = 1) {
  os::Dictionary data;
  data.set("result", os::Value(result));
  data.set("newslist", os::Value(items));
  if (lastpage) data.set("lastpage", os::Value(*lastpage));
  return envelope(data);
}

class NewsServer {
 public:
  NewsServer() {
    for (const char* path : {"/api/imobile/", "/api/imobile"}) {
      http_.route("POST", path, [this](const os::testing::RecordedRequest&) {
        std::lock_guard lock(mutex_);
        std::string body = fallback_;
        if (!answers_.empty()) {
          body = answers_.front();
          answers_.pop_front();
        }
        auto response = os::testing::CannedResponse::text(body);
        response.contentType = "application/json";
        return response;
      });
    }
    VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(http_.port()));
  }

  ~NewsServer() { http_.stop(); }

  void queue(std::string answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
  }
  void setFallback(std::string answer) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(answer);
  }
  std::size_t count() const { return http_.requestCount(); }

  // The "opdata" of every request received, in order.
  std::vector<os::Dictionary> opdatas() const {
    std::vector<os::Dictionary> out;
    for (const auto& r : http_.requests()) {
      std::string p;
      for (auto& [k, v] : os::parseQuery(r.body, true))
        if (k == "p") p = v;
      auto params = newstest::decodeP(p);
      const os::Dictionary* op = params ? (*params)["opdata"].dictionary() : nullptr;
      out.push_back(op ? *op : os::Dictionary{});
    }
    return out;
  }
  os::Dictionary last() const {
    auto all = opdatas();
    return all.empty() ? os::Dictionary{} : all.back();
  }

 private:
  os::testing::HttpTestServer http_;
  mutable std::mutex mutex_;
  std::deque<std::string> answers_;
  std::string fallback_ = listAnswer({}, 1);
};

}  // namespace listtest
