#pragma once
// The responder chain: touches travel from the touched view up through its superviews, the
// controllers that own them and the window; text input takes the first-responder slot.
#include <memory>
#include <vector>

namespace os {

class Touch;
class Event;
using TouchList = std::vector<std::shared_ptr<Touch>>;

class Responder : public std::enable_shared_from_this<Responder> {
 public:
  virtual ~Responder();

  // Where unhandled touches go next; null at the end of the chain.
  virtual Responder* nextResponder() const { return nullptr; }

  virtual bool canBecomeFirstResponder() const { return false; }
  virtual bool canResignFirstResponder() const { return true; }
  // False when the responder refuses or the current first responder does not let go.
  virtual bool becomeFirstResponder();
  virtual bool resignFirstResponder();
  bool isFirstResponder() const;
  static Responder* currentFirstResponder();

  // The default passes each phase on to the next responder.
  virtual void touchesBegan(const TouchList& touches, const Event* event);
  virtual void touchesMoved(const TouchList& touches, const Event* event);
  virtual void touchesEnded(const TouchList& touches, const Event* event);
  virtual void touchesCancelled(const TouchList& touches, const Event* event);

 protected:
  // Called when the first-responder slot is taken or given up (keyboard for text input).
  virtual void didBecomeFirstResponder() {}
  virtual void didResignFirstResponder() {}
};

}  // namespace os
