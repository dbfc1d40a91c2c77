// Requests, responses, header fields, streams and the cookie store, without a network.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "os/net/HTTPCookieStorage.h"
#include "os/net/HTTPURLResponse.h"
#include "os/net/URLRequest.h"
#include "os/runtime/Clock.h"

namespace os {
namespace {

TEST(HTTPHeaderFields, LookupIsCaseInsensitiveAndKeepsTheFirstSpelling) {
  HTTPHeaderFields h;
  h.set("Content-Type", "a");
  h.set("content-type", "b");
  h.add("ACCEPT", "x");
  h.add("accept", "y");
  EXPECT_EQ(h.size(), 2u);
  EXPECT_EQ(h.fields()[0].first, "Content-Type");
  EXPECT_EQ(h.value("CONTENT-TYPE"), "b");
  EXPECT_EQ(h.value("Accept"), "x, y");
  EXPECT_TRUE(h.remove("accept"));
  EXPECT_FALSE(h.contains("Accept"));
  EXPECT_EQ(h, (HTTPHeaderFields{{"content-TYPE", "b"}}));
}

// The transport reads answer heads a line at a time with this.
TEST(HTTPHeaderFields, HeaderLinesSplitAtTheFirstColonWithoutSurroundingBlanks) {
  using Field = HTTPHeaderFields::Field;
  EXPECT_EQ(HTTPHeaderFields::parseLine("Content-Type: text/html; charset=utf-8\r\n"),
            (Field{"Content-Type", "text/html; charset=utf-8"}));
  EXPECT_EQ(HTTPHeaderFields::parseLine("Location:\t http://h/a:b \t\r\n"), (Field{"Location", "http://h/a:b"}));
  EXPECT_EQ(HTTPHeaderFields::parseLine("X-Empty:\r\n"), (Field{"X-Empty", ""}));
  EXPECT_EQ(HTTPHeaderFields::parseLine("no colon here\r\n"), std::nullopt);
}

TEST(URLRequest, DefaultsAndWholeHeaderReplacement) {
  URLRequest r("http://h/p");
  EXPECT_EQ(r.HTTPMethod(), "GET");
  EXPECT_EQ(r.timeoutInterval(), 60.0);
  EXPECT_TRUE(r.HTTPShouldHandleCookies());
  EXPECT_EQ(r.cachePolicy(), URLRequestCachePolicy::UseProtocolCachePolicy);
  r.setValueForHTTPHeaderField("1", "X-A");
  r.setAllHTTPHeaderFields(HTTPHeaderFields{{"Accept-Language", "en;q=1"}});
  EXPECT_FALSE(r.valueForHTTPHeaderField("x-a"));
  r.setValueForHTTPHeaderField(std::nullopt, "accept-language");
  EXPECT_TRUE(r.allHTTPHeaderFields().empty());

  // A body stream and body bytes exclude each other; copies share the stream.
  r.setHTTPBody(dataFromString("abc"));
  r.setHTTPBodyStream(InputStream::withData(dataFromString("s")));
  EXPECT_TRUE(r.HTTPBody().empty());
  URLRequest copy = r;
  EXPECT_EQ(copy, r);
  EXPECT_EQ(copy.HTTPBodyStream(), r.HTTPBodyStream());
  copy.setHTTPBody(dataFromString("x"));
  EXPECT_FALSE(copy.HTTPBodyStream());
  EXPECT_TRUE(r.HTTPBodyStream());
}

TEST(HTTPURLResponse, ReadsTypeCharsetLengthAndFileName) {
  HTTPURLResponse r("http://h/dir/file.json?x=1", 200,
                    {{"Content-Type", "Application/JSON ; Charset=\"GB2312\""}, {"Content-Length", " 42 "}});
  EXPECT_EQ(r.MIMEType(), "application/json");
  EXPECT_EQ(r.textEncodingName(), "GB2312");
  EXPECT_EQ(r.expectedContentLength(), 42);
  EXPECT_EQ(r.suggestedFilename(), "file.json");

  HTTPURLResponse bare("http://host.example/", 204, {{"Content-Length", "12abc"}});
  EXPECT_EQ(bare.MIMEType(), "");
  EXPECT_EQ(bare.textEncodingName(), "");
  EXPECT_EQ(bare.expectedContentLength(), -1) << "an unreadable length counts as none";
  EXPECT_EQ(bare.suggestedFilename(), "host.example");

  HTTPURLResponse attachment("http://h/download", 200,
                             {{"Content-Disposition", "attachment; filename=\"../../etc/report.pdf\""}});
  EXPECT_EQ(attachment.suggestedFilename(), "report.pdf") << "never a path out of the folder";
  EXPECT_EQ(HTTPURLResponse("not a url", 200, {}).suggestedFilename(), "Unknown");
  HTTPURLResponse dots("http://h/real.txt", 200, {{"Content-Disposition", "attachment; filename=\"..\""}});
  EXPECT_EQ(dots.suggestedFilename(), "real.txt");
}

// Copies share their fields until one changes: a change must never show in another copy.
TEST(HTTPValues, CopiesStayIndependentOfEachOther) {
  URLRequest original("http://h.test/a");
  original.setValueForHTTPHeaderField("1", "X-One");
  URLRequest copy = original;
  copy.setValueForHTTPHeaderField("2", "X-One");
  copy.addValueForHTTPHeaderField("3", "X-Two");
  original.setValueForHTTPHeaderField(std::nullopt, "X-Missing");
  EXPECT_EQ(original.valueForHTTPHeaderField("X-One"), "1");
  EXPECT_FALSE(original.valueForHTTPHeaderField("X-Two"));
  EXPECT_EQ(copy.valueForHTTPHeaderField("X-One"), "2");
  EXPECT_EQ(copy.valueForHTTPHeaderField("X-Two"), "3");
  EXPECT_FALSE(original == copy);
  URLRequest empty;
  URLRequest emptyCopy = empty;
  emptyCopy.addValueForHTTPHeaderField("v", "X-New");
  EXPECT_TRUE(empty.allHTTPHeaderFields().empty());

  HTTPURLResponse answer("http://h.test/a", 200, {{"Content-Type", "text/plain"}});
  answer.setReceivedFields({{"Set-Cookie", "a=1"}});
  HTTPURLResponse kept = answer;
  answer.setReceivedFields({{"Set-Cookie", "b=2"}});
  EXPECT_EQ(kept.valuesForHTTPHeaderField("Set-Cookie"), std::vector<std::string>{"a=1"});
  EXPECT_EQ(answer.valuesForHTTPHeaderField("Set-Cookie"), std::vector<std::string>{"b=2"});
  EXPECT_EQ(kept.MIMEType(), "text/plain");
  EXPECT_TRUE(kept == answer);
  HTTPURLResponse none;
  none.setReceivedFields({{"X", "1"}});
  EXPECT_EQ(none.statusCode(), 0);
  EXPECT_EQ(none.valuesForHTTPHeaderField("X"), std::vector<std::string>{"1"});
  EXPECT_EQ(HTTPURLResponse().expectedContentLength(), -1);
}

TEST(Streams, MemoryAndFileStreamsRoundTrip) {
  auto out = OutputStream::toMemory();
  EXPECT_TRUE(out->hasSpaceAvailable());
  EXPECT_EQ(out->write(reinterpret_cast<const std::uint8_t*>("ab"), 2), -1) << "not open yet";
  out->open();
  EXPECT_EQ(out->write(reinterpret_cast<const std::uint8_t*>("abc"), 3), 3);
  out->close();
  EXPECT_EQ(out->streamStatus(), StreamStatus::Closed);
  EXPECT_EQ(stringFromData(*out->dataWritten()), "abc");
  EXPECT_FALSE(out->fileCurrentOffset());

  auto in = InputStream::withData(dataFromString("hello"));
  std::uint8_t buf[3];
  EXPECT_EQ(in->read(buf, 3), 0) << "not open";
  in->open();
  EXPECT_EQ(in->read(buf, 3), 3);
  EXPECT_TRUE(in->hasBytesAvailable());
  EXPECT_EQ(in->read(buf, 3), 2);
  EXPECT_EQ(in->streamStatus(), StreamStatus::AtEnd);
  EXPECT_FALSE(in->hasBytesAvailable());
  auto again = in->copyStream();
  again->open();
  EXPECT_EQ(again->read(buf, 3), 3) << "a copy starts at the beginning";

  std::string path = (std::filesystem::temp_directory_path() / ("net-stream-" + std::to_string(::getpid()))).string();
  auto file = OutputStream::toFileAtPath(path, false);
  file->open();
  file->write(reinterpret_cast<const std::uint8_t*>("12345"), 5);
  EXPECT_EQ(file->fileCurrentOffset(), 5u);
  file->close();
  auto appended = OutputStream::toFileAtPath(path, true);
  appended->open();
  appended->write(reinterpret_cast<const std::uint8_t*>("6"), 1);
  appended->close();
  auto reader = InputStream::withFileAtPath(path);
  reader->open();
  std::uint8_t all[16];
  EXPECT_EQ(reader->read(all, sizeof all), 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(all), 6), "123456");
  std::remove(path.c_str());

