#include "os/graphics/TextLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "os/graphics/TextMetrics.h"
#include "os/graphics/TextUtf8.h"

namespace os {

namespace {

constexpr char32_t kEllipsis = 0x2026;
constexpr char32_t kLineSeparator = 0x2028;
constexpr char32_t kParagraphSeparator = 0x2029;
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

struct Glyph {
  char32_t cp;
  std::size_t byte, bytes;
  std::size_t u16, u16n;
  double adv;
  std::size_t style;  // index into the resolved styles
};

struct Style {
  Font font;
  Color color;
  bool underline;
  std::string link;
  ParagraphStyle paragraph;
};

struct Source {
  std::vector<Glyph> glyphs;
  std::vector<Style> styles;
  std::size_t byteLength = 0, u16Length = 0;
};

bool isSpace(char32_t c) { return c == ' ' || c == '\t'; }
bool isParagraphEnd(char32_t c) { return c == '\n' || c == '\r' || c == kParagraphSeparator; }

// Punctuation that must not start a line, and that must not end one.
bool noBreakBefore(char32_t c) {
  static constexpr std::u32string_view kClosing = U",.;:!?)]}%，。、；：？！）》」』】〉”’";
  return kClosing.find(c) != std::u32string_view::npos;
}
bool noBreakAfter(char32_t c) {
  static constexpr std::u32string_view kOpening = U"([{（《「『【〈“‘";
  return kOpening.find(c) != std::u32string_view::npos;
}

bool breakAllowedBefore(const std::vector<Glyph>& g, std::size_t i) {
  char32_t prev = g[i - 1].cp, cur = g[i].cp;
  if (isSpace(cur) || noBreakBefore(cur) || noBreakAfter(prev)) return false;
  if (isSpace(prev) || prev == '-') return true;
  return DefaultTextMetrics::isFullWidth(prev) || DefaultTextMetrics::isFullWidth(cur);
}

Source decodeSource(std::string_view text, const std::vector<Style>& styles,
                    const std::vector<AttributedString::Run>* runs) {
  Source s;
  s.styles = styles;
  auto metrics = TextMetrics::currentShared();
  std::size_t u16 = 0, runIndex = 0;
  for (std::size_t i = 0; i < text.size();) {
    textutf8::Decoded d = textutf8::decode(text, i);
    std::size_t style = 0;
    if (runs) {
      while (runIndex + 1 < runs->size() && u16 >= (*runs)[runIndex].range.end()) ++runIndex;
      style = runIndex;
    }
    std::size_t n16 = textutf8::utf16Units(d.cp);
    s.glyphs.push_back({d.cp, i, d.bytes, u16, n16, metrics->advance(d.cp, s.styles[style].font), style});
    u16 += n16;
    i += d.bytes;
  }
  s.byteLength = text.size();
  s.u16Length = u16;
  return s;
}

struct Paragraph {
  std::size_t begin, end, termEnd;  // glyphs; [end, termEnd) is the terminator
};

std::vector<Paragraph> splitParagraphs(const std::vector<Glyph>& g) {
  std::vector<Paragraph> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < g.size(); ++i) {
    if (!isParagraphEnd(g[i].cp)) continue;
    std::size_t termEnd = i + 1;
    if (g[i].cp == '\r' && termEnd < g.size() && g[termEnd].cp == '\n') ++termEnd;
    out.push_back({start, i, termEnd});
    start = termEnd;
    i = termEnd - 1;
  }
  if (start < g.size()) out.push_back({start, g.size(), g.size()});
  return out;
}

struct Break {
  std::size_t begin, end;  // glyphs, hanging spaces and a line separator included
  std::size_t shownEnd;    // without them
  bool forced;             // ended by a line separator
};

std::vector<Break> breakParagraph(const std::vector<Glyph>& g, const Paragraph& p, double firstWidth,
                                  double restWidth, LineBreakMode mode) {
  std::vector<Break> out;
  auto push = [&](std::size_t b, std::size_t e, bool forced) {
    std::size_t shown = e;
    if (forced) shown = e - 1;
    while (shown > b && isSpace(g[shown - 1].cp)) --shown;
    out.push_back({b, e, shown, forced});
  };
  bool wordWrap = mode != LineBreakMode::CharWrap;
  std::size_t lineStart = p.begin, lastBreak = kNone;
  double w = 0;
  for (std::size_t i = p.begin; i < p.end;) {
    const Glyph& gl = g[i];
    if (gl.cp == kLineSeparator) {
      push(lineStart, i + 1, true);
      lineStart = ++i;
      w = 0;
      lastBreak = kNone;
      continue;
    }
    if (isSpace(gl.cp)) {
      w += gl.adv;
      ++i;
      continue;
    }
    if (i > lineStart && breakAllowedBefore(g, i)) lastBreak = i;
    double avail = out.empty() ? firstWidth : restWidth;
    if (i > lineStart && w + gl.adv > avail + 1e-9) {
      std::size_t cut = wordWrap && lastBreak != kNone ? lastBreak : i;
      push(lineStart, cut, false);
      lineStart = i = cut;
      w = 0;
      lastBreak = kNone;
      continue;
    }
    w += gl.adv;
    ++i;
  }
  if (lineStart < p.end || out.empty() || out.back().forced) push(lineStart, p.end, false);
  return out;
}

// What a line shows: glyph code points with their advances and styles.
struct Shown {
  char32_t cp;
  double adv;
  std::size_t style;
};

std::vector<Shown> shownGlyphs(const std::vector<Glyph>& g, std::size_t b, std::size_t e) {
  std::vector<Shown> out;
  for (std::size_t i = b; i < e; ++i) out.push_back({g[i].cp, g[i].adv, g[i].style});
  return out;
}

double sumAdvance(const std::vector<Shown>& s) {
  double w = 0;
  for (const Shown& x : s) w += x.adv;
  return w;
}

// Fits the remaining text of a paragraph into one line of the given width, as the mode says.
std::vector<Shown> truncate(std::vector<Shown> rest, double width, LineBreakMode mode, const Source& src) {
  while (!rest.empty() && isSpace(rest.back().cp)) rest.pop_back();
  if (mode == LineBreakMode::Clip) {
    std::vector<Shown> out;
    double x = 0;
    for (const Shown& s : rest) {
      if (x >= width) break;
      out.push_back(s);
      x += s.adv;
    }
    return out;
  }
  if (sumAdvance(rest) <= width + 1e-9) return rest;
  auto metrics = TextMetrics::currentShared();
  auto ellipsisOf = [&](std::size_t style) {
    return Shown{kEllipsis, metrics->advance(kEllipsis, src.styles[style].font), style};
  };
  std::size_t style = rest.empty() ? 0 : rest.front().style;
  Shown ell = ellipsisOf(style);
  double room = width - ell.adv;
  std::vector<Shown> head, tail;
  double used = 0;
  std::size_t lo = 0, hi = rest.size();
  if (mode == LineBreakMode::TruncateHead) {
    while (hi > lo && used + rest[hi - 1].adv <= room + 1e-9) used += rest[--hi].adv;
  } else if (mode == LineBreakMode::TruncateMiddle) {
    bool front = true;
    while (lo < hi) {
      const Shown& next = front ? rest[lo] : rest[hi - 1];
      if (used + next.adv > room + 1e-9) break;
      used += next.adv;
      front ? ++lo : --hi;
      front = !front;
    }
  } else {
    while (lo < hi && used + rest[lo].adv <= room + 1e-9) used += rest[lo++].adv;
  }
  std::vector<Shown> out(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(lo));
  while (!out.empty() && isSpace(out.back().cp)) out.pop_back();
  out.push_back(ell);
  out.insert(out.end(), rest.begin() + static_cast<std::ptrdiff_t>(hi), rest.end());
  return out;
}

struct Options {
  std::size_t maxLines = kNone;
  bool truncateLast = false;
  LineBreakMode mode = LineBreakMode::WordWrap;
};

std::vector<TextLine> layoutLines(const Source& src, const Rect& rect, const Options& opt) {
  std::vector<TextLine> lines;
  const auto& g = src.glyphs;
  if (g.empty()) return lines;
  auto metrics = TextMetrics::currentShared();
  std::vector<Paragraph> paragraphs = splitParagraphs(g);
  double top = rect.minY(), height = rect.height();
  double previousBottom = 0;  // baseline + descent + leading + spacing of the line before, from top
  bool frameFull = false;

  for (std::size_t pi = 0; pi < paragraphs.size() && !frameFull; ++pi) {
    const Paragraph& p = paragraphs[pi];
    std::size_t styleGlyph = p.begin < g.size() ? p.begin : g.size() - 1;
    const ParagraphStyle& ps = src.styles[g[styleGlyph].style].paragraph;
    LineBreakMode mode = opt.truncateLast ? opt.mode : ps.lineBreakMode;
    double firstWidth = rect.width() - ps.firstLineHeadIndent, restWidth = rect.width() - ps.headIndent;
    std::vector<Break> breaks = breakParagraph(g, p, firstWidth, restWidth, mode);
    if (!lines.empty()) previousBottom += ps.paragraphSpacingBefore;

    for (std::size_t bi = 0; bi < breaks.size(); ++bi) {
      const Break& br = breaks[bi];
      bool lastOfParagraph = bi + 1 == breaks.size();
      double avail = bi == 0 ? firstWidth : restWidth;
      double indent = bi == 0 ? ps.firstLineHeadIndent : ps.headIndent;
      std::vector<Shown> shown = shownGlyphs(g, br.begin, br.shownEnd);

      // Metrics: the tallest font on the line; an empty line takes its paragraph's font.
      double ascent = 0, descent = 0, leading = 0;
      auto take = [&](const Font& f) {
        ascent = std::max(ascent, metrics->ascent(f));
        descent = std::max(descent, metrics->descent(f));
        leading = std::max(leading, metrics->leading(f));
      };
      if (br.begin == br.end) {
        take(src.styles[g[std::min(br.begin, g.size() - 1)].style].font);
      } else {
        for (std::size_t i = br.begin; i < br.end; ++i) take(src.styles[g[i].style].font);
      }
      double baseline = lines.empty() ? ascent : previousBottom + ascent;
      if (lines.size() >= opt.maxLines || baseline + descent > height + 1e-9) {
        frameFull = true;
        break;
      }

      TextLine line;
      line.ascent = ascent;
      line.descent = descent;
      line.leading = leading;
      std::size_t endGlyph = lastOfParagraph ? p.termEnd : br.end;
      line.byteStart = g[br.begin < g.size() ? br.begin : g.size() - 1].byte;
      if (br.begin >= g.size()) line.byteStart = src.byteLength;
      line.byteEnd = endGlyph < g.size() ? g[endGlyph].byte : src.byteLength;
      std::size_t u16Start = br.begin < g.size() ? g[br.begin].u16 : src.u16Length;
      std::size_t u16End = endGlyph < g.size() ? g[endGlyph].u16 : src.u16Length;
      line.range = {u16Start, u16End - u16Start};
      line.endsParagraph = lastOfParagraph;

      // The last line allowed stands for any text left over.
      bool moreFollows = endGlyph < g.size() || !lastOfParagraph;
      if (opt.truncateLast && moreFollows && lines.size() + 1 == opt.maxLines) {
        shown = truncate(shownGlyphs(g, br.begin, p.end), avail, opt.mode, src);
        line.truncated = true;
      }

      double width = sumAdvance(shown);
      double extra = 0;
      TextAlignment align = ps.alignment;
      if (align == TextAlignment::Justified && !lastOfParagraph && !br.forced && shown.size() > 1 && width < avail) {
        extra = (avail - width) / static_cast<double>(shown.size() - 1);
        width = avail;
      }
      if (opt.mode == LineBreakMode::Clip && line.truncated) width = std::min(width, avail);
      double dx = 0;
      if (align == TextAlignment::Center) dx = (avail - width) / 2;
      if (align == TextAlignment::Right) dx = avail - width;
      line.width = width;
      line.origin = {rect.minX() + indent + dx, top + baseline};
      line.originYUp = {line.origin.x, rect.minY() + rect.maxY() - line.origin.y};

      double x = 0;
      for (std::size_t i = 0; i < shown.size(); ++i) {
        const Shown& s = shown[i];
        const Style& st = src.styles[s.style];
        textutf8::append(line.text, s.cp);
        if (line.runs.empty() || i == 0 || shown[i - 1].style != s.style) {
          line.runs.push_back({"", st.font, st.color, st.underline, st.link, x, 0});
        }
        TextRun& run = line.runs.back();
        textutf8::append(run.text, s.cp);
        double step = s.adv + (i + 1 < shown.size() ? extra : 0);
        run.width += step;
        x += step;
      }
      lines.push_back(std::move(line));
      double spacing = ps.lineSpacing + (lastOfParagraph ? ps.paragraphSpacing : 0);
      previousBottom = baseline + descent + leading + spacing;
    }
  }
  return lines;
}

Style plainStyle(const Font& font, LineBreakMode mode, TextAlignment alignment) {
  ParagraphStyle ps;
  ps.alignment = alignment;
  ps.lineBreakMode = mode;
  return {font, Color::black(), false, "", ps};
}

bool truncating(LineBreakMode m) { return m != LineBreakMode::WordWrap && m != LineBreakMode::CharWrap; }

}  // namespace

