// Window host on POSIX: an X11 window on the display named by $DISPLAY,
// drawn by painting the Cairo image canvas onto the window's Xlib surface.
// Threading: the thread that opened the host.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>
#include <cairo.h>
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/window_host_internal.h"

namespace platform {

struct CWindowHost::Impl {
  Display* display = nullptr;
  Window window = 0;
  Atom deleteAtom = 0;
  cairo_surface_t* surface = nullptr;  // the window's
  std::unique_ptr<DeviceContext> canvas;
  int width = 0;
  int height = 0;
  bool presented = false;
  CWindowEventQueue events;
  char error[256] = "";

  void Paint() {
    if (surface == nullptr || !canvas || !presented) {
      return;
    }
    auto* from = cairo_get_target(static_cast<cairo_t*>(canvas->NativeHandle()));
    cairo_surface_flush(from);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_surface(cr, from, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    XFlush(display);
  }

  void Handle(XEvent& event) {
    switch (event.type) {
      case Expose:
        if (event.xexpose.count == 0) {
          Paint();
        }
        break;
      case KeyPress: {
        char text[8] = {};
        KeySym symbol = 0;
        const int length = XLookupString(&event.xkey, text, sizeof text, &symbol, nullptr);
        if (symbol == XK_Escape) {
          events.Push(WindowEvent{WindowEvent::kKey, 27});
        } else if (length == 1) {
          events.Push(WindowEvent{WindowEvent::kKey, static_cast<unsigned char>(text[0])});
        }
        break;
      }
      case ClientMessage:
        if (static_cast<Atom>(event.xclient.data.l[0]) == deleteAtom) {
          events.Push(WindowEvent{WindowEvent::kClosed, 0});
        }
        break;
      case DestroyNotify:
        events.Push(WindowEvent{WindowEvent::kClosed, 0});
        break;
      default:
        break;
    }
  }

  void Release() {
    if (surface != nullptr) {
      cairo_surface_destroy(surface);
      surface = nullptr;
    }
    if (display != nullptr) {
      if (window != 0) {
        XDestroyWindow(display, window);
      }
      XCloseDisplay(display);
    }
    display = nullptr;
    window = 0;
    canvas.reset();
    presented = false;
  }
};

CWindowHost::CWindowHost() : m_pImpl(new Impl) {}

CWindowHost::~CWindowHost() {
  Close();
  delete m_pImpl;
}

bool CWindowHost::Open(int width, int height, const char* title) {
  Impl& d = *m_pImpl;
  Close();
  d.error[0] = '\0';
  const char* name = std::getenv("DISPLAY");
  if (WindowOpenFailing() || name == nullptr || name[0] == '\0') {
    std::snprintf(d.error, sizeof d.error, "no display (DISPLAY is not set)");
    return false;
  }
  d.display = XOpenDisplay(nullptr);
  if (d.display == nullptr) {
    std::snprintf(d.error, sizeof d.error, "cannot open the display \"%.200s\"", name);
    return false;
  }
  d.canvas = CreateImageDC(width, height);
  if (!d.canvas) {
    std::snprintf(d.error, sizeof d.error, "cannot make a %d x %d picture", width, height);
    d.Release();
    return false;
  }
  const int screen = DefaultScreen(d.display);
  d.window = XCreateSimpleWindow(d.display, RootWindow(d.display, screen), 0, 0,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                 BlackPixel(d.display, screen), BlackPixel(d.display, screen));
  XStoreName(d.display, d.window, title);
  // A fixed size: the picture is drawn for this one.
  XSizeHints* hints = XAllocSizeHints();
  if (hints != nullptr) {
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = width;
    hints->min_height = hints->max_height = height;
    XSetWMNormalHints(d.display, d.window, hints);
    XFree(hints);
  }
  d.deleteAtom = XInternAtom(d.display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(d.display, d.window, &d.deleteAtom, 1);
  XSelectInput(d.display, d.window, ExposureMask | KeyPressMask | StructureNotifyMask);
  d.surface = cairo_xlib_surface_create(d.display, d.window, DefaultVisual(d.display, screen),
                                        width, height);
  if (cairo_surface_status(d.surface) != CAIRO_STATUS_SUCCESS) {
    std::snprintf(d.error, sizeof d.error, "cannot draw on the window: %s",
                  cairo_status_to_string(cairo_surface_status(d.surface)));
    d.Release();
    return false;
  }
  XMapWindow(d.display, d.window);
  XFlush(d.display);
  d.width = width;
  d.height = height;
  return true;
}

DeviceContext* CWindowHost::Canvas() const { return m_pImpl->canvas.get(); }

bool CWindowHost::IsOpen() const { return m_pImpl->window != 0; }

bool CWindowHost::Present() {
  Impl& d = *m_pImpl;
  if (d.window == 0) {
    return false;
  }
  d.presented = true;
  d.Paint();
  return true;
}

WindowEvent CWindowHost::Poll(int timeoutMs) {
  Impl& d = *m_pImpl;
  if (!d.events.Empty() || d.display == nullptr) {
    return d.events.Pop();
  }
  if (XPending(d.display) == 0 && timeoutMs > 0) {
    pollfd descriptor{ConnectionNumber(d.display), POLLIN, 0};
    poll(&descriptor, 1, timeoutMs);
  }
  while (XPending(d.display) > 0) {
    XEvent event;
    XNextEvent(d.display, &event);
    d.Handle(event);
  }
  const WindowEvent first = d.events.Pop();
  if (first.kind == WindowEvent::kClosed) {
    d.Release();
  }
  return first;
}

void CWindowHost::Close() { m_pImpl->Release(); }

const char* CWindowHost::ErrorText() const { return m_pImpl->error; }

}  // namespace platform
