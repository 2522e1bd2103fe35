// Drawing of the moving terrain map (see MovingMap.h).
// Threading: one drawing thread (the raster and colour tables are static).
#include "tools/view/MovingMap.h"

#include <cmath>
#include <cstdio>

#include "shm/TrnInterfaceShm.h"

extern const char g_szMovingMapRevision[];
const char g_szMovingMapRevision[] = "%Z% OrogridTools KT4102:06 MovingMap $Revision: 1.0 $";

namespace mapview {

namespace {

constexpr int kFineSide = OROGRID_FINE_SIZE * OROGRID_SUBDIV;  // 51 sub-points a side

// Fixed buffers: nothing is allocated per frame.
platform::Colour s_raster[kMapSide * kMapSide];
platform::Colour s_coarseColour[OROGRID_COARSE_SIZE][OROGRID_COARSE_SIZE];
platform::Colour s_fineColour[kFineSide][kFineSide];

double Or(double value, double fallback) { return std::isfinite(value) ? value : fallback; }

// The coarse grid's lattice, referred to the aircraft's own point (the
// centre, which is never clamped at a map edge).
GridLattice CoarseLattice(const orogrid_snapshot& s) {
  const orogrid_point& ref = s.coarse[trn::kCoarseCentre][trn::kCoarseCentre];
  GridLattice lattice{};
  lattice.columns = OROGRID_COARSE_SIZE;
  lattice.rows = OROGRID_COARSE_SIZE;
  lattice.refColumn = trn::kCoarseCentre;
  lattice.refRow = trn::kCoarseCentre;
  lattice.refLatitude = ref.latitude;
  lattice.refLongitude = ref.longitude;
  lattice.latStep = s.pixels_per_degree_y > 0 ? 1.0 / s.pixels_per_degree_y : 0.0;
  lattice.lonStep = s.pixels_per_degree_x > 0 ? 1.0 / s.pixels_per_degree_x : 0.0;
  return lattice;
}

// The fine grid as one lattice of 51 x 51 sub-points.
GridLattice FineLattice(const orogrid_snapshot& s) {
  const int centre = trn::kFineCentre;
  const orogrid_point& ref = s.fine[centre][centre][0][0];
  GridLattice lattice{};
  lattice.columns = kFineSide;
  lattice.rows = kFineSide;
  lattice.refColumn = centre * OROGRID_SUBDIV;
  lattice.refRow = centre * OROGRID_SUBDIV;
  lattice.refLatitude = ref.latitude;
  lattice.refLongitude = ref.longitude;
  lattice.latStep = s.sub_cell_lat_span;
  lattice.lonStep = s.sub_cell_lon_span;
  return lattice;
}

void FillColourTables(const orogrid_snapshot& s, double altitude) {
  for (int i = 0; i < OROGRID_COARSE_SIZE; ++i) {
    for (int j = 0; j < OROGRID_COARSE_SIZE; ++j) {
      s_coarseColour[i][j] = TerrainColour(s.coarse[i][j].elevation, altitude);
    }
  }
  for (int cx = 0; cx < OROGRID_FINE_SIZE; ++cx) {
    for (int cy = 0; cy < OROGRID_FINE_SIZE; ++cy) {
      for (int sx = 0; sx < OROGRID_SUBDIV; ++sx) {
        for (int sy = 0; sy < OROGRID_SUBDIV; ++sy) {
          s_fineColour[cx * OROGRID_SUBDIV + sx][cy * OROGRID_SUBDIV + sy] =
              TerrainColour(s.fine[cx][cy][sx][sy].elevation, altitude);
        }
      }
    }
  }
}

// Every map pixel from the grid cell under its centre: the fine grid's
// where it lies, the coarse grid's elsewhere.
void Rasterise(const MapFrame& frame, const orogrid_snapshot& s, double altitude) {
  FillColourTables(s, altitude);
  const GridLattice coarse = CoarseLattice(s);
  const GridLattice fine = FineLattice(s);
  const bool coarseUsable = LatticeUsable(coarse);
  const bool fineUsable = LatticeUsable(fine);
  const AffineIndex c = coarseUsable ? ScreenToLattice(frame, coarse) : AffineIndex{};
  const AffineIndex f = fineUsable ? ScreenToLattice(frame, fine) : AffineIndex{};
  for (int y = 0; y < kMapSide; ++y) {
    const double py = y + 0.5;
    double cc = c.column0 + c.columnPerX * 0.5 + c.columnPerY * py;
    double cr = c.row0 + c.rowPerX * 0.5 + c.rowPerY * py;
    double fc = f.column0 + f.columnPerX * 0.5 + f.columnPerY * py;
    double fr = f.row0 + f.rowPerX * 0.5 + f.rowPerY * py;
    platform::Colour* out = s_raster + static_cast<std::ptrdiff_t>(y) * kMapSide;
    for (int x = 0; x < kMapSide; ++x) {
      platform::Colour colour = kNoDataColour;
      if (fineUsable && fc >= 0.0 && fr >= 0.0 && fc < kFineSide && fr < kFineSide) {
        colour = s_fineColour[static_cast<int>(fc)][static_cast<int>(fr)];
      } else if (coarseUsable && cc >= 0.0 && cr >= 0.0 && cc < OROGRID_COARSE_SIZE &&
                 cr < OROGRID_COARSE_SIZE) {
        colour = s_coarseColour[static_cast<int>(cc)][static_cast<int>(cr)];
      }
      out[x] = colour;
      cc += c.columnPerX;
      cr += c.rowPerX;
      fc += f.columnPerX;
      fr += f.rowPerX;
    }
  }
}

platform::Point Rounded(const ScreenPoint& p) {
  return platform::Point{static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y))};
}

