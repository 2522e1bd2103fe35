// The terrain-awareness picture of orogrid-view's window: a moving map
// centred on the aircraft, heading-up or north-up, the coarse grid as the
// background and the fine grid drawn over it where it lies, coloured by
// the terrain's height relative to the aircraft (plain elevation tints
// when its altitude is unknown), range rings with their distances, the
// aircraft symbol, and a readout panel drawn with BaseDisplay; the state of
// the link ("Waiting for the server", "Server gone", "Simulation lost") is
// shown on the map itself.
//
// Threading: the thread that owns the device context; the raster is a
// static buffer, so one thread draws.
#pragma once

#include <cstdint>

#include "client/orogrid_client.h"
#include "display/BaseDisplay.h"
#include "tools/view/MapGeometry.h"

namespace mapview {

inline constexpr int kMapSide = 600;  // the map's square, pixels
inline constexpr int kPanelWidth = 230;
inline constexpr int kWindowWidth = kMapSide + kPanelWidth;
inline constexpr int kWindowHeight = kMapSide;
inline constexpr int kRingRadius = 270;  // pixels of the outer ring (the range)
inline constexpr double kFontScale = 0.6;
// The aircraft symbol's colour, which no terrain colour uses.
inline constexpr platform::Colour kAircraftColour = DisplayPalette::magenta;
inline constexpr platform::Colour kNoDataColour = 0x202020;

enum class Link {
  kWaiting,     // nothing published yet (or no record)
  kLive,        // the server publishes
  kServerGone,  // the last publication the server left
};

struct FrameInputs {
  const orogrid_snapshot* snapshot;  // null while waiting
  Link link;
  Orientation orientation;
  double rangeKm;          // distance to the outer ring, > 0
  double altitude;         // metres above sea level; NaN: unknown
  double publicationAgeS;  // seconds; < 0 unknown
  // The aircraft's own latest position and heading (degrees) when the
  // simulation is read directly; NaN: the snapshot's.
  double latitude;
  double longitude;
  double heading;
  // The simulation's state (0xFFFFFF: lost) as last read, the snapshot's
  // when the simulation is not read directly.
  std::int32_t simulationState;
};

// The view the inputs give: the aircraft at the map's centre, the range on
// kRingRadius pixels.
MapFrame FrameOf(const FrameInputs& inputs);

// Draws a whole frame (kWindowWidth x kWindowHeight) on the display's
// context. Set the display's scale (kFontScale) before the first call.
void DrawMovingMap(BaseDisplay& display, const FrameInputs& inputs);

}  // namespace mapview
