#pragma once
// Multi-line text input on a scroll view; typing asks the delegate, changes the text, tells the
// delegate and posts the change notification. Setting the text from code does neither.
#include <memory>
#include <string>

#include "os/graphics/AttributedString.h"
#include "os/graphics/Font.h"
#include "os/views/ScrollView.h"

namespace os {

class TextView;

inline constexpr const char* kTextViewTextDidBeginEditingNotification = "TextViewTextDidBeginEditingNotification";
inline constexpr const char* kTextViewTextDidChangeNotification = "TextViewTextDidChangeNotification";
inline constexpr const char* kTextViewTextDidEndEditingNotification = "TextViewTextDidEndEditingNotification";

class TextViewDelegate : public ScrollViewDelegate {
 public:
  virtual bool textViewShouldBeginEditing(TextView& view) { return true; }
  virtual bool textViewShouldEndEditing(TextView& view) { return true; }
  virtual void textViewDidBeginEditing(TextView& view) {}
  virtual void textViewDidEndEditing(TextView& view) {}
  virtual bool shouldChangeTextInRange(TextView& view, TextRange range, const std::string& replacement) { return true; }
  virtual void textViewDidChange(TextView& view) {}
};

class TextView : public ScrollView {
 public:
  TextView();
  explicit TextView(const Rect& frame);
  std::string className() const override { return "TextView"; }

  const std::string& text() const { return text_; }
  // The text's length in UTF-16 units, kept as the text changes so typing never recounts it.
  std::size_t textLength() const { return length_; }
  virtual void setText(std::string text);
  const Font& font() const { return font_; }
  virtual void setFont(const Font& f);
  const Color& textColor() const { return textColor_; }
  void setTextColor(const Color& c) { textColor_ = c; setNeedsDisplay(); }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a) { alignment_ = a; setNeedsDisplay(); }
  bool isEditable() const { return editable_; }
  void setEditable(bool e) { editable_ = e; }
  std::shared_ptr<TextViewDelegate> textViewDelegate() const { return delegate_.lock(); }
  // Also the scroll view's delegate.
  void setDelegate(std::weak_ptr<TextViewDelegate> d);
  bool isEditing() const { return editing_; }

  bool insertText(const std::string& text);
  bool deleteBackward();
  bool replaceCharactersInRange(TextRange range, const std::string& replacement);

  bool canBecomeFirstResponder() const override { return editable_; }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  void touchesEnded(const TouchList& touches, const Event* event) override;

  void drawRect(const Rect& rect) override;
  void describeForDump(std::vector<std::string>& parts) const override;

 protected:
  void didBecomeFirstResponder() override;
  void didResignFirstResponder() override;

 private:
  std::string text_;
  std::size_t length_ = 0;
  Font font_ = Font::systemFont(12);
  Color textColor_ = Color::black();
  TextAlignment alignment_ = TextAlignment::Left;
  bool editable_ = true, editing_ = false;
  std::weak_ptr<TextViewDelegate> delegate_;
};

}  // namespace os
