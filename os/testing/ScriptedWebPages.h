#pragma once
// Web pages a test scripts for the web view: pages by address, redirects, failures, and the
// navigations a page makes by itself once shown (a login page that sends its form on load and is
// redirected to a callback address; a page that calls its host through a custom-scheme URL).
// While it lives, new web views load from it; the default loader comes back when it goes.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Error.h"
#include "os/views/WebView.h"

namespace os::testing {

struct ScriptedPage {
  int status = 200;
  std::string html;
  std::string mimeType = "text/html";
  std::string location;        // a redirect (relative or absolute) when not empty
  std::optional<Error> error;  // the load fails with it
  std::vector<WebPageLoader::Navigation> navigations;

  static ScriptedPage page(std::string html, std::vector<WebPageLoader::Navigation> navigations = {});
  static ScriptedPage redirect(std::string location, int status = 302);
  static ScriptedPage failure(Error error);
  // A navigation for `navigations`: a script going to url, or a form posting body to it.
  static WebPageLoader::Navigation go(const std::string& url);
  static WebPageLoader::Navigation submit(const std::string& url, const std::string& formBody);
};

class ScriptedWebPages : public std::enable_shared_from_this<ScriptedWebPages> {
 public:
  using Handler = std::function<ScriptedPage(const URLRequest& request)>;

  // Made shared: it installs itself as the source of new web views' loaders.
  static std::shared_ptr<ScriptedWebPages> install();
  ~ScriptedWebPages();

  // A request matches its address exactly, else its address without query and fragment.
  // Unrouted addresses fail as hosts that cannot be found; other than http and https, as
  // unsupported URLs.
  void route(const std::string& url, ScriptedPage page);
  void route(const std::string& url, Handler handler);

  // Every request loaded, redirects included, oldest first.
  std::vector<URLRequest> requests() const;
  std::shared_ptr<WebPageLoader> makeLoader();

  struct PrivateTag {};
  explicit ScriptedWebPages(PrivateTag) {}

 private:
  class Loader;
  std::optional<ScriptedPage> answer(const URLRequest& request);

  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, Handler>> routes_;
  std::vector<URLRequest> requests_;
};

}  // namespace os::testing
