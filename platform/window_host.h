// Platform service: one top-level window that shows a picture the caller
// draws, for live displays beside the terminal host.
//
// Contract every platform provides:
//  - Open makes a window whose drawing area is width x height pixels, with
//    the title given, and shows it. It is false when there is no display to
//    open a window on (ErrorText says so, naming what was missing) or the
//    system refuses; nothing is left open then.
//  - Canvas() is an image device context of the window's size made by
//    CreateImageDC (a Cairo image on POSIX, a DIB section on Win32): the
//    caller draws a whole frame there, then Present() shows it at once, so
//    a half-drawn frame is never seen. The host shows the last presented
//    frame again by itself when the window is uncovered.
//  - Poll handles the window's pending events and returns the first one
//    for the caller, waiting at most timeoutMs for one (0: no wait). Keys
//    come as their character ('q', 'n', 27 for Escape); the window's own
//    close (its close button, the window manager) comes as kClosed, once,
//    after which the window is gone and Present does nothing.
//  - Close (and the destructor) removes the window and frees what Open made.
//  - SetWindowOpenFailure(true) makes every Open fail as a missing display
//    does, so a caller's handling of it can be tested.
//
// Linux: an X11 window (the display in $DISPLAY) shown through Cairo's Xlib
// surface. Windows: a GDI window; the canvas is copied with BitBlt.
//
// Threading: a host belongs to the thread that opened it, which draws,
// presents and polls.
#pragma once

#include "platform/device_context.h"

namespace platform {

struct WindowEvent {
  enum Kind { kNone, kKey, kClosed };
  Kind kind;
  int key;  // the key's character with kKey, else 0
};

class CWindowHost {
 public:
  CWindowHost();
  ~CWindowHost();
  CWindowHost(const CWindowHost&) = delete;
  CWindowHost& operator=(const CWindowHost&) = delete;

  bool Open(int width, int height, const char* title);
  DeviceContext* Canvas() const;
  // False when the window is gone or the system refused the copy.
  bool Present();
  WindowEvent Poll(int timeoutMs);
  void Close();
  bool IsOpen() const;
  // The last failure in words ("" when none).
  const char* ErrorText() const;

  struct Impl;  // the platform's own

 private:
  Impl* m_pImpl;
};

void SetWindowOpenFailure(bool fail);

}  // namespace platform
