// BaseDisplay drawing operations: text, text items, numbers and readouts,
// lines and shapes, needles and scale labels, rotated text, bitmap copies
// and tapes. Every operation draws into m_pDC and does nothing while it is
// null; null texts never reach the device context.
// Threading: the thread that owns the device context.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "display/BaseDisplay.h"
#include "text/TextFcns.h"

namespace {

using namespace DisplayPalette;
using platform::Point;
using platform::Rect;

constexpr double kPi = 3.14159265358979323846;

// Extra pens (wide, dashed, geometric) by position in m_extraPens.
enum ExtraPenIndex {
  kWideBlack,
  kWideRed,
  kDashedWhite,
  kDashedOrange,
  kDashedGreen,
  kDashedCyan,
  kDashedRed,
  kThickBlue,
  kThickGreen,
  kThinWhite,
  kMediumCyan,
  kThinGreen,
  kThickGrey,
  kMediumGrey,
  kMediumYellow,
  kThickMagenta
};

// Truncation toward zero that stays defined: NaN gives 0 and values beyond
// the int range stop at its ends.
int Truncate(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= 2147483647.0) {
    return 2147483647;
  }
  if (value <= -2147483648.0) {
    return -2147483647 - 1;
  }
  return static_cast<int>(value);
}

// The tenths digit (0..9) of a value: its first decimal, without sign. It
// comes from the value's own fraction, so a value beyond the int range
// (whose whole part stops at the range's end) still gives a digit, and
// NaN and infinities give 0.
int TenthsDigit(double value) { return Truncate(std::fabs(value - std::trunc(value)) * 10.0); }

// The same in float, for float fields: 0.7f is 0.69999999 in double, whose
// first decimal is 6. Scaled by 10 in float the product rounds to the float
// grid (0.7f * 10 is 7, 250.7f * 10 is 2507), so the digit is the one the
// value was written with. A product rounding up to the next whole (0.99999994f)
// keeps 9.
int TenthsDigit(float value) {
  const float tenths = std::fabs(std::trunc(value * 10.0f) - std::trunc(value) * 10.0f);
  const int digit = Truncate(static_cast<double>(tenths));
  return digit > 9 ? 9 : digit;
}

int TextLength(const char* text) { return static_cast<int>(std::strlen(text)); }

// The font code of a text item's or readout's flags: later tests win.
int FontCodeOfFlags(std::uint16_t flags, bool textItem) {
  int code = 0;
  if (flags & DisplayFlags::font266) code = 266;
  if (flags & DisplayFlags::font213) code = 213;
  if (flags & DisplayFlags::font160) code = 160;
  if (textItem && (flags & DisplayFlags::font200)) code = 200;
  return code;
}

// Needle point at degrees (clockwise from up) and radius from the centre.
Point NeedlePoint(Point centre, int radius, double degrees) {
  const double a = degrees * kPi / 180.0;
  return {centre.x + Truncate(std::sin(a) * radius), centre.y - Truncate(std::cos(a) * radius)};
}

}  // namespace

// Text.

void BaseDisplay::DrawTextOut(int x, int y, const char* text) {
  if (m_pDC == nullptr || text == nullptr) {
    return;
  }
  m_pDC->TextOutAt(x, y, text, TextLength(text));
}

void BaseDisplay::DrawTextAt(int x, int y, const char* text) { DrawTextOut(x, y, text); }

int BaseDisplay::TextExtentWidth(int sizeCode, const char* text) {
  if (m_pDC == nullptr || text == nullptr) {
    return 0;
  }
  SelectFontBySize(sizeCode);
  return m_pDC->TextExtent(text, TextLength(text)).cx;
}

int BaseDisplay::TextExtentHeight(int sizeCode, const char* text) {
  if (m_pDC == nullptr || text == nullptr) {
    return 0;
  }
  SelectFontBySize(sizeCode);
  return m_pDC->TextExtent(text, TextLength(text)).cy;
}

void BaseDisplay::DrawText(int x, int y, const char* text, Colour backColour, Colour textColour,
                           int sizeCode, bool centre) {
  if (m_pDC == nullptr || text == nullptr) {
    return;
  }
  m_pDC->SetBkColour(backColour);
  SelectFontBySize(sizeCode);
  m_pDC->SetTextColour(textColour);
  const int x0 = centre ? x - TextExtentWidth(sizeCode, text) / 2 : x;
  DrawTextOut(x0, y, text);
}

