// Tests of the moving map's geometry (ground to screen and back, heading-up
// and north-up, grid cells under screen pixels), its colour bands, and the
// frame drawn from a snapshot.
// Threading: the test's main thread.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "display/BaseDisplay.h"
#include "tests/support/MapSnapshot.h"
#include "tools/view/MapGeometry.h"
#include "tools/view/MovingMap.h"
#include "tools/view/Picture.h"

using mapview::GroundOffset;
using mapview::MapFrame;
using mapview::Orientation;
using mapview::ScreenPoint;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 90 km on 270 pixels: 3 pixels a kilometre, the aircraft at (300, 300).
MapFrame Frame(double heading, Orientation orientation, double latitude = 47.0,
               double longitude = 11.0) {
  return MapFrame{latitude, longitude, heading, orientation, 90.0, 300.0, 300.0, 270.0};
}

}  // namespace

TEST(MapGeometry, GroundOffsetsLandWhereTheOrientationPutsThem) {
  struct Case {
    const char* name;
    double heading;
    Orientation orientation;
    GroundOffset offset;
    ScreenPoint screen;
  };
  const Case cases[] = {
      {"north-up: north is up", 123.0, Orientation::kNorthUp, {0, 30}, {300, 210}},
      {"north-up: east is right", 123.0, Orientation::kNorthUp, {30, 0}, {390, 300}},
      {"heading-up north: ahead is up", 0.0, Orientation::kHeadingUp, {0, 30}, {300, 210}},
      {"heading-up east: ahead (east) is up", 90.0, Orientation::kHeadingUp, {30, 0}, {300, 210}},
      {"heading-up east: north is left", 90.0, Orientation::kHeadingUp, {0, 30}, {210, 300}},
      {"heading-up south: north is down", 180.0, Orientation::kHeadingUp, {0, 30}, {300, 390}},
      {"heading-up west: north is right", 270.0, Orientation::kHeadingUp, {0, 30}, {390, 300}},
      {"heading-up 45: north-east ahead",
       45.0,
       Orientation::kHeadingUp,
       {30, 30},
       {300, 300 - 3 * 30 * std::sqrt(2.0)}},
      {"heading-up, heading unknown: north-up", kNaN, Orientation::kHeadingUp, {30, 0}, {390, 300}},
      {"the aircraft itself", 77.0, Orientation::kHeadingUp, {0, 0}, {300, 300}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MapFrame frame = Frame(c.heading, c.orientation);
    const ScreenPoint p = mapview::ToScreen(frame, c.offset);
    EXPECT_NEAR(p.x, c.screen.x, 1e-9);
    EXPECT_NEAR(p.y, c.screen.y, 1e-9);
    const GroundOffset back = mapview::FromScreen(frame, p.x, p.y);
    EXPECT_NEAR(back.eastKm, c.offset.eastKm, 1e-9);
    EXPECT_NEAR(back.northKm, c.offset.northKm, 1e-9);
  }
}

TEST(MapGeometry, PositionsBecomeKilometresAroundTheAircraft) {
  struct Case {
    const char* name;
    double aircraftLat, aircraftLon, lat, lon;
    double east, north;
  };
  const double km = mapview::kKmPerDegree;
  const Case cases[] = {
      {"a degree north", 47.0, 11.0, 48.0, 11.0, 0.0, km},
      {"a degree east at 60 N is half as far", 60.0, 11.0, 60.0, 12.0, km * 0.5, 0.0},
      {"west across the antimeridian", 0.0, 179.5, 0.0, -179.5, km, 0.0},
      {"east across the antimeridian", 0.0, -179.5, 0.0, 179.5, -km, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const GroundOffset g = mapview::OffsetOf(
        Frame(0.0, Orientation::kNorthUp, c.aircraftLat, c.aircraftLon), c.lat, c.lon);
    EXPECT_NEAR(g.eastKm, c.east, 1e-6);
    EXPECT_NEAR(g.northKm, c.north, 1e-6);
  }
}

TEST(MapGeometry, CellOfTakesThePointAtTheCellsNorthWestCorner) {
  // Point (75, 75) at 47.25 N 11.25 E; 12 points a degree.
  const mapview::GridLattice lattice{150, 150, 75, 75, 47.25, 11.25, 1.0 / 12, 1.0 / 12};
  struct Case {
    const char* name;
    double lat, lon;
    bool inside;
    int column, row;
  };
  const double e = 1e-6;
  const Case cases[] = {
      {"just inside the corner", 47.25 - e, 11.25 + e, true, 75, 75},
      {"north of the corner: the row above", 47.25 + e, 11.25 + e, true, 75, 74},
      {"west of the corner: the column before", 47.25 - e, 11.25 - e, true, 74, 75},
      {"the first point", 47.25 + 75.0 / 12 - e, 11.25 - 75.0 / 12 + e, true, 0, 0},
      {"the last cell", 47.25 - 75.0 / 12 + e, 11.25 + 75.0 / 12 - e, true, 149, 149},
      {"beyond the east edge", 47.0, 11.25 + 75.0 / 12 + e, false, 0, 0},
      {"beyond the north edge", 47.25 + 75.0 / 12 + e, 11.0, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int column = -1;
    int row = -1;
    EXPECT_EQ(mapview::CellOf(lattice, c.lat, c.lon, column, row), c.inside);
    if (c.inside) {
      EXPECT_EQ(column, c.column);
      EXPECT_EQ(row, c.row);
    }
  }
  mapview::GridLattice broken = lattice;
  broken.lonStep = 0.0;
  EXPECT_FALSE(mapview::LatticeUsable(broken)) << "no map resolution: nothing to draw";
  broken = lattice;
  broken.refLatitude = kNaN;
  EXPECT_FALSE(mapview::LatticeUsable(broken));
}

TEST(MapGeometry, ScreenToLatticeAgreesWithCellOfUnderEveryTurn) {
  const mapview::GridLattice lattice{150, 150, 75, 75, 47.25, 11.25, 1.0 / 12, 1.0 / 12};
  for (const double heading : {0.0, 37.0, 90.0, 211.0, 359.0}) {
    SCOPED_TRACE(heading);
    const MapFrame frame = Frame(heading, Orientation::kHeadingUp, 47.2, 11.3);
    const mapview::AffineIndex a = mapview::ScreenToLattice(frame, lattice);
    for (int y = 5; y < 600; y += 97) {
      for (int x = 3; x < 600; x += 89) {
        const GroundOffset g = mapview::FromScreen(frame, x, y);
        const double lat = frame.latitude + g.northKm / mapview::kKmPerDegree;
        const double lon =
            frame.longitude + g.eastKm / (mapview::kKmPerDegree *
                                          std::cos(frame.latitude * 3.14159265358979323846 / 180));
        int column = 0;
        int row = 0;
        ASSERT_TRUE(mapview::CellOf(lattice, lat, lon, column, row));
        EXPECT_NEAR(a.column0 + a.columnPerX * x + a.columnPerY * y, column + 0.5, 0.5 + 1e-9);
        EXPECT_NEAR(a.row0 + a.rowPerX * x + a.rowPerY * y, row + 0.5, 0.5 + 1e-9);
      }
    }
  }
}

TEST(MapGeometry, BandsFollowTheTerrainAgainstTheAltitude) {
  using mapview::Band;
  struct Case {
    double elevation;
    double altitude;
    Band band;
  };
  const Case cases[] = {
      {3000, 1000, Band::kAbove},    {1000, 1000, Band::kAbove}, {999, 1000, Band::kNear},
      {850, 1000, Band::kNear},      {849, 1000, Band::kBelow},  {400, 1000, Band::kBelow},
      {399, 1000, Band::kFarBelow},  {0, 3000, Band::kFarBelow}, {-50, -100, Band::kAbove},
      {-4000, 100, Band::kFarBelow},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.elevation << " m under " << c.altitude << " m");
    EXPECT_EQ(mapview::BandOf(c.elevation, c.altitude), c.band);
    EXPECT_EQ(mapview::TerrainColour(static_cast<int>(c.elevation), c.altitude),
              mapview::kBands[static_cast<int>(c.band)].colour);
  }
  // Every band's colour differs from the others and from the aircraft's.
  for (int a = 0; a < 4; ++a) {
    EXPECT_NE(mapview::kBands[a].colour, mapview::kAircraftColour);
    for (int b = a + 1; b < 4; ++b) {
      EXPECT_NE(mapview::kBands[a].colour, mapview::kBands[b].colour);
    }
  }
  // Without an altitude: the plain elevation tints.
  for (const int metres : {-3000, 0, 1, 800, 4500}) {
    EXPECT_EQ(mapview::TerrainColour(metres, kNaN), picture::ReliefColour(metres));
  }
}

// ---------------------------------------------------------------- frames

namespace {

std::unique_ptr<orogrid_snapshot> Snapshot(double lat, double lon, double heading) {
  auto s = std::make_unique<orogrid_snapshot>();
  maptest::FillSnapshot(*s, lat, lon, heading);
  return s;
}

struct Drawn {
  std::unique_ptr<platform::DeviceContext> dc;
  BaseDisplay display;
};

mapview::FrameInputs Inputs(const orogrid_snapshot* s, Orientation orientation, double altitude) {
  mapview::FrameInputs in{};
  in.snapshot = s;
  in.link = mapview::Link::kLive;
  in.orientation = orientation;
  in.rangeKm = 90.0;
  in.altitude = altitude;
  in.publicationAgeS = 0.1;
  in.latitude = in.longitude = in.heading = kNaN;
  in.simulationState = s != nullptr ? s->aircraft.simulation_state : 0;
  return in;
}

void Draw(Drawn& d, const mapview::FrameInputs& in) {
  if (!d.dc) {
    d.dc = platform::CreateImageDC(mapview::kWindowWidth, mapview::kWindowHeight);
    d.display.SetDC(d.dc.get());
    d.display.SetScale(mapview::kFontScale);
  }
  mapview::DrawMovingMap(d.display, in);
}

int CountColour(const platform::DeviceContext& dc, platform::Rect r, platform::Colour colour) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      n += dc.GetPixel(x, y) == colour ? 1 : 0;
    }
  }
  return n;
}

}  // namespace

