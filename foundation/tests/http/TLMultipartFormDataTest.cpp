#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "foundation/http/TLHTTPClient.h"
#include "foundation/http/TLStreamingMultipartFormData.h"
#include "foundation/tests/http/HTTPTestSupport.h"
#include "os/net/URLError.h"

using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

const std::string kBoundary = "Boundary+0xAbCdEfGbOuNdArY";

os::Data bytesOf(const std::string& s) { return os::Data(s.begin(), s.end()); }

// Reads the whole stream; nullopt when a read fails.
std::optional<std::string> drain(os::InputStream& stream, std::size_t chunk = 4096, std::vector<long>* sizes = nullptr) {
  stream.open();
  std::string out;
  std::vector<std::uint8_t> buffer(chunk);
  for (;;) {
    long n = stream.read(buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    if (sizes) sizes->push_back(n);
    out.append(reinterpret_cast<char*>(buffer.data()), static_cast<std::size_t>(n));
  }
}

std::shared_ptr<TLHTTPClient> makeClient(const std::string& base) {
  return std::make_shared<TLHTTPClient>(*os::URL::parse(base), TLHTTPClientEnvironment{});
}

TEST(TLMultipartFormDataTest, NoPartsLeaveTheRequestWithoutBody) {
  auto client = makeClient("http://example.com");
  auto request = client->multipartFormRequestWithMethod("POST", "up", std::nullopt, nullptr);
  ASSERT_TRUE(request);
  EXPECT_FALSE(request->valueForHTTPHeaderField("Content-Type"));
  EXPECT_FALSE(request->valueForHTTPHeaderField("Content-Length"));
  EXPECT_FALSE(request->HTTPBodyStream());
}

TEST(TLMultipartFormDataTest, OneFieldGivesTheExactBytesAndLength) {
  auto client = makeClient("http://example.com");
  auto request = client->multipartFormRequestWithMethod("POST", "up", os::Value(os::Dictionary{{"a", "x"}}), nullptr);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "multipart/form-data; boundary=" + kBoundary);
  std::string expected = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nx\r\n--" + kBoundary + "--\r\n";
  EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length"), std::to_string(expected.size()));
  EXPECT_EQ(drain(*request->HTTPBodyStream()), expected);
}

TEST(TLMultipartFormDataTest, PartsFollowEachOtherWithEncapsulationBoundaries) {
  TLStreamingMultipartFormData form(os::URLRequest("http://example.com/up"), os::StringEncoding::UTF8);
  EXPECT_TRUE(form.appendPartWithFormData(bytesOf("1"), "n"));
  EXPECT_TRUE(form.appendPartWithFileData(bytesOf("PNG"), "pic", "a.png", "image/png"));
  EXPECT_TRUE(form.appendPartWithFormData(os::Data{}, "empty"));
  auto request = form.requestByFinalizingMultipartFormData();
  ASSERT_TRUE(request);
  std::string expected = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n1" +
                         "\r\n--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"pic\"; filename=\"a.png\"\r\n" +
                         "Content-Type: image/png\r\n\r\nPNG" +
                         "\r\n--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"empty\"\r\n\r\n" +
                         "\r\n--" + kBoundary + "--\r\n";
  EXPECT_EQ(form.bodyStream()->contentLength(), expected.size());
  EXPECT_EQ(drain(*request->HTTPBodyStream()), expected);
  // A copy (for sending the body again) yields the same bytes.
  auto copy = request->HTTPBodyStream()->copyStream();
  ASSERT_TRUE(copy);
  EXPECT_EQ(drain(*copy), expected);
}