void BaseDisplay::DrawText(int x, int y, const char* text, Colour backColour, Colour textColour,
                           int sizeCode) {
  DrawText(x, y, text, backColour, textColour, sizeCode, false);
}

void BaseDisplay::DrawText(Point pt, const char* text, Colour backColour, Colour textColour,
                           int sizeCode, bool centre) {
  DrawText(pt.x, pt.y, text, backColour, textColour, sizeCode, centre);
}

void BaseDisplay::DrawChar(int x, int y, int character, Colour backColour, Colour textColour,
                           int sizeCode) {
  const char text[2] = {static_cast<char>(character), '\0'};
  DrawText(x, y, text, backColour, textColour, sizeCode, false);
}

void BaseDisplay::DrawCaption(int x, int y, const char* text, Colour backColour,
                              Colour textColour) {
  DrawText(x, y, text, backColour, textColour, 213, false);
}

void BaseDisplay::DrawUnderlinedText(int x, int y, const char* text, Colour backColour,
                                     Colour textColour, int sizeCode, bool shift) {
  if (m_pDC == nullptr || text == nullptr || text[0] == '\0') {
    return;
  }
  m_pDC->SetBkColour(backColour);
  SelectFontBySize(sizeCode);
  m_pDC->SetTextColour(textColour);
  const int width = TextExtentWidth(sizeCode, text);
  const int h = TextExtentHeight(sizeCode, "X");
  const int x0 = shift ? x + width / 2 : x;
  DrawTextOut(x0, y, text);
  SelectPen(0, textColour);
  m_pDC->MoveTo(x0, y + h + 2);
  m_pDC->LineTo(x0 + width + 2, y + h + 2);
}

void BaseDisplay::DrawUnderlinedText(int x, int y, const char* text, Colour backColour,
                                     Colour textColour, int sizeCode) {
  DrawUnderlinedText(x, y, text, backColour, textColour, sizeCode, false);
}

void BaseDisplay::DrawUnderlinedCaption(int x, int y, const char* text, Colour backColour,
                                        Colour textColour) {
  DrawUnderlinedText(x, y, text, backColour, textColour, 213, false);
}

void BaseDisplay::DrawTransparentText(int x, int y, const char* text, Colour textColour,
                                      int sizeCode) {
  if (m_pDC == nullptr || text == nullptr) {
    return;
  }
  SelectFontBySize(sizeCode);
  m_pDC->SetTextColour(textColour);
  m_pDC->SetBkMode(platform::kTransparent);
  DrawTextOut(x, y, text);
  m_pDC->SetBkMode(platform::kOpaque);
}

void BaseDisplay::DrawBoxedCaption(const char* text, int x, int y, Colour backColour,
                                   Colour textColour) {
  if (m_pDC == nullptr || text == nullptr) {
    return;
  }
  m_pDC->SetBkColour(backColour);
  SelectFontBySize(213);
  m_pDC->SetTextColour(textColour);
  SelectPen(3, textColour);
  DrawTextOut(x, y, text);
  const int width = TextExtentWidth(213, text);
  DrawRectangleOutline(Rect{x - 5, y - 5, x + width + 2, y + GetTextHeight() + 8});
}

void BaseDisplay::DrawFreeSizeText(Point pt, const char* text, Colour backColour, Colour textColour,
                                   int size) {
  if (m_pDC == nullptr || text == nullptr) {
    return;
  }
  platform::Font font;
  if (!font.CreatePointFont(size, "Arial", m_pDC)) {
    return;
  }
  const platform::Font* previous = m_pDC->SelectFont(&font);
  m_pDC->SetBkColour(backColour);
  m_pDC->SetTextColour(textColour);
  DrawTextOut(pt.x, pt.y - size / 20, text);
  // The font goes with this call and a selected font cannot be released:
  // put back what was there, the context's own font on a fresh context.
  RestoreFont(previous);
}