TEST(MovingMap, TheMountainAheadTurnsWithTheViewAndItsBandWithTheAltitude) {
  // Flying east at 1000 m: the block 14..40 km east is 3000 m high.
  auto s = Snapshot(47.2, 11.3, 90.0);
  const platform::Colour red = mapview::kBands[0].colour;
  const platform::Colour green = mapview::kBands[2].colour;
  struct Case {
    const char* name;
    Orientation orientation;
    double altitude;
    platform::Point mountain;  // 27 km east of the aircraft at 3 px/km
    platform::Colour colour;
  };
  const Case cases[] = {
      {"heading-up, below the top: red ahead", Orientation::kHeadingUp, 1000, {300, 219}, red},
      {"north-up, below the top: red to the right", Orientation::kNorthUp, 1000, {381, 300}, red},
      {"heading-up, 300 m above the top: green", Orientation::kHeadingUp, 3300, {300, 219}, green},
      {"no altitude: elevation tints",
       Orientation::kHeadingUp,
       kNaN,
       {300, 219},
       picture::ReliefColour(3000)},
  };
  Drawn d;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Draw(d, Inputs(s.get(), c.orientation, c.altitude));
    EXPECT_EQ(d.dc->GetPixel(c.mountain.x, c.mountain.y), c.colour);
    // Where the mountain is not: the other side of the aircraft.
    EXPECT_NE(d.dc->GetPixel(600 - c.mountain.x, 600 - c.mountain.y), c.colour);
    // The aircraft symbol at the centre, its nose up in heading-up.
    EXPECT_EQ(d.dc->GetPixel(300, 300), mapview::kAircraftColour);
    if (c.orientation == Orientation::kHeadingUp) {
      EXPECT_EQ(d.dc->GetPixel(300, 290), mapview::kAircraftColour);
      EXPECT_NE(d.dc->GetPixel(290, 290), mapview::kAircraftColour);
    } else {
      EXPECT_EQ(d.dc->GetPixel(310, 300), mapview::kAircraftColour) << "nose to the east";
    }
  }
}

