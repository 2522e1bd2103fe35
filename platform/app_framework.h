// Application framework: the program's own small dialog framework, the home
// of the application object, modal dialogs built from templates, the
// member-to-control text exchange, window timers, the system menu, string
// and icon resources and the minimised-icon painting services.
//
// Contract every platform provides:
//  - CDialog::DoModal makes the window from dialog template m_templateId,
//    calls OnInitDialog once the window and its controls exist, delivers the
//    handlers below one at a time on the calling thread, and returns the
//    value given to EndDialog after the window has been destroyed (OnDestroy
//    has run). -1 when the window cannot be made.
//      Win32: DialogBoxParamA on the resource template, a dialog procedure
//      that forwards each message to the object.
//      POSIX: a terminal host. On a terminal the caption and the static
//      controls are redrawn in place; a key whose letter follows "&" in a
//      system-menu item runs that item's command, "q" runs SC_CLOSE;
//      SIGINT, SIGTERM and SIGHUP run SC_CLOSE as well. When standard output
//      is not a terminal, the outermost dialog's controls are written as
//      lines as their resource's `log` says: on every change, or at most
//      once a second (a pending text is always written, at the latest a
//      second later or when the window goes); other controls are not
//      written.
//  - Timers: SetTimer(id, ms) delivers OnTimer(id) every ms milliseconds
//    through the modal loop (also while a nested dialog is modal); ticks that
//    fall due while the loop is busy are not made up by a burst.
//  - A dialog that has no window (constructed but not run modally, as tests
//    use it) still works: texts go to the object's own copy of its control
//    texts, timers are recorded as running but never fire, ShowWindow and
//    painting do nothing. Tests call the handlers directly.
//  - Resources: Win32 reads the ones linked into the program from its
//    resource script; other platforms read the table given to
//    UseResourceTable.
//
// Threading: everything belongs to the one user-interface thread.
#pragma once

#include <cstdint>

namespace platform {

using IconHandle = const void*;

inline constexpr unsigned kScClose = 0xF060;
inline constexpr int kSwMinimize = 6;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kSmCxIcon = 11;
inline constexpr int kSmCyIcon = 12;
inline constexpr unsigned kWmIconEraseBkgnd = 0x0027;

// Longest text a control holds, terminator included.
inline constexpr int kControlTextSize = 1280;
// Controls of one dialog the framework keeps texts for.
inline constexpr int kMaxDialogControls = 8;

// How a terminal host writes a control's text when standard output is not a
// terminal (a log file, a pipe): not at all, as a line on every change, or at
// most once a second.
enum class ControlLog { kNone, kEveryChange, kAtMostOncePerSecond };

// Resource table for platforms without a resource compiler.
struct ControlResource {
  int id;
  const char* text;  // template text, shown until the program changes it
  bool visible;
  ControlLog log = ControlLog::kNone;
};
struct DialogResource {
  int templateId;
  const char* caption;
  const ControlResource* controls;
  int controlCount;
};
struct StringResource {
  int id;
  const char* text;
};
struct ResourceTable {
  const DialogResource* dialogs;
  int dialogCount;
  const StringResource* strings;
  int stringCount;
  const int* iconIds;
  int iconCount;
};
// The table stays the caller's; it must outlive every use. Win32 ignores it.
void UseResourceTable(const ResourceTable* table);

// Copies string resource id into buf (always terminated); returns its length,
// 0 when there is no such string.
int LoadResourceString(int id, char* buf, int size);
// The icon resource id at the system's standard icon size; null when absent.
IconHandle LoadResourceIcon(int id);
// GetSystemMetrics; 32 for the icon sizes where there is no display.
int GetSystemMetrics(int index);

// Seam for tests: while a hook is set, SetTimer asks it first and fails
// (starting nothing) when it returns false. Null removes the hook.
using TimerStartHook = bool (*)(unsigned id, unsigned periodMs);
void SetTimerStartHook(TimerStartHook hook);

struct ClientRect {
  int left;
  int top;
  int right;
  int bottom;
};

class CDialog;

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, bool saveAndValidate)
      : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
  bool m_bSaveAndValidate;  // true: control to member; false: member to control
  CDialog* m_pDlgWnd;
};

// Text exchange between control id and a fixed buffer of size bytes.
void DDX_Text(CDataExchange* pDX, int controlId, char* text, int size);