TEST(TLMultipartFormDataTest, SmallPacketsYieldTheSameBytes) {
  TLStreamingMultipartFormData form(os::URLRequest("http://example.com/up"), os::StringEncoding::UTF8);
  form.appendPartWithFormData(bytesOf(std::string(300, 'z')), "big");
  form.appendPartWithFormData(bytesOf("y"), "small");
  form.throttleBandwidthWithPacketSize(10, 0);
  auto request = form.requestByFinalizingMultipartFormData();
  std::vector<long> sizes;
  auto throttled = drain(*request->HTTPBodyStream(), 64, &sizes);
  ASSERT_TRUE(throttled);
  EXPECT_EQ(throttled->size(), form.bodyStream()->contentLength());
  EXPECT_GT(sizes.size(), throttled->size() / 64);
}

TEST(TLMultipartFormDataTest, NamesAreEscapedAndLineBreaksRefused) {
  TLStreamingMultipartFormData form(os::URLRequest("http://example.com/up"), os::StringEncoding::UTF8);
  EXPECT_TRUE(form.appendPartWithFileData(bytesOf("d"), "a\"b", "x\\\"y.txt", "text/plain"));
  auto request = form.requestByFinalizingMultipartFormData();
  auto body = drain(*request->HTTPBodyStream());
  EXPECT_NE(body->find("name=\"a\\\"b\"; filename=\"x\\\\\\\"y.txt\""), std::string::npos);

  TLStreamingMultipartFormData hostile(os::URLRequest("http://example.com/up"), os::StringEncoding::UTF8);
  os::Error error;
  EXPECT_FALSE(hostile.appendPartWithFormData(bytesOf("v"), "a\r\nX-Injected: 1", &error));
  EXPECT_FALSE(hostile.appendPartWithFileData(bytesOf("v"), "f", "evil\n.txt", "text/plain"));
  EXPECT_FALSE(hostile.requestByFinalizingMultipartFormData(&error));
  EXPECT_FALSE(error.domain.empty());
  // Through the client, a refused parameter part means no request.
  auto client = makeClient("http://example.com");
  EXPECT_FALSE(client->multipartFormRequestWithMethod("POST", "up", os::Value(os::Dictionary{{"a\nb", "v"}}), nullptr));
}

class ChunkStream : public os::InputStream {
 public:
  ChunkStream(std::string bytes, bool failAtEnd) : bytes_(std::move(bytes)), failAtEnd_(failAtEnd) {}
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (offset_ == bytes_.size()) {
      if (failAtEnd_) {
        fail(os::Error("test", 5));
        return -1;
      }
      setStatus(os::StreamStatus::AtEnd);
      return 0;
    }
    std::size_t n = std::min(maxLength, bytes_.size() - offset_);
    std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return static_cast<long>(n);
  }

 private:
  std::string bytes_;
  bool failAtEnd_;
  std::size_t offset_ = 0;
};

TEST(TLMultipartFormDataTest, BodiesThatBreakOrDisagreeWithTheirLengthFailTheRead) {
  struct Case {
    std::string bytes;
    std::uint64_t declared;
    bool failAtEnd;
  };
  for (const auto& c : {Case{"abc", 5, false}, Case{"abcdef", 5, false}, Case{"abc", 5, true}}) {
    TLStreamingMultipartFormData form(os::URLRequest("http://example.com/up"), os::StringEncoding::UTF8);
    form.appendPartWithInputStream(std::make_shared<ChunkStream>(c.bytes, c.failAtEnd), "s", "s.bin", c.declared,
                                   "application/octet-stream");
    auto request = form.requestByFinalizingMultipartFormData();
    auto stream = request->HTTPBodyStream();
    EXPECT_FALSE(drain(*stream)) << c.bytes << " declared " << c.declared;
    EXPECT_TRUE(stream->streamError());
  }
  // The declared length exactly: fine.
  TLStreamingMultipartFormData form(os::URLRequest("http://example.com/up"), os::StringEncoding::UTF8);
  form.appendPartWithInputStream(std::make_shared<ChunkStream>("abcde", false), "s", "s.bin", 5, "application/octet-stream");
  EXPECT_TRUE(drain(*form.requestByFinalizingMultipartFormData()->HTTPBodyStream()));
}