  auto missing = InputStream::withFileAtPath(path + ".missing");
  missing->open();
  EXPECT_EQ(missing->streamStatus(), StreamStatus::Error);
  ASSERT_TRUE(missing->streamError());
  EXPECT_EQ(missing->streamError()->domain, kStreamErrorDomain);
  EXPECT_EQ(missing->streamError()->code, ENOENT);
  EXPECT_EQ(missing->read(all, 1), -1);
}

class CookieStorageTest : public ::testing::Test {
 protected:
  void SetUp() override { jar.removeAllCookies(); }
  void TearDown() override { jar.removeAllCookies(); }
  HTTPCookieStorage& jar = HTTPCookieStorage::shared();
};

TEST_F(CookieStorageTest, JoinedHeadersSplitAtCookiesNotAtDates) {
  jar.setCookiesFromHeader("a=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT; Path=/, b=2; path=/news", "http://www.example.test/x");
  auto all = jar.cookies();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].name, "a");
  ASSERT_TRUE(all[0].expiresDate);
  EXPECT_EQ(jar.cookieHeaderForURL("http://www.example.test/news/today"), "b=2; a=1") << "longest path first";
  EXPECT_EQ(jar.cookieHeaderForURL("http://www.example.test/other"), "a=1");
  EXPECT_EQ(jar.cookieHeaderForURL("http://www.example.test/newsroom"), "a=1") << "a path matches whole segments";
  EXPECT_FALSE(jar.cookieHeaderForURL("http://other.example.test/")) << "host-only";
}

