// fuzz-link: os_testing
// fuzz-runs: 3000
// A page from a server as the web view shows it: its paragraphs, headings, fields and buttons,
// and a form sent back to the action the page names. The input opens with a form of known parts
// (method, action, one hidden field), written into the page with its characters entity-escaped,
// and the rest of the page follows as it came; the hidden field must reach the action exactly.
#include "fuzz/support/FuzzSupport.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Device.h"
#include "os/views/ScrollView.h"
#include "os/views/WebView.h"

namespace {

std::vector<fuzz::Seed> seeds() {
  return {
      {"sign-in", "\x01/oauth/login?next=/home\nstate\nabc&d=e+f\n<p>Sign in</p><input name=user placeholder=\"账号\">"
                  "<input type=password name=pass><button type=submit>登录</button></form><p>a</p><h1>b</h1>"},
      {"paragraphs", std::string("\x00x\nk\nv\n", 7) + "<p>a</p><P>b</P><h2>c</H2><p>d<b>e</b></p>"},
      {"two-forms", "\x01https://other.example/x#frag\nn\n<&>\"'\n</form><form action=/second method=GET>"
                    "<input type=hidden name=h value='1'><input type=submit value=Go><button>B</button></form>"},
      {"unclosed", "\x02?q=1\nname\n值\n<p>open<h1>head<button>go<p>"},
  };
}
FUZZ_SEEDS(seeds);

void setUp() {
  static os::VirtualClockScope clock;
  static os::TestSandbox sandbox;
  static os::DeviceProfileScope device{os::DeviceProfile{}};
}

constexpr const char* kPageURL = "http://pages.example/dir/page.html";

// Serves the fuzz page for every request, at once.
struct FuzzLoader : os::WebPageLoader {
  std::string html;
  void start(const os::URLRequest& request, Callbacks callbacks) override {
    Page page;
    page.url = request.url();
    page.mimeType = "text/html";
    page.body = os::dataFromString(html);
    if (callbacks.finished) callbacks.finished(page);
  }
  void cancel() override {}
};

// Records what the page asks to load and lets none of it go, so the page stays shown.
struct Recorder : os::WebViewDelegate {
  bool letThrough = true;  // the page itself
  std::vector<std::pair<os::URLRequest, os::WebViewNavigationType>> requests;
  bool shouldStartLoadWithRequest(os::WebView&, const os::URLRequest& request, os::WebViewNavigationType type) override {
    requests.emplace_back(request, type);
    return letThrough;
  }
};

// The first name=value pair of a form-encoded text, decoded.
std::optional<std::pair<std::string, std::string>> firstPair(std::string_view encoded) {
  std::string_view pair = encoded.substr(0, encoded.find('&'));
  auto equals = pair.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  auto name = os::formURLDecode(pair.substr(0, equals));
  auto value = os::formURLDecode(pair.substr(equals + 1));
  if (!name || !value) return std::nullopt;
  return std::pair{*name, *value};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (setUp(), true);
  (void)ready;

  fuzz::Input in(data, size);
  const bool post = in.flag();
  const std::string action = in.until('\n');
  const std::string name = in.until('\n');
  const std::string value = in.until('\n');
  const std::string rest = in.rest();

  auto loader = std::make_shared<FuzzLoader>();
  loader->html = "<form action=\"" + os::escapeMarkup(action) + "\" method=\"" + (post ? "post" : "get") +
                 "\"><input type=\"hidden\" name=\"" + os::escapeMarkup(name) + "\" value=\"" + os::escapeMarkup(value) +
                 "\">" + rest;
  auto recorder = std::make_shared<Recorder>();
  auto web = std::make_shared<os::WebView>(os::Rect(0, 0, 320, 480));
  web->setDelegate(recorder);
  web->setLoader(loader);
  web->loadRequest(os::URLRequest(kPageURL));
  os::RunLoop::main()->runUntilIdle();
  fuzz::check(!web->isLoading(), "the page did not finish");

  // Every control sits below the one before it, inside the scroll view's content.
  double bottom = 0;
  for (const auto& control : web->pageControls()) {
    fuzz::check(control->frame().origin.y >= bottom, "page controls overlap");
    bottom = control->frame().origin.y + control->frame().size.height;
  }
  fuzz::check(web->scrollView()->contentSize().height >= bottom, "the content ends above its last control");

  // The known form goes to its action read against the page, carrying its hidden field first.
  // Text that is not UTF-8 is repaired on the way in, so only valid text must come back whole.
  if (!os::isValidUTF8(action) || !os::isValidUTF8(name) || !os::isValidUTF8(value)) return 0;
  recorder->requests.clear();
  recorder->letThrough = false;
  const auto base = os::URL::parse(kPageURL);
  const auto target = os::URL::parse(action, *base);
  const bool sent = web->submitForm(0);
  fuzz::check(sent == target.has_value(), "a form was sent to an action that does not parse, or not sent to one that does");
  if (!sent) return 0;
  fuzz::check(recorder->requests.size() == 1, "a sent form asked for no navigation, or for several");
  const auto& [request, type] = recorder->requests[0];
  fuzz::check(type == os::WebViewNavigationType::FormSubmitted, "a form went as another kind of navigation");
  std::string query;
  if (post) {
    fuzz::check(request.HTTPMethod() == "POST" && request.url() == target->absoluteString(), "a POST form went elsewhere");
    const auto& body = request.HTTPBody();
    query.assign(body.begin(), body.end());
  } else {
    std::string url = target->absoluteString();
    url = url.substr(0, url.find_first_of("?#"));
    fuzz::check(request.url().rfind(url, 0) == 0, "a GET form went elsewhere");
    query = request.url().substr(std::min(request.url().size(), url.size() + 1));
  }
  if (!name.empty()) {
    auto pair = firstPair(query);
    fuzz::check(pair && pair->first == name && pair->second == value, "the hidden field did not come back as written");
  }
  return 0;
}
