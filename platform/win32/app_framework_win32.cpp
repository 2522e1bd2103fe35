// Application framework on Win32: modal dialogs from the program's resource
// templates (DialogBoxParamA), a dialog procedure that forwards each message
// to its object, window timers, the system menu, string and icon resources.
//
// Threading: the user-interface thread only.
#include <windows.h>
// The framework's members share these names with the system's A/W macros;
// every other file sees the plain names.
#undef SendMessage
#undef SetDlgItemText
#undef GetDlgItemText

#include <cstdint>

#include "platform/app_framework.h"
#include "platform/app_framework_internal.h"

namespace platform {

static_assert(sizeof(PAINTSTRUCT) <= 128, "paint record room");
static_assert(kScClose == SC_CLOSE && kSwMinimize == SW_MINIMIZE && kIdOk == IDOK &&
              kIdCancel == IDCANCEL && kSmCxIcon == SM_CXICON && kSmCyIcon == SM_CYICON &&
              kWmIconEraseBkgnd == WM_ICONERASEBKGND);

namespace {

HWND Hwnd(void* handle) { return static_cast<HWND>(handle); }

}  // namespace

struct DialogHost {
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      auto* dialog = reinterpret_cast<CDialog*>(lParam);
      SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
      dialog->m_hWnd = hwnd;
      dialog->m_hasSystemMenu = true;
      return dialog->OnInitDialog() ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (dialog == nullptr) {
      return FALSE;
    }
    switch (message) {
      case WM_SYSCOMMAND:
        dialog->OnSysCommand(static_cast<unsigned>(wParam), static_cast<std::intptr_t>(lParam));
        return TRUE;
      case WM_PAINT:
        dialog->m_defaultRequested = false;
        dialog->OnPaint();
        return dialog->m_defaultRequested ? FALSE : TRUE;
      case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(dialog->OnQueryDragIcon());
      case WM_CLOSE:
        dialog->m_defaultRequested = false;
        dialog->OnClose();
        return dialog->m_defaultRequested ? FALSE : TRUE;
      case WM_DESTROY:
        dialog->OnDestroy();
        return FALSE;
      case WM_TIMER:
        dialog->OnTimer(static_cast<std::uintptr_t>(wParam));
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
          dialog->OnOK();
          return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
          dialog->OnCancel();
          return TRUE;
        }
        return FALSE;
      case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
        return FALSE;
      default:
        return FALSE;
    }
  }
};

// ---- CDialog, platform part ----

CDialog::CDialog(int templateId, CDialog* parent) : m_templateId(templateId), m_pParent(parent) {
  for (Timer& timer : m_timers) {
    timer.fd = -1;
  }
}

CDialog::~CDialog() { ClearTimers(); }

void CDialog::ClearTimers() {
  for (int i = 0; i < m_timerCount; ++i) {
    if (m_hWnd != nullptr) {
      ::KillTimer(Hwnd(m_hWnd), m_timers[i].id);
    }
  }
  m_timerCount = 0;
}

int CDialog::DoModal() {
  m_ended = false;
  m_result = 0;
  const HWND parent = m_pParent != nullptr ? Hwnd(m_pParent->m_hWnd) : nullptr;
  const INT_PTR result =
      DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), parent,
                      &DialogHost::DialogProc, reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  m_timerCount = 0;  // the system dropped the window's timers with it
  return static_cast<int>(result);
}

