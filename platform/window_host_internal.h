// Window host: what its shared part gives the platform parts. Not for use
// outside platform/.
//
// Threading: the thread that opened the host; the open-failure seam is
// process-wide and set while no host opens.
#pragma once

#include "platform/window_host.h"

namespace platform {

// The events a host has taken from the system and not yet handed out, in
// order; a full queue drops what comes on top (a caller that polls never
// lets it fill).
class CWindowEventQueue {
 public:
  void Push(WindowEvent event);
  // The oldest event, kNone when there is none.
  WindowEvent Pop();
  bool Empty() const { return m_nQueued == 0; }

 private:
  static constexpr int kSize = 16;
  WindowEvent m_queue[kSize] = {};
  int m_nQueued = 0;
};

// SetWindowOpenFailure's setting: every Open fails as without a display.
bool WindowOpenFailing();

}  // namespace platform