void BaseDisplay::DrawTiltedBoldText(int x, int y, const char* text) {
  if (m_pDC == nullptr || text == nullptr) {
    return;
  }
  platform::Font& tilted = m_fonts[6];
  if (!tilted.IsCreated()) {
    platform::LogFont logFont{};
    logFont.height = 240;
    logFont.weight = platform::kWeightBold;
    logFont.escapement = 3500;
    std::strcpy(logFont.faceName, "Arial");
    tilted.CreatePointFontIndirect(logFont, m_pDC);
  }
  if (tilted.IsCreated()) {
    m_pDC->SelectFont(&tilted);
  }
  DrawTextOut(x, y, text);
}

void BaseDisplay::DrawRotatedText(int x, int y, const char* text, int sizeCode, Colour textColour,
                                  double angle) {
  if (m_pDC == nullptr || text == nullptr || !(std::fabs(angle) < 361.0)) {
    return;
  }
  int r = std::abs(Truncate(angle));
  if (r > 360) {
    return;
  }
  if (r == 360) {
    r = 0;
  }
  const platform::Font* font = GetRotatedFont(sizeCode == 213 ? 0 : 1, r);
  if (font != nullptr) {
    m_pDC->SelectFont(font);
  }
  m_pDC->SetBkColour(black);
  m_pDC->SetTextColour(textColour);
  m_pDC->SetBkMode(platform::kTransparent);
  DrawTextOut(x, y, text);
  m_pDC->SetBkMode(platform::kOpaque);
}

void BaseDisplay::DrawClosedPath(const Point (&corners)[4]) {
  m_pDC->MoveTo(corners[0].x, corners[0].y);
  for (int i = 1; i < 4; ++i) {
    m_pDC->LineTo(corners[i].x, corners[i].y);
  }
  m_pDC->LineTo(corners[0].x, corners[0].y);
}

void BaseDisplay::DrawTextItem(const TextItem& item) {
  if (m_pDC == nullptr || item.text == nullptr) {
    return;
  }
  const int code = FontCodeOfFlags(item.flags, true);
  const int w = code == 160 ? 1 : 2;
  m_pDC->SetBkColour(item.backColour);
  m_pDC->SetTextColour(item.textColour);
  SelectFontBySize(code);
  const int width = TextExtentWidth(code, item.text);
  const int height = TextExtentHeight(code, item.text);
  const int x0 = (item.flags & DisplayFlags::centre) ? item.x - width / 2 : item.x;
  const int y0 = item.y;
  const bool bCelsius = item.text[0] == m_markCelsius[0];
  if (bCelsius || item.text[0] == m_markFahrenheit[0]) {
    // Only the marker is drawn, as a degree dot and its letter.
    SelectPen(0, item.textColour);
    m_pDC->Ellipse(Rect{x0 - 2, y0 + 1, x0 + 2, y0 + 4});
    DrawTextOut(x0 + 3, y0, bCelsius ? "C" : "F");
  } else {
    DrawTextOut(x0, y0, item.text);
  }
  if (item.flags & DisplayFlags::underline) {
    SelectPen(w, item.lineColour);
    m_pDC->MoveTo(x0, y0 + 2 * w);
    m_pDC->LineTo(x0 + width, y0 + 2 * w);
  }
  if (item.flags & DisplayFlags::box) {
    SelectPen(w, item.lineColour);
    DrawClosedPath({{x0 - 2 * w, y0 - w},
                    {x0 + 2 * w + width, y0 - w},
                    {x0 + 2 * w + width, y0 + height + w},
                    {x0 - 2 * w, y0 + height + w}});
  }
}

void BaseDisplay::DrawSmallTextItem(TextItem& item, bool lower) {
  if (lower) {
    item.y += m_lineGap;
    item.flags |= DisplayFlags::font160;
  }
  DrawTextItem(item);
}

// Numbers.

void BaseDisplay::DrawNumber(int x, int y, double value, bool tenths) {
  DrawNumberParts(x, y, Truncate(value), TenthsDigit(value), tenths);
}

void BaseDisplay::DrawNumberCentred(int x, int y, double value, bool tenths) {
  DrawNumberCentredParts(x, y, Truncate(value), TenthsDigit(value), tenths);
}

