// BaseDisplay: drawing toolkit for instrument-style displays. It owns a fixed
// set of pens, brushes and fonts in a small palette, creates them once,
// selects them by colour, width class or nominal font size, measures its
// fonts, and draws text, numbers, readouts, lines, shapes, needles, scale
// labels, rotated text and bitmap copies on one device context.
//
// Usage: construct (pens and brushes are made, the component registers its
// revision strings the first time), hand it a device context with SetDC or
// AttachDC, set the scale once with SetScale (or let EnsureFonts/AttachDC
// use 1.0), then draw. Fonts are made once, on the context in force then.
//
// Font size codes (nominal sizes): 140, 160, 193, 200, 213, 240, 266; any
// other code means the 213 font. Colours are DisplayPalette values; others
// fall to the defaults each operation names (mostly red).
//
// Threading: everything on the thread that owns the device context. The
// two sets of rotated fonts are shared by every object of the process and
// kept while any object exists.
#pragma once

#include <cstdint>

#include "platform/device_context.h"

inline constexpr char kBaseDisplayHeaderRevision[] =
    "%Z% KT-P-0001-02 KT-P-0001-02-1200 BaseDisplay $Revision: 1.9 $";

using platform::Colour;

namespace DisplayPalette {
constexpr Colour black = 0x000000;
constexpr Colour white = 0xFFFFFF;
constexpr Colour red = 0x0000FF;
constexpr Colour green = 0x00FF00;
constexpr Colour blue = 0xFF0000;
constexpr Colour yellow = 0x46EBFF;
constexpr Colour orange = 0x2D8DFB;
constexpr Colour magenta = 0xD30ED3;
constexpr Colour lightBlue = 0xFAB478;
constexpr Colour cyan = 0xFFE682;
constexpr Colour grey = 0x6E6E6E;
constexpr Colour lightGrey = 0xAAAAAA;
constexpr Colour brown = 0x083F82;
}  // namespace DisplayPalette

struct FontMetrics {
  int pointSize;       // tenths of a point the font was made with
  int charWidths[95];  // advance widths in pixels of characters 32..126
  int pixelHeight;     // |height| of the font's logical description
};

// Flags of TextItem and ReadoutItem.
namespace DisplayFlags {
constexpr std::uint16_t centre = 0x0001;
constexpr std::uint16_t underline = 0x0002;  // line at y + 2w under the top edge
constexpr std::uint16_t box = 0x0004;
constexpr std::uint16_t font266 = 0x0008;
constexpr std::uint16_t font213 = 0x0010;
constexpr std::uint16_t font160 = 0x0020;
constexpr std::uint16_t tenths = 0x0040;   // readout only
constexpr std::uint16_t digits1 = 0x0100;  // readout only
constexpr std::uint16_t digits2 = 0x0200;
constexpr std::uint16_t digits3 = 0x0400;
constexpr std::uint16_t digits4 = 0x0800;
constexpr std::uint16_t font200 = 0x1000;  // text item only
constexpr std::uint16_t bracket = 0x2000;  // readout only
}  // namespace DisplayFlags

struct TextItem {
  int x;             // left edge, or centre with DisplayFlags::centre
  int y;             // top
  const char* text;  // first character "&" or "|": degree C / degree F
  Colour backColour;
  Colour textColour;
  std::uint16_t flags;
  Colour lineColour;
};

struct ReadoutItem {
  int x;
  int y;
  float value;
  int state;  // as SetTextColourByState
  Colour backColour;
  std::uint16_t flags;
  Colour lineColour;
};

struct DisplayLine {
  int x1;
  int y1;
  int x2;
  int y2;
};

// A pre-drawn strip (scale bitmap) for the copies and the tapes.
struct BitmapRecord {
  platform::DeviceContext* pSourceDC;  // memory DC holding the strip
  platform::Rect destRect;             // window on m_pDC
  int sourceWidth;                     // strip size in pixels (stretched copy)
  int sourceHeight;
  double topValue;       // value at the strip's top (left) edge
  double span;           // value units the window shows
  double pixelsPerUnit;  // strip pixels per value unit
  bool horizontal;       // copy offset runs along x instead of y
  // Wrapping tape (digit drum): strip offsets in pixels at the values 0 and
  // 10; the offset is interpolated linearly between them.
  int wrapOffsetAt0;
  int wrapOffsetAt10;
};

class BaseDisplay {
 public:
  static constexpr int kFontCount = 7;
  static constexpr int kFontSlots = 8;
  static constexpr int kRotatedFonts = 360;

  BaseDisplay();
  ~BaseDisplay();
  BaseDisplay(const BaseDisplay&) = delete;
  BaseDisplay& operator=(const BaseDisplay&) = delete;

