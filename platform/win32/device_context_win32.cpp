// Device contexts on Win32: GDI. Image contexts are 32-bit top-down DIB
// sections selected into memory DCs compatible with the screen, which works
// without any display. Fonts are made with CreateFontIndirectA, geometric
// pens with ExtCreatePen, and text is measured with GetTextExtentPoint32A and
// GetCharWidth32A.
// Threading: a context and its objects belong to the thread that made them.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/device_context.h"
#include "platform/output_file.h"

namespace platform {

namespace {

class GdiDC final : public DeviceContext {
 public:
  // Takes hdc; owned contexts are deleted with the object, and the DIB (if
  // any) with them.
  GdiDC(HDC hdc, bool owned, HBITMAP dib, HBITMAP selected, int width, int height)
      : m_hdc(hdc),
        m_bOwned(owned),
        m_hDib(dib),
        m_hSelected(selected),
        m_width(width),
        m_height(height) {
    m_hOriginalPen = ::GetCurrentObject(hdc, OBJ_PEN);
    m_hOriginalBrush = ::GetCurrentObject(hdc, OBJ_BRUSH);
    m_hOriginalFont = ::GetCurrentObject(hdc, OBJ_FONT);
    if (selected != nullptr) {
      m_hOriginalBitmap = ::SelectObject(hdc, selected);
    }
  }
  ~GdiDC() override {
    // Give the context its own objects back so ours can be deleted.
    ::SelectObject(m_hdc, m_hOriginalPen);
    ::SelectObject(m_hdc, m_hOriginalBrush);
    ::SelectObject(m_hdc, m_hOriginalFont);
    if (m_hOriginalBitmap != nullptr) {
      ::SelectObject(m_hdc, m_hOriginalBitmap);
    }
    if (m_bOwned) {
      ::DeleteDC(m_hdc);
    }
    if (m_hDib != nullptr) {
      ::DeleteObject(m_hDib);
    }
  }
  GdiDC(const GdiDC&) = delete;
  GdiDC& operator=(const GdiDC&) = delete;

  HDC Hdc() const { return m_hdc; }

  void MoveTo(int x, int y) override { ::MoveToEx(m_hdc, x, y, nullptr); }
  void LineTo(int x, int y) override { ::LineTo(m_hdc, x, y); }
  void TextOutAt(int x, int y, const char* text, int length) override {
    if (text != nullptr && length > 0) {
      ::TextOutA(m_hdc, x, y, text, length);
    }
  }
  Size TextExtent(const char* text, int length) override {
    SIZE size{0, 0};
    if (text == nullptr || length <= 0 || !::GetTextExtentPoint32A(m_hdc, text, length, &size)) {
      return {0, 0};
    }
    return {static_cast<int>(size.cx), static_cast<int>(size.cy)};
  }
  Colour SetBkColour(Colour colour) override { return ::SetBkColor(m_hdc, colour); }
  Colour SetTextColour(Colour colour) override { return ::SetTextColor(m_hdc, colour); }
  Colour GetTextColour() const override { return ::GetTextColor(m_hdc); }
  int SetBkMode(int mode) override { return ::SetBkMode(m_hdc, mode); }
  void Ellipse(const Rect& r) override { ::Ellipse(m_hdc, r.left, r.top, r.right, r.bottom); }
  void Arc(const Rect& r, Point s, Point e) override {
    ::Arc(m_hdc, r.left, r.top, r.right, r.bottom, s.x, s.y, e.x, e.y);
  }
  void Rectangle(const Rect& r) override { ::Rectangle(m_hdc, r.left, r.top, r.right, r.bottom); }
  void FillRect(const Rect& r, const Brush& brush) override {
    if (brush.IsCreated()) {
      const RECT rc{r.left, r.top, r.right, r.bottom};
      ::FillRect(m_hdc, &rc, static_cast<HBRUSH>(brush.NativeHandle()));
    }
  }
  void FillSolidRect(int x, int y, int cx, int cy, Colour colour) override {
    if (cx <= 0 || cy <= 0) {
      return;
    }
    const COLORREF previous = ::SetBkColor(m_hdc, colour);
    const RECT rc{x, y, x + cx, y + cy};
    ::ExtTextOutA(m_hdc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(m_hdc, previous);
  }
  bool BitBlt(int x, int y, int cx, int cy, DeviceContext* src, int srcX, int srcY,
              std::uint32_t rop) override {
    if (src == nullptr || src->NativeHandle() == nullptr) {
      return false;
    }
    return ::BitBlt(m_hdc, x, y, cx, cy, static_cast<HDC>(src->NativeHandle()), srcX, srcY, rop) !=
           FALSE;
  }
  bool StretchBlt(int x, int y, int cx, int cy, DeviceContext* src, int srcX, int srcY, int srcCx,
                  int srcCy, std::uint32_t rop) override {
    if (src == nullptr || src->NativeHandle() == nullptr) {
      return false;
    }
    ::SetStretchBltMode(m_hdc, COLORONCOLOR);
    return ::StretchBlt(m_hdc, x, y, cx, cy, static_cast<HDC>(src->NativeHandle()), srcX, srcY,
                        srcCx, srcCy, rop) != FALSE;
  }
  const Pen* SelectPen(const Pen* pen) override {
    if (pen == nullptr || !pen->IsCreated()) {
      return nullptr;
    }
    ::SelectObject(m_hdc, static_cast<HGDIOBJ>(pen->NativeHandle()));
    return std::exchange(m_pPen, pen);
  }
  const Brush* SelectBrush(const Brush* brush) override {
    if (brush == nullptr || !brush->IsCreated()) {
      return nullptr;
    }
    ::SelectObject(m_hdc, static_cast<HGDIOBJ>(brush->NativeHandle()));
    return std::exchange(m_pBrush, brush);
  }
  const Font* SelectFont(const Font* font) override {
    if (font == nullptr || !font->IsCreated()) {
      return nullptr;
    }
    ::SelectObject(m_hdc, static_cast<HGDIOBJ>(font->NativeHandle()));
    return std::exchange(m_pFont, font);
  }
  void SelectDefaultPen() override {
    ::SelectObject(m_hdc, m_hOriginalPen);
    m_pPen = nullptr;
  }
  void SelectDefaultBrush() override {
    ::SelectObject(m_hdc, m_hOriginalBrush);
    m_pBrush = nullptr;
  }
  void SelectDefaultFont() override {
    ::SelectObject(m_hdc, m_hOriginalFont);
    m_pFont = nullptr;
  }
  int LogPixelsY() const override { return ::GetDeviceCaps(m_hdc, LOGPIXELSY); }
  Colour GetPixel(int x, int y) const override {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
      return 0;
    }
    const COLORREF c = ::GetPixel(m_hdc, x, y);
    return c == CLR_INVALID ? 0 : c;
  }
  void SetPixel(int x, int y, Colour colour) override {
    if (x >= 0 && y >= 0 && x < m_width && y < m_height) {
      ::SetPixelV(m_hdc, x, y, colour);
    }
  }
  int Width() const override { return m_width; }
  int Height() const override { return m_height; }
  void* NativeHandle() const override { return m_hdc; }