TEST(TLMultipartFormDataTest, FileParts) {
  auto dir = std::filesystem::temp_directory_path() / "tl_multipart_test";
  std::filesystem::create_directories(dir);
  auto path = dir / "photo.jpeg";
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("JPEGDATA", f);
    std::fclose(f);
  }
  TLStreamingMultipartFormData form(os::URLRequest("http://example.com/up"), os::StringEncoding::UTF8);
  os::Error error;
  EXPECT_FALSE(form.appendPartWithFileURL("http://example.com/photo.jpeg", "f", &error));
  EXPECT_EQ(error.localizedDescription(), "Expected URL to be a file URL");
  EXPECT_EQ(error.code, -1000);
  EXPECT_FALSE(form.appendPartWithFileURL("file://" + (dir / "missing.png").string(), "f", &error));
  EXPECT_EQ(error.localizedDescription(), "File URL not reachable.");

  TLStreamingMultipartFormData good(os::URLRequest("http://example.com/up"), os::StringEncoding::UTF8);
  ASSERT_TRUE(good.appendPartWithFileURL("file://" + path.string(), "f"));
  auto body = drain(*good.requestByFinalizingMultipartFormData()->HTTPBodyStream());
  EXPECT_NE(body->find("name=\"f\"; filename=\"photo.jpeg\"\r\nContent-Type: application/octet-stream\r\n\r\nJPEGDATA\r\n"),
            std::string::npos);
  EXPECT_EQ(body->size(), good.bodyStream()->contentLength());
  std::filesystem::remove_all(dir);
}

TEST(TLMultipartFormDataTest, UploadReachesTheServerWhileTheMainThreadWaits) {
  HttpTestServer server;
  server.route("POST", "/up", CannedResponse::text("stored"));
  auto client = makeClient(server.url("/"));
  auto request = client->multipartFormRequestWithMethod("POST", "up", os::Value(os::Dictionary{{"title", "军事"}}),
                                                        [](TLMultipartFormData& form) {
                                                          form.appendPartWithFileData(bytesOf("GIF89a"), "pic", "p.gif",
                                                                                      "image/gif");
                                                        });
  ASSERT_TRUE(request);
  auto op = TLHTTPRequestOperation::create(*request);
  op->start();
  // Blocking the main thread must not stall the upload: parts are read on the transfer's thread.
  op->waitUntilFinished();
  EXPECT_FALSE(op->error());
  EXPECT_EQ(op->responseString(), "stored");
  auto log = server.requests();
  ASSERT_EQ(log.size(), 1u);
  ASSERT_TRUE(log[0].part("title"));
  EXPECT_EQ(log[0].part("title")->content, "军事");
  ASSERT_TRUE(log[0].part("pic"));
  EXPECT_EQ(log[0].part("pic")->filename, "p.gif");
  EXPECT_EQ(log[0].part("pic")->contentType, "image/gif");
  EXPECT_EQ(log[0].part("pic")->content, "GIF89a");
}

TEST(TLMultipartFormDataTest, UploadOfABrokenPartFails) {
  HttpTestServer server;
  server.route("POST", "/up", CannedResponse::text("stored"));
  auto client = makeClient(server.url("/"));
  auto request = client->multipartFormRequestWithMethod("POST", "up", std::nullopt, [](TLMultipartFormData& form) {
    form.appendPartWithInputStream(std::make_shared<ChunkStream>("abc", false), "s", "s.bin", 5000, "application/octet-stream");
  });
  auto op = TLHTTPRequestOperation::create(*request);
  op->start();
  op->waitUntilFinished();
  ASSERT_TRUE(op->error());
  EXPECT_EQ(op->error()->domain, kTLNetworkingErrorDomain);
}