void BaseDisplay::DrawNumberParts(int x, int y, int whole, int tenth, bool tenths) {
  if (m_pDC == nullptr) {
    return;
  }
  char text[20];
  FormatTextSafe(text, sizeof text, "%d", whole);
  SelectFontBySize(213);
  DrawTextOut(x, y, text);
  if (tenths) {
    const int width = TextExtentWidth(213, text);
    FormatTextSafe(text, sizeof text, ".%d", tenth);
    SelectFontBySize(160);
    DrawTextOut(x + width, y + m_lineGap, text);
  }
}

void BaseDisplay::DrawNumberCentredParts(int x, int y, int whole, int tenth, bool tenths) {
  if (m_pDC == nullptr) {
    return;
  }
  char text[20];
  FormatTextSafe(text, sizeof text, "%d", whole);
  const int width = TextExtentWidth(213, text);
  const int x0 = x - width / 2;
  SelectFontBySize(213);
  DrawTextOut(x0, y, text);
  if (tenths) {
    FormatTextSafe(text, sizeof text, ".%d", tenth);
    SelectFontBySize(160);
    DrawTextOut(x0 + width + 1, y + m_lineGap, text);
  }
}

void BaseDisplay::DrawColouredNumber(int x, int y, double value, bool tenths, Colour backColour,
                                     Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->SetTextColour(SnapColour(colour));
  m_pDC->SetBkColour(backColour);
  DrawNumber(x, y, value, tenths);
}

void BaseDisplay::DrawColouredNumberCentred(int x, int y, double value, bool tenths,
                                            Colour backColour, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->SetTextColour(SnapColour(colour));
  m_pDC->SetBkColour(backColour);
  DrawNumberCentred(x, y, value, tenths);
}

void BaseDisplay::DrawNumberByState(int x, int y, float value, int state, bool tenths,
                                    Colour backColour, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->SetTextColour(SnapColour(colour));
  m_pDC->SetBkColour(backColour);
  if (SetTextColourByState(state)) {
    DrawNumberParts(x, y, Truncate(value), TenthsDigit(value), tenths);
  } else {
    DrawTextOut(x, y, "XXX");
  }
}

void BaseDisplay::DrawCentredNumberByState(int x, int y, float value, int state, bool tenths,
                                           Colour backColour) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->SetTextColour(red);
  m_pDC->SetBkColour(backColour);
  if (SetTextColourByState(state)) {
    DrawNumberCentredParts(x, y, Truncate(value), TenthsDigit(value), tenths);
    return;
  }
  const platform::Font* font = GetFont(213);
  const bool bSelected = font != nullptr && font->IsCreated();
  const platform::Font* previous = bSelected ? m_pDC->SelectFont(font) : nullptr;
  m_pDC->SetTextColour(orange);
  DrawTextOut(x - 24, y, "XXX");  // 8 pixels per character left of x
  if (bSelected) {
    RestoreFont(previous);
  }
}

void BaseDisplay::DrawStateNumber(int x, int y, float value, int state, bool tenths) {
  if (m_pDC == nullptr) {
    return;
  }
  SetTextColourByState(state);
  if (state == 0 || state == 4 || state == 5) {
    DrawNumberParts(x, y, Truncate(value), TenthsDigit(value), tenths);
  } else if (state == 1) {
    m_pDC->SetTextColour(orange);
    m_pDC->SetBkColour(black);
    SelectFontBySize(213);
    DrawTextOut(x, y, "XXX");
  }
}

void BaseDisplay::DrawIntegerByState(int state, int x, int y, int value, bool tenths) {
  if (m_pDC == nullptr) {
    return;
  }
  switch (state) {
    case 0:
      DrawColouredNumber(x, y, value, tenths, black, green);
      break;
    case 1:
      m_pDC->SetTextColour(orange);
      m_pDC->SetBkColour(black);
      SelectFontBySize(213);
      DrawTextOut(x, y, "XXX");
      break;
    case 4:
      DrawColouredNumber(x, y, value, tenths, black, yellow);
      break;
    case 5:
      DrawColouredNumber(x, y, value, tenths, black, red);
      break;
    default:
      break;
  }
}

void BaseDisplay::DrawIntegerLabel(Point pt, int value, Colour backColour, Colour textColour,
                                   int sizeCode) {
  char text[20];
  FormatTextSafe(text, sizeof text, "%d", value);
  DrawText(pt.x, pt.y, text, backColour, textColour, sizeCode, true);
}

