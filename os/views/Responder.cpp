#include "os/views/Responder.h"

namespace os {

namespace {
Responder* gFirstResponder = nullptr;
}

Responder::~Responder() {
  if (gFirstResponder == this) gFirstResponder = nullptr;
}

Responder* Responder::currentFirstResponder() { return gFirstResponder; }

bool Responder::isFirstResponder() const { return gFirstResponder == this; }

bool Responder::becomeFirstResponder() {
  if (gFirstResponder == this) return true;
  if (!canBecomeFirstResponder()) return false;
  if (gFirstResponder && !gFirstResponder->resignFirstResponder()) return false;
  gFirstResponder = this;
  didBecomeFirstResponder();
  return true;
}

bool Responder::resignFirstResponder() {
  if (gFirstResponder != this) return true;
  if (!canResignFirstResponder()) return false;
  gFirstResponder = nullptr;
  didResignFirstResponder();
  return true;
}

void Responder::touchesBegan(const TouchList& t, const Event* e) {
  if (auto* n = nextResponder()) n->touchesBegan(t, e);
}
void Responder::touchesMoved(const TouchList& t, const Event* e) {
  if (auto* n = nextResponder()) n->touchesMoved(t, e);
}
void Responder::touchesEnded(const TouchList& t, const Event* e) {
  if (auto* n = nextResponder()) n->touchesEnded(t, e);
}
void Responder::touchesCancelled(const TouchList& t, const Event* e) {
  if (auto* n = nextResponder()) n->touchesCancelled(t, e);
}

}  // namespace os
