#include <gtest/gtest.h>

#include <random>

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

  // Code sets the text without asking anyone, and the kept length follows it.
  field->setText("a long text from code 军事😀");
  EXPECT_EQ(field->text(), "a long text from code 军事😀");
  EXPECT_EQ(field->textLength(), 26u);

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

// The length a field keeps is what its text measures after every edit: edges inside a surrogate
// pair take the whole character, and bytes typed in pieces join those beside them.
TEST_F(TextInputTest, TheKeptLengthIsTheTextsWhateverTheEdit) {
  auto field = makeView<TextField>(Rect(10, 10, 200, 30));
  auto limit = std::make_shared<Limit>();
  limit->max = 100;
  field->setDelegate(limit);
  window->addSubview(field);
  field->setText("a😀b");
  ASSERT_TRUE(field->replaceCharactersInRange(TextRange{2, 1}, ""));
  EXPECT_EQ(field->text(), "ab");
  EXPECT_EQ(field->textLength(), 2u);
  // The next character typed goes at the real end, and the delegate is told so.
  ASSERT_TRUE(field->insertText("c"));
  EXPECT_EQ(limit->ranges.back(), (TextRange{2, 0}));
  EXPECT_EQ(field->text(), "abc");

  auto view = makeView<TextView>(Rect(10, 60, 200, 100));
  window->addSubview(view);
  ASSERT_TRUE(view->insertText("\xE4\xB8"));
  ASSERT_TRUE(view->insertText("\xAD"));
  EXPECT_EQ(view->text(), "中");
  EXPECT_EQ(view->textLength(), 1u);
  // Bytes that join the ones after them, and a removal that brings two pieces together.
  view->setText("x\xAD");
  ASSERT_TRUE(view->replaceCharactersInRange(TextRange{1, 0}, "\xE4\xB8"));
  EXPECT_EQ(view->text(), "x中");
  EXPECT_EQ(view->textLength(), 2u);
  view->setText("\xE4\xB8" "a" "\xAD");
  ASSERT_TRUE(view->replaceCharactersInRange(TextRange{1, 1}, ""));
  EXPECT_EQ(view->text(), "中");
  EXPECT_EQ(view->textLength(), 1u);

  // Random edits of text made of whole and broken characters, in both kinds of input.
  const std::string pieces[] = {"a", "军", "😀", "\xE4", "\xB8", "\xAD", "\xF0\x9F", "\x98\x80", "\xFF", "\xC3", ""};
  std::mt19937 random(7);
  auto piece = [&] {
    std::string out;
    for (int n = static_cast<int>(random() % 4); n > 0; --n) out += pieces[random() % std::size(pieces)];
    return out;
  };
  field->setText("");
  view->setText("");
  for (int step = 0; step < 3000; ++step) {
    const std::string replacement = piece();
    for (bool inField : {true, false}) {
      const std::size_t length = inField ? field->textLength() : view->textLength();
      const std::size_t at = random() % (length + 1);
      const TextRange range{at, random() % (length - at + 1)};
      const std::string before = inField ? field->text() : view->text();
      if (inField) ASSERT_TRUE(field->replaceCharactersInRange(range, replacement));
      else ASSERT_TRUE(view->replaceCharactersInRange(range, replacement));
      const std::string& text = inField ? field->text() : view->text();
      ASSERT_EQ(text, *replacingUTF16Range(before, range, replacement));
      ASSERT_EQ(inField ? field->textLength() : view->textLength(), utf16Length(text))
          << "step " << step << ": " << escapeControlCharacters(before) << " {" << range.location << ", "
          << range.length << "} <- " << escapeControlCharacters(replacement);
    }
    if (field->text().size() > 200) field->setText(field->text().substr(100));
    if (view->text().size() > 200) view->setText(view->text().substr(100));
  }
}

}  // namespace
}  // namespace os::test