void BaseDisplay::DrawRealLabel(Point pt, double value, Colour backColour, Colour textColour,
                                int sizeCode) {
  char text[50];
  FormatTextSafe(text, sizeof text, "%f", value);
  DrawText(pt.x, pt.y, text, backColour, textColour, sizeCode, true);
}

bool BaseDisplay::FormatReadout(const ReadoutItem& item, int whole, char* placeholder,
                                char* number) {
  const bool bTenths = (item.flags & DisplayFlags::tenths) != 0;
  bool bBox = true;
  if (item.flags & DisplayFlags::digits1) {
    FormatTextSafe(placeholder, 50, "%s", bTenths ? "Xx" : "X");
    FormatTextSafe(number, 20, "%1d", whole);
  } else if (item.flags & DisplayFlags::digits2) {
    FormatTextSafe(placeholder, 50, "%s", bTenths ? "XXx" : "XX");
    FormatTextSafe(number, 20, "% 2d", whole);
  } else if (item.flags & DisplayFlags::digits3) {
    FormatTextSafe(placeholder, 50, "%s", bTenths ? "XXXx" : "XXX");
    FormatTextSafe(number, 20, "% 3d", whole);
  } else if (item.flags & DisplayFlags::digits4) {
    FormatTextSafe(placeholder, 50, "%s", bTenths ? "XXXXx" : "XXXX");
    FormatTextSafe(number, 20, "% 4d", whole);
  } else {
    if (bTenths) {
      FormatTextSafe(placeholder, 50, "%dx", whole);
    } else {
      FormatTextSafe(placeholder, 50, "%d", whole);
    }
    FormatTextSafe(number, 20, "%d", whole);
    bBox = (item.flags & DisplayFlags::box) != 0;
  }
  return bBox;
}

void BaseDisplay::DrawReadout(const ReadoutItem& item) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->SetBkColour(item.backColour);
  if (!SetTextColourByState(item.state)) {
    return;
  }
  const int whole = Truncate(item.value);
  const int tenth = TenthsDigit(item.value);
  const int code = FontCodeOfFlags(item.flags, false);
  const int w = code == 160 ? 1 : 2;
  SelectFontBySize(code);
  char placeholder[50];
  char number[20];
  const bool bBox = FormatReadout(item, whole, placeholder, number);
  const int pw = TextExtentWidth(code, placeholder);
  const int ph = TextExtentHeight(code, placeholder);
  const int x0 = (item.flags & DisplayFlags::centre) ? item.x - pw / 2 : item.x;
  const int y0 = item.y;
  const int nw = TextExtentWidth(code, number);
  DrawTextOut(x0, y0, number);
  if (item.flags & DisplayFlags::tenths) {
    char tenths[20];
    FormatTextSafe(tenths, sizeof tenths, ".%d", tenth);
    const int th = TextExtentHeight(160, tenths);
    SelectFontBySize(160);
    DrawTextOut(x0 + nw + 1, ph < 31 ? y0 + ph - th : y0 + ph - th - 1, tenths);
  }
  if (item.flags & DisplayFlags::underline) {
    SelectPen(w, item.lineColour);
    m_pDC->MoveTo(x0, y0 + 2 * w);
    m_pDC->LineTo(x0 + pw, y0 + 2 * w);
  }
  if (bBox) {
    SelectPen(w, item.lineColour);
    DrawClosedPath({{x0 - w, y0 - w},
                    {x0 + w + pw, y0 - w},
                    {x0 + w + pw, y0 + ph + w},
                    {x0 - w, y0 + ph + w}});
  }
  if (item.flags & DisplayFlags::bracket) {
    SelectPen(w, item.lineColour);
    m_pDC->MoveTo(x0, y0 + ph);
    m_pDC->LineTo(x0 + pw + 2 * w, y0 + ph);
    m_pDC->MoveTo(x0 + pw + 2 * w, y0 + 2 * w);
    m_pDC->LineTo(x0 + pw + 2 * w, y0 + ph);
  }
}

// Lines and shapes.

void BaseDisplay::DrawLine(const DisplayLine& line, int widthClass, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPen(widthClass, colour);
  m_pDC->MoveTo(line.x1, line.y1);
  m_pDC->LineTo(line.x2, line.y2);
}

