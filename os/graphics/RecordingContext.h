#pragma once
// A context that keeps every drawing operation, for tests and screen dumps to read.
#include <string>
#include <vector>

#include "os/graphics/GraphicsContext.h"

namespace os {

class RecordingContext : public GraphicsContext {
 public:
  RecordingContext() = default;
  explicit RecordingContext(AffineTransform base) : GraphicsContext(base) {}

  const std::vector<DrawOp>& operations() const { return ops_; }
  // The operations of one kind, in order.
  std::vector<DrawOp> operations(DrawOp::Kind kind) const;
  // One operation description per line.
  std::string text() const;
  // The strings drawn, in order.
  std::vector<std::string> drawnTexts() const;
  void clear() { ops_.clear(); }
  // Gives back the room the list grew into; for a list kept once drawing is done (an operation
  // is a few hundred bytes, and a doubling vector holds up to twice what it needs).
  void shrinkToFit() { ops_.shrink_to_fit(); }

 protected:
  void perform(const DrawOp& op) override { ops_.push_back(op); }

 private:
  std::vector<DrawOp> ops_;
};

}  // namespace os
