// orogrid-view's live window: opens the terrain-awareness window and keeps
// it following the publications until the user closes it (the window's
// close, q or Escape), a stop is requested or the time given runs out.
//
// Threading: the calling thread owns the window and the client handle.
#pragma once

#include <csignal>

#include "tools/view/MapGeometry.h"

namespace mapview {

struct WindowOptions {
  const char* segment = nullptr;  // null: the default record
  Orientation orientation = Orientation::kHeadingUp;
  double rangeKm = 80.0;
  double closeAfterS = 0.0;  // > 0: end after this many seconds
  double altitude = 0.0;     // metres, used when altitudeGiven
  bool altitudeGiven = false;
};

// Exit status: 0 after a clean end, 1 when no window can be opened (no
// display), the reason on standard error. Prints the frames drawn and
// their rate on standard output at the end. stop is polled between frames.
int RunWindow(const WindowOptions& options, const volatile std::sig_atomic_t* stop);

}  // namespace mapview