void BaseDisplay::DrawDashedLine(const DisplayLine& line, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->SetBkColour(black);
  int pen = kDashedOrange;
  if (colour == cyan || colour == blue) {
    pen = kDashedCyan;
  } else if (colour == white) {
    pen = kDashedWhite;
  } else if (colour == green) {
    pen = kDashedGreen;
  }
  SelectPenObject(m_extraPens[pen]);
  m_pDC->MoveTo(line.x1, line.y1);
  m_pDC->LineTo(line.x2, line.y2);
}

void BaseDisplay::DrawThickLine(const DisplayLine& line, int widthClass, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  int pen = -1;
  switch (colour) {
    case blue:
      pen = kThickBlue;
      break;
    case cyan:
      pen = kMediumCyan;
      break;
    case white:
      pen = kThinWhite;
      break;
    case magenta:
      pen = kThickMagenta;
      break;
    case yellow:
      pen = kMediumYellow;
      break;
    case green:
      pen = widthClass < 3 ? kThinGreen : kThickGreen;
      break;
    case grey:
      pen = widthClass < 3 ? kMediumGrey : kThickGrey;
      break;
    default:
      return;
  }
  SelectPenObject(m_extraPens[pen]);
  m_pDC->MoveTo(line.x1, line.y1);
  m_pDC->LineTo(line.x2, line.y2);
}

void BaseDisplay::DrawCircle(int x, int y, int radius, int widthClass, Colour colour,
                             Colour fillColour) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPen(widthClass, colour);
  SelectBrush(fillColour);
  m_pDC->Ellipse(Rect{x - radius, y - radius, x + radius, y + radius});
}

void BaseDisplay::DrawCircle(int x, int y, int radius, int widthClass, Colour colour) {
  DrawCircle(x, y, radius, widthClass, colour, black);
}

void BaseDisplay::DrawCircle(int x, int y, int radius) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPenObject(m_extraPens[kDashedWhite]);
  SelectBrush(black);
  m_pDC->Ellipse(Rect{x - radius, y - radius, x + radius, y + radius});
}

void BaseDisplay::DrawEllipse(const Rect& rect, int widthClass, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPen(widthClass, colour);
  m_pDC->Ellipse(rect);
}

void BaseDisplay::DrawFilledEllipse(const Rect& rect, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPen(0, colour);
  SelectBrush(colour);
  m_pDC->Ellipse(rect);
}

void BaseDisplay::DrawArc(const Rect& rect, Point start, Point end, int widthClass, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPen(widthClass, colour);
  m_pDC->Arc(rect, start, end);
}

void BaseDisplay::DrawArc(const Rect& rect, int widthClass, Colour colour) {
  const Point corner{rect.left, rect.top};
  DrawArc(rect, corner, corner, widthClass, colour);
}

void BaseDisplay::DrawDashedArc(const Rect& rect, Point start, Point end, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  if (colour == red) {
    SelectPenObject(m_extraPens[kDashedRed]);
  } else if (colour == orange) {
    SelectPenObject(m_extraPens[kDashedOrange]);
  } else if (colour == white) {
    SelectPenObject(m_extraPens[kDashedWhite]);
  } else {
    SelectPen(0, red);
  }
  m_pDC->Arc(rect, start, end);
}

void BaseDisplay::FillRectangle(const Rect& rect, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->FillRect(rect, BrushFor(colour));
  SelectBrush(black);
}

void BaseDisplay::DrawRectangleOutline(const Rect& rect) {
  if (m_pDC == nullptr) {
    return;
  }
  DrawClosedPath({{rect.left, rect.top},
                  {rect.right, rect.top},
                  {rect.right, rect.bottom},
                  {rect.left, rect.bottom}});
}

void BaseDisplay::DrawRectangleOutline(const Rect& rect, Colour colour) {
  SelectPen(3, colour);
  DrawRectangleOutline(rect);
}

void BaseDisplay::DrawRectangleOutline(const Rect& rect, int widthClass, Colour colour) {
  SelectPen(widthClass, colour);
  DrawRectangleOutline(rect);
}

