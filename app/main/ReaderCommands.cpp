#include "app/main/ReaderCommands.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <sstream>

#include "app/VXAppDelegate.h"
#include "app/VXViewController.h"
#include "foundation/formats/JTSerializer.h"
#include "news/album/VXImageViewer.h"
#include "news/album/VXImageViewerViewController.h"
#include "news/article/VXNewsDetailDO.h"
#include "news/article/VXNewsDetailEvalDO.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/home/VXSplashView.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/list/VXNewsTableView.h"
#include "news/offline/VXOfflineMaskViewController.h"
#include "news/shell/NQSideViewController.h"
#include "news/store/VXGlobalDefine.h"
#include "os/console/InputLines.h"
#include "os/console/ScreenDump.h"
#include "os/console/ScreenSettle.h"
#include "os/console/TouchCommands.h"
#include "os/console/TouchDriver.h"
#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/net/URLConnection.h"
#include "os/runtime/Clock.h"
#include "os/graphics/Image.h"
#include "os/net/Socket.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/views/AlertView.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/NavigationController.h"
#include "os/views/TableView.h"
#include "os/views/WebView.h"
#include "sharing/screens/OBSocialIconActionSheet.h"
#include "sharing/widgets/OBSocialXToast.h"
#include "ui/widgets/KHProgressHUD.h"
#include "ui/widgets/PRRefreshTableHeaderView.h"

