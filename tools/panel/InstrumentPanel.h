// InstrumentPanel: a small instrument panel drawn with BaseDisplay, to show
// what the display toolkit draws and to check its output pixel by pixel.
// The layout constants say where the geometry puts each element.
// Threading: one thread.
#pragma once

#include "display/BaseDisplay.h"
#include "platform/device_context.h"

namespace panel {

constexpr int kWidth = 480;
constexpr int kHeight = 300;

// Dial: needle at 50 percent points straight up from the centre.
constexpr int kDialX = 130;
constexpr int kDialY = 184;
constexpr int kDialRadius = 100;
constexpr int kNeedleLength = 88;
constexpr double kNeedlePercent = 50.0;

// Boxed caption: text at (kCaptionX, kCaptionY), box 5 pixels out.
constexpr int kCaptionX = 20;
constexpr int kCaptionY = 16;

// Labelled box, filled brown.
constexpr platform::Rect kLabelBox{250, 220, 380, 280};

// Tape window and its strip.
constexpr platform::Rect kTapeWindow{400, 40, 460, 280};
constexpr int kStripWidth = 60;
constexpr int kStripHeight = 1000;
constexpr double kStripTop = 500.0;  // value at the strip's top edge
constexpr double kPixelsPerUnit = 2.0;
constexpr double kTapeValue = 250.0;

// Markers: kind 1 (vertical stroke), 2 (horizontal), 10 (crossed).
constexpr int kMarkerY = 40;
constexpr int kMarkerX[3] = {270, 310, 350};
constexpr int kMarkerSize = 30;

// Draws the whole panel onto dc (kWidth x kHeight); display gets dc.
// Returns false when the tape strip cannot be made.
bool DrawInstrumentPanel(BaseDisplay& display, platform::DeviceContext& dc);

}  // namespace panel