TEST(MovingMap, TheLinkStateIsShownOnTheMap) {
  auto s = Snapshot(47.2, 11.3, 90.0);
  const platform::Rect banner{150, 20, 450, 80};
  Drawn d;
  mapview::FrameInputs in = Inputs(s.get(), Orientation::kHeadingUp, kNaN);
  Draw(d, in);
  const int live = CountColour(*d.dc, banner, DisplayPalette::red);
  in.link = mapview::Link::kServerGone;
  Draw(d, in);
  EXPECT_GT(CountColour(*d.dc, banner, DisplayPalette::red), live + 100) << "the red box";
  in.link = mapview::Link::kLive;
  in.simulationState = 0xFFFFFF;
  Draw(d, in);
  EXPECT_GT(CountColour(*d.dc, banner, DisplayPalette::orange), 100);
  // Before the first publication: no map, no aircraft, the waiting banner.
  in.snapshot = nullptr;
  in.link = mapview::Link::kWaiting;
  Draw(d, in);
  EXPECT_EQ(CountColour(*d.dc, platform::Rect{0, 0, 600, 600}, mapview::kAircraftColour), 0);
  EXPECT_GT(CountColour(*d.dc, banner, DisplayPalette::yellow), 100);
}

TEST(MovingMap, GridsWithoutAResolutionDrawAsNoData) {
  // A record whose resolution is not known (zero steps)
  // must not divide by zero into garbage indices.
  auto s = Snapshot(47.2, 11.3, 90.0);
  s->pixels_per_degree_x = 0;
  s->sub_cell_lon_span = 0.0;
  Drawn d;
  Draw(d, Inputs(s.get(), Orientation::kNorthUp, 1000));
  EXPECT_EQ(d.dc->GetPixel(100, 500), mapview::kNoDataColour);
}