  // Resources.
  void SetDC(platform::DeviceContext* pDC);
  void SetDC(platform::DeviceContext* pDC, int auxiliary);
  void AttachDC(platform::DeviceContext* pDC);
  void EnsureFonts();
  // scale clamped to 0..1; no effect once the fonts exist.
  void SetScale(double scale);
  BaseDisplay& UseArialForFixedFont();
  double GetScale() const { return m_scale; }
  int GetLineGap() const { return m_lineGap; }
  int GetTextHeight() const;
  platform::DeviceContext* GetDC() const { return m_pDC; }
  int GetAuxiliary() const { return m_nAuxiliary; }
  bool FontsCreated() const { return m_bFontsCreated; }
  // Metrics of the font of a size code (any other code: the 213 font).
  const FontMetrics& GetFontMetrics(int sizeCode) const;
  // Font object of a size code, or null while the fonts do not exist.
  const platform::Font* GetFont(int sizeCode) const;
  // Process-wide rotated font i (0..359) of set 0 (213 code) or 1.
  static const platform::Font* GetRotatedFont(int set, int i);

  // skip non-zero: nothing. widthClass -1: wide black/red pens only.
  void SelectPen(bool skip, int widthClass, Colour colour);
  void SelectPen(int widthClass, Colour colour) { SelectPen(false, widthClass, colour); }
  const platform::Brush* SelectBrush(Colour colour);
  void SelectFontBySize(int sizeCode);
  bool SetTextColourByState(int state);
  static Colour SnapColour(Colour colour);

  // Text. Null texts draw nothing and measure 0.
  void DrawTextAt(int x, int y, const char* text);
  int TextExtentWidth(int sizeCode, const char* text);
  int TextExtentHeight(int sizeCode, const char* text);
  void DrawText(int x, int y, const char* text, Colour backColour, Colour textColour, int sizeCode,
                bool centre);
  void DrawText(int x, int y, const char* text, Colour backColour, Colour textColour, int sizeCode);
  void DrawText(platform::Point pt, const char* text, Colour backColour, Colour textColour,
                int sizeCode, bool centre = false);
  void DrawChar(int x, int y, int character, Colour backColour, Colour textColour, int sizeCode);
  void DrawCaption(int x, int y, const char* text, Colour backColour, Colour textColour);
  void DrawUnderlinedText(int x, int y, const char* text, Colour backColour, Colour textColour,
                          int sizeCode, bool shift);
  void DrawUnderlinedText(int x, int y, const char* text, Colour backColour, Colour textColour,
                          int sizeCode);
  void DrawUnderlinedCaption(int x, int y, const char* text, Colour backColour, Colour textColour);
  void DrawTransparentText(int x, int y, const char* text, Colour textColour, int sizeCode);
  void DrawBoxedCaption(const char* text, int x, int y, Colour backColour, Colour textColour);
  // size in tenths of a point.
  void DrawFreeSizeText(platform::Point pt, const char* text, Colour backColour, Colour textColour,
                        int size);
  void DrawTiltedBoldText(int x, int y, const char* text);
  // angle in degrees clockwise; only |angle| <= 360 draws.
  void DrawRotatedText(int x, int y, const char* text, int sizeCode, Colour textColour,
                       double angle);
  void DrawTextItem(const TextItem& item);
  void DrawSmallTextItem(TextItem& item, bool lower);

  // Numbers: integer part in the 213 font, tenths digit in the 160 font.
  void DrawNumber(int x, int y, double value, bool tenths);
  void DrawNumberCentred(int x, int y, double value, bool tenths);
  void DrawColouredNumber(int x, int y, double value, bool tenths, Colour backColour,
                          Colour colour);
  void DrawColouredNumberCentred(int x, int y, double value, bool tenths, Colour backColour,
                                 Colour colour);
  void DrawNumberByState(int x, int y, float value, int state, bool tenths, Colour backColour,
                         Colour colour);
  void DrawCentredNumberByState(int x, int y, float value, int state, bool tenths,
                                Colour backColour);
  void DrawStateNumber(int x, int y, float value, int state, bool tenths);
  void DrawIntegerByState(int state, int x, int y, int value, bool tenths);
  void DrawIntegerLabel(platform::Point pt, int value, Colour backColour, Colour textColour,
                        int sizeCode);
  void DrawRealLabel(platform::Point pt, double value, Colour backColour, Colour textColour,
                     int sizeCode);
  void DrawReadout(const ReadoutItem& item);
  // The placeholder (box width) and number texts of a readout; returns
  // whether a box is wanted. placeholder holds 50 bytes, number 20.
  static bool FormatReadout(const ReadoutItem& item, int whole, char* placeholder, char* number);

