// fuzz-link: os
// The head of an HTTP answer as the loader reads it: header lines into fields, then the media
// type, charset, length, file name and cookies drawn from them.
#include "fuzz/support/FuzzSupport.h"
#include "os/net/HTTPCookieStorage.h"
#include "os/net/HTTPURLResponse.h"

namespace {

// Input: the request URL, a newline, then the header lines.
std::vector<fuzz::Seed> seeds() {
  return {
      {"plain", "http://news.example/imobile?x=1\nContent-Type: text/html; charset=\"GBK\"\r\nContent-Length: 42\r\n"
                "Set-Cookie: a=1; Path=/; Max-Age=60, b=2; Domain=.example; Secure; HttpOnly\r\n"
                "Content-Disposition: attachment; filename=\"../report.txt\"\r\n"},
      {"folded", "https://[::1]:8443/dir/\nX-A: 1\r\nx-a:  2\r\nContent-Length: -1\r\nSet-Cookie: e=; Expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n"},
  };
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  std::string url = in.until('\n');
  os::HTTPHeaderFields headers;
  while (!in.empty()) {
    std::string line = in.until('\n');
    if (auto field = os::HTTPHeaderFields::parseLine(line)) {
      fuzz::check(field->second.empty() || (field->second.front() != ' ' && field->second.back() != ' '),
                  "a value keeps its surrounding blanks");
      headers.add(field->first, field->second);
    } else {
      fuzz::check(line.find(':') == std::string::npos, "a line with a colon was not read");
    }
  }

  os::HTTPURLResponse response(url, 200, headers);
  (void)response.MIMEType();
  (void)response.textEncodingName();
  fuzz::check(response.expectedContentLength() >= -1, "a length below -1");
  std::string name = response.suggestedFilename();
  fuzz::check(!name.empty() && name.find('/') == std::string::npos, "a suggested file name that is a path");

  os::HTTPCookieStorage jar;
  if (auto cookies = headers.value("Set-Cookie")) jar.setCookiesFromHeader(*cookies, url);
  for (const os::HTTPCookie& cookie : jar.cookiesForURL(url)) fuzz::check(!cookie.name.empty(), "a cookie without a name");
  (void)jar.cookieHeaderForURL(url);
  return 0;
}
