#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/drawing/cairo_drawing.h"
#include "platform/drawing/cairo_handles.h"
#include "platform/drawing/text_layout.h"
#include "platform/utf.h"

namespace corvantis::drawing {
namespace {

// Beyond this many repaint rectangles a full repaint is cheaper than the bookkeeping.
constexpr std::size_t kMaxDamageRects = 64;
// Lines wider than this are drawn this wide; the picture is at most 16384 pixels across.
constexpr float kMaxStrokeWidth = 1.0e5f;

class SolidColorBrush final : public RefCounted<ID2D1SolidColorBrush> {
 public:
  explicit SolidColorBrush(const D2D1_COLOR_F& color) : color_(color) {}
  D2D1_COLOR_F GetColor() const override { return color_; }

 private:
  D2D1_COLOR_F color_;
};

enum class OpKind : std::uint8_t { Fill, Line, Text };

// One recorded drawing call, with the pixels it may touch inside the target.
struct Op {
  OpKind Kind = OpKind::Fill;
  D2D1_COLOR_F Color;
  D2D1_RECT_F Shape;  // Fill: the rectangle; Line: from (left, top) to (right, bottom)
  float Width = 0;
  com_ptr<IDWriteTextFormat> Format;
  std::uint32_t FirstLine = 0;
  std::uint32_t LineCount = 0;
  IntRect Box;
};

bool SameColor(const D2D1_COLOR_F& a, const D2D1_COLOR_F& b) {
  return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

// Equal ops draw equal pixels; text ops are equal here when format and colour are, their lines
// being compared one by one.
bool SameOp(const Op& a, const Op& b) {
  if (a.Kind != b.Kind || !SameColor(a.Color, b.Color)) return false;
  if (a.Kind == OpKind::Text) return a.Format.get() == b.Format.get();
  return a.Shape.left == b.Shape.left && a.Shape.top == b.Shape.top &&
         a.Shape.right == b.Shape.right && a.Shape.bottom == b.Shape.bottom && a.Width == b.Width;
}

struct DrawList {
  std::vector<Op> Ops;
  TextLines Lines;
  bool StartsWithFill = false;  // ops[0] paints the whole target opaquely

  void Clear() {
    Ops.clear();
    Lines.Count = 0;
    StartsWithFill = false;
  }
};

IntRect OutwardRect(double x0, double y0, double x1, double y1) {
  auto lo = [](double v) { return static_cast<int>(std::clamp(std::floor(v), -1.0e9, 1.0e9)); };
  auto hi = [](double v) { return static_cast<int>(std::clamp(std::ceil(v), -1.0e9, 1.0e9)); };
  return {lo(x0), lo(y0), hi(x1), hi(y1)};
}

// Cuts the segment to the box (Cohen-Sutherland); false when nothing is left. Intersections are
// taken from slopes so that end points of any magnitude keep the visible part exact.
bool ClipSegment(double& x0, double& y0, double& x1, double& y1, double minX, double minY,
                 double maxX, double maxY) {
  auto outcode = [&](double x, double y) {
    return (x < minX ? 1 : 0) | (x > maxX ? 2 : 0) | (y < minY ? 4 : 0) | (y > maxY ? 8 : 0);
  };
  for (int round = 0; round < 4; ++round) {
    const int c0 = outcode(x0, y0);
    const int c1 = outcode(x1, y1);
    if ((c0 | c1) == 0) return true;
    if ((c0 & c1) != 0) return false;
    const bool first = c0 != 0;
    const int c = first ? c0 : c1;
    double x, y;
    if ((c & 1) != 0 || (c & 2) != 0) {
      x = (c & 1) != 0 ? minX : maxX;
      y = y0 + (y1 - y0) * ((x - x0) / (x1 - x0));
    } else {
      y = (c & 4) != 0 ? minY : maxY;
      x = x0 + (x1 - x0) * ((y - y0) / (y1 - y0));
    }
    if (first) {
      x0 = x;
      y0 = y;
    } else {
      x1 = x;
      y1 = y;
    }
  }
  return outcode(x0, y0) == 0 && outcode(x1, y1) == 0;
}

class CairoRenderTarget final : public RefCounted<ID2D1RenderTarget> {
 public:
  static HRESULT Create(ID3D11Texture2D* texture, ID2D1RenderTarget** target) {
    if (target == nullptr) return E_INVALIDARG;
    *target = nullptr;
    if (texture == nullptr) return E_INVALIDARG;
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    std::uint8_t* pixels = texture->Pixels();
    const std::uint32_t pitch = texture->RowPitch();
    if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM || desc.Usage != D3D11_USAGE_DEFAULT ||
        (desc.BindFlags & D3D11_BIND_RENDER_TARGET) == 0 || desc.Width == 0 || desc.Height == 0 ||
        desc.Width > 32767 || desc.Height > 32767 || pixels == nullptr ||
        reinterpret_cast<std::uintptr_t>(pixels) % 4 != 0 || pitch % 4 != 0 ||
        pitch > 0x7FFFFFFFu ||
        static_cast<int>(pitch) <
            cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, static_cast<int>(desc.Width)))
      return E_INVALIDARG;
    // RGB24 treats the target as opaque, as D2D1_ALPHA_MODE_IGNORE does; Cairo writes 0xFF into
    // the fourth byte of every pixel it paints.
    SurfacePtr surface(cairo_image_surface_create_for_data(
        pixels, CAIRO_FORMAT_RGB24, static_cast<int>(desc.Width), static_cast<int>(desc.Height),
        static_cast<int>(pitch)));
    if (const HRESULT hr = HResultFromCairo(cairo_surface_status(surface.get())); FAILED(hr))
      return hr;
    ContextPtr cr(cairo_create(surface.get()));
    if (const HRESULT hr = HResultFromCairo(cairo_status(cr.get())); FAILED(hr)) return hr;
    auto* created =
        new (std::nothrow) CairoRenderTarget(texture, desc, std::move(surface), std::move(cr));
    if (created == nullptr) return E_OUTOFMEMORY;
    *target = created;
    return S_OK;
  }