// An upload paused after its body went out, then resumed, sends its whole body again, its file
// part read afresh from the file, and so does a copy of the operation run after it; a body that
// cannot be read twice fails the resumed load at once rather than going out cut short.
TEST(TLMultipartFormDataTest, AnUploadResumedOrCopiedSendsItsWholeBodyAgain) {
  auto dir = std::filesystem::temp_directory_path() / "tl_multipart_resume_test";
  std::filesystem::create_directories(dir);
  auto path = dir / "photo.jpeg";
  const std::string photo(50000, 'j');
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(photo.data(), 1, photo.size(), f);
    std::fclose(f);
  }
  HttpTestServer server;
  os::testing::AnswerQueue answers(CannedResponse::text("stored"));
  CannedResponse stalled = CannedResponse::text("never seen");
  stalled.delay = 60;  // the first answer never comes while the test runs
  answers.push(stalled);
  server.route("POST", "/up", answers.handler());
  auto client = makeClient(server.url("/"));

  auto request = client->multipartFormRequestWithMethod(
      "POST", "up", os::Value(os::Dictionary{{"title", "军事"}}),
      [&](TLMultipartFormData& form) { form.appendPartWithFileURL("file://" + path.string(), "pic"); });
  ASSERT_TRUE(request);
  request->setTimeoutInterval(10);  // a body cut short would otherwise hold the server for the default minute
  auto op = TLHTTPRequestOperation::create(*request);
  op->start();
  ASSERT_TRUE(httptest::runUntil([&] { return server.requestCount() == 1; }));
  op->pause();
  op->resume();
  op->waitUntilFinished();
  ASSERT_FALSE(op->error()) << op->error()->localizedDescription();
  EXPECT_EQ(op->responseString(), "stored");

  auto copy = std::static_pointer_cast<TLHTTPRequestOperation>(op->copy());
  copy->start();
  copy->waitUntilFinished();
  ASSERT_FALSE(copy->error()) << copy->error()->localizedDescription();

  auto log = server.requests();
  ASSERT_EQ(log.size(), 3u);
  for (std::size_t i = 0; i < log.size(); ++i) {
    ASSERT_TRUE(log[i].part("title")) << i;
    EXPECT_EQ(log[i].part("title")->content, "军事") << i;
    ASSERT_TRUE(log[i].part("pic")) << i;
    EXPECT_TRUE(log[i].part("pic")->content == photo) << i;
  }
  EXPECT_EQ(std::filesystem::file_size(path), photo.size());

  // A part from the caller's own stream, which cannot be read a second time.
  answers.push(stalled);
  auto once = client->multipartFormRequestWithMethod("POST", "up", std::nullopt, [](TLMultipartFormData& form) {
    form.appendPartWithInputStream(std::make_shared<ChunkStream>("abc", false), "s", "s.bin", 3,
                                   "application/octet-stream");
  });
  auto single = TLHTTPRequestOperation::create(*once);
  single->start();
  ASSERT_TRUE(httptest::runUntil([&] { return server.requestCount() == 4; }));
  single->pause();
  single->resume();
  single->waitUntilFinished();
  ASSERT_TRUE(single->error());
  EXPECT_EQ(single->error()->code, os::kURLErrorRequestBodyStreamExhausted);
  EXPECT_EQ(server.requestCount(), 4u);

  // A stream the caller opened before handing it over still goes out whole on the first load.
  server.route("POST", "/raw", CannedResponse::text("kept"));
  os::URLRequest raw(server.url("/raw"));
  raw.setHTTPMethod("POST");
  raw.setValueForHTTPHeaderField("3", "Content-Length");
  auto opened = std::make_shared<ChunkStream>("xyz", false);
  opened->open();
  auto plain = TLHTTPRequestOperation::create(raw);
  plain->setInputStream(opened);
  plain->start();
  plain->waitUntilFinished();
  ASSERT_FALSE(plain->error()) << plain->error()->localizedDescription();
  EXPECT_EQ(server.requests().back().body, "xyz");
  std::filesystem::remove_all(dir);
}

}  // namespace
