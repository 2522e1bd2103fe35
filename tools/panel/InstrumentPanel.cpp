// InstrumentPanel: a dial with needle and arrowhead, readouts, a boxed
// caption, a labelled box, markers, a switch, rotated scale labels and a
// scrolling tape, all drawn through BaseDisplay.
// Threading: one thread.
#include "tools/panel/InstrumentPanel.h"

#include <cmath>
#include <cstdio>

namespace panel {

namespace {

using namespace DisplayPalette;
using platform::Point;
using platform::Rect;

constexpr double kPi = 3.14159265358979323846;

// The tape's strip: a tick every 10 units, a number every 50.
bool DrawStrip(platform::DeviceContext& strip) {
  BaseDisplay display;
  display.AttachDC(&strip);
  display.FillSolid(0, 0, kStripWidth, kStripHeight, grey);
  for (int value = 0; value <= 500; value += 10) {
    const int y = static_cast<int>(kPixelsPerUnit * (kStripTop - value));
    const int length = value % 50 == 0 ? 16 : 8;
    display.DrawLine(DisplayLine{0, y, length, y}, 0, white);
    if (value % 50 == 0) {
      char text[8];
      std::snprintf(text, sizeof text, "%d", value);
      display.DrawText(20, y - 8, text, grey, white, 160);
    }
  }
  return true;
}

}  // namespace

bool DrawInstrumentPanel(BaseDisplay& display, platform::DeviceContext& dc) {
  display.AttachDC(&dc);
  display.FillSolid(0, 0, kWidth, kHeight, black);
  display.DrawRectangleOutline(Rect{2, 2, kWidth - 3, kHeight - 3}, 0, grey);

  // Dial: ring, ticks every 10 percent, rotated labels, needle and hub.
  const Point centre{kDialX, kDialY};
  display.DrawArc(
      Rect{kDialX - kDialRadius, kDialY - kDialRadius, kDialX + kDialRadius, kDialY + kDialRadius},
      Point{kDialX + kDialRadius, kDialY - kDialRadius},
      Point{kDialX - kDialRadius, kDialY - kDialRadius}, 3, lightGrey);
  for (int p = 0; p <= 100; p += 10) {
    const double a = (p / 100.0 * 90 - 45) * kPi / 180;
    const int inner = p % 50 == 0 ? kDialRadius - 16 : kDialRadius - 9;
    display.DrawLine(DisplayLine{kDialX + static_cast<int>(std::sin(a) * inner),
                                 kDialY - static_cast<int>(std::cos(a) * inner),
                                 kDialX + static_cast<int>(std::sin(a) * kDialRadius),
                                 kDialY - static_cast<int>(std::cos(a) * kDialRadius)},
                     p % 50 == 0 ? 3 : 0, white);
    if (p % 25 == 0 || p == 100) {
      char text[8];
      std::snprintf(text, sizeof text, "%d", p);
      const int r = kDialRadius + 14;
      display.DrawRotatedText(
          kDialX + static_cast<int>(std::sin(a) * r) - 8,
          kDialY - static_cast<int>(std::cos(a) * r) - 14, text, 160, cyan,
          p / 100.0 * 90 - 45 < 0 ? 360 + (p / 100.0 * 90 - 45) : p / 100.0 * 90 - 45);
    }
  }
  display.DrawPercentNeedle(centre, kNeedleLength, kNeedlePercent, 3, yellow);
  display.DrawFilledEllipse(Rect{kDialX - 6, kDialY - 6, kDialX + 6, kDialY + 6}, white);
  display.DrawDashedLine(DisplayLine{30, kDialY + 20, 230, kDialY + 20}, green);

  // Readouts under the dial.
  display.DrawText(40, kDialY + 34, "RPM", black, white, 160);
  display.DrawReadout(ReadoutItem{40, kDialY + 56, 73.5f, 0, black, 0x0440 | 0x0004, white});
  display.DrawText(150, kDialY + 34, "EGT", black, white, 160);
  display.DrawReadout(ReadoutItem{150, kDialY + 56, 612.0f, 4, black, 0x0400 | 0x2000, white});
  TextItem degrees{230, kDialY + 56, "&", black, yellow, 0x0010, white};
  display.DrawTextItem(degrees);

  // Caption, labelled box, markers and a switch.
  display.DrawBoxedCaption("TERRAIN", kCaptionX, kCaptionY, black, cyan);
  display.DrawLabelledBox(kLabelBox, "GND", brown, white);
  display.DrawMarker(kMarkerX[0], kMarkerY, 1, kMarkerSize, white, green);
  display.DrawMarker(kMarkerX[1], kMarkerY, 2, kMarkerSize, white, red);
  display.DrawMarker(kMarkerX[2], kMarkerY, 10, kMarkerSize, white, black);
  display.DrawSwitch(Point{300, 120}, 14, 3, 2);
  display.DrawSwitch(Point{340, 120}, 14, 3, 5);
  display.DrawStateNumber(270, 160, 0.0f, 1, false);

  // Tape: the strip scrolled so that the value sits mid-window.
  auto strip = platform::CreateImageDC(kStripWidth, kStripHeight);
  if (!strip || !DrawStrip(*strip)) {
    return false;
  }
  BitmapRecord tape{};
  tape.pSourceDC = strip.get();
  tape.destRect = kTapeWindow;
  tape.topValue = kStripTop;
  tape.span = (kTapeWindow.bottom - kTapeWindow.top) / kPixelsPerUnit;
  tape.pixelsPerUnit = kPixelsPerUnit;
  display.SetDC(&dc);
  display.DrawTape(tape, kTapeValue);
  display.DrawLine(DisplayLine{kTapeWindow.left - 8, (kTapeWindow.top + kTapeWindow.bottom) / 2,
                               kTapeWindow.left, (kTapeWindow.top + kTapeWindow.bottom) / 2},
                   3, orange);
  display.DrawRectangleOutline(
      Rect{kTapeWindow.left - 1, kTapeWindow.top - 1, kTapeWindow.right, kTapeWindow.bottom}, 0,
      white);
  return true;
}

}  // namespace panel
