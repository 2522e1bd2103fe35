// Device contexts on POSIX: Cairo image surfaces (RGB, 0x00RRGGBB words),
// fonts as Cairo faces found through fontconfig, with "Arial" and
// "Courier New" resolved to their metric twins Liberation Sans and
// Liberation Mono. Shapes are drawn without antialiasing so that lines and
// edges land on whole pixels as they do under GDI; text is antialiased.
// Threading: a context and its objects belong to the thread that made them.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/device_context.h"
#include "platform/output_file.h"

namespace platform {

namespace {

constexpr double kPi = 3.14159265358979323846;

const char* ResolveFamily(const char* face) {
  if (face == nullptr || face[0] == '\0' || std::strcmp(face, "Arial") == 0) {
    return "Liberation Sans";
  }
  if (std::strcmp(face, "Courier New") == 0) {
    return "Liberation Mono";
  }
  return face;
}

cairo_font_face_t* MakeFace(const LogFont& logFont) {
  return cairo_toy_font_face_create(
      ResolveFamily(logFont.faceName),
      logFont.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
      logFont.weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
}

// Em size in pixels of a logical height: negative heights are the em size,
// positive ones the cell height (ascent + descent, about 1.15 em for the
// Liberation faces).
double EmSize(int height) {
  if (height < 0) {
    return -height;
  }
  if (height == 0) {
    return 16.0;
  }
  return height / 1.149;
}

void SetSource(cairo_t* cr, Colour colour) {
  cairo_set_source_rgb(cr, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                       ((colour >> 16) & 0xFF) / 255.0);
}

void ApplyFont(cairo_t* cr, cairo_font_face_t* face, int height) {
  cairo_set_font_face(cr, face);
  cairo_set_font_size(cr, EmSize(height));
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

// Latin-1 bytes into UTF-8 for Cairo (which rejects invalid UTF-8 and would
// otherwise stop drawing altogether); at most out's size, terminated.
void ToUtf8(const char* text, int length, char (&out)[1024]) {
  int n = 0;
  for (int i = 0; i < length && text[i] != '\0' && n < 1020; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out[n++] = static_cast<char>(c);
    } else {
      out[n++] = static_cast<char>(0xC0 | (c >> 6));
      out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out[n] = '\0';
}

class CairoDC final : public DeviceContext {
 public:
  CairoDC(int width, int height)
      : m_surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)),
        m_cr(cairo_create(m_surface)),
        m_width(width),
        m_height(height) {
    cairo_set_antialias(m_cr, CAIRO_ANTIALIAS_NONE);
    m_defaultFont.height = -16;
    std::strcpy(m_defaultFont.faceName, "Arial");
    m_defaultFace = MakeFace(m_defaultFont);
  }
  ~CairoDC() override {
    cairo_font_face_destroy(m_defaultFace);
    cairo_destroy(m_cr);
    cairo_surface_destroy(m_surface);
  }
  CairoDC(const CairoDC&) = delete;
  CairoDC& operator=(const CairoDC&) = delete;

  bool Ok() const {
    return cairo_surface_status(m_surface) == CAIRO_STATUS_SUCCESS &&
           cairo_status(m_cr) == CAIRO_STATUS_SUCCESS;
  }
  cairo_surface_t* Surface() const { return m_surface; }

  void MoveTo(int x, int y) override { m_pos = {x, y}; }

  void LineTo(int x, int y) override {
    const PenDesc pen = CurrentPen();
    const double off = (LineWidth(pen) % 2 == 1) ? 0.5 : 0.0;
    cairo_new_path(m_cr);
    cairo_move_to(m_cr, m_pos.x + off, m_pos.y + off);
    cairo_line_to(m_cr, x + off, y + off);
    StrokePath(pen);
    m_pos = {x, y};
  }

  void TextOutAt(int x, int y, const char* text, int length) override {
    if (text == nullptr || length <= 0) {
      return;
    }
    char utf8[1024];
    ToUtf8(text, length, utf8);
    const LogFont& lf = CurrentLogFont();
    ApplyFont(m_cr, CurrentFace(), lf.height);
    cairo_font_extents_t fe;
    cairo_font_extents(m_cr, &fe);
    cairo_text_extents_t te;
    cairo_text_extents(m_cr, utf8, &te);
    cairo_save(m_cr);
    cairo_translate(m_cr, x, y);
    cairo_rotate(m_cr, -lf.escapement / 10.0 * kPi / 180.0);
    if (m_bkMode == kOpaque) {
      cairo_rectangle(m_cr, 0, 0, std::round(te.x_advance),
                      std::ceil(fe.ascent) + std::ceil(fe.descent));
      SetSource(m_cr, m_bkColour);
      cairo_fill(m_cr);
    }
    SetSource(m_cr, m_textColour);
    cairo_move_to(m_cr, 0, std::ceil(fe.ascent));
    cairo_show_text(m_cr, utf8);
    cairo_restore(m_cr);
    cairo_new_path(m_cr);
  }

  Size TextExtent(const char* text, int length) override {
    if (text == nullptr || length <= 0) {
      return {0, 0};
    }
    char utf8[1024];
    ToUtf8(text, length, utf8);
    ApplyFont(m_cr, CurrentFace(), CurrentLogFont().height);
    cairo_font_extents_t fe;
    cairo_font_extents(m_cr, &fe);
    cairo_text_extents_t te;
    cairo_text_extents(m_cr, utf8, &te);
    return {static_cast<int>(std::lround(te.x_advance)),
            static_cast<int>(std::ceil(fe.ascent) + std::ceil(fe.descent))};
  }

  Colour SetBkColour(Colour colour) override { return std::exchange(m_bkColour, colour); }
  Colour SetTextColour(Colour colour) override { return std::exchange(m_textColour, colour); }
  Colour GetTextColour() const override { return m_textColour; }
  int SetBkMode(int mode) override { return std::exchange(m_bkMode, mode); }

  void Ellipse(const Rect& r) override {
    EllipsePath(r);
    FillWithBrush();
    EllipsePath(r);
    StrokePath(CurrentPen());
  }

  void Arc(const Rect& r, Point start, Point end) override {
    const double cx = (r.left + r.right - 1) / 2.0 + 0.5;
    const double cy = (r.top + r.bottom - 1) / 2.0 + 0.5;
    const double rx = std::max(0.5, (r.right - r.left - 1) / 2.0);
    const double ry = std::max(0.5, (r.bottom - r.top - 1) / 2.0);
    const double a1 = std::atan2((start.y + 0.5 - cy) / ry, (start.x + 0.5 - cx) / rx);
    double a2 = std::atan2((end.y + 0.5 - cy) / ry, (end.x + 0.5 - cx) / rx);
    if (start.x == end.x && start.y == end.y) {
      a2 = a1 - 2 * kPi;
    }
    cairo_new_path(m_cr);
    cairo_save(m_cr);
    cairo_translate(m_cr, cx, cy);
    cairo_scale(m_cr, rx, ry);
    cairo_arc_negative(m_cr, 0, 0, 1, a1, a2);
    cairo_restore(m_cr);
    StrokePath(CurrentPen());
  }

  void Rectangle(const Rect& r) override {
    if (m_pBrush != nullptr || m_bDefaultBrush) {
      cairo_new_path(m_cr);
      cairo_rectangle(m_cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
      FillWithBrush();
    }
    cairo_new_path(m_cr);
    cairo_rectangle(m_cr, r.left + 0.5, r.top + 0.5, r.right - r.left - 1, r.bottom - r.top - 1);
    StrokePath(CurrentPen());
  }

  void FillRect(const Rect& r, const Brush& brush) override {
    if (!brush.IsCreated()) {
      return;
    }
    FillSolidRect(r.left, r.top, r.right - r.left, r.bottom - r.top, brush.GetColour());
  }

  void FillSolidRect(int x, int y, int cx, int cy, Colour colour) override {
    if (cx <= 0 || cy <= 0) {
      return;
    }
    cairo_new_path(m_cr);
    cairo_rectangle(m_cr, x, y, cx, cy);
    SetSource(m_cr, colour);
    cairo_fill(m_cr);
  }

  bool BitBlt(int x, int y, int cx, int cy, DeviceContext* src, int srcX, int srcY,
              std::uint32_t rop) override {
    return StretchBlt(x, y, cx, cy, src, srcX, srcY, cx, cy, rop);
  }

  bool StretchBlt(int x, int y, int cx, int cy, DeviceContext* src, int srcX, int srcY, int srcCx,
                  int srcCy, std::uint32_t rop) override {
    auto* source = dynamic_cast<CairoDC*>(src);
    if (source == nullptr || rop != kSrcCopy || cx == 0 || cy == 0 || srcCx == 0 || srcCy == 0) {
      return false;
    }
    cairo_surface_t* from = source->Surface();
    cairo_surface_flush(from);
    cairo_surface_t* copy = nullptr;
    if (source == this) {
      copy = cairo_surface_create_similar_image(from, CAIRO_FORMAT_RGB24, m_width, m_height);
      cairo_t* c = cairo_create(copy);
      cairo_set_source_surface(c, from, 0, 0);
      cairo_paint(c);
      cairo_destroy(c);
      from = copy;
    }
    cairo_save(m_cr);
    cairo_new_path(m_cr);
    cairo_rectangle(m_cr, std::min(x, x + cx), std::min(y, y + cy), std::abs(cx), std::abs(cy));
    cairo_clip(m_cr);
    cairo_translate(m_cr, x, y);
    cairo_scale(m_cr, static_cast<double>(cx) / srcCx, static_cast<double>(cy) / srcCy);
    cairo_set_source_surface(m_cr, from, -srcX, -srcY);
    cairo_pattern_set_filter(cairo_get_source(m_cr), CAIRO_FILTER_NEAREST);
    cairo_set_operator(m_cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(m_cr);
    cairo_restore(m_cr);
    if (copy != nullptr) {
      cairo_surface_destroy(copy);
    }
    return true;
  }

  const Pen* SelectPen(const Pen* pen) override {
    if (pen == nullptr || !pen->IsCreated()) {
      return nullptr;
    }
    return std::exchange(m_pPen, pen);
  }
  const Brush* SelectBrush(const Brush* brush) override {
    if (brush == nullptr || !brush->IsCreated()) {
      return nullptr;
    }
    m_bDefaultBrush = false;
    return std::exchange(m_pBrush, brush);
  }
  const Font* SelectFont(const Font* font) override {
    if (font == nullptr || !font->IsCreated()) {
      return nullptr;
    }
    return std::exchange(m_pFont, font);
  }
  void SelectDefaultPen() override { m_pPen = nullptr; }
  void SelectDefaultBrush() override {
    m_pBrush = nullptr;
    m_bDefaultBrush = true;
  }
  void SelectDefaultFont() override { m_pFont = nullptr; }

  Colour GetPixel(int x, int y) const override {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
      return 0;
    }
    cairo_surface_flush(m_surface);
    const unsigned char* data = cairo_image_surface_get_data(m_surface);
    const int stride = cairo_image_surface_get_stride(m_surface);
    std::uint32_t v;
    std::memcpy(&v, data + static_cast<std::ptrdiff_t>(y) * stride + x * 4, 4);
    return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
  }

  void SetPixel(int x, int y, Colour colour) override {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
      return;
    }
    cairo_surface_flush(m_surface);
    unsigned char* data = cairo_image_surface_get_data(m_surface);
    const int stride = cairo_image_surface_get_stride(m_surface);
    const std::uint32_t v = ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
    std::memcpy(data + static_cast<std::ptrdiff_t>(y) * stride + x * 4, &v, 4);
    cairo_surface_mark_dirty_rectangle(m_surface, x, y, 1, 1);
  }

  int Width() const override { return m_width; }
  int Height() const override { return m_height; }
  void* NativeHandle() const override { return m_cr; }

 private:
  PenDesc CurrentPen() const {
    return m_pPen != nullptr ? m_pPen->Desc() : PenDesc{kPenSolid, 1, 0};
  }
  const LogFont& CurrentLogFont() const {
    return m_pFont != nullptr ? m_pFont->Desc() : m_defaultFont;
  }
  cairo_font_face_t* CurrentFace() const {
    return m_pFont != nullptr ? static_cast<cairo_font_face_t*>(m_pFont->NativeHandle())
                              : m_defaultFace;
  }
  static int LineWidth(const PenDesc& pen) { return pen.width < 1 ? 1 : pen.width; }

  void EllipsePath(const Rect& r) {
    const double cx = (r.left + r.right) / 2.0;
    const double cy = (r.top + r.bottom) / 2.0;
    const double rx = std::max(0.5, (r.right - r.left - 1) / 2.0);
    const double ry = std::max(0.5, (r.bottom - r.top - 1) / 2.0);
    cairo_new_path(m_cr);
    cairo_save(m_cr);
    cairo_translate(m_cr, cx, cy);
    cairo_scale(m_cr, rx, ry);
    cairo_arc(m_cr, 0, 0, 1, 0, 2 * kPi);
    cairo_close_path(m_cr);
    cairo_restore(m_cr);
  }

  void FillWithBrush() {
    const Colour colour = m_pBrush != nullptr ? m_pBrush->GetColour() : 0xFFFFFF;
    SetSource(m_cr, colour);
    cairo_fill(m_cr);
  }

  void StrokePath(const PenDesc& pen) {
    const int width = LineWidth(pen);
    cairo_set_line_width(m_cr, width);
    if (pen.style == kPenGeometricSquareSolid) {
      cairo_set_line_cap(m_cr, CAIRO_LINE_CAP_SQUARE);
      cairo_set_line_join(m_cr, CAIRO_LINE_JOIN_MITER);
    } else if (width > 1) {
      cairo_set_line_cap(m_cr, CAIRO_LINE_CAP_ROUND);
      cairo_set_line_join(m_cr, CAIRO_LINE_JOIN_ROUND);
    } else {
      cairo_set_line_cap(m_cr, CAIRO_LINE_CAP_BUTT);
      cairo_set_line_join(m_cr, CAIRO_LINE_JOIN_MITER);
    }
    if (pen.style == kPenDash) {
      if (m_bkMode == kOpaque) {
        // Styled pens fill their gaps with the background colour.
        SetSource(m_cr, m_bkColour);
        cairo_stroke_preserve(m_cr);
      }
      const double dashes[2] = {18.0, 6.0};
      cairo_set_dash(m_cr, dashes, 2, 0);
    }
    SetSource(m_cr, pen.colour);
    cairo_stroke(m_cr);
    cairo_set_dash(m_cr, nullptr, 0, 0);
  }

  cairo_surface_t* m_surface;
  cairo_t* m_cr;
  int m_width;
  int m_height;
  Point m_pos{0, 0};
  const Pen* m_pPen = nullptr;
  const Brush* m_pBrush = nullptr;
  bool m_bDefaultBrush = true;
  const Font* m_pFont = nullptr;
  LogFont m_defaultFont{};
  cairo_font_face_t* m_defaultFace;
  Colour m_textColour = 0;
  Colour m_bkColour = 0xFFFFFF;
  int m_bkMode = kOpaque;
};

}  // namespace

Pen::~Pen() { DeleteObject(); }

bool Pen::CreatePen(int style, int width, Colour colour) {
  DeleteObject();
  if (GdiCreationFailing()) {
    return false;
  }
  m_desc = {style, width, colour};
  m_bCreated = true;
  return true;
}

bool Pen::CreateExtPen(int style, int width, const LogBrush& brush) {
  DeleteObject();
  if (GdiCreationFailing()) {
    return false;
  }
  m_desc = {style, width, brush.colour};
  m_bCreated = true;
  return true;
}

void Pen::DeleteObject() { m_bCreated = false; }

Brush::~Brush() { DeleteObject(); }

bool Brush::CreateSolidBrush(Colour colour) {
  DeleteObject();
  if (GdiCreationFailing()) {
    return false;
  }
  m_colour = colour;
  m_bCreated = true;
  return true;
}

void Brush::DeleteObject() { m_bCreated = false; }

Font::~Font() { DeleteObject(); }

bool Font::CreateFromLogFont(const LogFont& logFont) {
  DeleteObject();
  if (GdiCreationFailing()) {
    return false;
  }
  cairo_font_face_t* face = MakeFace(logFont);
  if (cairo_font_face_status(face) != CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(face);
    return false;
  }
  m_logFont = logFont;
  m_logFont.faceName[kFaceNameSize - 1] = '\0';
  m_hNative = face;
  m_bCreated = true;
  return true;
}

void Font::DeleteObject() {
  if (m_hNative != nullptr) {
    cairo_font_face_destroy(static_cast<cairo_font_face_t*>(m_hNative));
    m_hNative = nullptr;
  }
  m_bCreated = false;
}

std::unique_ptr<DeviceContext> CreateImageDC(int width, int height) {
  if (width <= 0 || height <= 0) {
    return nullptr;
  }
  auto dc = std::make_unique<CairoDC>(width, height);
  if (!dc->Ok()) {
    return nullptr;
  }
  return dc;
}

void DrawPixelBlock(DeviceContext& dc, int x, int y, int cx, int cy, const Colour* pixels,
                    int stride) {
  auto* image = dynamic_cast<CairoDC*>(&dc);
  const int left = std::max(x, 0);
  const int top = std::max(y, 0);
  const int right = std::min(x + cx, dc.Width());
  const int bottom = std::min(y + cy, dc.Height());
  if (pixels == nullptr || left >= right || top >= bottom) {
    return;
  }
  if (image == nullptr) {
    for (int row = top; row < bottom; ++row) {
      for (int col = left; col < right; ++col) {
        dc.SetPixel(col, row, pixels[static_cast<std::ptrdiff_t>(row - y) * stride + (col - x)]);
      }
    }
    return;
  }
  cairo_surface_t* surface = image->Surface();
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int surfaceStride = cairo_image_surface_get_stride(surface);
  for (int row = top; row < bottom; ++row) {
    const Colour* from = pixels + static_cast<std::ptrdiff_t>(row - y) * stride + (left - x);
    auto* to =
        reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(row) * surfaceStride) +
        left;
    for (int col = left; col < right; ++col) {
      const Colour c = *from++;  // 0x00BBGGRR into Cairo's 0x00RRGGBB
      *to++ = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
  }
  cairo_surface_mark_dirty_rectangle(surface, left, top, right - left, bottom - top);
}

std::unique_ptr<DeviceContext> CreateImageDCFromPixels(int width, int height, const Colour* pixels,
                                                       int stride) {
  if (pixels == nullptr || stride < width) {
    return nullptr;
  }
  auto dc = std::make_unique<CairoDC>(width, height);
  if (width <= 0 || height <= 0 || !dc->Ok()) {
    return nullptr;
  }
  cairo_surface_t* surface = dc->Surface();
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int rowBytes = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * rowBytes);
    const Colour* from = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      const Colour c = from[x];
      row[x] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
  }
  cairo_surface_mark_dirty(surface);
  return dc;
}