void DrawRings(BaseDisplay& display, const MapFrame& frame) {
  using namespace DisplayPalette;
  const int cx = static_cast<int>(frame.centreX);
  const int cy = static_cast<int>(frame.centreY);
  char text[32];
  for (int k = 1; k <= 2; ++k) {
    const int r = kRingRadius * k / 2;
    display.DrawArc(platform::Rect{cx - r, cy - r, cx + r, cy + r}, 0, white);
    const double km = frame.rangeKm * k / 2.0;
    std::snprintf(text, sizeof text, km < 10.0 ? "%.1f km" : "%.0f km", km);
    // Down and to the right of the ring's top, where the heading line is not.
    display.DrawTransparentText(cx + 4, cy - r + 2, text, white, 140);
  }
  // North: a short tick outside the outer ring where north lies.
  const ScreenPoint inner = ToScreen(frame, GroundOffset{0.0, frame.rangeKm * 1.02});
  const ScreenPoint outer = ToScreen(frame, GroundOffset{0.0, frame.rangeKm * 1.09});
  const platform::Point a = Rounded(inner);
  const platform::Point b = Rounded(outer);
  display.DrawLine(DisplayLine{a.x, a.y, b.x, b.y}, 2, cyan);
  const ScreenPoint label = ToScreen(frame, GroundOffset{0.0, frame.rangeKm * 1.08});
  display.DrawTransparentText(static_cast<int>(label.x) + 4, static_cast<int>(label.y) - 6, "N",
                              cyan, 160);
}

// The aircraft: a fuselage 18 pixels ahead and 6 behind its position,
// wings across it, a tailplane at the back, turned to its
// heading on a north-up map and pointing up on a heading-up one.
void DrawAircraft(BaseDisplay& display, const MapFrame& frame) {
  double nose = 0.0;
  if (frame.orientation == Orientation::kNorthUp && std::isfinite(frame.heading)) {
    nose = frame.heading * 3.14159265358979323846 / 180.0;
  }
  const double ax = std::sin(nose);  // ahead, in screen pixels
  const double ay = -std::cos(nose);
  const double rx = -ay;  // to the right
  const double ry = ax;
  const auto at = [&](double ahead, double right) {
    return platform::Point{static_cast<int>(std::lround(frame.centreX + ahead * ax + right * rx)),
                           static_cast<int>(std::lround(frame.centreY + ahead * ay + right * ry))};
  };
  const auto line = [&](platform::Point a, platform::Point b) {
    display.DrawLine(DisplayLine{a.x, a.y, b.x, b.y}, 3, kAircraftColour);
  };
  line(at(18, 0), at(-6, 0));
  line(at(0, -11), at(0, 11));
  line(at(-5, -5), at(-5, 5));
}

void Hemisphere(char* out, std::size_t size, double value, char positive, char negative) {
  if (!std::isfinite(value)) {
    std::snprintf(out, size, "---");
    return;
  }
  std::snprintf(out, size, "%.4f %c", std::fabs(value), value < 0.0 ? negative : positive);
}