  HRESULT CreateSolidColorBrush(const D2D1_COLOR_F& color, ID2D1SolidColorBrush** brush) override {
    if (brush == nullptr) return E_INVALIDARG;
    *brush = new (std::nothrow) SolidColorBrush(color);
    return *brush == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  void BeginDraw() override {
    if (drawing_) {
      Fail(D2DERR_WRONG_STATE);
      return;
    }
    if (cairo_status(cr_.get()) != CAIRO_STATUS_SUCCESS) {
      cr_.reset(cairo_create(surface_.get()));
      shownValid_ = false;
    }
    cairo_surface_mark_dirty(surface_.get());
    drawing_ = true;
    current_->Clear();
  }

  void FillRectangle(const D2D1_RECT_F& rect, ID2D1SolidColorBrush* brush) override {
    if (!Recording()) return;
    if (brush == nullptr) return Fail(E_INVALIDARG);
    if (std::isnan(rect.left) || std::isnan(rect.top) || std::isnan(rect.right) ||
        std::isnan(rect.bottom))
      return;
    const float w = static_cast<float>(width_);
    const float h = static_cast<float>(height_);
    // Only the part over the target (plus a pixel of margin) can matter.
    D2D1_RECT_F r{std::clamp(std::min(rect.left, rect.right), -1.0f, w + 1),
                  std::clamp(std::min(rect.top, rect.bottom), -1.0f, h + 1),
                  std::clamp(std::max(rect.left, rect.right), -1.0f, w + 1),
                  std::clamp(std::max(rect.top, rect.bottom), -1.0f, h + 1)};
    const D2D1_COLOR_F color = brush->GetColor();
    const bool coversAll =
        color.a >= 1.0f && r.left <= 0 && r.top <= 0 && r.right >= w && r.bottom >= h;
    if (coversAll) {
      // Whatever was drawn before is hidden: the frame starts here.
      current_->Clear();
      current_->StartsWithFill = true;
    }
    Op op;
    op.Kind = OpKind::Fill;
    op.Color = color;
    op.Shape = r;
    op.Box = OutwardRect(static_cast<double>(r.left) - 1, static_cast<double>(r.top) - 1,
                         static_cast<double>(r.right) + 1, static_cast<double>(r.bottom) + 1)
                 .Intersection(bounds_);
    if (op.Box.Empty() || r.left == r.right || r.top == r.bottom) return;
    current_->Ops.push_back(std::move(op));
  }

  void DrawText(const wchar_t* text, std::uint32_t length, IDWriteTextFormat* format,
                const D2D1_RECT_F& layout, ID2D1SolidColorBrush* brush) override {
    if (!Recording()) return;
    auto* cairoFormat = dynamic_cast<CairoTextFormat*>(format);
    if (brush == nullptr || cairoFormat == nullptr || (text == nullptr && length != 0))
      return Fail(E_INVALIDARG);
    TextLines& lines = current_->Lines;
    const std::size_t first = lines.Count;
    cairoFormat->Layout(text, length, layout, lines);
    if (lines.Count == first) return;
    Op op;
    op.Kind = OpKind::Text;
    op.Color = brush->GetColor();
    op.Format = com_ptr<IDWriteTextFormat>::copy_from(format);
    op.FirstLine = static_cast<std::uint32_t>(first);
    op.LineCount = static_cast<std::uint32_t>(lines.Count - first);
    for (std::size_t i = first; i < lines.Count; ++i)
      op.Box = op.Box.Union(lines.Lines[i].Ink.Intersection(bounds_));
    current_->Ops.push_back(std::move(op));
  }

  void DrawLine(D2D1_POINT_2F from, D2D1_POINT_2F to, ID2D1SolidColorBrush* brush,
                float strokeWidth) override {
    if (!Recording()) return;
    if (brush == nullptr) return Fail(E_INVALIDARG);
    if (!(strokeWidth > 0) || std::isnan(from.x) || std::isnan(from.y) || std::isnan(to.x) ||
        std::isnan(to.y))
      return;
    const float width = std::min(strokeWidth, kMaxStrokeWidth);
    double x0 = static_cast<double>(from.x), y0 = static_cast<double>(from.y);
    double x1 = static_cast<double>(to.x), y1 = static_cast<double>(to.y);
    // Far-away end points would overflow Cairo's fixed-point coordinates; cutting the segment
    // well outside the target leaves every visible pixel as it is.
    const double margin = static_cast<double>(width) + 16.0;
    const double minX = -margin, minY = -margin;
    const double maxX = width_ + margin, maxY = height_ + margin;
    auto inside = [&](double x, double y) {
      return x >= minX && x <= maxX && y >= minY && y <= maxY;
    };
    if (!inside(x0, y0) || !inside(x1, y1)) {
      if (!ClipSegment(x0, y0, x1, y1, minX, minY, maxX, maxY)) return;
    }
    const double spread = static_cast<double>(width) / 2 + 2;
    Op op;
    op.Kind = OpKind::Line;
    op.Color = brush->GetColor();
    op.Shape = {static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x1),
                static_cast<float>(y1)};
    op.Width = width;
    op.Box = OutwardRect(std::min(x0, x1) - spread, std::min(y0, y1) - spread,
                         std::max(x0, x1) + spread, std::max(y0, y1) + spread)
                 .Intersection(bounds_);
    if (op.Box.Empty()) return;
    current_->Ops.push_back(std::move(op));
  }

