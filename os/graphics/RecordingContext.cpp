#include "os/graphics/RecordingContext.h"

namespace os {

std::vector<DrawOp> RecordingContext::operations(DrawOp::Kind kind) const {
  std::vector<DrawOp> out;
  for (const DrawOp& op : ops_)
    if (op.kind == kind) out.push_back(op);
  return out;
}

std::string RecordingContext::text() const {
  std::string s;
  for (const DrawOp& op : ops_) s += op.description() + "\n";
  return s;
}

std::vector<std::string> RecordingContext::drawnTexts() const {
  std::vector<std::string> out;
  for (const DrawOp& op : ops_)
    if (op.kind == DrawOp::Kind::ShowText) out.push_back(op.text);
  return out;
}

}  // namespace os