TEST_F(CookieStorageTest, DomainSecureAndForeignCookies) {
  jar.setCookiesFromHeader("d=1; Domain=.example.test", "http://www.example.test/");
  jar.setCookiesFromHeader("evil=1; Domain=bank.test", "http://www.example.test/");
  jar.setCookiesFromHeader("s=1; Secure", "https://www.example.test/");
  EXPECT_EQ(jar.cookies().size(), 2u) << "a domain the host is not in is refused";
  EXPECT_EQ(jar.cookieHeaderForURL("http://api.example.test/"), "d=1");
  EXPECT_EQ(jar.cookieHeaderForURL("http://www.example.test/"), "d=1");
  EXPECT_EQ(jar.cookieHeaderForURL("https://www.example.test/"), "d=1; s=1");
  EXPECT_FALSE(jar.cookieHeaderForURL("http://notexample.test/"));
}

TEST_F(CookieStorageTest, ExpiryFollowsTheClock) {
  VirtualClockScope clock(1.7e9);
  jar.setCookiesFromHeader("t=1; Max-Age=60", "http://h.test/");
  EXPECT_EQ(jar.cookieHeaderForURL("http://h.test/"), "t=1");
  Clock::advance(61);
  EXPECT_FALSE(jar.cookieHeaderForURL("http://h.test/"));
  jar.setCookiesFromHeader("u=1", "http://h.test/");
  jar.setCookiesFromHeader("u=gone; Max-Age=0", "http://h.test/");
  EXPECT_FALSE(jar.cookieHeaderForURL("http://h.test/")) << "an expired cookie deletes its namesake";
  jar.setCookiesFromHeader("novalue; =x; ", "http://h.test/");
  EXPECT_FALSE(jar.cookieHeaderForURL("http://h.test/")) << "malformed pieces are skipped";
}

TEST_F(CookieStorageTest, PublicSuffixesAddressesAndControlCharactersAreRefused) {
  jar.setCookiesFromHeaderLines({"tld=1; Domain=com", "uk=1; Domain=.co.uk", "ok=1; Domain=example.com"}, "http://www.example.com/");
  jar.setCookiesFromHeaderLines({"uk2=1; Domain=co.uk"}, "http://shop.example.co.uk/");
  EXPECT_EQ(jar.cookieHeaderForURL("http://www.example.com/"), "ok=1");
  EXPECT_FALSE(jar.cookieHeaderForURL("http://other.com/")) << "a cookie for a public suffix would reach every site";
  EXPECT_FALSE(jar.cookieHeaderForURL("http://bank.co.uk/"));

  jar.setCookiesFromHeaderLines({"ip=1; Domain=0.0.1", "self=1; Domain=127.0.0.1"}, "http://127.0.0.1/");
  EXPECT_EQ(jar.cookieHeaderForURL("http://127.0.0.1/"), "self=1");
  EXPECT_FALSE(jar.cookieHeaderForURL("http://10.0.0.1/")) << "the tail of an address names no domain";
  EXPECT_FALSE(jar.cookieHeaderForURL("http://127.0.0.2/"));

  jar.setCookiesFromHeaderLines({std::string("c=1\x01"), "d=2\r\nX-Injected: 1", std::string("e=\x7f")}, "http://h.test/");
  EXPECT_FALSE(jar.cookieHeaderForURL("http://h.test/"));
  // A host that is itself a public suffix keeps its cookie to itself.
  jar.setCookiesFromHeaderLines({"mine=1; Domain=localhost"}, "http://localhost/");
  auto local = jar.cookiesForURL("http://localhost/");
  ASSERT_EQ(local.size(), 1u);
  EXPECT_TRUE(local[0].hostOnly);
}

