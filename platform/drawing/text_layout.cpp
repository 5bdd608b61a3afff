#include "platform/drawing/text_layout.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <new>

#include "platform/drawing/cairo_drawing.h"

namespace corvantis::drawing {
namespace {

// Bounds within which layout coordinates convert to pixels without overflow.
constexpr float kMaxCoordinate = 1.0e7f;

bool IsLineBreak(wchar_t c) {
  return c == L'\r' || c == L'\n' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool IsBreakableSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == 0x3000; }

// Layout coordinates are bounded by kMaxCoordinate plus one line, so these stay in range.
int FloorToInt(float v) { return static_cast<int>(std::clamp(std::floor(v), -2.0e9f, 2.0e9f)); }
int CeilToInt(float v) { return static_cast<int>(std::clamp(std::ceil(v), -2.0e9f, 2.0e9f)); }

// The face of a scaled font, locked for FreeType calls.
class LockedFace {
 public:
  explicit LockedFace(cairo_scaled_font_t* font)
      : font_(font), face_(cairo_ft_scaled_font_lock_face(font)) {}
  ~LockedFace() {
    if (face_ != nullptr) cairo_ft_scaled_font_unlock_face(font_);
  }
  LockedFace(const LockedFace&) = delete;
  LockedFace& operator=(const LockedFace&) = delete;
  FT_Face get() const { return face_; }

