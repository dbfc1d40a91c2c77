#pragma once
// A button whose touch area reaches beyond its frame by margins of its own (the category tabs
// and the album screen's small buttons). The platform's buttons offer no hook for their touch
// area, so the enlargement is a button kind of its own rather than an addition to every button.
#include <memory>
#include <optional>
#include <string>

#include "os/views/Button.h"

class EnlargeAreaButton : public os::Button {
 public:
  explicit EnlargeAreaButton(os::ButtonType type = os::ButtonType::Custom) : os::Button(type) {}
  std::string className() const override { return "EnlargeAreaButton"; }

  // The same margin on all four sides.
  void setEnlargeEdge(double edge) { setEnlargeEdgeWithTop(edge, edge, edge, edge); }
  void setEnlargeEdgeWithTop(double top, double right, double bottom, double left);
  // The bounds grown by the margins; the bounds when none are set.
  os::Rect enlargedRect() const;

  // Touches inside the enlarged rectangle belong to the button. A hidden, transparent, disabled
  // or non-interactive button still takes none, as with the plain touch area.
  bool pointInside(os::Point point, const os::Event* event) const override;

 private:
  struct Margins {
    double top, right, bottom, left;
  };
  std::optional<Margins> margins_;
};