void CDialog::EndDialog(int result) {
  m_ended = true;
  m_result = result;
  if (m_hWnd != nullptr) {
    ::EndDialog(Hwnd(m_hWnd), result);
  }
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::OnSysCommand(unsigned id, std::intptr_t param) {
  if (m_hWnd != nullptr) {
    DefWindowProcA(Hwnd(m_hWnd), WM_SYSCOMMAND, id, param);
  } else if ((id & 0xFFF0u) == kScClose) {
    OnClose();
  }
}

void CDialog::OnPaint() { m_defaultRequested = true; }

IconHandle CDialog::OnQueryDragIcon() { return nullptr; }

void CDialog::OnClose() {
  m_defaultRequested = true;
  if (m_hWnd == nullptr) {
    OnCancel();
  }
}

bool CDialog::SetTimer(unsigned id, unsigned periodMs) {
  if (!TimerStartAllowed(id, periodMs) || periodMs == 0) {
    return false;
  }
  int slot = FindTimer(id);
  if (slot < 0 && m_timerCount == kMaxTimers) {
    return false;
  }
  if (m_hWnd != nullptr && ::SetTimer(Hwnd(m_hWnd), id, periodMs, nullptr) == 0) {
    return false;
  }
  if (slot < 0) {
    slot = m_timerCount++;
  }
  m_timers[slot] = {id, periodMs, -1};
  return true;
}

bool CDialog::KillTimer(unsigned id) {
  const int slot = FindTimer(id);
  if (slot < 0) {
    return false;
  }
  if (m_hWnd != nullptr) {
    ::KillTimer(Hwnd(m_hWnd), id);
  }
  ForgetTimerAt(slot);
  return true;
}

void CDialog::ShowWindow(int command) {
  if (command == kSwMinimize) {
    m_iconic = true;
    ++m_minimiseCount;
  }
  if (m_hWnd != nullptr) {
    ::ShowWindow(Hwnd(m_hWnd), command);
  }
}

bool CDialog::IsIconic() const {
  return m_hWnd != nullptr ? ::IsIconic(Hwnd(m_hWnd)) != FALSE : m_iconic;
}

void CDialog::SetIcon(IconHandle icon, bool bigIcon) {
  (bigIcon ? m_bigIcon : m_smallIcon) = icon;
  if (m_hWnd != nullptr) {
    ::SendMessageA(Hwnd(m_hWnd), WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                   reinterpret_cast<LPARAM>(icon));
  }
}

CSystemMenu* CDialog::GetSystemMenu() {
  if (m_hWnd == nullptr) {
    return &m_systemMenu;  // no window: the object's own list only
  }
  HMENU menu = ::GetSystemMenu(Hwnd(m_hWnd), FALSE);
  if (menu == nullptr) {
    return nullptr;
  }
  m_systemMenu.m_hMenu = menu;
  return &m_systemMenu;
}

std::intptr_t CDialog::SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (m_hWnd == nullptr) {
    return 0;
  }
  return ::SendMessageA(Hwnd(m_hWnd), message, wParam, lParam);
}

void CDialog::GetClientRect(ClientRect* rect) const {
  if (rect == nullptr) {
    return;
  }
  RECT r{0, 0, 0, 0};
  if (m_hWnd != nullptr) {
    ::GetClientRect(Hwnd(m_hWnd), &r);
  }
  *rect = ClientRect{static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right),
                     static_cast<int>(r.bottom)};
}

void* CDialog::GetClientDC() { return m_hWnd != nullptr ? GetDC(Hwnd(m_hWnd)) : nullptr; }

void CDialog::ReleaseClientDC(void* dc) {
  if (m_hWnd != nullptr && dc != nullptr) {
    ReleaseDC(Hwnd(m_hWnd), static_cast<HDC>(dc));
  }
}

void CDialog::SetDlgItemText(int controlId, const char* text) {
  ControlText* control = FindControl(controlId);
  if (control != nullptr) {
    CopyControlText(control->text, text, kControlTextSize);
  }
  if (m_hWnd != nullptr) {
    ::SetDlgItemTextA(Hwnd(m_hWnd), controlId, text != nullptr ? text : "");
  }
}

CDialog::CPaintDC::CPaintDC(CDialog* dialog) : m_pDialog(dialog) {
  if (dialog != nullptr && dialog->m_hWnd != nullptr) {
    m_hdc = BeginPaint(Hwnd(dialog->m_hWnd), reinterpret_cast<PAINTSTRUCT*>(m_ps));
  }
}

CDialog::CPaintDC::~CPaintDC() {
  if (m_hdc != nullptr) {
    EndPaint(Hwnd(m_pDialog->m_hWnd), reinterpret_cast<PAINTSTRUCT*>(m_ps));
  }
}

std::uintptr_t CDialog::CPaintDC::GetSafeHdc() const {
  return reinterpret_cast<std::uintptr_t>(m_hdc);
}

void CDialog::CPaintDC::DrawIcon(int x, int y, IconHandle icon) {
  if (m_hdc != nullptr && icon != nullptr) {
    ::DrawIcon(static_cast<HDC>(m_hdc), x, y, static_cast<HICON>(const_cast<void*>(icon)));
  }
}

// ---- resources ----

bool PlatformAppendMenu(void* hMenu, unsigned commandId, const char* text) {
  const bool separator = commandId == 0 && (text == nullptr || text[0] == '\0');
  return AppendMenuA(static_cast<HMENU>(hMenu), separator ? MF_SEPARATOR : MF_STRING, commandId,
                     separator ? nullptr : text) != FALSE;
}

void PlatformBeginUpdate(CDialog* /*dialog*/) {}

void PlatformEndUpdate(CDialog* /*dialog*/) {}

int LoadResourceString(int id, char* buf, int size) {
  if (buf == nullptr || size <= 0) {
    return 0;
  }
  buf[0] = '\0';
  const int n = LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), buf, size);
  return n > 0 ? n : 0;
}

IconHandle LoadResourceIcon(int id) {
  return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

}  // namespace platform