  HRESULT EndDraw() override {
    if (!drawing_) return D2DERR_WRONG_STATE;
    drawing_ = false;
    DrawList& now = *current_;
    if (now.StartsWithFill && shownValid_ && CollectDamage(now, *shown_)) {
      RepairDamage(now);
    } else {
      RenderAll(now);
    }
    cairo_surface_flush(surface_.get());
    HRESULT hr = std::exchange(error_, S_OK);
    if (const cairo_status_t status = cairo_status(cr_.get()); status != CAIRO_STATUS_SUCCESS) {
      if (SUCCEEDED(hr)) hr = HResultFromCairo(status);
      shownValid_ = false;
    } else if (now.StartsWithFill) {
      std::swap(current_, shown_);
      shownValid_ = true;
    } else {
      // The pixels now hold more than one list can describe.
      shownValid_ = false;
    }
    current_->Clear();
    return hr;
  }

 private:
  CairoRenderTarget(ID3D11Texture2D* texture, const D3D11_TEXTURE2D_DESC& desc, SurfacePtr surface,
                    ContextPtr cr)
      : texture_(com_ptr<ID3D11Texture2D>::copy_from(texture)),
        width_(static_cast<int>(desc.Width)),
        height_(static_cast<int>(desc.Height)),
        bounds_{0, 0, width_, height_},
        surface_(std::move(surface)),
        cr_(std::move(cr)) {}

  bool Recording() {
    if (!drawing_) Fail(D2DERR_WRONG_STATE);
    return drawing_;
  }
  void Fail(HRESULT hr) {
    if (SUCCEEDED(error_)) error_ = hr;
  }