TEST_F(CookieStorageTest, ManySitesFillTheJarOnlyToItsCountAndBytes) {
  VirtualClockScope clock(1.7e9);
  // An expired cookie is the first to go once the jar is full.
  jar.setCookiesFromHeaderLines({"old=1; Max-Age=10"}, "http://first.test/");
  Clock::advance(11);
  // Small cookies from many sites: the count bound holds.
  for (int site = 0; site < 80; ++site) {
    std::vector<std::string> lines;
    for (int n = 0; n < 40; ++n) lines.push_back("n" + std::to_string(n) + "=1");
    jar.setCookiesFromHeaderLines(lines, "http://site" + std::to_string(site) + ".test/");
  }
  auto all = jar.cookies();
  EXPECT_EQ(all.size(), HTTPCookieStorage::kMaxCookies);
  EXPECT_NE(all.front().name, "old");
  EXPECT_EQ(all.back().domain, "site79.test");
  EXPECT_EQ(all.back().name, "n39");
  EXPECT_EQ(jar.cookieHeaderForURL("http://site0.test/"), std::nullopt) << "the oldest sites' cookies went";

  // Large ones: the byte bound holds, counted as the jar keeps them.
  jar.removeAllCookies();
  for (int site = 0; site < 40; ++site) {
    std::vector<std::string> lines;
    for (int n = 0; n < 30; ++n) lines.push_back("big" + std::to_string(n) + "=" + std::string(4000, 'b'));
    jar.setCookiesFromHeaderLines(lines, "http://site" + std::to_string(site) + ".test/");
  }
  std::size_t bytes = 0;
  for (const auto& c : jar.cookies()) bytes += HTTPCookieStorage::byteCountOf(c);
  EXPECT_EQ(jar.byteCount(), bytes);
  EXPECT_LE(bytes, HTTPCookieStorage::kMaxBytes);
  EXPECT_GT(bytes, HTTPCookieStorage::kMaxBytes - 5000) << "only as many went as the bound asks";

  // One cookie past the size bound is refused whole; one at it is kept. Its name, domain ("h.test")
  // and path ("/") count as well as its value.
  jar.removeAllCookies();
  const std::size_t room = HTTPCookieStorage::kMaxCookieBytes - 1 - 6 - 1 - HTTPCookieStorage::kAttributeBytes;
  jar.setCookiesFromHeaderLines({"a=" + std::string(room, 'x'), "b=" + std::string(room + 1, 'x')}, "http://h.test/");
  ASSERT_EQ(jar.cookies().size(), 1u);
  EXPECT_EQ(jar.cookies()[0].name, "a");
  // A replacement keeps its place in the order cookies are sent and leaves the byte count right.
  jar.setCookiesFromHeaderLines({"z=1", "a=short"}, "http://h.test/");
  ASSERT_EQ(jar.cookies().size(), 2u);
  EXPECT_EQ(jar.cookieHeaderForURL("http://h.test/"), "a=short; z=1");
  EXPECT_EQ(jar.byteCount(), std::string("ashorth.test/z1h.test/").size() + 2 * HTTPCookieStorage::kAttributeBytes);
}


// Fifty cookies from each of many sites, with a sign-in cookie its server renews (or that the
// reader sends) between two of them: the sites visited once go first, the sign-in stays.
TEST_F(CookieStorageTest, ASignInCookieRenewedOrSentOutlivesSitesVisitedOnce) {
  const std::string bank = "https://bank.test/";
  jar.setCookiesFromHeaderLines({"sid=0; Path=/; Secure", "pref=1"}, bank);
  // A cookie that is neither renewed nor sent (another path's) ages as the others do.
  jar.setCookiesFromHeaderLines({"old=1; Path=/archive"}, bank);
  for (int site = 0; site < 90; ++site) {
    std::vector<std::string> lines;
    for (int n = 0; n < 50; ++n) lines.push_back("n" + std::to_string(n) + "=" + std::string(20, 'v'));
    jar.setCookiesFromHeaderLines(lines, "http://site" + std::to_string(site) + ".test/");
    const auto sent = jar.cookieHeaderForURL(bank);
    ASSERT_TRUE(sent && sent->starts_with("sid=")) << "after site " << site;
    if (site % 2) jar.setCookiesFromHeaderLines({"sid=" + std::to_string(site) + "; Path=/; Secure"}, bank);
  }
  EXPECT_EQ(jar.cookies().size(), HTTPCookieStorage::kMaxCookies);
  EXPECT_EQ(jar.cookieHeaderForURL(bank), "sid=89; pref=1") << "a renewal keeps the order cookies are sent in";
  EXPECT_EQ(jar.cookieHeaderForURL(bank + "archive"), "sid=89; pref=1") << "the unused one went";
  EXPECT_FALSE(jar.cookieHeaderForURL("http://site0.test/")) << "the least recently used went";
  EXPECT_TRUE(jar.cookieHeaderForURL("http://site89.test/"));
}

