#pragma once
// A search bar: a text field with a placeholder and an optional cancel button, reporting to
// its delegate as the text changes and when search or cancel is pressed.
#include <memory>
#include <string>

#include "os/views/View.h"

namespace os {

class SearchBar;
class TextField;
class Button;

class SearchBarDelegate {
 public:
  virtual ~SearchBarDelegate() = default;
  virtual bool searchBarShouldBeginEditing(SearchBar& bar) { return true; }
  virtual void searchBarTextDidBeginEditing(SearchBar& bar) {}
  virtual void searchBarTextDidEndEditing(SearchBar& bar) {}
  virtual void textDidChange(SearchBar& bar, const std::string& text) {}
  virtual void searchBarSearchButtonClicked(SearchBar& bar) {}
  virtual void searchBarCancelButtonClicked(SearchBar& bar) {}
};

class SearchBar : public View {
 public:
  SearchBar();
  explicit SearchBar(const Rect& frame);
  ~SearchBar() override;
  std::string className() const override { return "SearchBar"; }

  const std::string& text() const;
  void setText(std::string text);
  const std::string& placeholder() const;
  void setPlaceholder(std::string p);
  bool showsCancelButton() const { return showsCancel_; }
  void setShowsCancelButton(bool s, bool animated = false);
  std::shared_ptr<SearchBarDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<SearchBarDelegate> d) { delegate_ = std::move(d); }
  const std::shared_ptr<TextField>& textField() const { return field_; }
  const std::shared_ptr<Button>& cancelButton() const { return cancel_; }

  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  void layoutSubviews() override;
  void describeForDump(std::vector<std::string>& parts) const override;

 private:
  class Bridge;
  std::shared_ptr<TextField> field_;
  std::shared_ptr<Button> cancel_;
  std::shared_ptr<Bridge> bridge_;
  bool showsCancel_ = false;
  std::weak_ptr<SearchBarDelegate> delegate_;
};

}  // namespace os
