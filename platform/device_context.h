// Platform service: device contexts, pens, brushes and fonts for drawing
// instrument displays, shaped after the GDI calls the display toolkit makes.
//
// Contract every platform provides:
//  - Pen, Brush and Font own one platform drawing object each. They start
//    empty, Create* makes the object (false when the platform refuses, the
//    object then stays empty), DeleteObject releases it and the destructor
//    releases whatever is left. Their description (Desc/GetLogFont) stays
//    readable so a recording device context can log what was selected.
//  - Fonts are point fonts as the application framework makes them: a size
//    in tenths of a point becomes a logical height of
//    -MulDiv(LOGPIXELSY, tenths, 720) pixels on the given device context
//    (the screen's resolution, 96 on an image, when none is given).
//    "Arial" and "Courier New" are real faces on Win32; on POSIX they
//    resolve through fontconfig to Liberation Sans and Liberation Mono,
//    which have the same advance widths.
//  - DeviceContext is an abstract interface: Win32 wraps an HDC (GDI),
//    POSIX draws on a Cairo image surface, tests use a recording context.
//    Coordinates are device pixels, x to the right, y downward. Text goes
//    at the top-left corner of its cell; in opaque background mode the
//    cell is filled with the background colour first. Ellipse and
//    Rectangle outline with the selected pen and fill with the selected
//    brush inside (left, top)-(right, bottom), right and bottom excluded.
//    Arc runs counter-clockwise from the start radial to the end radial
//    (start == end draws the whole ellipse). LineTo leaves out its last
//    pixel and moves the current position.
//  - Select* take objects that outlive their selection and return the
//    object selected before (null for the context's own default). Selecting
//    an empty object leaves the context as it was and returns null.
//  - SelectDefault* put the context's own pen, brush or font back (on Win32
//    the object the HDC held when the context was made, as the first
//    SelectObject on it returns), so that a temporary object selected on a
//    fresh context can be released: afterwards the context holds nothing of
//    the caller's of that kind.
//  - A fresh image is black; its pen is a 1-pixel black pen, its brush
//    white, its font the platform's default, text colour black, background
//    colour white, background mode opaque.
//  - WriteImage saves an image context as PNG (POSIX) or 24-bit BMP (Win32)
//    through an output file (platform/output_file.h): a good file is never
//    replaced by a truncated one and only regular files are replaced.
//
// Threading: a device context and the objects selected into it belong to
// the thread that made them (the user-interface thread).
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

class COutputFile;

// Colour value, laid out 0x00BBGGRR.
using Colour = std::uint32_t;

struct Point {
  int x;
  int y;
};

struct Size {
  int cx;
  int cy;
};

// Device pixels; right and bottom are one past the last pixel.
struct Rect {
  int left;
  int top;
  int right;
  int bottom;
};

// Background modes, with the GDI values.
constexpr int kTransparent = 1;
constexpr int kOpaque = 2;
// Raster operation of the copies.
constexpr std::uint32_t kSrcCopy = 0x00CC0020;

// Pen styles, with the GDI values.
constexpr int kPenSolid = 0;
constexpr int kPenDash = 1;
// Geometric pen with square end caps and a solid line (ExtCreatePen).
constexpr int kPenGeometricSquareSolid = 0x10100;
constexpr int kBrushSolid = 0;

constexpr int kFaceNameSize = 32;
constexpr int kWeightNormal = 400;
constexpr int kWeightBold = 700;

// A font's logical description. height < 0 is the character height in
// pixels (em size); escapement is in tenths of a degree counter-clockwise.
struct LogFont {
  int height;
  int width;
  int escapement;
  int orientation;
  int weight;
  bool italic;
  bool underline;
  char faceName[kFaceNameSize];
};

struct PenDesc {
  int style;  // kPenSolid, kPenDash or kPenGeometricSquareSolid
  int width;  // pixels; 0 and 1 are both one pixel
  Colour colour;
};

struct LogBrush {
  int style;  // kBrushSolid
  Colour colour;
  int hatch;
};

class DeviceContext;

class Pen {
 public:
  Pen() = default;
  ~Pen();
  Pen(const Pen&) = delete;
  Pen& operator=(const Pen&) = delete;

  // Solid or dashed cosmetic pen (CreatePen).
  bool CreatePen(int style, int width, Colour colour);
  // Geometric pen from a brush description (ExtCreatePen, no dash table).
  bool CreateExtPen(int style, int width, const LogBrush& brush);
  void DeleteObject();
  bool IsCreated() const { return m_bCreated; }
  const PenDesc& Desc() const { return m_desc; }
  // HPEN on Win32; null on POSIX.
  void* NativeHandle() const { return m_hNative; }

 private:
  PenDesc m_desc{};
  bool m_bCreated = false;
  void* m_hNative = nullptr;
};

class Brush {
 public:
  Brush() = default;
  ~Brush();
  Brush(const Brush&) = delete;
  Brush& operator=(const Brush&) = delete;

  bool CreateSolidBrush(Colour colour);
  void DeleteObject();
  bool IsCreated() const { return m_bCreated; }
  Colour GetColour() const { return m_colour; }
  // HBRUSH on Win32; null on POSIX.
  void* NativeHandle() const { return m_hNative; }

 private:
  Colour m_colour = 0;
  bool m_bCreated = false;
  void* m_hNative = nullptr;
};

