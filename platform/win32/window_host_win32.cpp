// Window host on Win32: a GDI window of a fixed size whose client area
// shows the canvas (a DIB section on a memory DC) through BitBlt.
// Threading: the thread that opened the host owns the window and its
// messages.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "platform/window_host_internal.h"

namespace platform {

namespace {
const char kClassName[] = "OrogridWindowHost";
}  // namespace

struct CWindowHost::Impl {
  HWND window = nullptr;
  std::unique_ptr<DeviceContext> canvas;
  int width = 0;
  int height = 0;
  bool presented = false;
  CWindowEventQueue events;
  char error[256] = "";

  bool CopyTo(HDC target) const {
    if (!canvas || !presented) {
      return true;
    }
    return ::BitBlt(target, 0, 0, width, height, static_cast<HDC>(canvas->NativeHandle()), 0, 0,
                    SRCCOPY) != FALSE;
  }

  void Release() {
    if (window != nullptr) {
      ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      ::DestroyWindow(window);
      window = nullptr;
    }
    canvas.reset();
    presented = false;
  }
};

namespace {

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<CWindowHost::Impl*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (d != nullptr) {
    switch (message) {
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC hdc = ::BeginPaint(window, &paint);
        d->CopyTo(hdc);
        ::EndPaint(window, &paint);
        return 0;
      }
      case WM_ERASEBKGND:
        return 1;  // the canvas covers it all
      case WM_CHAR:
        d->events.Push(WindowEvent{WindowEvent::kKey, static_cast<int>(wParam & 0xFF)});
        return 0;
      case WM_CLOSE:
        // The caller ends; the window goes with Close.
        d->events.Push(WindowEvent{WindowEvent::kClosed, 0});
        return 0;
      default:
        break;
    }
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterHostClass() {
  WNDCLASSA windowClass{};
  if (::GetClassInfoA(::GetModuleHandleA(nullptr), kClassName, &windowClass) != FALSE) {
    return true;
  }
  windowClass.lpfnWndProc = HostProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kClassName;
  return ::RegisterClassA(&windowClass) != 0;
}

}  // namespace

CWindowHost::CWindowHost() : m_pImpl(new Impl) {}

CWindowHost::~CWindowHost() {
  Close();
  delete m_pImpl;
}

bool CWindowHost::Open(int width, int height, const char* title) {
  Impl& d = *m_pImpl;
  Close();
  d.error[0] = '\0';
  if (WindowOpenFailing()) {
    std::snprintf(d.error, sizeof d.error, "no display to open a window on");
    return false;
  }
  if (!RegisterHostClass()) {
    std::snprintf(d.error, sizeof d.error, "cannot register the window class (code %lu)",
                  ::GetLastError());
    return false;
  }
  d.canvas = CreateImageDC(width, height);
  if (!d.canvas) {
    std::snprintf(d.error, sizeof d.error, "cannot make a %d x %d picture", width, height);
    return false;
  }
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{0, 0, width, height};
  ::AdjustWindowRect(&frame, style, FALSE);
  d.window = ::CreateWindowExA(0, kClassName, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                               frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                               ::GetModuleHandleA(nullptr), nullptr);
  if (d.window == nullptr) {
    std::snprintf(d.error, sizeof d.error, "no display to open a window on (code %lu)",
                  ::GetLastError());
    d.canvas.reset();
    return false;
  }
  d.width = width;
  d.height = height;
  ::SetWindowLongPtrA(d.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&d));
  ::ShowWindow(d.window, SW_SHOWNORMAL);
  ::UpdateWindow(d.window);
  return true;
}

DeviceContext* CWindowHost::Canvas() const { return m_pImpl->canvas.get(); }

bool CWindowHost::IsOpen() const { return m_pImpl->window != nullptr; }

bool CWindowHost::Present() {
  Impl& d = *m_pImpl;
  if (d.window == nullptr) {
    return false;
  }
  d.presented = true;
  ::GdiFlush();
  HDC hdc = ::GetDC(d.window);
  if (hdc == nullptr) {
    return false;
  }
  const bool copied = d.CopyTo(hdc);
  ::ReleaseDC(d.window, hdc);
  return copied;
}

WindowEvent CWindowHost::Poll(int timeoutMs) {
  Impl& d = *m_pImpl;
  if (d.events.Empty() && d.window != nullptr && timeoutMs > 0) {
    MSG peek;
    if (::PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE) == FALSE) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs), QS_ALLINPUT);
    }
  }
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
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
