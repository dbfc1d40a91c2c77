#pragma once
// One-line text input. Typing goes through insertText/deleteBackward, which ask the delegate
// (ranges in UTF-16 units), change the text, send editing-changed and post the change
// notification; taking the first-responder slot shows the application's keyboard.
#include <memory>
#include <string>

#include "os/graphics/AttributedString.h"
#include "os/graphics/Font.h"
#include "os/views/Control.h"

namespace os {

class TextField;

inline constexpr const char* kTextFieldTextDidBeginEditingNotification = "TextFieldTextDidBeginEditingNotification";
inline constexpr const char* kTextFieldTextDidChangeNotification = "TextFieldTextDidChangeNotification";
inline constexpr const char* kTextFieldTextDidEndEditingNotification = "TextFieldTextDidEndEditingNotification";

enum class TextBorderStyle { None = 0, Line = 1, Bezel = 2, RoundedRect = 3 };
enum class TextFieldViewMode { Never = 0, WhileEditing = 1, UnlessEditing = 2, Always = 3 };
enum class KeyboardType { Default = 0, ASCIICapable, NumbersAndPunctuation, URL, NumberPad, PhonePad, NamePhonePad, EmailAddress, DecimalPad };
enum class ReturnKeyType { Default = 0, Go, Google, Join, Next, Route, Search, Send, Yahoo, Done, EmergencyCall };

class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  virtual bool textFieldShouldBeginEditing(TextField& field) { return true; }
  virtual void textFieldDidBeginEditing(TextField& field) {}
  virtual bool textFieldShouldEndEditing(TextField& field) { return true; }
  virtual void textFieldDidEndEditing(TextField& field) {}
  virtual bool shouldChangeCharactersInRange(TextField& field, TextRange range, const std::string& replacement) { return true; }
  virtual bool textFieldShouldClear(TextField& field) { return true; }
  virtual bool textFieldShouldReturn(TextField& field) { return true; }
};

class TextField : public Control {
 public:
  TextField();
  explicit TextField(const Rect& frame);
  std::string className() const override { return "TextField"; }

  const std::string& text() const { return text_; }
  // The text's length in UTF-16 units, kept as the text changes so typing never recounts it.
  std::size_t textLength() const { return length_; }
  // From code: no delegate question and no notification.
  virtual void setText(std::string text);
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string p) { placeholder_ = std::move(p); setNeedsDisplay(); }
  const Font& font() const { return font_; }
  void setFont(const Font& f) { font_ = f; setNeedsDisplay(); }
  const Color& textColor() const { return textColor_; }
  void setTextColor(const Color& c) { textColor_ = c; setNeedsDisplay(); }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a) { alignment_ = a; setNeedsDisplay(); }
  TextBorderStyle borderStyle() const { return border_; }
  void setBorderStyle(TextBorderStyle b) { border_ = b; }
  TextFieldViewMode clearButtonMode() const { return clearMode_; }
  void setClearButtonMode(TextFieldViewMode m) { clearMode_ = m; }
  bool isSecureTextEntry() const { return secure_; }
  void setSecureTextEntry(bool s) { secure_ = s; }
  KeyboardType keyboardType() const { return keyboard_; }
  void setKeyboardType(KeyboardType k) { keyboard_ = k; }
  ReturnKeyType returnKeyType() const { return returnKey_; }
  void setReturnKeyType(ReturnKeyType r) { returnKey_ = r; }
  bool clearsOnBeginEditing() const { return clearsOnBegin_; }
  void setClearsOnBeginEditing(bool c) { clearsOnBegin_ = c; }
  std::shared_ptr<TextFieldDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<TextFieldDelegate> d) { delegate_ = std::move(d); }
  bool isEditing() const { return editing_; }

  // Keyboard input at the end of the text; false when the delegate refused it.
  bool insertText(const std::string& text);
  bool deleteBackward();
  // Replaces a UTF-16 range as typing would (asks the delegate).
  bool replaceCharactersInRange(TextRange range, const std::string& replacement);
  // The return key: asks the delegate, then sends editing-did-end-on-exit.
  bool pressReturn();
  // The clear button.
  bool clear();

  bool canBecomeFirstResponder() const override { return isEnabled(); }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;

  void drawRect(const Rect& rect) override;
  void describeForDump(std::vector<std::string>& parts) const override;

 protected:
  void didBecomeFirstResponder() override;
  void didResignFirstResponder() override;
  void didTapInside(const Touch& touch) override;

 private:
  std::string text_, placeholder_;
  std::size_t length_ = 0;
  Font font_ = Font::systemFont(17);
  Color textColor_ = Color::black();
  TextAlignment alignment_ = TextAlignment::Left;
  TextBorderStyle border_ = TextBorderStyle::None;
  TextFieldViewMode clearMode_ = TextFieldViewMode::Never;
  bool secure_ = false, clearsOnBegin_ = false, editing_ = false;
  KeyboardType keyboard_ = KeyboardType::Default;
  ReturnKeyType returnKey_ = ReturnKeyType::Default;
  std::weak_ptr<TextFieldDelegate> delegate_;
};

// UTF-16 range of the last character of a text (a surrogate pair counts as two units).
TextRange lastCharacterRange(const std::string& text);
// The text with a UTF-16 range replaced; nullopt when the range lies outside the text.
std::optional<std::string> replacingUTF16Range(const std::string& text, TextRange range, const std::string& replacement);
// The same in place, given the text's UTF-16 length (`units`, updated): a replacement at the end
// (a character typed) is appended without copying the text, and `units` moves by what the edit
// really changed, counted over the edit and a few bytes either side, never over the whole text.
// False, with nothing changed, when the range lies outside the text.
bool replaceUTF16RangeInPlace(std::string& text, std::size_t& units, TextRange range, const std::string& replacement);

}  // namespace os