void DrawPanel(BaseDisplay& display, const FrameInputs& in, const MapFrame& frame) {
  using namespace DisplayPalette;
  const int x = kMapSide + 12;
  display.FillSolid(kMapSide, 0, kPanelWidth, kWindowHeight, black);
  display.DrawLine(DisplayLine{kMapSide, 0, kMapSide, kWindowHeight}, 0, grey);
  const int gap = display.GetTextHeight() + 10;
  int y = 12;
  display.DrawCaption(x, y, "TERRAIN", black, white);
  y += gap;
  display.DrawText(x, y, in.orientation == Orientation::kHeadingUp ? "HDG UP" : "NORTH UP", black,
                   cyan, 213);
  y += gap + 6;
  char text[64];
  char part[32];
  const orogrid_snapshot* s = in.snapshot;
  display.DrawText(x, y, "POSITION", black, lightGrey, 140);
  y += gap - 6;
  Hemisphere(part, sizeof part, frame.latitude, 'N', 'S');
  display.DrawText(x, y, s != nullptr ? part : "---", black, white, 213);
  y += gap - 4;
  Hemisphere(part, sizeof part, frame.longitude, 'E', 'W');
  display.DrawText(x, y, s != nullptr ? part : "---", black, white, 213);
  y += gap;
  display.DrawText(x, y, "HEADING", black, lightGrey, 140);
  if (s != nullptr && std::isfinite(frame.heading)) {
    display.DrawColouredNumber(x + 110, y - 2, frame.heading, false, black, yellow);
  }
  y += gap;
  display.DrawText(x, y, "ELEVATION", black, lightGrey, 140);
  if (s != nullptr) {
    display.DrawColouredNumber(x + 110, y - 2, s->aircraft.elevation, false, black, green);
    display.DrawText(x + 180, y, "m", black, lightGrey, 140);
  }
  y += gap;
  const bool altitudeKnown = std::isfinite(in.altitude);
  display.DrawText(x, y, "ALTITUDE", black, lightGrey, 140);
  if (altitudeKnown) {
    display.DrawColouredNumber(x + 110, y - 2, in.altitude, false, black, white);
    display.DrawText(x + 180, y, "m", black, lightGrey, 140);
  }
  y += gap;
  display.DrawText(x, y, "ABOVE GND", black, lightGrey, 140);
  if (altitudeKnown && s != nullptr) {
    const double clearance = in.altitude - s->aircraft.elevation;
    display.DrawColouredNumber(x + 110, y - 2, clearance, false, black,
                               clearance < kNearMetres ? red : white);
    display.DrawText(x + 180, y, "m", black, lightGrey, 140);
  } else {
    display.DrawText(x + 110, y, "unknown", black, grey, 140);
  }
  y += gap;
  display.DrawText(x, y, "PUBLISHED", black, lightGrey, 140);
  if (in.publicationAgeS >= 0.0) {
    std::snprintf(text, sizeof text, "%.1f s ago", in.publicationAgeS);
    display.DrawText(x + 110, y, text, black, in.publicationAgeS > 2.0 ? orange : white, 140);
  }
  y += gap + 6;
  // The key: the bands against the altitude, or the tints without it.
  if (altitudeKnown) {
    for (const BandRow& row : kBands) {
      display.FillSolid(x, y, 18, 14, row.colour);
      display.DrawRectangleOutline(platform::Rect{x - 1, y - 1, x + 19, y + 15}, 0, grey);
      display.DrawText(x + 26, y, row.name, black, white, 140);
      y += 20;
    }
  } else {
    display.DrawText(x, y, "elevation tints", black, white, 140);
  }
}

// A boxed message across the top of the map; line 1 goes under line 0.
void DrawBanner(BaseDisplay& display, const char* text, Colour colour, int line = 0) {
  const int width = display.TextExtentWidth(213, text);
  display.DrawBoxedCaption(text, (kMapSide - width) / 2, 40 + line * (display.GetTextHeight() + 20),
                           DisplayPalette::black, colour);
}

}  // namespace

MapFrame FrameOf(const FrameInputs& in) {
  MapFrame frame{};
  const orogrid_snapshot* s = in.snapshot;
  frame.latitude = Or(in.latitude, s != nullptr ? s->aircraft.latitude : 0.0);
  frame.longitude = Or(in.longitude, s != nullptr ? s->aircraft.longitude : 0.0);
  frame.heading = Or(in.heading, s != nullptr ? s->aircraft.heading : 0.0);
  frame.orientation = in.orientation;
  frame.rangeKm = in.rangeKm > 0.0 ? in.rangeKm : 1.0;
  frame.centreX = kMapSide / 2;
  frame.centreY = kMapSide / 2;
  frame.radiusPx = kRingRadius;
  return frame;
}

void DrawMovingMap(BaseDisplay& display, const FrameInputs& in) {
  using namespace DisplayPalette;
  display.EnsureFonts();
  platform::DeviceContext* dc = display.GetDC();
  if (dc == nullptr) {
    return;
  }
  const MapFrame frame = FrameOf(in);
  if (in.snapshot != nullptr) {
    Rasterise(frame, *in.snapshot, in.altitude);
    platform::DrawPixelBlock(*dc, 0, 0, kMapSide, kMapSide, s_raster, kMapSide);
  } else {
    display.FillSolid(0, 0, kMapSide, kMapSide, black);
  }
  DrawRings(display, frame);
  if (in.snapshot != nullptr) {
    DrawAircraft(display, frame);
  }
  DrawPanel(display, in, frame);
  if (in.link == Link::kWaiting) {
    DrawBanner(display, "Waiting for the server", yellow);
  } else if (in.link == Link::kServerGone) {
    DrawBanner(display, "Server gone", red);
  }
  if (in.link != Link::kWaiting && in.simulationState == trn::kSimulationLost) {
    DrawBanner(display, "Simulation lost", orange, in.link == Link::kServerGone ? 1 : 0);
  }
}

}  // namespace mapview