// The window's system menu.
class CSystemMenu {
 public:
  static constexpr int kMaxItems = 8;
  bool AppendSeparator();
  bool AppendItem(unsigned commandId, const char* text);
  // Command of the item whose "&" letter is key (either case); 0 when none.
  unsigned CommandForKey(char key) const;
  int ItemCount() const { return m_count; }
  const char* ItemText(int index) const;

 private:
  friend class CDialog;
  friend struct DialogHost;
  void* m_hMenu = nullptr;  // the system's menu where there is one
  struct Item {
    unsigned command;
    char text[64];
  };
  Item m_items[kMaxItems] = {};
  int m_count = 0;
};

class CDialog {
 public:
  explicit CDialog(int templateId, CDialog* parent = nullptr);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  int DoModal();
  void EndDialog(int result);
  bool UpdateData(bool saveAndValidate = true);

  // Handlers; the base versions are the framework's default handling.
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual bool OnInitDialog();
  virtual void OnSysCommand(unsigned id, std::intptr_t param);
  virtual void OnPaint();
  virtual IconHandle OnQueryDragIcon();
  virtual void OnClose();
  virtual void OnDestroy();
  virtual void OnTimer(std::uintptr_t id);
  virtual void OnOK();
  virtual void OnCancel();

  bool SetTimer(unsigned id, unsigned periodMs);
  bool KillTimer(unsigned id);
  bool IsTimerRunning(unsigned id) const;
  void ShowWindow(int command);
  bool IsIconic() const;
  void SetIcon(IconHandle icon, bool bigIcon);
  // Null when the window has no system menu (or there is no window).
  CSystemMenu* GetSystemMenu();
  std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  void GetClientRect(ClientRect* rect) const;
  // The window's client-area device context (HDC on Win32); null without a
  // window and on platforms that draw no window. Give it back with
  // ReleaseClientDC.
  void* GetClientDC();
  void ReleaseClientDC(void* dc);

  void SetDlgItemText(int controlId, const char* text);
  // The control's text as last set (or read from the window).
  const char* GetDlgItemText(int controlId) const;

  bool HasWindow() const { return m_hWnd != nullptr; }
  void* GetSafeHwnd() const { return m_hWnd; }
  int TemplateId() const { return m_templateId; }
  bool IsModalEnded() const { return m_ended; }
  int ModalResult() const { return m_result; }
  // Number of minimise requests seen (ShowWindow(kSwMinimize)).
  int MinimiseCount() const { return m_minimiseCount; }

 protected:
  // Paint context of the window, open for the object's life.
  class CPaintDC {
   public:
    explicit CPaintDC(CDialog* dialog);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    std::uintptr_t GetSafeHdc() const;
    void DrawIcon(int x, int y, IconHandle icon);

   private:
    CDialog* m_pDialog;
    void* m_hdc = nullptr;
    unsigned char m_ps[128] = {};  // the system's paint record
  };

 private:
  friend struct DialogHost;
  friend void DDX_Text(CDataExchange*, int, char*, int);

  struct ControlText {
    int id;
    char text[kControlTextSize];
  };
  ControlText* FindControl(int controlId);
  const ControlText* FindControl(int controlId) const;
  void ClearTimers();

  int m_templateId;
  CDialog* m_pParent;
  void* m_hWnd = nullptr;
  bool m_ended = false;
  int m_result = 0;
  bool m_defaultRequested = false;
  bool m_iconic = false;
  int m_minimiseCount = 0;
  IconHandle m_bigIcon = nullptr;
  IconHandle m_smallIcon = nullptr;
  ControlText m_controls[kMaxDialogControls] = {};
  int m_controlCount = 0;
  struct Timer {
    unsigned id;
    unsigned periodMs;
    int fd;  // platform timer object, -1 when there is none
  };
  static constexpr int kMaxTimers = 4;
  Timer m_timers[kMaxTimers] = {};
  int m_timerCount = 0;
  // The timer table's bookkeeping, shared by every host: the slot of timer
  // id (-1 when not set), and removing a slot.
  int FindTimer(unsigned id) const;
  void ForgetTimerAt(int slot);
  CSystemMenu m_systemMenu;
  bool m_hasSystemMenu = false;
};

// The application object: exactly one, constructed before RunApplication.
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The start-up hook. Returning false ends the program without a message
  // loop of its own.
  virtual bool InitInstance() = 0;
  // Modern systems draw controls three-dimensionally already; kept so the
  // start-up reads as the framework's.
  void Enable3dControls() {}
  IconHandle LoadIcon(int id) const { return LoadResourceIcon(id); }
  CDialog* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// Runs the application object's InitInstance; the program's exit status.
int RunApplication();

}  // namespace platform