void BaseDisplay::DrawFramedRectangle(const Rect& rect, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPen(1, colour);
  const platform::Brush* previous = m_pDC->SelectBrush(&BrushFor(colour));
  m_pDC->Rectangle(rect);
  if (previous != nullptr) {
    m_pDC->SelectBrush(previous);
  }
}

void BaseDisplay::FillAnyColour(const Rect& rect, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  platform::Brush brush;
  if (brush.CreateSolidBrush(colour)) {
    m_pDC->FillRect(rect, brush);
  }
}

void BaseDisplay::FillSolid(int x, int y, int cx, int cy, Colour colour) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->FillSolidRect(x, y, cx, cy, colour);
}

void BaseDisplay::DrawLabelledBox(const Rect& rect, const char* label, Colour colour,
                                  Colour labelColour) {
  FillAnyColour(rect, colour);
  DrawCaption((rect.left + rect.right) / 2, rect.bottom - (GetTextHeight() + 4), label, colour,
              labelColour);
}

void BaseDisplay::DrawSwitch(Point centre, int halfSize, int widthClass, int position) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPen(widthClass, position == 5 ? orange : green);
  platform::Brush brush;
  const bool bTemporary = brush.CreateSolidBrush(black);
  const platform::Brush* previous = bTemporary ? m_pDC->SelectBrush(&brush) : nullptr;
  const int a = halfSize;
  m_pDC->Rectangle(Rect{centre.x - a, centre.y - a, centre.x + a, centre.y + a});
  if (position == 2 || position == 3) {
    m_pDC->MoveTo(centre.x - a, centre.y);
    m_pDC->LineTo(centre.x + a, centre.y);
  } else if (position == 1 || position == 4) {
    m_pDC->MoveTo(centre.x, centre.y - a);
    m_pDC->LineTo(centre.x, centre.y + a);
  }
  // The temporary brush goes with this call: put back what was there, the
  // context's own brush on a fresh context.
  if (bTemporary) {
    RestoreBrush(previous);
  }
}

void BaseDisplay::DrawMarker(int x, int y, int kind, int size, Colour colour, Colour fillColour) {
  if (m_pDC == nullptr) {
    return;
  }
  m_pDC->SetBkColour(fillColour);
  SelectBrush(fillColour);
  const int d = size;
  const int half = d / 2;
  const Rect square{x - half, y - half, x + d - half, y + d - half};
  switch (kind) {
    case 1:
    case 4:
      SelectPen(d / 15, colour);
      m_pDC->Ellipse(square);
      m_pDC->MoveTo(x, y + d - half);
      m_pDC->LineTo(x, y - half);
      break;
    case 2:
    case 3:
      SelectPen(d / 15, colour);
      m_pDC->Ellipse(square);
      m_pDC->MoveTo(x - half, y);
      m_pDC->LineTo(x + d - half, y);
      break;
    case 10: {
      SelectPen(d / 15, orange);
      m_pDC->Ellipse(square);
      const int t = (2 * d) / 10;
      m_pDC->MoveTo(x - half + t, y + d - half - t);
      m_pDC->LineTo(x + d - half - t, y - half + t);
      break;
    }
    default:
      break;
  }
}

// Needles and scales.

void BaseDisplay::PolarOffset(Point& out, int radius, double angleRadians) {
  out.x = Truncate(std::sin(angleRadians) * radius);
  out.y = Truncate(std::cos(angleRadians) * radius);
}

void BaseDisplay::DrawNeedle(Point centre, int radius, double degrees, int widthClass,
                             Colour colour, bool bArrowhead, int arrowLength) {
  if (m_pDC == nullptr) {
    return;
  }
  SelectPen(widthClass, colour);
  const Point tip = NeedlePoint(centre, radius, degrees);
  m_pDC->MoveTo(centre.x, centre.y);
  m_pDC->LineTo(tip.x, tip.y);
  if (bArrowhead) {
    DrawArrowhead(centre, radius, arrowLength, degrees < 0 ? degrees + 360 : degrees, widthClass,
                  colour);
  }
}

void BaseDisplay::DrawPercentNeedle(Point centre, int radius, double percent, int widthClass,
                                    Colour colour) {
  const double p = ClampD(0.0, percent, 100.0);
  DrawNeedle(centre, radius, p / 100 * 90 - 45, widthClass, colour, true, 4 * widthClass);
}