namespace reader {

namespace {

// The reader's short-lived messages: the progress HUD (every edition), the sharing toast, and the
// offline download's cover, which goes when the download ends (its percentage prints as it moves).
bool isTransientMessage(const os::View& view) {
  return dynamic_cast<const KHProgressHUD*>(&view) != nullptr || view.tag() == kOBSocialXToastTag ||
         view.tag() == VXOfflineMaskViewController::kViewTag;
}

// The rows a list shows, its load-more row ("正在加载...") not among them: it is no article, and it
// comes and goes with the server's last-page mark, which a pull that brought nothing may change.
long rowCount(os::TableView& table) {
  auto source = table.dataSource();
  if (auto news = std::dynamic_pointer_cast<VXNewsTableView>(source)) return static_cast<long>(news->dataList().size());
  if (auto paged = std::dynamic_pointer_cast<NQBaseTableViewController>(source))
    return static_cast<long>(paged->listData().size());
  long rows = 0;
  for (long s = 0; s < table.numberOfSections(); ++s) rows += table.numberOfRowsInSection(s);
  return rows;
}

std::shared_ptr<PRRefreshTableHeaderView> refreshHeaderOf(const os::TableView& table) {
  for (const auto& sub : table.subviews())
    if (auto header = std::dynamic_pointer_cast<PRRefreshTableHeaderView>(sub)) return header;
  return nullptr;
}

// A button a reader names by its picture: an error that says what keeps it from a touch.
std::string tapNamed(const std::string& image, const std::string& what) {
  auto button = os::findVisibleText(image);
  if (!button) return "error: no " + what + " on screen";
  if (!os::isReachable(*button)) return "error: the " + what + " is " + os::coveredBy(*button);
  return os::TouchDriver::tap(*button) ? "" : "error: the " + what + " did not take the tap";
}

// Back from the full-screen pictures, which have no back button: a tap on the picture closes them.
std::string back() {
  auto picture = os::firstView([](const os::View& view) {
    return dynamic_cast<const VXImageViewer*>(&view) && dynamic_cast<VXImageViewerViewController*>(view.enclosingViewController()) &&
           os::visibleRectOf(view) && os::isReachable(view);
  });
  if (picture) return os::TouchDriver::tap(*picture) ? "" : "error: the picture did not take the tap";
  return tapNamed("navbar-back", "back button");
}

// The web page a sharing screen shows, when one is on screen.
std::shared_ptr<os::WebView> visibleWebView() {
  return std::dynamic_pointer_cast<os::WebView>(
      os::firstView([](const os::View& view) { return dynamic_cast<const os::WebView*>(&view) && os::visibleRectOf(view); }));
}

// A page's words, its markup left out, on one line and cut to a line's length.
std::string pageText(const os::WebView& page) {
  std::string text;
  bool inTag = false;
  for (char c : page.documentHTML()) {
    if (c == '<') inTag = true;
    else if (c == '>') inTag = false;
    else if (!inTag) text += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
  }
  text = os::trimWhitespace(text);
  return os::utf16Length(text) > 60 ? os::substringToUTF16Index(text, 60) + "…" : text;
}

std::shared_ptr<os::NavigationController> navigation() {
  return std::dynamic_pointer_cast<os::NavigationController>(NQSideViewController::share()->rootViewController());
}

std::shared_ptr<VXNewsDetailViewController> openArticle() {
  auto nav = navigation();
  return nav ? std::dynamic_pointer_cast<VXNewsDetailViewController>(nav->topViewController()) : nullptr;
}

std::shared_ptr<VXAppDelegate> appDelegate() {
  auto app = os::Application::shared();
  return app ? std::dynamic_pointer_cast<VXAppDelegate>(app->delegate()) : nullptr;
}

std::shared_ptr<VXSplashView> launchSplash() {
  auto delegate = appDelegate();
  return delegate ? delegate->splash() : nullptr;
}

// The texts of the alert of a pushed headline the home screen holds while a full-screen view (the
// offline download's cover, the picture viewer) is up, to be offered once that view has closed;
// none when no headline waits so.
std::vector<std::string> waitingHeadlineTexts() {
  auto delegate = appDelegate();
  auto home = delegate ? delegate->mainViewController() : nullptr;
  auto state = VXGlobalDefine::share();
  if (!home || !home->alertMessage() || !state || state->screenStatus() == 0) return {};
  return {"要闻推送", "忽略", "点击查看", home->alertMessage()->alertInfo()["aps"]["alert"].stringOr()};
}

// Runs the main loop until the condition holds, at most `seconds`. The conditions are the main
// thread's own state, so the loop sleeps until something happens there rather than looking again
// and again.
bool runFor(double seconds, const std::function<bool()>& condition) {
  auto loop = os::RunLoop::main();
  const double end = os::Clock::monotonic() + seconds;
  for (;;) {
    if (condition()) return true;
    const double left = end - os::Clock::monotonic();
    if (left <= 0) return false;
    loop->runOnce(os::Date::now().addingTimeInterval(left));
  }
}

// One command to the push service's control port; its answer line, or "" when none came.
std::string pushServiceCommand(std::uint16_t port, const std::string& command) {
  auto address = os::makeIPv4Address("127.0.0.1", port);
  auto socket = os::TcpSocket::create();
  if (!address || !socket || !socket->connect(*address)) return "";
  std::string answer;
  bool done = false;
  os::Socket::Callbacks callbacks;
  callbacks.connected = [&](int error) {
    if (error != 0) done = true;
    else socket->send(command.data(), command.size());
  };
  callbacks.readable = [&] {
    char chunk[256];
    long count;
    while ((count = socket->receive(chunk, sizeof chunk)) > 0) answer.append(chunk, static_cast<std::size_t>(count));
    if (count == 0 || answer.find('\n') != std::string::npos) done = true;
  };
  socket->schedule(os::RunLoop::main(), callbacks);
  runFor(5, [&] { return done; });
  socket->close();
  return answer.substr(0, answer.find('\n'));
}

// Blank lines and "# …" remarks are no commands.
bool isBlank(const std::string& line) {
  std::string trimmed = os::trimWhitespace(line);
  return trimmed.empty() || trimmed[0] == '#';
}

// The sharing component's icon sheet, when it shows.
bool iconSheetShows() {
  return os::firstView([](const os::View& view) {
           return dynamic_cast<const OBSocialIconActionSheet*>(&view) && os::visibleRectOf(view);
         }) != nullptr;
}

std::shared_ptr<os::AlertView> visibleAlert(const std::string& title) {
  for (const auto& alert : os::AlertView::visibleAlertViews())
    if (alert->title() == title) return alert;
  return nullptr;
}

}  // namespace

std::string ReaderCommands::help() {
  return "commands:\n"
         "  tap LABEL            tap a tab, a row or a button by the text or label it shows (label=\"分享\"),\n"
         "                       whole or a part that only one text has\n"
         "  tap X Y | tap row N  tap a point of the screen, or the Nth row of the list (from 0)\n"
         "  pull                 pull the list down to refresh it\n"
         "  end                  scroll to the end of the list (the next page loads)\n"
         "  scroll end           the same, as a finger does, without saying when nothing moved\n"
         "  back                 the navigation bar's back button; in the picture viewer, closes it\n"
         "  menu                 open the menu, or close it when it is open\n"
         "  rows                 the open article's rows\n"
         "  alert N | alert \"TITLE\"  a button of the alert or sheet on screen, N as its tag=N\n"
         "  drag X1 Y1 X2 Y2     drag a finger from one point to the other (flick: let it run on)\n"
         "  flick X1 Y1 X2 Y2 | doubletap X Y | type TEXT | return\n"
         "  wait SECONDS | dump | help | quit\n";
}

void ReaderCommands::printIfChanged() {
  if (auto screen = watcher_.changedDump()) out_ << "=== screen ===\n" << *screen << std::flush;
}

os::SettleResult ReaderCommands::settle(double limit, std::uint64_t loadsAfter, std::uint64_t timersAfter) {
  os::SettleOptions options;
  options.limit = limit;
  options.loadsAfter = loadsAfter;
  options.timersAfter = timersAfter;
  options.isTransient = isTransientMessage;
  // The screen prints as it changes, as a person saw it: a message before it goes by itself, a
  // screen that moved while an answer is still out.
  options.onChange = [this] { printIfChanged(); };
  return os::settleScreen(options);
}

bool ReaderCommands::waitForLaunch(double limit) {
  if (launched_) return true;
  auto splash = launchSplash();
  launched_ = !splash || runFor(limit, [&] { return splash->ended(); });
  return launched_;
}

std::string ReaderCommands::articleRows() {
  auto article = openArticle();
  if (!article) return "";
  std::string out;
  int n = 0;
  for (const auto& row : article->rows()) {
    if (!row) continue;
    const char* kind = "row";
    switch (row->type()) {
      case kNewsDetailText: kind = "text"; break;
      case kNewsDetailImage: kind = "picture"; break;
      case kNewsDetailHeader: kind = "header"; break;
      case kNewsDetailAd: kind = "ad"; break;
      case kNewsDetailEval: kind = "votes"; break;
    }
    std::string content = row->content();
    // The vote row shows its buttons and their counts, not text.
    if (auto eval = std::dynamic_pointer_cast<VXNewsDetailEvalDO>(row)) {
      content = os::format("detail_digg %d, detail_bury %d", eval->diggCount(), eval->buryCount());
      if (eval->flag() == VXNewsDetailEvalDO::kVotedUp) content += " (voted up)";
      if (eval->flag() == VXNewsDetailEvalDO::kVotedDown) content += " (voted down)";
    }
    out += os::format("row %d %s: %s\n", ++n, kind, content.c_str());
  }
  return out;
}

std::vector<std::string> ReaderCommands::tabTitles() {
  std::vector<std::string> titles;
  // The titled buttons of each tab strip, in the order the screen holds them.
  auto button = [&titles](const std::shared_ptr<os::View>& view) {
    if (view->isHidden()) return os::WalkOn::Past;
    if (auto* b = dynamic_cast<const os::Button*>(view.get()))
      if (auto title = b->currentTitle(); title && !title->empty()) titles.push_back(*title);
    return os::WalkOn::Into;
  };
  os::walkWindows([&button](const std::shared_ptr<os::View>& view) {
    if (view->isHidden()) return os::WalkOn::Past;
    if (view->className() != "VXSlideSwitchView") return os::WalkOn::Into;
    os::walkViews(view, button);
    return os::WalkOn::Past;
  });
  return titles;
}

std::string ReaderCommands::run(const std::string& raw) {
  std::string line = os::trimWhitespace(raw);
  if (isBlank(line)) return "";
  std::istringstream in(line);
  std::string verb, extra;
  in >> verb;
  verb = os::lowercaseASCII(verb);
  // A person typing at once still waits for a sliding screen to stand still before touching it:
  // the platform's touches and the reader's own (end, back, menu).
  if (os::isTouchVerb(verb) || verb == "end" || verb == "back" || verb == "menu") os::waitForAnimations();
  loadsBefore_ = os::URLConnection::lastLoadSerial();
  timersBefore_ = os::RunLoop::main()->lastTimerSerial();
  os::TouchDriver::settle();
  static const std::vector<std::string> bare{"quit", "exit", "help", "end", "back", "menu", "pull", "rows"};
  if (std::find(bare.begin(), bare.end(), verb) != bare.end() && in >> extra) return "error: " + verb + " takes nothing more";
  if (verb == "quit" || verb == "exit") {
    quit_ = true;
    return "";
  }
  if (verb == "help") return help();
  // The reader's own words for what the platform's touch commands do.
  if (verb == "end") return scrollToEnd();
  if (verb == "back") {
    std::string answer = back();
    // The screens the menu opens (收藏, 离线, 设置) go back to the menu still open: said, or the
    // next `menu` would close it where the reader meant to open it.
    auto side = NQSideViewController::share();
    if (answer.empty() && side && side->leftSideIsShow()) return "back: the menu is open (menu closes it)";
    return answer;
  }
  if (verb == "menu") return toggleMenu();
  if (verb == "pull") return pull();
  if (verb == "rows") {
    std::string rows = articleRows();
    return rows.empty() ? "error: no article is open" : rows;
  }
  // The share sheet is no alert: its icons' tags (tag=115 ...) are the sharing component's own
  // numbers, and a reader names an icon by its caption.
  if (verb == "alert" && !os::TouchDriver::frontAlert() && iconSheetShows())
    return "error: the share sheet is no alert: tap an icon by its name (tap 新浪微博)";
  os::TouchAnswer touch = os::answerTouchCommand(line);
  const std::string& answer = touch.text;
  // A pushed headline's alert not up yet because a full-screen view holds it: said, so the reader
  // closes that view rather than look for the alert.
  const std::string held = "; a pushed headline waits until the full-screen view closes";
  if (verb == "tap" && answer.starts_with("error: nothing on screen reads")) {
    std::string words = os::trimWhitespace(line.substr(3));
    if (words.size() >= 2 && words.front() == '"' && words.back() == '"') words = words.substr(1, words.size() - 2);
    if (std::string where = voteRowOffScreen(words); !where.empty()) return where;
    auto texts = waitingHeadlineTexts();
    if (std::find(texts.begin(), texts.end(), words) != texts.end()) return answer + held;
  }
  if (verb == "alert" && answer == "error: no alert on screen" && !waitingHeadlineTexts().empty()) return answer + held;
  // The open menu's clear cover over the news is what covers it: said as the menu.
  if (touch.cover) {
    auto side = NQSideViewController::share();
    if (side && touch.cover == side->coverButton()) return "error: " + touch.target + " is covered by the open menu: menu closes it";
  }
  return answer;
}

std::string ReaderCommands::voteRowOffScreen(const std::string& words) {
  // The vote row is the article's last; scrolled away, its table keeps no view of it to name.
  static const std::vector<std::string> names{"顶", "踩", "detail_digg", "detail_bury"};
  auto article = openArticle();
  if (!article || std::find(names.begin(), names.end(), words) == names.end()) return "";
  for (const auto& row : article->rows())
    if (std::dynamic_pointer_cast<VXNewsDetailEvalDO>(row))
      return "error: " + os::dumpQuoted(words) + " is on the vote row, off screen at the end of the article: end scrolls down to it";
  return "";
}

std::string ReaderCommands::toggleMenu() {
  // Open, the menu leaves a strip of the news in view, and a tap there closes it.
  auto side = NQSideViewController::share();
  auto cover = side ? side->coverButton() : nullptr;
  if (cover && cover->superview() && os::visibleRectOf(*cover)) {
    if (!os::isReachable(*cover)) return "error: the news beside the menu is " + os::coveredBy(*cover);
    return os::TouchDriver::tap(*cover) ? "" : "error: the menu did not close";
  }
  return tapNamed("navbar-left-item", "menu button");
}

std::string ReaderCommands::scrollToEnd() {
  auto list = os::mainScrollView();
  const os::Point before = list ? list->contentOffset() : os::Point{};
  std::string answer = os::runTouchCommand("scroll end");
  if (!answer.empty() || !list) return answer;
  // Already at the end of a list with no next page: nothing moves and nothing is asked for, which
  // the screen alone would leave unsaid.
  const os::Point after = list->contentOffset();
  if (after.x != before.x || after.y != before.y || os::URLConnection::lastLoadSerial() != loadsBefore_) return "";
  auto table = std::dynamic_pointer_cast<os::TableView>(list);
  return table ? os::format("end: already at the end, nothing more to load (%ld rows)", rowCount(*table))
               : std::string("end: already at the end");
}

std::string ReaderCommands::pull() {
  auto table = os::mainTableView();
  const long before = table ? rowCount(*table) : 0;
  std::string answer = os::runTouchCommand("pull");
  if (!answer.empty() || !table) return answer;
  // The refresh ends when its answer has come (or failed); then the screen comes to rest. Meanwhile
  // the screen prints as it changes, the header saying it loads, as `end` shows its loading row.
  auto header = refreshHeaderOf(*table);
  const double started = os::Clock::monotonic();
  runFor(kSettleLimit, [this, &header] {
    if (!header || header->state() != PRRefreshLoading) return true;
    printIfChanged();
    return false;
  });
  std::vector<std::string> messages =
      settle(std::max(0.0, kSettleLimit - (os::Clock::monotonic() - started)), loadsBefore_, timersBefore_).messages;
  const long after = rowCount(*table);
  std::string said;
  for (const auto& m : messages) said += (said.empty() ? "" : ", ") + m;
  if (header && header->state() == PRRefreshLoading)
    return os::format("pulled: still loading after %g s", kSettleLimit) + (said.empty() ? "" : " (" + said + ")");
  std::string rows = after == before   ? os::format("nothing new, %ld rows", after)
                     : after > before ? os::format("%ld new, %ld rows", after - before, after)
                                      : os::format("%ld rows (%ld before)", after, before);
  return "pulled: " + (said.empty() ? rows : said + "; " + rows);
}

bool ReaderCommands::step(const std::string& command) {
  if (commandsEnded()) return false;
  // A long line (a text to type) is echoed by its start and length, as the screen prints it.
  // Flushed at once: whoever reads sees the command taken while its answer is still to come.
  out_ << "> " << os::escapeControlCharacters(os::shownText(command)) << std::endl;
  if (commandsEnded()) return false;
  // A message still going by (one a late answer raised after the last command) goes first, as a
  // person waits for it before touching the screen; timers that tick on meanwhile are not its. A
  // message offering a control (the offline download's cover) is a screen: the command goes to it.
  if (!os::transientViews(isTransientMessage).empty()) settle(kSettleLimit, kNoLoads, os::RunLoop::main()->lastTimerSerial());
  std::string answer = run(command);
  if (!answer.empty()) out_ << answer << (answer.back() == '\n' ? "" : "\n");
  os::SettleResult rest = settle(kSettleLimit, loadsBefore_, timersBefore_);
  printIfChanged();
  // Said plainly rather than waited on for ever: the screen may still change when these end.
  if (!rest.atRest && !rest.pending.empty()) {
    std::string pending;
    for (const auto& p : rest.pending) pending += (pending.empty() ? "" : "; ") + p;
    out_ << os::format("still under way after %g s: ", kSettleLimit) << pending << "\n";
  }
  // Whoever feeds the commands may wait for this answer before sending the next.
  out_ << std::flush;
  return answer.rfind("error:", 0) != 0;
}

int ReaderCommands::runInput(bool interactive, int fd) {
  // Lines are taken as they arrive, between passes of the main loop, so the screen keeps moving
  // while the reader thinks (or the program feeding the pipe does).
  std::deque<std::string> lines;
  bool ended = false;
  auto loop = os::RunLoop::main();
  auto input = os::InputLines::watch(
      loop, [&lines](const std::string& line) { lines.push_back(line); }, [&ended] { ended = true; }, fd);

  if (interactive) out_ << help() << std::flush;
  bool started = false, ok = true;
  while (!commandsEnded()) {
    if (!lines.empty()) {
      std::string line = std::move(lines.front());
      lines.pop_front();
      if (isBlank(line)) continue;
      if (interactive) {
        std::string answer = run(line);
        if (!answer.empty()) out_ << answer << (answer.back() == '\n' ? "" : "\n") << std::flush;
        continue;
      }
      // Commands from a pipe or a file start on the news, as a person's would.
      if (!started) {
        printIfChanged();
        if (commandsEnded()) break;
        ok = waitForLaunch() && ok;
        // The start's own loads (the first list) are waited out, pictures aside.
        settle(kSettleLimit, 0);
        printIfChanged();
      }
      started = true;
      ok = step(line) && ok;
      continue;
    }
    if (ended) break;
    // Sleeps until something happens (a line, an answer, a timer), then prints what changed.
    loop->runOnce(os::Date::now().addingTimeInterval(3600));
    os::TouchDriver::settle();
    if (lines.empty() && ended) continue;
    printIfChanged();
  }
  input.reset();
  // The answers did not all reach whoever asked for them.
  if (outputClosed()) return 1;
  if (interactive) return 0;
  // Nothing asked of it: the tour shows what the reader does.
  if (!started && !quit_) return runTour();
  return ok ? 0 : 1;
}

// The share road: the article's share button, the icon sheet, Sina Weibo through the sharing
// service's authorisation page to the share editor, and the post. Without a sharing service the
// road ends early; the tour says so and goes on.
void ReaderCommands::shareTour() {
  out_ << "--- sharing the article\n";
  if (!step("tap 分享")) return;
  if (!os::findVisibleText("新浪微博")) {
    out_ << "sharing: the icon sheet did not open\n";
    return;
  }
  step("tap 新浪微博");
  if (commandsEnded()) return;
  // The sharing service's authorisation page may first ask for an account: the page names its
  // test account, which the tour signs in with.
  runFor(10, [] { return os::findVisibleText("发布") || os::findVisibleText("测试帐号"); });
  if (auto hint = std::dynamic_pointer_cast<os::Label>(os::findVisibleText("测试帐号"))) {
    std::istringstream words(hint->text());
    std::string label, account, passwordLabel, password;
    words >> label >> account >> passwordLabel >> password;
    settle();
    printIfChanged();
    if (!step("tap 帐号") || !step("type " + account) || !step("tap 密码") || !step("type " + password) ||
        !step("tap 登录并授权")) {
      out_ << "sharing: the sign-in form did not take the account\n";
      return;
    }
    out_ << "sharing: signed in to 新浪微博 as " << account << "\n";
  }
  if (commandsEnded()) return;
  bool editor = runFor(10, [] { return os::findVisibleText("发布") != nullptr; });
  settle();
  printIfChanged();
  if (!editor) {
    out_ << "sharing: no share editor (is the sharing service running?)\n";
    // The sign-in page the service should have led on from stays up, loading or showing the
    // service's failure: what it shows is said, and its close button takes the reader back.
    if (auto page = visibleWebView()) {
      out_ << "sharing: the sign-in page " << (page->isLoading() ? std::string("is still loading") : "shows \"" + pageText(*page) + "\"")
           << "; closing it\n";
      if (std::string answer = tapNamed("OBS_nav_button_close", "sign-in page's close button"); !answer.empty()) out_ << answer << "\n";
      settle();
      printIfChanged();
    }
    return;
  }
  if (commandsEnded()) return;
  // The sharing service took the post once the share bar is refreshed after it.
  bool posted = false;
  auto& center = os::NotificationCenter::defaultCenter();
  auto token = center.addObserver("UpdateSocialBar", nullptr, [&posted](const os::Notification&) { posted = true; });
  out_ << "> tap 发布\n";
  if (std::string answer = run("tap 发布"); !answer.empty()) out_ << answer << "\n";
  runFor(10, [&posted] { return posted; });
  center.removeObserver(token);
  // The finished toast prints while it shows, and the screen rests once it has gone.
  settle();
  printIfChanged();
  out_ << (posted ? "sharing: posted to 新浪微博\n" : "sharing: the post was not confirmed\n");
}

int ReaderCommands::runTour() {
  // Each part of the tour ends it when the output has closed (or a stop was asked) meanwhile,
  // rather than go on waiting for screens no one will see.
  out_ << "--- the splash\n";
  printIfChanged();
  if (commandsEnded()) return 1;
  if (!waitForLaunch()) {
    out_ << "error: the splash did not end\n";
    return 1;
  }
  out_ << "--- the tabs and the first category's list\n";
  // The first list fills from the server once the tabs are built.
  runFor(10, [] {
    auto table = os::mainTableView();
    return table && table->numberOfRowsInSection(0) > 1;
  });
  settle();
  printIfChanged();
  if (commandsEnded()) return 1;
  std::vector<std::string> tabs = tabTitles();
  std::string joined;
  for (const auto& t : tabs) joined += (joined.empty() ? "" : " | ") + t;
  out_ << "tabs: " << joined << "\n";
  if (tabs.empty()) {
    out_ << "error: no category tabs\n";
    return 1;
  }

  out_ << "--- pull to refresh\n";
  bool ok = step("pull");
  out_ << "--- the next page\n";
  ok = step("end") && ok;
  if (commandsEnded()) return 1;

  out_ << "--- an article\n";
  auto table = os::mainTableView();
  if (!table || table->numberOfRowsInSection(0) == 0) {
    out_ << "error: the list is empty\n";
    return 1;
  }
  out_ << "> tap row 0\n";
  os::TouchDriver::tapRow(*table, 0);
  bool opened = runFor(10, [] {
    auto article = openArticle();
    return article && !article->listData().empty();
  });
  settle();
  printIfChanged();
  if (!opened) {
    out_ << "error: the article did not open\n";
    return 1;
  }
  if (commandsEnded()) return 1;
  out_ << articleRows();
  os::Dictionary article = openArticle()->infoDict();
  std::string title;
  for (const auto& row : openArticle()->rows())
    if (row && !row->content().empty()) {
      title = row->content();
      break;
    }

  shareTour();
  if (commandsEnded()) return 1;

  out_ << "--- back to the list\n";
  ok = step("back") && ok;
  if (pushControlPort_ != 0 && !commandsEnded()) ok = pushedHeadline(article, title) && ok;
  return ok && !outputClosed() ? 0 : 1;
}

bool ReaderCommands::pushedHeadline(const os::Dictionary& article, const std::string& title) {
  out_ << "--- a pushed headline (the push service's platform channel, as a remote notification)\n";
  os::Dictionary payload{{"aps", os::Dictionary{{"alert", title.empty() ? std::string("要闻") : title}}},
                         {"id", article["id"]},
                         {"category", article["category"]},
                         {"type", ""}};
  auto json = JTSerializer::serializeObject(os::Value(payload), JTSerializeCompact, JTEncodeAsString);
  if (!json || !json->string()) {
    out_ << "error: the headline could not be written\n";
    return false;
  }
  // The device's token reaches the service once the push client has logged in: until then the
  // channel reaches no device, so the headline is offered again a little later.
  std::string answer;
  bool reached = false;
  for (int attempt = 0; attempt < 40 && !reached; ++attempt) {
    answer = pushServiceCommand(pushControlPort_, "notify " + *json->string() + "\n");
    reached = answer.starts_with("ok ") && answer != "ok 0";
    if (!reached) runFor(0.5, [] { return false; });
  }
  out_ << "> notify: " << (answer.empty() ? "no answer" : answer) << "\n";
  if (!reached) {
    out_ << "error: the pushed headline reached no device\n";
    return false;
  }
  if (!runFor(10, [] { return visibleAlert("要闻推送") != nullptr; })) {
    out_ << "error: the pushed headline was not offered\n";
    return false;
  }
  settle(2);
  printIfChanged();
  if (commandsEnded()) return false;
  bool ok = step("alert \"点击查看\"");
  bool opened = runFor(10, [] {
    auto open = openArticle();
    return open && !open->listData().empty();
  });
  settle();
  printIfChanged();
  if (!opened) {
    out_ << "error: the pushed article did not open\n";
    return false;
  }
  out_ << "--- back to the list\n";
  return step("back") && ok;
}

}  // namespace reader