TextFrame TextFrame::layout(const AttributedString& text, const Rect& rect, const Font& defaultFont) {
  std::vector<Style> styles;
  for (const auto& run : text.runs()) {
    const TextAttributes& a = run.attributes;
    styles.push_back({a.font.value_or(defaultFont), a.color.value_or(Color::black()), a.underline, a.link,
                      a.paragraphStyle.value_or(ParagraphStyle{})});
  }
  if (styles.empty()) styles.push_back(plainStyle(defaultFont, LineBreakMode::WordWrap, TextAlignment::Natural));
  Source src = decodeSource(text.string(), styles, &text.runs());
  TextFrame f;
  f.rect_ = rect.standardized();
  f.lines_ = layoutLines(src, f.rect_, Options{});
  return f;
}

TextFrame TextFrame::layout(std::string_view text, const Font& font, const Rect& rect, LineBreakMode mode,
                            TextAlignment alignment) {
  Source src = decodeSource(text, {plainStyle(font, mode, alignment)}, nullptr);
  TextFrame f;
  f.rect_ = rect.standardized();
  Options opt;
  opt.mode = mode;
  opt.truncateLast = truncating(mode);
  if (opt.truncateLast) {
    // The last line that fits stands for the rest of the text.
    double pitch = font.lineHeight();
    double h = f.rect_.height();
    auto metrics = TextMetrics::currentShared();
    double firstBottom = metrics->ascent(font) + metrics->descent(font);
    opt.maxLines = h + 1e-9 < firstBottom ? 0 : static_cast<std::size_t>(std::floor((h - firstBottom) / pitch + 1e-9)) + 1;
  }
  f.lines_ = layoutLines(src, f.rect_, opt);
  return f;
}