class Font {
 public:
  Font() = default;
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // Point font of sizeTenths tenths of a point on dc's resolution (screen
  // resolution when dc is null).
  bool CreatePointFont(int sizeTenths, const char* faceName, DeviceContext* dc);
  // As CreatePointFont, but logFont.height is in tenths of a point and the
  // other fields (escapement, weight, face) are kept.
  bool CreatePointFontIndirect(const LogFont& logFont, DeviceContext* dc);
  // Height already in logical units.
  bool CreateFromLogFont(const LogFont& logFont);
  void DeleteObject();
  bool IsCreated() const { return m_bCreated; }
  // The logical description; false while the font is empty.
  bool GetLogFont(LogFont& out) const;
  const LogFont& Desc() const { return m_logFont; }
  // HFONT on Win32; cairo_font_face_t* on POSIX.
  void* NativeHandle() const { return m_hNative; }

 private:
  LogFont m_logFont{};
  bool m_bCreated = false;
  void* m_hNative = nullptr;
};

class DeviceContext {
 public:
  virtual ~DeviceContext() = default;

  virtual void MoveTo(int x, int y) = 0;
  virtual void LineTo(int x, int y) = 0;
  // length characters of text (never null) with the selected font.
  virtual void TextOutAt(int x, int y, const char* text, int length) = 0;
  // Advance width and cell height of the text in the selected font.
  virtual Size TextExtent(const char* text, int length) = 0;
  virtual Colour SetBkColour(Colour colour) = 0;
  virtual Colour SetTextColour(Colour colour) = 0;
  virtual Colour GetTextColour() const = 0;
  virtual int SetBkMode(int mode) = 0;
  virtual void Ellipse(const Rect& rect) = 0;
  virtual void Arc(const Rect& rect, Point start, Point end) = 0;
  virtual void Rectangle(const Rect& rect) = 0;
  virtual void FillRect(const Rect& rect, const Brush& brush) = 0;
  virtual void FillSolidRect(int x, int y, int cx, int cy, Colour colour) = 0;
  // Copies from src (a context of the same platform) with kSrcCopy.
  virtual bool BitBlt(int x, int y, int cx, int cy, DeviceContext* src, int srcX, int srcY,
                      std::uint32_t rop) = 0;
  virtual bool StretchBlt(int x, int y, int cx, int cy, DeviceContext* src, int srcX, int srcY,
                          int srcCx, int srcCy, std::uint32_t rop) = 0;
  virtual const Pen* SelectPen(const Pen* pen) = 0;
  virtual const Brush* SelectBrush(const Brush* brush) = 0;
  virtual const Font* SelectFont(const Font* font) = 0;
  virtual void SelectDefaultPen() = 0;
  virtual void SelectDefaultBrush() = 0;
  virtual void SelectDefaultFont() = 0;
  // Pixels per logical inch vertically (LOGPIXELSY).
  virtual int LogPixelsY() const { return 96; }
  // Pixel access on images; 0 and no effect outside the image or on
  // contexts without pixels.
  virtual Colour GetPixel(int x, int y) const = 0;
  virtual void SetPixel(int x, int y, Colour colour) = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // HDC on Win32; cairo_t* on POSIX; null for the recording context.
  virtual void* NativeHandle() const { return nullptr; }
};

// A black image of width x height pixels (a DIB section on a memory DC
// compatible with the screen on Win32; a Cairo RGB image on POSIX).
// Null when the size is not positive or the platform refuses.
std::unique_ptr<DeviceContext> CreateImageDC(int width, int height);

// An image holding a copy of the pixels: rows top-down, each stride
// values of 0x00BBGGRR (as a loaded bitmap hands them out).
std::unique_ptr<DeviceContext> CreateImageDCFromPixels(int width, int height, const Colour* pixels,
                                                       int stride);

// A memory DC compatible with the screen with a native bitmap selected
// into it (HBITMAP on Win32). The bitmap stays owned by the caller and
// must outlive the context. Null on POSIX, where bitmaps have no native
// handle, and for a null handle.
std::unique_ptr<DeviceContext> CreateMemoryDCForBitmap(void* nativeBitmap);

// A context drawing on an existing native DC (HDC on Win32, e.g. the
// terrain bitmap's CBitmapFile::NativeDC()) without owning it: the DC and
// what is selected into it stay the caller's. Null on POSIX and for null.
// For the terrain map on POSIX, copy the wanted part with
// CBitmapFile::Pixel() and use CreateImageDCFromPixels.
std::unique_ptr<DeviceContext> WrapNativeDC(void* nativeDC);

// Writes an image made by the functions above (PNG on POSIX, 24-bit BMP on
// Win32) to an open output, which the caller then commits. False when dc
// is not an image or a write failed (out.ErrorText() says why then).
bool WriteImage(DeviceContext& dc, COutputFile& out);

// Writes the image to the file at path through an output file and commits
// it. False when dc is not an image or the file cannot be written, with
// the system's code of the failure in LastSystemError()
// (platform/system_error.h).
bool WriteImage(DeviceContext& dc, const char* path);

// Copies a block of cx x cy pixels (rows top-down, each stride values of
// 0x00BBGGRR) onto dc with its top-left corner at (x, y), clipped to dc.
// Straight into the image's memory on the platforms' own image contexts, a
// pixel at a time on any other context.
void DrawPixelBlock(DeviceContext& dc, int x, int y, int cx, int cy, const Colour* pixels,
                    int stride);

// Advance widths in pixels of the characters first..last of the font,
// measured on a memory DC compatible with the screen. false (widths
// zeroed) when the font is empty.
bool MeasureCharWidths(const Font& font, int first, int last, int* widths);

// Screen resolution (LOGPIXELSY) used for point fonts without a context.
int ScreenLogPixelsY();

// Test seam: while set, every Create* of pens, brushes and fonts fails.
void SetGdiCreationFailure(bool fail);
bool GdiCreationFailing();

}  // namespace platform
