// fuzz-link: os
// URL parsing and resolution. A URL's text is what gets sent, so reading that text again must
// give the same parts: a resolved URL whose text names another host than host() is exactly
// the confusion an attacker wants.
#include "fuzz/support/FuzzSupport.h"
#include "os/core/URL.h"

namespace {

// Input: the base, a newline, then the reference.
std::vector<fuzz::Seed> seeds() {
  return {
      {"relative", "http://a/b/c/d;p?q\n../../g?y#s"},
      {"authority", "https://user:pw@news.example:8443/imobile?x=1\n//other.example/p"},
      {"schemeonly", "http://a/b\nhttp:g/../h"},
      {"ipv6", "http://[::1]:80/\n./x%20y?a[b]=c"},
      {"noauthority", "mailto:someone@example\n.//x"},
  };
}
FUZZ_SEEDS(seeds);

void same(const os::URL& url, const char* what) {
  std::optional<os::URL> again = os::URL::parse(url.absoluteString());
  fuzz::check(again.has_value(), std::string(what) + ": the text does not parse again");
  fuzz::check(again->absoluteString() == url.absoluteString(), std::string(what) + ": the text changed");
  fuzz::check(again->scheme() == url.scheme(), std::string(what) + ": another scheme");
  fuzz::check(again->host() == url.host(), std::string(what) + ": another host");
  fuzz::check(again->port() == url.port(), std::string(what) + ": another port");
  fuzz::check(again->rawPath() == url.rawPath(), std::string(what) + ": another path");
  fuzz::check(again->query() == url.query(), std::string(what) + ": another query");
  fuzz::check(again->fragment() == url.fragment(), std::string(what) + ": another fragment");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  std::string baseText = in.until('\n');
  std::string reference = in.rest();

  std::optional<os::URL> base = os::URL::parse(baseText);
  if (base) {
    same(*base, "parsed");
    (void)base->pathComponents();
    (void)base->pathExtension();
    (void)base->queryItems();
    (void)base->user();
    (void)base->resourceSpecifier();
    same(base->appendingPathComponent(reference), "appended");
    if (std::optional<os::URL> resolved = os::URL::parse(reference, *base)) {
      // A base without a scheme leaves a relative reference, which reads differently alone.
      if (!base->scheme().empty()) same(*resolved, "resolved");
    }
  }
  if (std::optional<os::URL> escaped = os::URL::parseEscaping(reference)) same(*escaped, "escaped");
  return 0;
}
