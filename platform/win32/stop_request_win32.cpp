// Win32 stop requests: a console control handler raises the flag; for the
// close, log-off and shut-down events it then waits for the program's
// acknowledgement, because the process ends as soon as the handler returns.
// Threading: the handler runs on a thread the system makes.
#include <windows.h>

#include <csignal>

#include "platform/stop_request.h"

namespace platform {

namespace {
volatile LONG g_stop = 0;
HANDLE g_acknowledged = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  InterlockedExchange(&g_stop, 1);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The system allows a handler about 5 s before it ends the process.
    if (g_acknowledged != nullptr) {
      WaitForSingleObject(g_acknowledged, 4000);
    }
  }
  return TRUE;
}

extern "C" void OnStopSignal(int) { InterlockedExchange(&g_stop, 1); }
}  // namespace

bool InstallStopRequest() {
  if (g_acknowledged == nullptr) {
    g_acknowledged = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  std::signal(SIGTERM, OnStopSignal);
  return g_acknowledged != nullptr && SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

bool StopRequested() { return InterlockedCompareExchange(&g_stop, 0, 0) != 0; }
void RequestStop() { InterlockedExchange(&g_stop, 1); }
void StopAcknowledged() {
  if (g_acknowledged != nullptr) {
    SetEvent(g_acknowledged);
  }
}

}  // namespace platform