void BaseDisplay::DrawDegreeNeedle(Point centre, int radius, double degrees, int widthClass,
                                   Colour colour) {
  DrawNeedle(centre, radius, ClampD(0.0, degrees, 360.0), widthClass, colour, true, 3 * widthClass);
}

void BaseDisplay::DrawPlainDegreeNeedle(Point centre, int radius, double degrees, int widthClass,
                                        Colour colour) {
  DrawNeedle(centre, radius, ClampD(0.0, degrees, 360.0), widthClass, colour, false, 0);
}

void BaseDisplay::DrawArrowhead(Point centre, int radius, int length, double degrees,
                                int widthClass, Colour colour) {
  const Point tip = NeedlePoint(centre, radius, degrees);
  const Point right = NeedlePoint(centre, radius - length, degrees + 15);
  const Point left = NeedlePoint(centre, radius - length, degrees - 15);
  DrawThickLine(DisplayLine{tip.x, tip.y, right.x, right.y}, widthClass, colour);
  DrawThickLine(DisplayLine{tip.x, tip.y, left.x, left.y}, widthClass, colour);
}

void BaseDisplay::DrawHorizontalScaleLabels(int length) {
  for (int i = 0; i < 20; ++i) {
    const int value = 5 * i;
    const int position = Truncate(PercentOfLength(value, length));
    DrawColouredNumberCentred(10, position, value, false, black, cyan);
  }
}

void BaseDisplay::DrawVerticalScaleLabels(int length) {
  for (int i = 0; i < 20; ++i) {
    const int value = 5 * i;
    const int position = Truncate(PercentOfLength(value, length));
    DrawColouredNumberCentred(position, 90, value, false, black, cyan);
  }
}

double BaseDisplay::PercentOfLength(double percent, int length) { return percent / 100 * length; }

double BaseDisplay::Scale(int a, double x) { return a * x; }

// Bitmaps.

void BaseDisplay::CopyBitmap(const Rect& rect, platform::DeviceContext* pSourceDC) {
  if (m_pDC == nullptr || pSourceDC == nullptr) {
    return;
  }
  m_pDC->BitBlt(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, pSourceDC,
                rect.left, rect.top, platform::kSrcCopy);
}

void BaseDisplay::CopyBitmapAt(const Rect& dest, platform::DeviceContext* pSourceDC, Point source) {
  if (m_pDC == nullptr || pSourceDC == nullptr) {
    return;
  }
  m_pDC->BitBlt(dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, pSourceDC,
                source.x, source.y, platform::kSrcCopy);
}

void BaseDisplay::StretchBitmap(const BitmapRecord& record) {
  if (m_pDC == nullptr || record.pSourceDC == nullptr) {
    return;
  }
  const Rect& r = record.destRect;
  m_pDC->StretchBlt(r.left, r.top, r.right - r.left, r.bottom - r.top, record.pSourceDC, 0, 0,
                    record.sourceWidth, record.sourceHeight, platform::kSrcCopy);
}

void BaseDisplay::BlitStrip(const BitmapRecord& record, int offset) {
  if (m_pDC == nullptr || record.pSourceDC == nullptr) {
    return;
  }
  const Rect& r = record.destRect;
  const int srcX = record.horizontal ? offset : 0;
  const int srcY = record.horizontal ? 0 : offset;
  m_pDC->BitBlt(r.left, r.top, r.right - r.left, r.bottom - r.top, record.pSourceDC, srcX, srcY,
                platform::kSrcCopy);
}

void BaseDisplay::DrawTape(const BitmapRecord& record, double value) {
  // The value lands in the middle of the window.
  BlitStrip(record, Truncate(record.pixelsPerUnit * (record.topValue - value - record.span / 2)));
}

void BaseDisplay::DrawWrappingTape(const BitmapRecord& record, double value) {
  // A digit drum: values repeat every 10 units. fmod keeps huge values
  // from looping for ever; NaN shows 0.
  double v = std::isnan(value) ? 0.0 : std::fmod(value, 10.0);
  if (v < 0) {
    v += 10.0;
  }
  const double offset =
      record.wrapOffsetAt0 + (record.wrapOffsetAt10 - record.wrapOffsetAt0) * v / 10.0;
  BlitStrip(record, Truncate(offset));
}
