#pragma once
#include <cstdint>

#include "platform/com_ptr.h"
#include "platform/d3d11.h"
#include "platform/hresult.h"

namespace corvantis {

// Drawing and text interfaces in the shape the frame renderer needs, drawn with Cairo.

struct D2D1_COLOR_F {
  float r = 0;
  float g = 0;
  float b = 0;
  float a = 1;
};
struct D2D1_POINT_2F {
  float x = 0;
  float y = 0;
};
struct D2D1_RECT_F {
  float left = 0;
  float top = 0;
  float right = 0;
  float bottom = 0;
};

inline constexpr std::uint32_t DWRITE_FONT_WEIGHT_SEMI_BOLD = 600;

struct ID2D1SolidColorBrush : IUnknownLite {
  virtual D2D1_COLOR_F GetColor() const = 0;
};

struct IDWriteTextFormat : IUnknownLite {
  virtual float GetFontSize() const = 0;
};

struct ID2D1RenderTarget : IUnknownLite {
  virtual HRESULT CreateSolidColorBrush(const D2D1_COLOR_F& color,
                                        ID2D1SolidColorBrush** brush) = 0;
  virtual void BeginDraw() = 0;
  virtual void FillRectangle(const D2D1_RECT_F& rect, ID2D1SolidColorBrush* brush) = 0;
  // Lines break at "\r\n" and wrap at the layout rectangle's width; text is clipped to nothing.
  virtual void DrawText(const wchar_t* text, std::uint32_t length, IDWriteTextFormat* format,
                        const D2D1_RECT_F& layout, ID2D1SolidColorBrush* brush) = 0;
  virtual void DrawLine(D2D1_POINT_2F from, D2D1_POINT_2F to, ID2D1SolidColorBrush* brush,
                        float strokeWidth) = 0;
  // Finishes the drawing into the texture; the first failure since BeginDraw is returned.
  virtual HRESULT EndDraw() = 0;
};

struct ID2D1Factory1 : IUnknownLite {
  // A render target that draws into the texture's pixels.
  virtual HRESULT CreateDxgiSurfaceRenderTarget(ID3D11Texture2D* texture,
                                                ID2D1RenderTarget** target) = 0;
};

struct IDWriteFactory : IUnknownLite {
  // The family is matched by fontconfig, which falls back to a similar installed face.
  virtual HRESULT CreateTextFormat(const wchar_t* family, std::uint32_t weight, float size,
                                   IDWriteTextFormat** format) = 0;
};

}  // namespace corvantis
