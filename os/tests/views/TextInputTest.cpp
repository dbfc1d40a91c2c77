#include <gtest/gtest.h>

#include "os/runtime/NotificationCenter.h"
#include "os/views/Application.h"
#include "os/views/Switch.h"
#include "os/views/TextField.h"
#include "os/views/TextView.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

// Refuses anything that would make the text longer than a limit, counting UTF-16 units.
struct Limit : TextFieldDelegate, TextViewDelegate {
  std::size_t max = 5;
  std::vector<TextRange> ranges;
  int returns = 0;
  bool shouldChangeCharactersInRange(TextField& f, TextRange r, const std::string& s) override {
    ranges.push_back(r);
    return utf16Length(f.text()) - r.length + utf16Length(s) <= max;
  }
  bool textFieldShouldReturn(TextField& f) override {
    ++returns;
    f.resignFirstResponder();
    return false;
  }
  bool shouldChangeTextInRange(TextView&, TextRange, const std::string& s) override { return s != "!"; }
};

class TextInputTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    app = Application::create(std::make_shared<ApplicationDelegate>(), "com.example.reader");
    app->makeShared();
  }
  std::shared_ptr<Application> app;
};

TEST_F(TextInputTest, TypingAsksTheDelegateInUTF16RangesAndPostsChanges) {
  auto field = makeView<TextField>(Rect(10, 10, 200, 30));
  auto limit = std::make_shared<Limit>();
  field->setDelegate(limit);
  window->addSubview(field);
  int changes = 0, edits = 0;
  auto token = NotificationCenter::defaultCenter().addObserver(kTextFieldTextDidChangeNotification, field.get(),
                                                               [&](const Notification&) { ++changes; });
  field->addTarget(nullptr, [&](Control&) { ++edits; }, kControlEventEditingChanged);

  EXPECT_FALSE(TouchDriver::typeText(*field, "军事😀abc"));
  NotificationCenter::defaultCenter().removeObserver(token);
  // 军 事 (1 unit each), 😀 (2 units), a: five units; b and c refused.
  EXPECT_EQ(field->text(), "军事😀a");
  EXPECT_EQ(limit->ranges[2], (TextRange{2, 0}));
  EXPECT_EQ(limit->ranges[3], (TextRange{4, 0}));
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(edits, 4);
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_TRUE(app->isKeyboardVisible());

  // Deleting removes the whole emoji.
  field->deleteBackward();
  field->deleteBackward();
  EXPECT_EQ(field->text(), "军事");
  EXPECT_EQ(limit->ranges.back(), (TextRange{2, 2}));

  // Code sets the text without asking anyone.
  field->setText("a long text from code");
  EXPECT_EQ(field->text(), "a long text from code");

  EXPECT_FALSE(TouchDriver::pressReturn());  // the delegate answered no
  EXPECT_EQ(limit->returns, 1);
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_FALSE(app->isKeyboardVisible());
}

TEST_F(TextInputTest, FirstResponderMovesBetweenInputsAndEndEditingReleasesIt) {
  auto a = makeView<TextField>(Rect(10, 10, 200, 30));
  auto b = makeView<TextView>(Rect(10, 60, 200, 100));
  window->addSubview(a);
  window->addSubview(b);
  TouchDriver::tap(*a);
  EXPECT_TRUE(a->isEditing());
  TouchDriver::tap(*b);
  EXPECT_FALSE(a->isEditing());
  EXPECT_TRUE(b->isEditing());
  EXPECT_TRUE(app->isKeyboardVisible());
  auto limit = std::make_shared<Limit>();
  b->setDelegate(limit);
  TouchDriver::typeText(*b, "ok!");
  EXPECT_EQ(b->text(), "ok");
  window->endEditing(true);
  EXPECT_EQ(Responder::currentFirstResponder(), nullptr);
  EXPECT_FALSE(app->isKeyboardVisible());
  b->setEditable(false);
  TouchDriver::tap(*b);
  EXPECT_FALSE(b->isFirstResponder());
}

TEST_F(TextInputTest, ASwitchFlipsOnATapAndTellsItsTargets) {
  auto sw = makeView<Switch>(Rect(200, 7, 10, 10));
  EXPECT_EQ(sw->frame(), Rect(200, 7, 79, 27));
  window->addSubview(sw);
  std::vector<bool> seen;
  sw->addTarget(nullptr, [&](Control& c) { seen.push_back(static_cast<Switch&>(c).isOn()); }, kControlEventValueChanged);
  TouchDriver::tap(*sw);
  TouchDriver::tap(*sw);
  sw->setOn(true);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
  sw->setEnabled(false);
  TouchDriver::tap(*sw);
  EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
}  // namespace os::test

namespace os::test {
namespace {

TEST_F(TextInputTest, EditingBeginsAndEndsWithNotificationsAndControlEvents) {
  auto field = makeView<TextField>(Rect(10, 10, 200, 30));
  window->addSubview(field);
  std::vector<std::string> seen;
  auto& center = NotificationCenter::defaultCenter();
  auto t1 = center.addObserver(kTextFieldTextDidBeginEditingNotification, field.get(), [&](const Notification& n) { seen.push_back("begin"); });
  auto t2 = center.addObserver(kTextFieldTextDidEndEditingNotification, field.get(), [&](const Notification& n) { seen.push_back("end"); });
  auto t3 = center.addObserver(kKeyboardDidShowNotification, nullptr, [&](const Notification& n) {
    seen.push_back("keyboard " + n.userInfo[kKeyboardFrameUserInfoKey].at(1).description());
  });
  field->addTarget(nullptr, [&](Control&) { seen.push_back("didBegin event"); }, kControlEventEditingDidBegin);
  field->setText("old");
  field->setClearsOnBeginEditing(true);
  TouchDriver::tap(*field);
  EXPECT_EQ(field->text(), "");
  field->resignFirstResponder();
  center.removeObserver(t1);
  center.removeObserver(t2);
  center.removeObserver(t3);
  EXPECT_EQ(seen, (std::vector<std::string>{"keyboard 352", "didBegin event", "begin", "end"}));
  // A disabled field never takes the keyboard.
  field->setEnabled(false);
  EXPECT_FALSE(field->becomeFirstResponder());
}

}  // namespace
}  // namespace os::test