  // Rectangles where `now` and `before` may differ; false when a full repaint is the better deal.
  bool CollectDamage(const DrawList& now, const DrawList& before) {
    damage_.clear();
    auto add = [&](const IntRect& r) {
      if (!r.Empty()) damage_.push_back(r);
    };
    const std::size_t n = std::max(now.Ops.size(), before.Ops.size());
    for (std::size_t i = 0; i < n; ++i) {
      const Op* a = i < now.Ops.size() ? &now.Ops[i] : nullptr;
      const Op* b = i < before.Ops.size() ? &before.Ops[i] : nullptr;
      if (a != nullptr && b != nullptr && SameOp(*a, *b)) {
        if (a->Kind != OpKind::Text) continue;
        const std::uint32_t m = std::max(a->LineCount, b->LineCount);
        for (std::uint32_t j = 0; j < m; ++j) {
          const TextLine* la = j < a->LineCount ? &now.Lines.Lines[a->FirstLine + j] : nullptr;
          const TextLine* lb = j < b->LineCount ? &before.Lines.Lines[b->FirstLine + j] : nullptr;
          if (la != nullptr && lb != nullptr && la->SameAs(*lb)) continue;
          if (la != nullptr) add(la->Ink.Intersection(bounds_));
          if (lb != nullptr) add(lb->Ink.Intersection(bounds_));
        }
      } else {
        if (a != nullptr) add(a->Box);
        if (b != nullptr) add(b->Box);
      }
      if (damage_.size() > kMaxDamageRects) return false;
    }
    // Overlapping rectangles are repainted once as their union.
    for (bool merged = true; merged;) {
      merged = false;
      for (std::size_t i = 0; i < damage_.size() && !merged; ++i) {
        for (std::size_t j = i + 1; j < damage_.size(); ++j) {
          if (damage_[i].Intersects(damage_[j])) {
            damage_[i] = damage_[i].Union(damage_[j]);
            damage_[j] = damage_.back();
            damage_.pop_back();
            merged = true;
            break;
          }
        }
      }
    }
    std::int64_t area = 0;
    for (const IntRect& r : damage_) area += r.Area();
    return area * 2 <= bounds_.Area();
  }

