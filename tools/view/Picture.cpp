// Drawing of the terrain picture (see Picture.h).
// Threading: the thread that owns the device context.
#include "tools/view/Picture.h"

#include <cmath>
#include <cstdio>

extern const char g_szPictureRevision[];
const char g_szPictureRevision[] = "%Z% OrogridTools KT4102:02 Picture $Revision: 1.0 $";

namespace picture {

namespace {

struct Stop {
  int metres;
  int r;
  int g;
  int b;
};

constexpr Stop kStops[] = {
    // The map stores every sea pixel as exactly 0 m: 0 and below is water.
    {-8000, 8, 20, 70},  {-4000, 20, 60, 140},  {-200, 60, 120, 190},  {0, 110, 170, 225},
    {1, 70, 130, 70},    {300, 110, 160, 80},   {800, 190, 190, 110},  {1500, 180, 130, 70},
    {2500, 140, 95, 65}, {3500, 150, 140, 135}, {5000, 250, 250, 250},
};

platform::Colour Rgb(int r, int g, int b) {
  return static_cast<platform::Colour>(r) | (static_cast<platform::Colour>(g) << 8) |
         (static_cast<platform::Colour>(b) << 16);
}

platform::Colour ContrastText(int metres) {
  return (metres >= 3500 || (metres >= 300 && metres < 1500)) ? DisplayPalette::black
                                                              : DisplayPalette::white;
}

}  // namespace

platform::Colour ReliefColour(int metres) {
  constexpr int count = static_cast<int>(sizeof kStops / sizeof kStops[0]);
  if (metres <= kStops[0].metres) {
    return Rgb(kStops[0].r, kStops[0].g, kStops[0].b);
  }
  for (int k = 1; k < count; ++k) {
    if (metres <= kStops[k].metres) {
      const Stop& a = kStops[k - 1];
      const Stop& b = kStops[k];
      const double t = static_cast<double>(metres - a.metres) / (b.metres - a.metres);
      return Rgb(a.r + static_cast<int>(t * (b.r - a.r)), a.g + static_cast<int>(t * (b.g - a.g)),
                 a.b + static_cast<int>(t * (b.b - a.b)));
    }
  }
  return Rgb(kStops[count - 1].r, kStops[count - 1].g, kStops[count - 1].b);
}

platform::Point CoarsePixel(int i, int j) {
  return platform::Point{kCoarseLeft + i * kCoarseScale, kCoarseTop + j * kCoarseScale};
}

platform::Point FinePixel(int cx, int cy, int sx, int sy) {
  return platform::Point{kPanelLeft + (cx * trn::kSubDiv + sx) * kFineScale,
                         kFineTop + (cy * trn::kSubDiv + sy) * kFineScale};
}

void DrawTerrainPicture(BaseDisplay& display, const GridSnapshot& s) {
  using namespace DisplayPalette;
  display.EnsureFonts();
  display.FillSolid(0, 0, kWidth, kHeight, black);

  char text[160];
  std::snprintf(text, sizeof text, "Orogrid terrain  %.5f%c %.5f%c  heading %.1f  update %d  %s",
                std::fabs(s.aircraftLatitude), s.aircraftLatitude < 0.0 ? 'S' : 'N',
                std::fabs(s.aircraftLongitude), s.aircraftLongitude < 0.0 ? 'W' : 'E',
                s.aircraftHeading, s.updateCount,
                s.simulationState == trn::kSimulationWaiting
                    ? "waiting"
                    : (s.simulationState == trn::kSimulationLost ? "lost" : "running"));
  display.DrawText(kMargin, 10, text, black, white, 213);

  for (int i = 0; i < trn::kCoarseSize; ++i) {
    for (int j = 0; j < trn::kCoarseSize; ++j) {
      const platform::Point p = CoarsePixel(i, j);
      display.FillSolid(p.x, p.y, kCoarseScale, kCoarseScale,
                        ReliefColour(s.coarse[i][j].elevation));
    }
  }
  // The aircraft's pixel, then the square the fine inset covers.
  const platform::Point centre = CoarsePixel(trn::kCoarseCentre, trn::kCoarseCentre);
  const platform::Point fineOrigin = CoarsePixel(trn::kFineOrigin, trn::kFineOrigin);
  display.DrawRectangleOutline(platform::Rect{fineOrigin.x - 1, fineOrigin.y - 1,
                                              fineOrigin.x + trn::kFineSize * kCoarseScale,
                                              fineOrigin.y + trn::kFineSize * kCoarseScale},
                               0, lightGrey);
  const platform::Point mid{centre.x + kCoarseScale / 2, centre.y + kCoarseScale / 2};
  double heading = std::fmod(s.aircraftHeading, 360.0);
  if (!std::isfinite(heading)) {
    heading = 0.0;
  } else if (heading < 0.0) {
    heading += 360.0;
  }
  display.DrawDegreeNeedle(mid, 60, heading, 4, yellow);
  // The aircraft on top of its needle.
  display.DrawRectangleOutline(
      platform::Rect{centre.x - 2, centre.y - 2, centre.x + kCoarseScale + 1,
                     centre.y + kCoarseScale + 1},
      0, magenta);
  display.FillSolid(centre.x, centre.y, kCoarseScale, kCoarseScale, magenta);

  // Readouts.
  const int x = kPanelLeft;
  int y = kCoarseTop;
  const int gap = display.GetTextHeight() + 6;
  const double metresPerPixel = s.pixelsPerMetre > 0.0 ? 1.0 / s.pixelsPerMetre : 0.0;
  std::snprintf(text, sizeof text, "Elevation  %d m  (%d ft)", s.aircraftElevation,
                static_cast<int>(s.aircraftElevation * 3.280839895));
  display.DrawText(x, y, text, black, green, 213);
  y += gap;
  std::snprintf(text, sizeof text, "Cell  %d   sub-cell %d,%d", s.aircraftCellId, s.aircraftSubX,
                s.aircraftSubY);
  display.DrawText(x, y, text, black, white, 213);
  y += gap;
  std::snprintf(text, sizeof text, "Map pixel  %d, %d", s.aircraftPixelX, s.aircraftPixelY);
  display.DrawText(x, y, text, black, white, 213);
  y += gap;
  std::snprintf(text, sizeof text, "Pixel size  %.0f m along heading", metresPerPixel);
  display.DrawText(x, y, text, black, cyan, 213);
  y += gap;
  std::snprintf(text, sizeof text, "Heading  %.1f deg", s.aircraftHeading);
  display.DrawText(x, y, text, black, yellow, 213);
  y += gap;
  std::snprintf(text, sizeof text, "Users  %d   snapshot in %d cop%s", s.userCount, s.attempts,
                s.attempts == 1 ? "y" : "ies");
  display.DrawText(x, y, text, black, lightGrey, 160);
  y += gap;

  // Colour key.
  const int keyValues[] = {-3000, 0, 500, 1000, 2000, 3000, 4500};
  const int keyWidth = kFineSide / static_cast<int>(sizeof keyValues / sizeof keyValues[0]);
  for (int k = 0; k < static_cast<int>(sizeof keyValues / sizeof keyValues[0]); ++k) {
    display.FillSolid(x + k * keyWidth, y, keyWidth, 18, ReliefColour(keyValues[k]));
    std::snprintf(text, sizeof text, "%d", keyValues[k]);
    display.DrawTransparentText(x + k * keyWidth + 3, y + 1, text, ContrastText(keyValues[k]), 160);
  }

  // Fine inset, each sub-point enlarged; the aircraft's sub-cell outlined.
  display.DrawText(x, kFineTop - gap, "Fine grid 17 x 17 x 3 x 3", black, white, 160);
  for (int cx = 0; cx < trn::kFineSize; ++cx) {
    for (int cy = 0; cy < trn::kFineSize; ++cy) {
      for (int sx = 0; sx < trn::kSubDiv; ++sx) {
        for (int sy = 0; sy < trn::kSubDiv; ++sy) {
          const platform::Point p = FinePixel(cx, cy, sx, sy);
          display.FillSolid(p.x, p.y, kFineScale, kFineScale,
                            ReliefColour(s.fine[cx][cy][sx][sy].elevation));
        }
      }
    }
  }
  if (s.aircraftSubX >= 0 && s.aircraftSubX < trn::kSubDiv && s.aircraftSubY >= 0 &&
      s.aircraftSubY < trn::kSubDiv) {
    const platform::Point a =
        FinePixel(trn::kFineCentre, trn::kFineCentre, s.aircraftSubX, s.aircraftSubY);
    display.DrawRectangleOutline(
        platform::Rect{a.x - 1, a.y - 1, a.x + kFineScale, a.y + kFineScale}, 0, magenta);
  }
  const platform::Point cell = FinePixel(trn::kFineCentre, trn::kFineCentre, 0, 0);
  const int cellSide = trn::kSubDiv * kFineScale;
  display.DrawRectangleOutline(
      platform::Rect{cell.x - 2, cell.y - 2, cell.x + cellSide + 1, cell.y + cellSide + 1}, 0,
      white);
}

}  // namespace picture