  // Lines and shapes.
  void DrawLine(const DisplayLine& line, int widthClass, Colour colour);
  void DrawDashedLine(const DisplayLine& line, Colour colour);
  void DrawThickLine(const DisplayLine& line, int widthClass, Colour colour);
  void DrawCircle(int x, int y, int radius, int widthClass, Colour colour, Colour fillColour);
  void DrawCircle(int x, int y, int radius, int widthClass, Colour colour);
  void DrawCircle(int x, int y, int radius);
  void DrawEllipse(const platform::Rect& rect, int widthClass, Colour colour);
  void DrawFilledEllipse(const platform::Rect& rect, Colour colour);
  void DrawArc(const platform::Rect& rect, platform::Point start, platform::Point end,
               int widthClass, Colour colour);
  void DrawArc(const platform::Rect& rect, int widthClass, Colour colour);
  void DrawDashedArc(const platform::Rect& rect, platform::Point start, platform::Point end,
                     Colour colour);
  void FillRectangle(const platform::Rect& rect, Colour colour);
  void DrawRectangleOutline(const platform::Rect& rect);
  void DrawRectangleOutline(const platform::Rect& rect, Colour colour);
  void DrawRectangleOutline(const platform::Rect& rect, int widthClass, Colour colour);
  void DrawFramedRectangle(const platform::Rect& rect, Colour colour);
  void FillAnyColour(const platform::Rect& rect, Colour colour);
  void FillSolid(int x, int y, int cx, int cy, Colour colour);
  void DrawLabelledBox(const platform::Rect& rect, const char* label, Colour colour,
                       Colour labelColour);
  void DrawSwitch(platform::Point centre, int halfSize, int widthClass, int position);
  // kind 1/4: circle with vertical stroke; 2/3: horizontal; 10: crossed out.
  void DrawMarker(int x, int y, int kind, int size, Colour colour, Colour fillColour);

  // Needles and scales. Angles of needles: degrees clockwise from up.
  static void PolarOffset(platform::Point& out, int radius, double angleRadians);
  void DrawPercentNeedle(platform::Point centre, int radius, double percent, int widthClass,
                         Colour colour);
  void DrawDegreeNeedle(platform::Point centre, int radius, double degrees, int widthClass,
                        Colour colour);
  void DrawPlainDegreeNeedle(platform::Point centre, int radius, double degrees, int widthClass,
                             Colour colour);
  void DrawArrowhead(platform::Point centre, int radius, int length, double degrees, int widthClass,
                     Colour colour);
  void DrawHorizontalScaleLabels(int length);
  void DrawVerticalScaleLabels(int length);
  static double PercentOfLength(double percent, int length);
  static double Scale(int a, double x);

  // Bitmaps.
  void CopyBitmap(const platform::Rect& rect, platform::DeviceContext* pSourceDC);
  void CopyBitmapAt(const platform::Rect& dest, platform::DeviceContext* pSourceDC,
                    platform::Point source);
  void StretchBitmap(const BitmapRecord& record);
  void DrawTape(const BitmapRecord& record, double value);
  void DrawWrappingTape(const BitmapRecord& record, double value);

 private:
  void CreateFonts(const int sizes[kFontCount]);
  void CreatePens();
  void CreateBrushes();
  void CreateRotatedFonts(int sizeA, int sizeB);
  void DeleteResources();
  void MeasureFont(int slot, FontMetrics& metrics);
  platform::Font* FontForCode(int sizeCode);
  const platform::Brush& BrushFor(Colour colour) const;
  void SelectPenObject(platform::Pen& pen);
  void SelectBrushObject(const platform::Brush& brush);
  // Undo a temporary selection: select previous again, or the context's own
  // default when previous is null (nothing was selected before), so the
  // temporary object can be released while the context does not hold it.
  void RestoreFont(const platform::Font* previous);
  void RestoreBrush(const platform::Brush* previous);
  void DrawTextOut(int x, int y, const char* text);
  void DrawClosedPath(const platform::Point (&corners)[4]);
  // The arrowhead is drawn when bArrowhead is set, whatever the sign of its
  // length (a negative width class gives a negative length).
  void DrawNeedle(platform::Point centre, int radius, double degrees, int widthClass, Colour colour,
                  bool bArrowhead, int arrowLength);
  // A number from its parts: whole in the 213 font, tenth (0..9) after it in
  // the 160 font when tenths is set.
  void DrawNumberParts(int x, int y, int whole, int tenth, bool tenths);
  void DrawNumberCentredParts(int x, int y, int whole, int tenth, bool tenths);
  void BlitStrip(const BitmapRecord& record, int offset);

 public:
  char m_markFahrenheit[3];
  char m_markCelsius[3];
  char m_markDegree[2];

 private:
  platform::DeviceContext* m_pDC;
  FontMetrics m_fontMetrics[kFontCount];  // 266, 213, 160, 200, 193, 140, 240
  int m_lineGap;
  double m_scale;
  bool m_useArialForFixed;
  int m_nAuxiliary;
  platform::Font m_fonts[kFontSlots];  // 240, 213, 160, 140, 193, 266, spare, 200
  platform::DeviceContext* m_pFontDC[kFontCount];
  platform::LogFont m_logFont;
  bool m_bFontsCreated;
  bool m_bPensCreated;
  bool m_bBrushesCreated;
  platform::Pen m_pens[10][3];
  platform::Pen m_extraPens[16];
  const platform::Brush* m_pCurrentBrush;
  platform::Brush m_brushes[10];
};

// Hands the toolkit's revision strings to configuration control, once per
// process (the first object's constructor calls it).
void RegisterBaseDisplay();