  // Each damaged rectangle is painted again in a scratch picture of the target's size: the
  // background, then every op that reaches the rectangle, unclipped, and the rectangle is copied
  // back. A clip would change how Cairo rasterises edges that cross it, and the scratch picture has
  // the target's bounds, so each op comes out exactly as in a repaint of the whole target.
  void RepairDamage(const DrawList& now) {
    if (!scratch_) {
      scratch_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_));
      scratchCr_.reset(cairo_create(scratch_.get()));
    }
    if (cairo_status(scratchCr_.get()) != CAIRO_STATUS_SUCCESS) {
      RenderAll(now);
      return;
    }
    cairo_t* cr = scratchCr_.get();
    const Op& background = now.Ops.front();
    cairo_surface_flush(surface_.get());
    for (const IntRect& r : damage_) {
      SetColor(cr, background.Color);
      cairo_rectangle(cr, r.X0, r.Y0, r.X1 - r.X0, r.Y1 - r.Y0);
      cairo_fill(cr);
      for (std::size_t i = 1; i < now.Ops.size(); ++i)
        if (now.Ops[i].Box.Intersects(r)) Render(cr, now, now.Ops[i], &r);
      cairo_surface_flush(scratch_.get());
      const unsigned char* from = cairo_image_surface_get_data(scratch_.get());
      const auto fromPitch =
          static_cast<std::size_t>(cairo_image_surface_get_stride(scratch_.get()));
      unsigned char* to = texture_->Pixels();
      const std::size_t toPitch = texture_->RowPitch();
      const std::size_t rowBytes = static_cast<std::size_t>(r.X1 - r.X0) * 4;
      for (int y = r.Y0; y < r.Y1; ++y)
        std::memcpy(
            to + static_cast<std::size_t>(y) * toPitch + static_cast<std::size_t>(r.X0) * 4,
            from + static_cast<std::size_t>(y) * fromPitch + static_cast<std::size_t>(r.X0) * 4,
            rowBytes);
      cairo_surface_mark_dirty_rectangle(surface_.get(), r.X0, r.Y0, r.X1 - r.X0, r.Y1 - r.Y0);
    }
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
      // What was copied back may be incomplete; the whole repaint does not need the scratch.
      scratchCr_.reset();
      scratch_.reset();
      RenderAll(now);
    }
  }

  void RenderAll(const DrawList& now) {
    for (const Op& op : now.Ops) Render(cr_.get(), now, op, nullptr);
  }

  static void SetColor(cairo_t* cr, const D2D1_COLOR_F& color) {
    cairo_set_source_rgba(cr, static_cast<double>(color.r), static_cast<double>(color.g),
                          static_cast<double>(color.b), static_cast<double>(color.a));
  }

  // Draws the op; text lines whose ink misses `near` (when given) are left out.
  void Render(cairo_t* cr, const DrawList& list, const Op& op, const IntRect* near) {
    SetColor(cr, op.Color);
    switch (op.Kind) {
      case OpKind::Fill:
        cairo_rectangle(cr, static_cast<double>(op.Shape.left), static_cast<double>(op.Shape.top),
                        static_cast<double>(op.Shape.right - op.Shape.left),
                        static_cast<double>(op.Shape.bottom - op.Shape.top));
        cairo_fill(cr);
        break;
      case OpKind::Line:
        cairo_set_line_width(cr, static_cast<double>(op.Width));
        cairo_move_to(cr, static_cast<double>(op.Shape.left), static_cast<double>(op.Shape.top));
        cairo_line_to(cr, static_cast<double>(op.Shape.right),
                      static_cast<double>(op.Shape.bottom));
        cairo_stroke(cr);
        break;
      case OpKind::Text:
        for (std::uint32_t j = 0; j < op.LineCount; ++j) {
          const TextLine& line = list.Lines.Lines[op.FirstLine + j];
          const IntRect visible = line.Ink.Intersection(bounds_);
          if (visible.Empty() || (near != nullptr && !visible.Intersects(*near))) continue;
          for (const GlyphRun& run : line.Runs) {
            cairo_set_scaled_font(cr, run.Font);
            cairo_show_glyphs(cr, line.Glyphs.data() + run.First, static_cast<int>(run.Count));
          }
        }
        break;
    }
  }

  com_ptr<ID3D11Texture2D> texture_;  // keeps the pixels alive
  int width_;
  int height_;
  IntRect bounds_;
  SurfacePtr surface_;
  ContextPtr cr_;
  bool drawing_ = false;
  HRESULT error_ = S_OK;
  DrawList lists_[2];
  DrawList* current_ = &lists_[0];
  DrawList* shown_ = &lists_[1];  // what the pixels show, when shownValid_
  bool shownValid_ = false;
  std::vector<IntRect> damage_;
  SurfacePtr scratch_;
  ContextPtr scratchCr_;
};

class CairoD2DFactory final : public RefCounted<ID2D1Factory1> {
 public:
  HRESULT CreateDxgiSurfaceRenderTarget(ID3D11Texture2D* texture,
                                        ID2D1RenderTarget** target) override {
    return CairoRenderTarget::Create(texture, target);
  }
};

class FontconfigDWriteFactory final : public RefCounted<IDWriteFactory> {
 public:
  HRESULT CreateTextFormat(const wchar_t* family, std::uint32_t weight, float size,
                           IDWriteTextFormat** format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = nullptr;
    if (family == nullptr || weight < 1 || weight > 999 || !(size > 0) || !std::isfinite(size))
      return E_INVALIDARG;
    std::shared_ptr<FontFamily> resolved;
    {
      std::lock_guard lock(mutex_);
      auto key = std::make_pair(WideToUtf8Lossy(family), weight);
      auto it = families_.find(key);
      if (it == families_.end()) {
        if (const HRESULT hr = FontFamily::Resolve(key.first, weight, &resolved); FAILED(hr))
          return hr;
        families_.emplace(std::move(key), resolved);
      } else {
        resolved = it->second;
      }
    }
    return CairoTextFormat::Create(std::move(resolved), size, format);
  }

 private:
  std::mutex mutex_;
  std::map<std::pair<std::string, std::uint32_t>, std::shared_ptr<FontFamily>> families_;
};

}  // namespace
}  // namespace corvantis::drawing

namespace corvantis {

HRESULT CreateCairoD2DFactory(ID2D1Factory1** factory) {
  if (factory == nullptr) return E_INVALIDARG;
  *factory = new (std::nothrow) drawing::CairoD2DFactory();
  return *factory == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CreateFontconfigDWriteFactory(IDWriteFactory** factory) {
  if (factory == nullptr) return E_INVALIDARG;
  *factory = new (std::nothrow) drawing::FontconfigDWriteFactory();
  return *factory == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace corvantis