 private:
  cairo_scaled_font_t* font_;
  FT_Face face_;
};

// A pattern that names only the font file and the synthesis fontconfig chose, with rendering
// fixed here (grey antialiasing, no hinting) rather than by the machine's fontconfig rules.
PatternPtr RenderingPattern(FcPattern* resolved) {
  PatternPtr p(FcPatternCreate());
  if (!p) return p;
  FcChar8* file = nullptr;
  if (FcPatternGetString(resolved, FC_FILE, 0, &file) == FcResultMatch)
    FcPatternAddString(p.get(), FC_FILE, file);
  int index = 0;
  if (FcPatternGetInteger(resolved, FC_INDEX, 0, &index) == FcResultMatch)
    FcPatternAddInteger(p.get(), FC_INDEX, index);
  FcBool embolden = FcFalse;
  if (FcPatternGetBool(resolved, FC_EMBOLDEN, 0, &embolden) == FcResultMatch)
    FcPatternAddBool(p.get(), FC_EMBOLDEN, embolden);
  FcMatrix* matrix = nullptr;
  if (FcPatternGetMatrix(resolved, FC_MATRIX, 0, &matrix) == FcResultMatch)
    FcPatternAddMatrix(p.get(), FC_MATRIX, matrix);
  FcPatternAddBool(p.get(), FC_ANTIALIAS, FcTrue);
  FcPatternAddBool(p.get(), FC_HINTING, FcFalse);
  FcPatternAddInteger(p.get(), FC_HINT_STYLE, FC_HINT_NONE);
  FcPatternAddBool(p.get(), FC_AUTOHINT, FcFalse);
  FcPatternAddInteger(p.get(), FC_RGBA, FC_RGBA_NONE);
  return p;
}

}  // namespace

HRESULT FontFamily::Resolve(const std::string& familyUtf8, std::uint32_t weight,
                            std::shared_ptr<FontFamily>* family) {
  if (FcInit() == FcFalse) return DWRITE_E_NOFONT;
  auto result = std::shared_ptr<FontFamily>(new (std::nothrow) FontFamily());
  if (!result) return E_OUTOFMEMORY;
  result->request_.reset(FcPatternCreate());
  FcPattern* request = result->request_.get();
  if (request == nullptr) return E_OUTOFMEMORY;
  FcPatternAddString(request, FC_FAMILY, reinterpret_cast<const FcChar8*>(familyUtf8.c_str()));
  FcPatternAddInteger(request, FC_WEIGHT, FcWeightFromOpenType(static_cast<int>(weight)));
  FcPatternAddInteger(request, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddInteger(request, FC_WIDTH, FC_WIDTH_NORMAL);
  FcConfigSubstitute(nullptr, request, FcMatchPattern);
  FcDefaultSubstitute(request);
  FcResult status = FcResultNoMatch;
  result->sorted_.reset(FcFontSort(nullptr, request, FcTrue, nullptr, &status));
  if (!result->sorted_ || result->sorted_->nfont == 0) return DWRITE_E_NOFONT;
  result->faces_.resize(static_cast<std::size_t>(result->sorted_->nfont));
  if (result->Face(0) == nullptr) return DWRITE_E_NOFONT;
  *family = std::move(result);
  return S_OK;
}

cairo_font_face_t* FontFamily::Face(std::size_t index) {
  std::lock_guard lock(mutex_);
  if (index >= faces_.size()) return nullptr;
  if (!faces_[index]) {
    PatternPtr resolved(FcFontRenderPrepare(nullptr, request_.get(), sorted_->fonts[index]));
    if (!resolved) return nullptr;
    PatternPtr rendering = RenderingPattern(resolved.get());
    if (!rendering) return nullptr;
    FontFacePtr face(cairo_ft_font_face_create_for_pattern(rendering.get()));
    if (!face || cairo_font_face_status(face.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    faces_[index] = std::move(face);
  }
  return faces_[index].get();
}

std::size_t FontFamily::FallbackFor(char32_t c) {
  for (int i = 1; i < sorted_->nfont; ++i) {
    FcCharSet* charset = nullptr;
    if (FcPatternGetCharSet(sorted_->fonts[i], FC_CHARSET, 0, &charset) == FcResultMatch &&
        FcCharSetHasChar(charset, c))
      return static_cast<std::size_t>(i);
  }
  return 0;
}

CairoTextFormat::CairoTextFormat(std::shared_ptr<FontFamily> family, float size)
    : family_(std::move(family)), size_(size) {}

HRESULT CairoTextFormat::Create(std::shared_ptr<FontFamily> family, float size,
                                IDWriteTextFormat** format) {
  auto* created = new (std::nothrow) CairoTextFormat(std::move(family), size);
  if (created == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = created->Init();
  if (FAILED(hr)) {
    created->Release();
    return hr;
  }
  *format = created;
  return S_OK;
}

HRESULT CairoTextFormat::Init() {
  options_.reset(cairo_font_options_create());
  if (cairo_font_options_status(options_.get()) != CAIRO_STATUS_SUCCESS) return E_OUTOFMEMORY;
  // Natural measuring: outlines and advances unhinted, grey coverage only.
  cairo_font_options_set_antialias(options_.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_subpixel_order(options_.get(), CAIRO_SUBPIXEL_ORDER_DEFAULT);
  cairo_font_options_set_hint_style(options_.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options_.get(), CAIRO_HINT_METRICS_OFF);
  if (SlotFor(0) != 0) return DWRITE_E_NOFONT;
  cairo_font_extents_t extents;
  cairo_scaled_font_extents(fonts_[0].Font.get(), &extents);
  ascent_ = static_cast<float>(extents.ascent);
  lineHeight_ = static_cast<float>(extents.height);
  LockedFace face(fonts_[0].Font.get());
  hasKerning_ = face.get() != nullptr && FT_HAS_KERNING(face.get());
  return S_OK;
}

std::uint16_t CairoTextFormat::SlotFor(std::size_t familyIndex) {
  for (std::size_t i = 0; i < fonts_.size(); ++i)
    if (fonts_[i].FamilyIndex == familyIndex) return static_cast<std::uint16_t>(i);
  cairo_font_face_t* face = family_->Face(familyIndex);
  if (face == nullptr) return 0xFFFF;
  cairo_matrix_t fontMatrix, identity;
  cairo_matrix_init_scale(&fontMatrix, static_cast<double>(size_), static_cast<double>(size_));
  cairo_matrix_init_identity(&identity);
  ScaledFontPtr font(cairo_scaled_font_create(face, &fontMatrix, &identity, options_.get()));
  if (cairo_scaled_font_status(font.get()) != CAIRO_STATUS_SUCCESS) return 0xFFFF;
  fonts_.push_back({familyIndex, std::move(font)});
  return static_cast<std::uint16_t>(fonts_.size() - 1);
}

CairoTextFormat::Glyph CairoTextFormat::Measure(char32_t c) {
  Glyph g;
  g.Known = true;
  if (c < 0x20 || (c >= 0x7F && c < 0xA0) || IsLineBreak(static_cast<wchar_t>(c))) return g;
  std::uint16_t slot = 0;
  FT_UInt index = 0;
  {
    LockedFace face(fonts_[0].Font.get());
    if (face.get() != nullptr) index = FT_Get_Char_Index(face.get(), c);
  }
  if (index == 0) {
    if (const std::size_t fallback = family_->FallbackFor(c); fallback != 0) {
      const std::uint16_t s = SlotFor(fallback);
      if (s != 0xFFFF) {
        LockedFace face(fonts_[s].Font.get());
        if (face.get() != nullptr) index = FT_Get_Char_Index(face.get(), c);
        if (index != 0) slot = s;
      }
    }
  }
  // A character no font maps shows the primary font's missing-glyph box, as DirectWrite does.
  g.Index = index;
  g.Font = slot;
  cairo_glyph_t glyph{index, 0, 0};
  cairo_text_extents_t e;
  cairo_scaled_font_glyph_extents(fonts_[slot].Font.get(), &glyph, 1, &e);
  g.Advance = static_cast<float>(e.x_advance);
  g.Drawn = e.width > 0 && e.height > 0;
  g.InkX0 = static_cast<float>(e.x_bearing);
  g.InkY0 = static_cast<float>(e.y_bearing);
  g.InkX1 = static_cast<float>(e.x_bearing + e.width);
  g.InkY1 = static_cast<float>(e.y_bearing + e.height);
  return g;
}

const CairoTextFormat::Glyph& CairoTextFormat::GlyphFor(char32_t c) {
  if (c < 256) {
    if (!latin_[c].Known) latin_[c] = Measure(c);
    return latin_[c];
  }
  if (auto it = others_.find(c); it != others_.end()) return it->second;
  return others_.emplace(c, Measure(c)).first->second;
}

float CairoTextFormat::Kerning(std::uint32_t left, std::uint32_t right) {
  const std::uint64_t pair = (std::uint64_t{left} << 32) | right;
  if (auto it = kerning_.find(pair); it != kerning_.end()) return it->second;
  float value = 0;
  {
    LockedFace face(fonts_[0].Font.get());
    FT_Vector delta{0, 0};
    if (face.get() != nullptr &&
        FT_Get_Kerning(face.get(), left, right, FT_KERNING_UNFITTED, &delta) == 0)
      value = static_cast<float>(delta.x) / 64.0f;
  }
  kerning_.emplace(pair, value);
  return value;
}

float CairoTextFormat::AdvanceOver(wchar_t c, float pen, const Glyph*& previous) {
  if (c == L'\t') {
    previous = nullptr;
    const float tabWidth = 4 * size_;
    return (std::floor(pen / tabWidth) + 1) * tabWidth;
  }
  const Glyph& g = GlyphFor(static_cast<char32_t>(c));
  if (hasKerning_ && previous != nullptr && g.Font == 0 && g.Index != 0)
    pen += Kerning(previous->Index, g.Index);
  previous = (g.Font == 0 && g.Index != 0) ? &g : nullptr;
  return pen + g.Advance;
}

std::uint32_t CairoTextFormat::WrapEnd(const wchar_t* text, std::uint32_t start, std::uint32_t end,
                                       float maxWidth) {
  std::uint32_t lastBreak = start;
  float pen = 0;
  const Glyph* previous = nullptr;
  for (std::uint32_t k = start; k < end; ++k) {
    const float next = AdvanceOver(text[k], pen, previous);
    if (!IsBreakableSpace(text[k]) && k > start && next > maxWidth + 1e-3f)
      return lastBreak > start ? lastBreak : k;
    pen = next;
    if (IsBreakableSpace(text[k])) lastBreak = k + 1;
  }
  return end;
}

void CairoTextFormat::AddLine(const wchar_t* text, std::uint32_t start, std::uint32_t end,
                              float left, float baseline, TextLines& lines) {
  TextLine& line = lines.Next();
  line.Chars.assign(text + start, end - start);
  line.X = left;
  line.Baseline = baseline;
  float pen = 0;
  const Glyph* previous = nullptr;
  for (std::uint32_t k = start; k < end; ++k) {
    pen = AdvanceOver(text[k], pen, previous);
    if (text[k] == L'\t') continue;
    const Glyph& g = GlyphFor(static_cast<char32_t>(text[k]));
    if (!g.Drawn) continue;
    const float gx = left + (pen - g.Advance);
    cairo_scaled_font_t* font = fonts_[g.Font].Font.get();
    if (line.Runs.empty() || line.Runs.back().Font != font)
      line.Runs.push_back({font, static_cast<std::uint32_t>(line.Glyphs.size()), 0});
    line.Glyphs.push_back({g.Index, static_cast<double>(gx), static_cast<double>(baseline)});
    ++line.Runs.back().Count;
    // Glyph origins are rounded to whole pixels and coverage spills one pixel.
    line.Ink = line.Ink.Union({FloorToInt(gx + g.InkX0) - 2, FloorToInt(baseline + g.InkY0) - 2,
                               CeilToInt(gx + g.InkX1) + 2, CeilToInt(baseline + g.InkY1) + 2});
  }
  if (line.Glyphs.empty()) --lines.Count;
}

void CairoTextFormat::Layout(const wchar_t* text, std::uint32_t length, const D2D1_RECT_F& layout,
                             TextLines& lines) {
  if (text == nullptr || length == 0) return;
  if (!(std::fabs(layout.left) < kMaxCoordinate && std::fabs(layout.top) < kMaxCoordinate &&
        std::fabs(layout.right) < kMaxCoordinate))
    return;
  std::lock_guard lock(mutex_);
  float baseline = layout.top + ascent_;
  std::uint32_t i = 0;
  while (i <= length) {
    std::uint32_t end = i;
    while (end < length && !IsLineBreak(text[end])) ++end;
    // One paragraph [i, end) in as many lines as it needs; an empty one still takes a line.
    std::uint32_t start = i;
    do {
      const std::uint32_t lineEnd = WrapEnd(text, start, end, layout.right - layout.left);
      if (lineEnd > start) AddLine(text, start, lineEnd, layout.left, baseline, lines);
      baseline += lineHeight_;
      if (std::fabs(baseline) >= kMaxCoordinate) return;
      start = lineEnd;
    } while (start < end);
    if (end >= length) break;
    // CR LF is one break.
    i = end + ((text[end] == L'\r' && end + 1 < length && text[end + 1] == L'\n') ? 2 : 1);
    if (i == length) break;
  }
}

}  // namespace corvantis::drawing
