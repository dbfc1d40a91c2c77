// Every call of the Renren API's table, written out here row by row from the platform's own
// table (class, path, HTTP method, and each parameter with what it holds), and the forms in which
// a client sends them: every parameter in the query string, for a POST as well, escaped so that
// only letters, digits and "-", ".", "_", "~" stand as they are; integers as decimal text, never
// -1 (unset); lists joined with ",", never empty; the photo as the multipart body.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdio>

#include "foundation/formats/JSONDecoder.h"
#include "os/runtime/Clock.h"
#include "tools/renrend/server/RenrenApi.h"
#include "tools/renrend/server/RenrenServer.h"
#include "os/testing/RawHttpClient.h"

namespace renrend {
namespace {

constexpr ParamKind kText = ParamKind::Text, kInteger = ParamKind::Integer, kList = ParamKind::List,
                    kData = ParamKind::Data;

struct Row {
  const char* parameterClass;
  const char* path;
  const char* method;
  std::vector<std::pair<std::string, ParamKind>> fields;
};

const std::vector<Row>& rows() {
  static const std::vector<Row> kRows = {
      {"GetAlbumParam", "/v2/album/get", "GET", {{"albumId", kText}, {"ownerId", kText}}},
      {"PutAlbumParam",
       "/v2/album/put",
       "POST",
       {{"location", kText}, {"description", kText}, {"name", kText}, {"accessControl", kText}, {"password", kText}}},
      {"ListAlbumParam",
       "/v2/album/list",
       "GET",
       {{"ownerId", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
      {"GetBlogParam", "/v2/blog/get", "GET", {{"blogId", kText}, {"ownerId", kText}, {"password", kText}}},
      {"PutBlogParam",
       "/v2/blog/put",
       "POST",
       {{"title", kText}, {"accessControl", kText}, {"password", kText}, {"content", kText}}},
      {"ListBlogParam", "/v2/blog/list", "GET", {{"ownerId", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
      {"PutCommentParam",
       "/v2/comment/put",
       "POST",
       {{"entryOwnerId", kText},
        {"entryId", kText},
        {"commentType", kText},
        {"targetUserId", kText},
        {"content", kText}}},
      {"ListCommentParam",
       "/v2/comment/list",
       "GET",
       {{"entryOwnerId", kText},
        {"entryId", kText},
        {"commentType", kText},
        {"pageSize", kInteger},
        {"pageNumber", kInteger}}},
      {"PutFeedParam",
       "/v2/feed/put",
       "POST",
       {{"message", kText},
        {"title", kText},
        {"actionTargetUrl", kText},
        {"imageUrl", kText},
        {"description", kText},
        {"subtitle", kText},
        {"actionName", kText},
        {"targetUrl", kText}}},
      {"ListFeedParam",
       "/v2/feed/list",
       "GET",
       {{"feedType", kText}, {"userId", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
      {"PutNotificationAsUserParam", "/v2/notification/user/put", "POST", {{"content", kText}, {"userIds", kList}}},
      {"PutNotificationAsAppParam", "/v2/notification/app/put", "POST", {{"content", kText}, {"userIds", kList}}},
      {"PutInvitationParam",
       "/v2/invitation/put",
       "POST",
       {{"invitationType", kText}, {"userId", kText}, {"img", kText}, {"giftName", kText}, {"url", kText}}},
      {"GetPhotoParam",
       "/v2/photo/get",
       "GET",
       {{"albumId", kText}, {"photoId", kText}, {"ownerId", kText}, {"password", kText}}},
      {"UploadPhotoParam", "/v2/photo/upload", "POST", {{"albumId", kText}, {"description", kText}, {"file", kData}}},
      {"ListPhotoParam",
       "/v2/photo/list",
       "GET",
       {{"albumId", kText}, {"ownerId", kText}, {"password", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
      {"GetProfileParam", "/v2/profile/get", "GET", {{"userId", kText}}},
      {"GetShareParam", "/v2/share/get", "GET", {{"shareId", kText}, {"ownerId", kText}}},
      {"PutShareUgcParam",
       "/v2/share/ugc/put",
       "POST",
       {{"ugcOwnerId", kText}, {"comment", kText}, {"ugcId", kText}, {"ugcType", kText}}},
      {"PutShareUrlParam", "/v2/share/url/put", "POST", {{"comment", kText}, {"url", kText}}},
      {"ListShareParam",
       "/v2/share/list",
       "GET",
       {{"ownerId", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
      {"ListHotShareParam",
       "/v2/share/hot/list",
       "GET",
       {{"shareType", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
      {"GetStatusParam", "/v2/status/get", "GET", {{"statusId", kText}, {"ownerId", kText}}},
      {"PutStatusParam", "/v2/status/put", "POST", {{"content", kText}}},
      {"ListStatusParam",
       "/v2/status/list",
       "GET",
       {{"ownerId", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
      {"ShareStatusParam", "/v2/status/share", "POST", {{"content", kText}, {"statusId", kText}, {"ownerId", kText}}},
      {"ListUbbParam", "/v2/ubb/list", "GET", {}},
      {"GetUserParam", "/v2/user/get", "GET", {{"userId", kText}}},
      {"BatchUserParam", "/v2/user/batch", "GET", {{"userIds", kList}}},
      {"ListUserFriendMutualParam", "/v2/user/friend/mutual/list", "GET", {{"userId", kText}}},
      {"ListUserFriendParam",
       "/v2/user/friend/list",
       "GET",
       {{"userId", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
      {"ListUserFriendAppParam", "/v2/user/friend/app/list", "GET", {}},
      {"ListUserFriendUninstallAppParam", "/v2/user/friend/uninstall/list", "GET", {}},
      {"GetUserLoginParam", "/v2/user/login/get", "GET", {}},
      {"PutLikeParam", "/v2/like/ugc/put", "POST", {{"ugcOwnerId", kText}, {"likeUGCType", kText}, {"ugcId", kText}}},
      {"RemoveLikeParam",
       "/v2/like/ugc/remove",
       "POST",
       {{"ugcOwnerId", kText}, {"likeUGCType", kText}, {"ugcId", kText}}},
      {"GetUgcInfoParam",
       "/v2/like/ugc/info/get",
       "GET",
       {{"limit", kText}, {"withLikeUsers", kText}, {"likeUGCType", kText}, {"ugcId", kText}}},
      {"GetAppParam", "/v2/app/get", "GET", {}},
      {"GetLocationParam",
       "/v2/location/get",
       "GET",
       {{"deflection", kText}, {"longitude", kText}, {"latitude", kText}}},
      {"ListLocationFeedParam",
       "/v2/location/feed/list",
       "GET",
       {{"pageSize", kInteger},
        {"pageNumber", kInteger},
        {"locationFeedType", kText},
        {"radius", kText},
        {"longitude", kText},
        {"latitude", kText}}},
      {"ListPlaceParam",
       "/v2/place/list",
       "GET",
       {{"pageSize", kInteger},
        {"pageNumber", kInteger},
        {"placeName", kText},
        {"radius", kText},
        {"longitude", kText},
        {"latitude", kText},
        {"deflection", kText}}},
      {"ListPlaceFeedParam",
       "/v2/place/feed/list",
       "GET",
       {{"pageSize", kInteger}, {"pageNumber", kInteger}, {"placeId", kText}, {"locationFeedType", kText}}},
      {"SetPhotoHeadParam", "/v2/photo/head/set", "POST", {{"photoId", kText}}},
      {"GetNewsCountParam", "/v2/news/counts/get", "GET", {{"newTypes", kText}}},
      {"ClearNewsCountParam", "/v2/news/count/clear", "GET", {{"newType", kText}}},
      {"ListFriendParam",
       "/v2/friend/list",
       "GET",
       {{"userId", kText}, {"pageSize", kInteger}, {"pageNumber", kInteger}}},
  };
  return kRows;
}

std::string escapeByHand(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

os::Dictionary object(const std::string& text) {
  auto value = JSONDecoder::decoder()->objectWithUTF8String(text.data(), text.size());
  return value && value->dictionary() ? *value->dictionary() : os::Dictionary{};
}

// A request over https with a bearer token, its query written from the pairs given.
ApiRequest request(const std::string& method, const std::string& path,
                   const std::vector<std::pair<std::string, std::string>>& pairs) {
  ApiRequest r;
  r.method = method;
  r.path = path;
  for (const auto& [name, value] : pairs) {
    r.rawQuery += (r.rawQuery.empty() ? "" : "&") + name + "=" + escapeByHand(value);
    r.query.emplace(name, value);
  }
  r.authorization = "Bearer a-b-123";
  r.host = "api.renren.example";
  r.secure = true;
  return r;
}

// A value of each kind as a client sends it.
std::string sample(ParamKind kind) {
  switch (kind) {
    case ParamKind::Integer:
      return "20";
    case ParamKind::List:
      return "1,2,3";
    default:
      return "值 &=+/?#%";
  }
}

TEST(RenrenCallTableTest, TheServiceServesEveryRowOfThePlatformsTableAndNothingElse) {
  ASSERT_EQ(rows().size(), 46u);
  EXPECT_EQ(apiTable().size(), rows().size());
  for (const Row& row : rows()) {
    const ApiCall* call = findCall(row.path);
    ASSERT_TRUE(call) << row.parameterClass;
    EXPECT_EQ(call->method, row.method) << row.parameterClass;
    std::vector<std::pair<std::string, ParamKind>> served;
    for (std::size_t i = 0; i < call->parameters.size(); ++i)
      served.emplace_back(call->parameters[i], i < call->kinds.size() ? call->kinds[i] : ParamKind::Text);
    EXPECT_EQ(served, row.fields) << row.parameterClass;
  }
  for (const ApiCall& call : apiTable()) {
    bool inTable = false;
    for (const Row& row : rows()) inTable = inTable || call.path == row.path;
    EXPECT_TRUE(inTable) << call.path;
  }
}

TEST(RenrenCallTableTest, EachCallTakesItsParametersInTheFormsAClientSendsThemIn) {
  RenrenApi api;
  api.addBearerToken("a-b-123", "123");
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.parameterClass);
    std::vector<std::pair<std::string, std::string>> sent;
    bool upload = false;
    for (const auto& [name, kind] : row.fields) {
      if (kind == ParamKind::Data)
        upload = true;
      else
        sent.emplace_back(name, sample(kind));
    }
    auto with = [&](ApiRequest r) {
      if (upload) r.uploadedFile = std::string("\x89PNG", 4);
      return api.handle(r);
    };

    // Every parameter set: answered, with the parameters as they were meant.
    ApiAnswer answer = with(request(row.method, row.path, sent));
    ASSERT_EQ(answer.status, 200) << answer.body;
    const os::Value response = object(answer.body)["response"];
    if (!upload && row.path != std::string("/v2/user/get") && row.path != std::string("/v2/user/batch")) {
      ASSERT_TRUE(response["parameters"].dictionary()) << answer.body;
      EXPECT_EQ(response["parameters"].dictionary()->size(), sent.size());
      for (const auto& [name, value] : sent) EXPECT_EQ(response["parameters"][name].stringOr(), value) << name;
    }
    // None set: nothing is required.
    EXPECT_EQ(with(request(row.method, row.path, {})).status, 200);
    // The other method, or a parameter the row does not name, is refused.
    EXPECT_EQ(with(request(row.method == std::string("GET") ? "POST" : "GET", row.path, sent)).status, 405);
    auto extra = sent;
    extra.emplace_back("uid", "1");
    EXPECT_EQ(with(request(row.method, row.path, extra)).status, 400);

    for (const auto& [name, kind] : row.fields) {
      auto only = [&, name = name](std::string value) {
        return with(request(row.method, row.path, {{name, value}})).status;
      };
      switch (kind) {
        case ParamKind::Text:
          EXPECT_EQ(only(""), 200) << name;
          break;
        case ParamKind::Integer:
          EXPECT_EQ(only("0"), 200) << name;
          EXPECT_EQ(only("-5"), 200) << name;
          for (const char* wrong : {"-1", "twenty", "2.5", "", "020", "-"})
            EXPECT_EQ(only(wrong), 400) << name << " " << wrong;
          break;
        case ParamKind::List:
          EXPECT_EQ(only("7"), 200) << name;
          EXPECT_EQ(only(""), 400) << name;
          break;
        case ParamKind::Data:
          EXPECT_EQ(only("x"), 400) << name;
          break;
      }
    }
    // Given twice.
    if (!sent.empty()) {
      auto twice = sent;
      twice.push_back(sent.front());
      EXPECT_EQ(with(request(row.method, row.path, twice)).status, 400);
    }
  }
}

// The photo is the one thing in a body; without it the upload is refused.
TEST(RenrenCallTableTest, ThePhotoUploadTakesItsFileAsTheBodyOnly) {
  RenrenApi api;
  api.addBearerToken("a-b-123", "123");
  ApiRequest upload = request("POST", "/v2/photo/upload", {{"albumId", "9"}, {"description", "海"}});
  EXPECT_EQ(api.handle(upload).status, 400);
  upload.uploadedFile = std::string("\x89PNG\r\n", 6);
  ApiAnswer answer = api.handle(upload);
  ASSERT_EQ(answer.status, 200) << answer.body;
  EXPECT_EQ(object(answer.body)["response"]["size"].intValue(), 6);
  EXPECT_EQ(object(answer.body)["response"]["albumId"].stringOr(), "9");
}

// Over the wire: parameters are read from the query string only, and a POST's form body is
// refused rather than read.
TEST(RenrenCallTableTest, ThePortReadsTheQueryStringAndRefusesParametersInABody) {
  os::VirtualClockScope clock(1700000000);
  RenrenServer server;
  auto port = server.start(0);
  ASSERT_TRUE(port);
  server.api().addMacToken("x.456.y", "mackey", "456");
  httplib::Client client("127.0.0.1", *port);
  os::testing::patient(client);
  client.set_url_encode(false);
  const std::string host = "127.0.0.1:" + std::to_string(*port);
  int nonce = 0;
  auto signedHeaders = [&](const std::string& method, const std::string& uri) {
    const std::string n = "nonce" + std::to_string(++nonce);
    return httplib::Headers{{"Authorization", "MAC id=\"x.456.y\",ts=\"1700000000\",nonce=\"" + n + "\",mac=\"" +
                                                  macSignature("mackey", "1700000000", n, method, uri, host) + "\""},
                            {"Host", host}};
  };
  const std::string uri = "/v2/status/put?content=" + escapeByHand("你好 & +");
  auto answered = client.Post(uri, signedHeaders("POST", uri), "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200) << answered->body;
  EXPECT_EQ(object(answered->body)["response"]["parameters"]["content"].stringOr(), "你好 & +");

  auto inBody = client.Post("/v2/status/put", signedHeaders("POST", "/v2/status/put"), "content=x",
                            "application/x-www-form-urlencoded");
  ASSERT_TRUE(inBody);
  EXPECT_EQ(inBody->status, 400) << inBody->body;
  const std::string broken = "/v2/status/put?content=%E4%zz";
  auto malformed = client.Post(broken, signedHeaders("POST", broken), "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(malformed);
  EXPECT_EQ(malformed->status, 400) << malformed->body;
  server.stop();
}

}  // namespace
}  // namespace renrend
