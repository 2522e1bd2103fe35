// The parts of the window host both platforms share: the event queue and
// the open-failure seam.
// Threading: see window_host_internal.h.
#include "platform/window_host_internal.h"

namespace platform {

namespace {
bool g_bOpenFailing = false;
}  // namespace

void SetWindowOpenFailure(bool fail) { g_bOpenFailing = fail; }

bool WindowOpenFailing() { return g_bOpenFailing; }

void CWindowEventQueue::Push(WindowEvent event) {
  if (m_nQueued < kSize) {
    m_queue[m_nQueued++] = event;
  }
}

WindowEvent CWindowEventQueue::Pop() {
  if (m_nQueued == 0) {
    return WindowEvent{WindowEvent::kNone, 0};
  }
  const WindowEvent first = m_queue[0];
  for (int i = 1; i < m_nQueued; ++i) {
    m_queue[i - 1] = m_queue[i];
  }
  --m_nQueued;
  return first;
}

}  // namespace platform
