// fuzz-link: os_testing
// fuzz-runs: 600
// The commands the running reader takes on standard input, a line at a time, played on a small
// screen (buttons, a list, a text field, an alert). Every command answers, and in bounded time.
#include "fuzz/support/FuzzSupport.h"
#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TestSandbox.h"
#include "os/console/TouchCommands.h"
#include "os/console/TouchDriver.h"
#include "os/views/AlertView.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/Label.h"
#include "os/views/TableView.h"
#include "os/views/TextField.h"
#include "os/views/Window.h"

namespace {

std::vector<fuzz::Seed> seeds() {
  return {
      {"tour", "tap OK\ntap row 3\npull\nscroll end\ndrag 10 300 10 100\ndoubletap 160 240\nwait 1.5\ndump\n"},
      {"text", "tap \"标题\"\ntap 100 40\ntype 你好 world\nreturn\nalert 1\nalert \"取消\"\n"},
      {"odd", "TAP   row   99\nwait 0\nfly\n\ntap\nalert x\nscroll up\ntype\n"},
      {"words", "tap 标\ntap \xe6\xa0\ntap OK OK\nalert 2 1\nalert 0\nwait 1 2\ndump x\ntap \x1b[2J\n"},
  };
}
FUZZ_SEEDS(seeds);

struct Rows : os::TableViewDataSource {
  long numberOfSectionsInTableView(os::TableView&) override { return 2; }
  long numberOfRowsInSection(os::TableView&, long) override { return 12; }
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& ip) override {
    auto cell = table.dequeueReusableCellWithIdentifier("row");
    if (!cell) cell = std::make_shared<os::TableViewCell>(os::TableViewCellStyle::Default, "row");
    cell->textLabel()->setText(os::format("row %ld-%ld", ip.section, ip.row));
    return cell;
  }
};

void setUp() {
  static os::VirtualClockScope clock;
  static os::TestSandbox sandbox;
  static os::DeviceProfileScope device{os::DeviceProfile{}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (setUp(), true);
  (void)ready;
  if (size > 2048) return 0;

  auto window = std::make_shared<os::Window>();
  window->makeKeyAndVisible();
  auto button = os::makeView<os::Button>(os::Rect(20, 400, 80, 40));
  button->setTitle("OK", os::kControlStateNormal);
  window->addSubview(button);
  auto title = os::makeView<os::Label>(os::Rect(0, 0, 320, 20));
  title->setText("标题");
  window->addSubview(title);
  auto field = os::makeView<os::TextField>(os::Rect(10, 30, 300, 30));
  window->addSubview(field);
  auto rows = std::make_shared<Rows>();
  auto table = os::makeView<os::TableView>(os::Rect(0, 60, 320, 330), os::TableViewStyle::Plain);
  table->setDataSource(rows);
  window->addSubview(table);
  auto alert = std::make_shared<os::AlertView>("提示", "message", std::weak_ptr<os::AlertViewDelegate>(), "取消",
                                               std::vector<std::string>{"确定"});
  if (size % 2) alert->show();
  os::TouchDriver::settle();

  fuzz::Input in(data, size);
  for (int line = 0; line < 16 && !in.empty(); ++line) {
    double before = os::Clock::now();
    std::string answer = os::runTouchCommand(in.until('\n'));
    fuzz::check(os::Clock::now() >= before, "the clock went back");
    fuzz::check(os::Clock::now() <= before + os::kLongestWait + 60, "a command let more time pass than a wait may");
    (void)answer;
  }

  for (auto& a : os::AlertView::visibleAlertViews()) a->dismissWithClickedButtonIndex(-1, false);
  if (os::Responder* r = os::Responder::currentFirstResponder()) r->resignFirstResponder();
  os::TouchDriver::advance(2);
  window->setHidden(true);
  window.reset();
  os::RunLoop::main()->runUntilIdle();
  return 0;
}
