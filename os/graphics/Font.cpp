#include "os/graphics/Font.h"

#include "os/graphics/TextMetrics.h"

namespace os {

Font::Font(std::string name, double pointSize)
    : name_(std::move(name)), size_(pointSize), bold_(name_.find("Bold") != std::string::npos) {}

double Font::ascender() const { return TextMetrics::current().ascent(*this); }
double Font::descender() const { return -TextMetrics::current().descent(*this); }
double Font::lineHeight() const { return TextMetrics::current().lineHeight(*this); }

}  // namespace os