// One site fills the jar from many of its hosts with the largest cookies it may set: it loses its
// own oldest, not the cookies other sites set before it.
TEST_F(CookieStorageTest, ASiteSettingMoreThanItsShareLosesItsOwnCookiesFirst) {
  jar.setCookiesFromHeaderLines({"sid=1; Path=/"}, "http://bank.test/");
  jar.setCookiesFromHeaderLines({"a=1", "b=2"}, "http://news.example.co.uk/");
  const std::string large(4000, 'x');
  for (int host = 0; host < 40; ++host) {
    std::vector<std::string> lines;
    for (int n = 0; n < 20; ++n) lines.push_back("c" + std::to_string(n) + "=" + large);
    jar.setCookiesFromHeaderLines(lines, "http://h" + std::to_string(host) + ".flood.test/");
  }
  EXPECT_LE(jar.byteCount(), HTTPCookieStorage::kMaxBytes);
  EXPECT_EQ(jar.cookieHeaderForURL("http://bank.test/"), "sid=1");
  EXPECT_EQ(jar.cookieHeaderForURL("http://news.example.co.uk/"), "a=1; b=2");
  EXPECT_TRUE(jar.cookieHeaderForURL("http://h39.flood.test/")) << "the flood's newest stay";
  EXPECT_FALSE(jar.cookieHeaderForURL("http://h0.flood.test/"));
  // Hosts of one site under a public suffix of two labels are one site as well; other sites
  // under that suffix are not.
  jar.removeAllCookies();
  jar.setCookiesFromHeaderLines({"sid=1"}, "http://bank.co.uk/");
  for (int host = 0; host < 40; ++host) {
    std::vector<std::string> lines;
    for (int n = 0; n < 20; ++n) lines.push_back("c" + std::to_string(n) + "=" + large);
    jar.setCookiesFromHeaderLines(lines, "http://h" + std::to_string(host) + ".flood.co.uk/");
  }
  EXPECT_EQ(jar.cookieHeaderForURL("http://bank.co.uk/"), "sid=1");
}

// A cookie counts whole against its own bound and the jar's: name, value, domain, path and the
// rest it keeps.
TEST_F(CookieStorageTest, ACookieCountsWholeAgainstBothBounds) {
  jar.setCookiesFromHeaderLines({"sid=1"}, "http://bank.test/");
  const std::string longPath = "/" + std::string(2 << 20, 'p');
  jar.setCookiesFromHeaderLines({"x=1; Path=" + longPath}, "http://bank.test" + longPath);
  jar.setCookiesFromHeaderLines({"y=" + std::string(3000, 'v') + "; Path=/" + std::string(1200, 'p')}, "http://other.test/");
  EXPECT_EQ(jar.cookies().size(), 1u);
  EXPECT_EQ(jar.cookieHeaderForURL("http://bank.test/"), "sid=1");
  EXPECT_EQ(jar.byteCount(), std::string("sid1bank.test/").size() + HTTPCookieStorage::kAttributeBytes);
  for (int i = 0; i < 1000; ++i) {
    jar.setCookiesFromHeaderLines({"p=" + std::to_string(i) + "; Path=/" + std::string(2000, 'a' + static_cast<char>(i % 26)) +
                                   std::to_string(i)},
                                  "http://s" + std::to_string(i) + ".test/");
  }
  std::size_t bytes = 0;
  for (const auto& c : jar.cookies()) bytes += HTTPCookieStorage::byteCountOf(c);
  EXPECT_EQ(jar.byteCount(), bytes);
  EXPECT_LE(bytes, HTTPCookieStorage::kMaxBytes) << "long paths count";
  EXPECT_LT(jar.cookies().size(), 600u);
}

}  // namespace
}  // namespace os
