#pragma once
#include <cairo.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/d2d.h"
#include "platform/drawing/cairo_handles.h"

namespace corvantis::drawing {

// Half-open pixel rectangle.
struct IntRect {
  int X0 = 0;
  int Y0 = 0;
  int X1 = 0;
  int Y1 = 0;

  bool Empty() const { return X0 >= X1 || Y0 >= Y1; }
  bool Intersects(const IntRect& o) const {
    return X0 < o.X1 && o.X0 < X1 && Y0 < o.Y1 && o.Y0 < Y1;
  }
  IntRect Intersection(const IntRect& o) const {
    return {std::max(X0, o.X0), std::max(Y0, o.Y0), std::min(X1, o.X1), std::min(Y1, o.Y1)};
  }
  // Smallest rectangle holding both; an empty operand adds nothing.
  IntRect Union(const IntRect& o) const {
    if (Empty()) return o;
    if (o.Empty()) return *this;
    return {std::min(X0, o.X0), std::min(Y0, o.Y0), std::max(X1, o.X1), std::max(Y1, o.Y1)};
  }
  std::int64_t Area() const { return Empty() ? 0 : std::int64_t{X1 - X0} * std::int64_t{Y1 - Y0}; }
};

// Glyphs of one font within a line, drawn by one cairo_show_glyphs call.
struct GlyphRun {
  cairo_scaled_font_t* Font = nullptr;
  std::uint32_t First = 0;
  std::uint32_t Count = 0;
};

// One visual line. Its glyphs follow from (format, chars, x, baseline), which is therefore what
// decides whether two lines draw the same pixels.
struct TextLine {
  std::wstring Chars;
  float X = 0;
  float Baseline = 0;
  std::vector<cairo_glyph_t> Glyphs;
  std::vector<GlyphRun> Runs;
  IntRect Ink;  // every pixel the glyphs may touch, not clipped to any target

  bool SameAs(const TextLine& o) const {
    return X == o.X && Baseline == o.Baseline && Chars == o.Chars;
  }
};

// Lines [0, count) are in use; the storage of the others is kept for reuse.
struct TextLines {
  std::vector<TextLine> Lines;
  std::size_t Count = 0;

  TextLine& Next() {
    if (Count == Lines.size()) Lines.emplace_back();
    TextLine& line = Lines[Count++];
    line.Glyphs.clear();
    line.Runs.clear();
    line.Ink = {};
    return line;
  }
};

// A family and weight resolved by fontconfig: the best match and the fallback fonts in
// fontconfig's order. Shared by all formats of that family and weight.
class FontFamily {
 public:
  // DWRITE_E_NOFONT when fontconfig knows no font at all.
  static HRESULT Resolve(const std::string& familyUtf8, std::uint32_t weight,
                         std::shared_ptr<FontFamily>* family);

  // Font face of entry `index` of the sorted set (0 is the match); null on failure.
  cairo_font_face_t* Face(std::size_t index);
  // Index of the first fallback font (after the match) that maps `c`, or 0 when none does.
  std::size_t FallbackFor(char32_t c);

 private:
  std::mutex mutex_;
  PatternPtr request_;
  FontSetPtr sorted_;
  std::vector<FontFacePtr> faces_;
};

class CairoTextFormat final : public RefCounted<IDWriteTextFormat> {
 public:
  static HRESULT Create(std::shared_ptr<FontFamily> family, float size, IDWriteTextFormat** format);

  float GetFontSize() const override { return size_; }

  // Lays the text out in `layout`: lines end at CR, LF, CRLF, NEL, LS and PS, and wrap at the
  // rectangle's width after white space (inside a word when the word alone is too wide). The first
  // line's top is the rectangle's top; lines are the font's line height apart.
  void Layout(const wchar_t* text, std::uint32_t length, const D2D1_RECT_F& layout,
              TextLines& lines);

 private:
  struct Glyph {
    std::uint32_t Index = 0;
    std::uint16_t Font = 0;  // slot in fonts_
    bool Known = false;
    bool Drawn = false;  // false for control characters and ink-less white space
    float Advance = 0;
    float InkX0 = 0, InkY0 = 0, InkX1 = 0, InkY1 = 0;
  };
  struct Slot {
    std::size_t FamilyIndex;
    ScaledFontPtr Font;
  };

  CairoTextFormat(std::shared_ptr<FontFamily> family, float size);
  HRESULT Init();
  const Glyph& GlyphFor(char32_t c);
  Glyph Measure(char32_t c);
  std::uint16_t SlotFor(std::size_t familyIndex);
  float Kerning(std::uint32_t left, std::uint32_t right);
  // Steps of Layout, called with mutex_ held.
  // Pen position after `c` drawn at `pen`; `previous` is the glyph of font 0 just before, if any,
  // for kerning, and becomes the one of `c`.
  float AdvanceOver(wchar_t c, float pen, const Glyph*& previous);
  // End of the line from `start` in the paragraph that ends at `end`, wrapped at `maxWidth`.
  std::uint32_t WrapEnd(const wchar_t* text, std::uint32_t start, std::uint32_t end,
                        float maxWidth);
  // Adds the glyphs of text [start, end) as a line at (left, baseline), unless none of them draws.
  void AddLine(const wchar_t* text, std::uint32_t start, std::uint32_t end, float left,
               float baseline, TextLines& lines);

  std::shared_ptr<FontFamily> family_;
  float size_;
  float ascent_ = 0;
  float lineHeight_ = 0;
  bool hasKerning_ = false;
  std::mutex mutex_;
  FontOptionsPtr options_;
  std::vector<Slot> fonts_;
  Glyph latin_[256];
  std::unordered_map<char32_t, Glyph> others_;
  std::unordered_map<std::uint64_t, float> kerning_;
};

}  // namespace corvantis::drawing