std::unique_ptr<DeviceContext> CreateMemoryDCForBitmap(void*) { return nullptr; }

std::unique_ptr<DeviceContext> WrapNativeDC(void*) { return nullptr; }

bool WriteImage(DeviceContext& dc, COutputFile& out) {
  auto* image = dynamic_cast<CairoDC*>(&dc);
  if (image == nullptr || !out.IsOpen()) {
    return false;
  }
  cairo_surface_flush(image->Surface());
  const cairo_write_func_t write = [](void* closure, const unsigned char* data,
                                      unsigned int length) {
    return static_cast<COutputFile*>(closure)->Write(data, length) ? CAIRO_STATUS_SUCCESS
                                                                   : CAIRO_STATUS_WRITE_ERROR;
  };
  const cairo_status_t status = cairo_surface_write_to_png_stream(image->Surface(), write, &out);
  // A write error is in out already; anything else (no memory) is not.
  return status == CAIRO_STATUS_SUCCESS;
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
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(surface);
  ApplyFont(cr, static_cast<cairo_font_face_t*>(font.NativeHandle()), font.Desc().height);
  for (int c = first; c <= last; ++c) {
    char text[1024];
    const char one = static_cast<char>(c);
    ToUtf8(&one, 1, text);
    cairo_text_extents_t te;
    cairo_text_extents(cr, text, &te);
    widths[c - first] = static_cast<int>(std::lround(te.x_advance));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return true;
}

int ScreenLogPixelsY() { return 96; }

}  // namespace platform