 private:
  HDC m_hdc;
  bool m_bOwned;
  HBITMAP m_hDib;
  HBITMAP m_hSelected;
  int m_width;
  int m_height;
  HGDIOBJ m_hOriginalPen = nullptr;
  HGDIOBJ m_hOriginalBrush = nullptr;
  HGDIOBJ m_hOriginalFont = nullptr;
  HGDIOBJ m_hOriginalBitmap = nullptr;
  const Pen* m_pPen = nullptr;
  const Brush* m_pBrush = nullptr;
  const Font* m_pFont = nullptr;
};

void SizeOfSelectedBitmap(HDC hdc, int& width, int& height) {
  width = 0;
  height = 0;
  BITMAP bm{};
  HGDIOBJ bitmap = ::GetCurrentObject(hdc, OBJ_BITMAP);
  if (bitmap != nullptr && ::GetObjectA(bitmap, sizeof bm, &bm) != 0) {
    width = bm.bmWidth;
    height = bm.bmHeight;
  }
}

}  // namespace

Pen::~Pen() { DeleteObject(); }

bool Pen::CreatePen(int style, int width, Colour colour) {
  DeleteObject();
  if (GdiCreationFailing()) {
    return false;
  }
  HPEN pen = ::CreatePen(style, width, colour);
  if (pen == nullptr) {
    return false;
  }
  m_desc = {style, width, colour};
  m_hNative = pen;
  m_bCreated = true;
  return true;
}

bool Pen::CreateExtPen(int style, int width, const LogBrush& brush) {
  DeleteObject();
  if (GdiCreationFailing()) {
    return false;
  }
  LOGBRUSH lb{};
  lb.lbStyle = static_cast<UINT>(brush.style);
  lb.lbColor = brush.colour;
  lb.lbHatch = static_cast<ULONG_PTR>(brush.hatch);
  HPEN pen = ::ExtCreatePen(static_cast<DWORD>(style), static_cast<DWORD>(width), &lb, 0, nullptr);
  if (pen == nullptr) {
    return false;
  }
  m_desc = {style, width, brush.colour};
  m_hNative = pen;
  m_bCreated = true;
  return true;
}

void Pen::DeleteObject() {
  if (m_hNative != nullptr) {
    ::DeleteObject(static_cast<HGDIOBJ>(m_hNative));
    m_hNative = nullptr;
  }
  m_bCreated = false;
}

Brush::~Brush() { DeleteObject(); }

bool Brush::CreateSolidBrush(Colour colour) {
  DeleteObject();
  if (GdiCreationFailing()) {
    return false;
  }
  HBRUSH brush = ::CreateSolidBrush(colour);
  if (brush == nullptr) {
    return false;
  }
  m_colour = colour;
  m_hNative = brush;
  m_bCreated = true;
  return true;
}

void Brush::DeleteObject() {
  if (m_hNative != nullptr) {
    ::DeleteObject(static_cast<HGDIOBJ>(m_hNative));
    m_hNative = nullptr;
  }
  m_bCreated = false;
}

Font::~Font() { DeleteObject(); }

bool Font::CreateFromLogFont(const LogFont& logFont) {
  DeleteObject();
  if (GdiCreationFailing()) {
    return false;
  }
  LOGFONTA lf{};
  lf.lfHeight = logFont.height;
  lf.lfWidth = logFont.width;
  lf.lfEscapement = logFont.escapement;
  lf.lfOrientation = logFont.orientation;
  lf.lfWeight = logFont.weight;
  lf.lfItalic = logFont.italic ? TRUE : FALSE;
  lf.lfUnderline = logFont.underline ? TRUE : FALSE;
  lf.lfCharSet = DEFAULT_CHARSET;
  const std::size_t faceLength = strnlen(logFont.faceName, LF_FACESIZE - 1);
  std::memcpy(lf.lfFaceName, logFont.faceName, faceLength);
  HFONT font = ::CreateFontIndirectA(&lf);
  if (font == nullptr) {
    return false;
  }
  m_logFont = logFont;
  m_logFont.faceName[kFaceNameSize - 1] = '\0';
  m_hNative = font;
  m_bCreated = true;
  return true;
}

void Font::DeleteObject() {
  if (m_hNative != nullptr) {
    ::DeleteObject(static_cast<HGDIOBJ>(m_hNative));
    m_hNative = nullptr;
  }
  m_bCreated = false;
}

std::unique_ptr<DeviceContext> CreateImageDC(int width, int height) {
  if (width <= 0 || height <= 0) {
    return nullptr;
  }
  HDC hdc = ::CreateCompatibleDC(nullptr);
  if (hdc == nullptr) {
    return nullptr;
  }
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = -height;  // top-down
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = ::CreateDIBSection(hdc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib == nullptr) {
    ::DeleteDC(hdc);
    return nullptr;
  }
  std::memset(bits, 0, static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  return std::make_unique<GdiDC>(hdc, true, dib, dib, width, height);
}

void DrawPixelBlock(DeviceContext& dc, int x, int y, int cx, int cy, const Colour* pixels,
                    int stride) {
  const int left = std::max(x, 0);
  const int top = std::max(y, 0);
  const int right = std::min(x + cx, dc.Width());
  const int bottom = std::min(y + cy, dc.Height());
  if (pixels == nullptr || left >= right || top >= bottom) {
    return;
  }
  auto* gdi = dynamic_cast<GdiDC*>(&dc);
  HDC hdc = gdi != nullptr ? static_cast<HDC>(gdi->NativeHandle()) : nullptr;
  HBITMAP dib =
      hdc != nullptr ? static_cast<HBITMAP>(::GetCurrentObject(hdc, OBJ_BITMAP)) : nullptr;
  DIBSECTION section{};
  if (dib == nullptr || ::GetObjectA(dib, sizeof section, &section) != sizeof section ||
      section.dsBm.bmBits == nullptr || section.dsBm.bmBitsPixel != 32 ||
      section.dsBmih.biHeight >= 0) {
    for (int row = top; row < bottom; ++row) {
      for (int col = left; col < right; ++col) {
        dc.SetPixel(col, row, pixels[static_cast<std::ptrdiff_t>(row - y) * stride + (col - x)]);
      }
    }
    return;
  }
  // A top-down 32-bit DIB section, as this platform's images are: straight into its
  // bits, once GDI has finished what it queued on them.
  ::GdiFlush();
  auto* bits = static_cast<std::uint32_t*>(section.dsBm.bmBits);
  const int width = section.dsBm.bmWidth;
  for (int row = top; row < bottom; ++row) {
    const Colour* from = pixels + static_cast<std::ptrdiff_t>(row - y) * stride + (left - x);
    std::uint32_t* to = bits + static_cast<std::ptrdiff_t>(row) * width + left;
    for (int col = left; col < right; ++col) {
      const Colour c = *from++;  // 0x00BBGGRR into the DIB's 0x00RRGGBB
      *to++ = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
  }
}

std::unique_ptr<DeviceContext> CreateImageDCFromPixels(int width, int height, const Colour* pixels,
                                                       int stride) {
  if (pixels == nullptr || stride < width) {
    return nullptr;
  }
  auto dc = CreateImageDC(width, height);
  if (!dc) {
    return nullptr;
  }
  HDC hdc = static_cast<HDC>(dc->NativeHandle());
  ::GdiFlush();
  HBITMAP dib = static_cast<HBITMAP>(::GetCurrentObject(hdc, OBJ_BITMAP));
  DIBSECTION section{};
  if (::GetObjectA(dib, sizeof section, &section) == 0 || section.dsBm.bmBits == nullptr) {
    return nullptr;
  }
  auto* bits = static_cast<std::uint32_t*>(section.dsBm.bmBits);
  for (int y = 0; y < height; ++y) {
    const Colour* from = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    std::uint32_t* row = bits + static_cast<std::ptrdiff_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      const Colour c = from[x];  // 0x00BBGGRR into the DIB's 0x00RRGGBB
      row[x] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
  }
  return dc;
}

std::unique_ptr<DeviceContext> CreateMemoryDCForBitmap(void* nativeBitmap) {
  if (nativeBitmap == nullptr) {
    return nullptr;
  }
  HDC hdc = ::CreateCompatibleDC(nullptr);
  if (hdc == nullptr) {
    return nullptr;
  }
  BITMAP bm{};
  if (::GetObjectA(static_cast<HGDIOBJ>(nativeBitmap), sizeof bm, &bm) == 0) {
    ::DeleteDC(hdc);
    return nullptr;
  }
  return std::make_unique<GdiDC>(hdc, true, nullptr, static_cast<HBITMAP>(nativeBitmap), bm.bmWidth,
                                 bm.bmHeight);
}

std::unique_ptr<DeviceContext> WrapNativeDC(void* nativeDC) {
  if (nativeDC == nullptr) {
    return nullptr;
  }
  HDC hdc = static_cast<HDC>(nativeDC);
  int width = 0;
  int height = 0;
  SizeOfSelectedBitmap(hdc, width, height);
  return std::make_unique<GdiDC>(hdc, false, nullptr, nullptr, width, height);
}

bool WriteImage(DeviceContext& dc, COutputFile& out) {
  auto* gdi = dynamic_cast<GdiDC*>(&dc);
  if (gdi == nullptr || !out.IsOpen() || dc.Width() <= 0 || dc.Height() <= 0) {
    return false;
  }
  ::GdiFlush();
  const int width = dc.Width();
  const int height = dc.Height();
  const int rowBytes = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom-up rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(rowBytes) * static_cast<DWORD>(height);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + info.biSizeImage;
  bool ok = out.Write(&file, sizeof file) && out.Write(&info, sizeof info);
  std::unique_ptr<unsigned char[]> row(new unsigned char[static_cast<std::size_t>(rowBytes)]());
  for (int y = height - 1; ok && y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const Colour c = dc.GetPixel(x, y);
      row[x * 3 + 0] = static_cast<unsigned char>((c >> 16) & 0xFF);
      row[x * 3 + 1] = static_cast<unsigned char>((c >> 8) & 0xFF);
      row[x * 3 + 2] = static_cast<unsigned char>(c & 0xFF);
    }
    ok = out.Write(row.get(), static_cast<std::size_t>(rowBytes));
  }
  return ok;
}

bool MeasureCharWidths(const Font& font, int first, int last, int* widths) {
  if (widths == nullptr || last < first) {
    return false;
  }
  for (int c = first; c <= last; ++c) {
    widths[c - first] = 0;
  }
  if (!font.IsCreated()) {
    return false;
  }
  HDC hdc = ::CreateCompatibleDC(nullptr);
  if (hdc == nullptr) {
    return false;
  }
  HGDIOBJ previous = ::SelectObject(hdc, static_cast<HGDIOBJ>(font.NativeHandle()));
  INT buffer[256];
  const bool ok = last - first < 256 &&
                  ::GetCharWidth32A(hdc, static_cast<UINT>(first), static_cast<UINT>(last), buffer);
  if (ok) {
    for (int c = first; c <= last; ++c) {
      widths[c - first] = buffer[c - first];
    }
  }
  ::SelectObject(hdc, previous);
  ::DeleteDC(hdc);
  return ok;
}

int ScreenLogPixelsY() {
  HDC hdc = ::CreateCompatibleDC(nullptr);
  if (hdc == nullptr) {
    return 96;
  }
  const int dpi = ::GetDeviceCaps(hdc, LOGPIXELSY);
  ::DeleteDC(hdc);
  return dpi > 0 ? dpi : 96;
}

}  // namespace platform