TextRange TextFrame::visibleRange() const {
  if (lines_.empty()) return {};
  return {lines_.front().range.location, lines_.back().range.end() - lines_.front().range.location};
}

Size TextFrame::usedSize() const {
  if (lines_.empty()) return {};
  double w = 0;
  for (const TextLine& l : lines_) w = std::max(w, l.width);
  const TextLine& last = lines_.back();
  return {w, last.origin.y - rect_.minY() + last.descent};
}

double textWidth(std::string_view text, const Font& font) {
  auto metrics = TextMetrics::currentShared();
  double w = 0;
  for (std::size_t i = 0; i < text.size();) {
    textutf8::Decoded d = textutf8::decode(text, i);
    if (!isParagraphEnd(d.cp) && d.cp != kLineSeparator) w += metrics->advance(d.cp, font);
    i += d.bytes;
  }
  return w;
}

Size sizeWithFont(std::string_view text, const Font& font) {
  if (text.empty()) return {};
  return {std::ceil(textWidth(text, font) - 1e-9), std::ceil(font.lineHeight() - 1e-9)};
}

Size sizeWithFont(std::string_view text, const Font& font, Size bound, LineBreakMode mode) {
  if (text.empty()) return {};
  double pitch = font.lineHeight();
  Source src = decodeSource(text, {plainStyle(font, mode, TextAlignment::Left)}, nullptr);
  Options opt;
  opt.mode = mode;
  opt.truncateLast = truncating(mode);
  opt.maxLines = std::max<std::size_t>(1, static_cast<std::size_t>(std::floor(bound.height / pitch + 1e-9)));
  Rect rect(0, 0, bound.width, std::numeric_limits<double>::max());
  std::vector<TextLine> lines = layoutLines(src, rect, opt);
  double w = 0;
  for (const TextLine& l : lines) w = std::max(w, l.width);
  return {std::ceil(std::min(w, bound.width) - 1e-9), std::ceil(static_cast<double>(lines.size()) * pitch - 1e-9)};
}

}  // namespace os
