// The terrain picture of orogrid-view: the 150 x 150 coarse grid as
// coloured relief with the aircraft's pixel and a heading needle, readouts
// of the values under the aircraft, and the 17 x 17 x 3 x 3 fine grid as an
// enlarged inset, drawn with BaseDisplay on an image device context.
//
// Threading: the thread that owns the device context.
#pragma once

#include "display/BaseDisplay.h"
#include "tools/view/Snapshot.h"

namespace picture {

inline constexpr int kCoarseScale = 4;  // image pixels per coarse point
inline constexpr int kFineScale = 6;    // image pixels per fine sub-point
inline constexpr int kMargin = 10;
// BaseDisplay scale for the picture's fonts (13 and 10 point texts).
inline constexpr double kFontScale = 0.6;
inline constexpr int kTitleHeight = 34;
inline constexpr int kCoarseLeft = kMargin;
inline constexpr int kCoarseTop = kTitleHeight;
inline constexpr int kCoarseSide = trn::kCoarseSize * kCoarseScale;           // 600
inline constexpr int kFineSide = trn::kFineSize * trn::kSubDiv * kFineScale;  // 306
inline constexpr int kPanelLeft = kCoarseLeft + kCoarseSide + 2 * kMargin;
inline constexpr int kFineTop = kCoarseTop + kCoarseSide - kFineSide;
inline constexpr int kWidth = kPanelLeft + kFineSide + kMargin;
inline constexpr int kHeight = kCoarseTop + kCoarseSide + kMargin;

// Hypsometric colour (0x00BBGGRR) of an elevation in metres: blues below
// sea level, greens, browns and greys upwards, white above 5000 m.
platform::Colour ReliefColour(int metres);

// Image position (top-left) of coarse point [i][j] and of fine sub-point
// [cx][cy][sx][sy].
platform::Point CoarsePixel(int i, int j);
platform::Point FinePixel(int cx, int cy, int sx, int sy);

// Draws the whole picture on display's device context, which must be at
// least kWidth x kHeight pixels. Set the display's scale (kFontScale) before
// the first call; fonts are made on first use.
void DrawTerrainPicture(BaseDisplay& display, const GridSnapshot& snapshot);

}  // namespace picture
