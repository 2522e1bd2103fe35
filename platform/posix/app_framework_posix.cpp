// Application framework on POSIX: a terminal host for the program's dialogs.
// A modal run is a poll loop over the dialogs' timers (timerfd), a
// self-pipe fed by SIGINT, SIGTERM and SIGHUP, and the keyboard when
// standard input is a terminal. On a terminal the dialogs are drawn as text
// and redrawn in place; otherwise the outermost dialog's controls are logged
// as their resources say (ControlLog).
//
// Threading: the user-interface thread only; the signal handler only writes
// to the self-pipe and sets a flag.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/app_framework.h"
#include "platform/app_framework_internal.h"

namespace platform {

namespace {

constexpr int kMaxModalDepth = 4;
constexpr std::int64_t kLogIntervalNs = 1000000000;  // ControlLog::kAtMostOncePerSecond

volatile sig_atomic_t g_closeRequested = 0;
int g_signalPipe[2] = {-1, -1};

void OnCloseSignal(int /*signo*/) {
  const int saved = errno;
  g_closeRequested = 1;
  const char byte = 1;
  if (g_signalPipe[1] >= 0) {
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
  }
  errno = saved;
}

std::int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Status output is best effort: a reader that stops reading (a full pipe:
// stdout is non-blocking then) or goes away loses lines, never the server's
// ticks, and a close request always gets through.
void WriteAll(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(STDOUT_FILENO, text, length);
    if (n < 0) {
      if (errno == EINTR && g_closeRequested == 0) {
        continue;
      }
      return;
    }
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void WriteText(const char* text) { WriteAll(text, std::strlen(text)); }

}  // namespace

// The host's state: the stack of modal dialogs and the output.
struct DialogHost {
  CDialog* stack[kMaxModalDepth] = {};
  int depth = 0;
  bool stdoutTty = false;
  bool stdinTty = false;
  termios savedTermios{};
  bool termiosSaved = false;
  struct sigaction oldActions[3]{};
  struct sigaction oldPipeAction {};
  int stdoutFlags = -1;  // restored on close when output was made non-blocking
  int drawnLines = 0;
  // Plain-line output: the outermost dialog's logged controls.
  struct LoggedControl {
    int id = 0;
    ControlLog log = ControlLog::kNone;
    char last[kControlTextSize] = {};  // the text last written
    bool pending = false;              // a change waits for its second
    bool printed = false;
    std::int64_t lastNs = 0;
  };
  LoggedControl logged[kMaxDialogControls] = {};
  int loggedCount = 0;
  char frame[kMaxModalDepth * 8 * 260 + 512] = {};
  char lastFrame[sizeof(frame)] = {};
  std::size_t lastFrameSize = 0;
  int updating = 0;  // data exchanges in progress: draw once at their end

  static DialogHost& Get() {
    static DialogHost host;
    return host;
  }

  bool Push(CDialog* dialog) {
    if (depth == kMaxModalDepth) {
      return false;
    }
    if (depth == 0) {
      Open();
    }
    stack[depth++] = dialog;
    if (depth == 1) {
      LogControlsOf(dialog);
    }
    return true;
  }

  void Pop() {
    if (depth == 1) {
      FlushPending(true);
    }
    --depth;
    stack[depth] = nullptr;
    if (depth == 0) {
      Close();
    } else {
      Render();
    }
  }

  void Open() {
    stdoutTty = isatty(STDOUT_FILENO) != 0;
    stdinTty = stdoutTty && isatty(STDIN_FILENO) != 0;
    g_closeRequested = 0;
    if (g_signalPipe[0] < 0 && pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
    for (int i = 0; i < 3; ++i) {
      sigaction(signals[i], &action, &oldActions[i]);
    }
    // A vanished reader of the output must not end the process before it
    // gives its place in the segment back: writes fail with EPIPE instead.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &oldPipeAction);
    stdoutFlags = -1;
    if (!stdoutTty) {
      const int flags = fcntl(STDOUT_FILENO, F_GETFL);
      if (flags >= 0 && (flags & O_NONBLOCK) == 0 &&
          fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) == 0) {
        stdoutFlags = flags;
      }
    }
    if (stdinTty && tcgetattr(STDIN_FILENO, &savedTermios) == 0) {
      termiosSaved = true;
      termios raw = savedTermios;
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    if (stdoutTty) {
      WriteText("\x1b[?25l");
    }
    drawnLines = 0;
    lastFrameSize = 0;
  }

  // Takes the logged controls from the outermost dialog's resource.
  void LogControlsOf(const CDialog* dialog) {
    loggedCount = 0;
    const DialogResource* resource = FindDialogResource(dialog->TemplateId());
    if (resource == nullptr) {
      return;
    }
    for (int c = 0; c < resource->controlCount && loggedCount < kMaxDialogControls; ++c) {
      if (resource->controls[c].log != ControlLog::kNone) {
        LoggedControl& control = logged[loggedCount++];
        control.id = resource->controls[c].id;
        control.log = resource->controls[c].log;
        control.last[0] = '\0';
        control.pending = false;
        control.printed = false;
        control.lastNs = 0;
      }
    }
  }

  LoggedControl* FindLogged(int controlId) {
    for (int i = 0; i < loggedCount; ++i) {
      if (logged[i].id == controlId) {
        return &logged[i];
      }
    }
    return nullptr;
  }

  void Close() {
    if (termiosSaved) {
      tcsetattr(STDIN_FILENO, TCSANOW, &savedTermios);
      termiosSaved = false;
    }
    if (stdoutTty) {
      WriteText("\x1b[?25h");
    }
    const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
    for (int i = 0; i < 3; ++i) {
      sigaction(signals[i], &oldActions[i], nullptr);
    }
    sigaction(SIGPIPE, &oldPipeAction, nullptr);
    if (stdoutFlags >= 0) {
      fcntl(STDOUT_FILENO, F_SETFL, stdoutFlags);
      stdoutFlags = -1;
    }
  }

  bool IsHosted(const CDialog* dialog) const {
    for (int i = 0; i < depth; ++i) {
      if (stack[i] == dialog) {
        return true;
      }
    }
    return false;
  }

  // ---- output ----

  void ControlChanged(const CDialog* dialog, int controlId) {
    if (!IsHosted(dialog)) {
      return;
    }
    if (stdoutTty) {
      if (updating == 0) {
        Render();
      }
      return;
    }
    LoggedControl* control = dialog == stack[0] ? FindLogged(controlId) : nullptr;
    if (control == nullptr) {
      return;
    }
    const char* text = dialog->GetDlgItemText(controlId);
    if (control->log == ControlLog::kEveryChange) {
      if (std::strcmp(text, control->last) != 0) {
        CopyControlText(control->last, text, kControlTextSize);
        WriteLine(text);
      }
    } else {
      control->pending = std::strcmp(text, control->last) != 0;
      Flush(*control, false);
    }
  }

  // One line per text: line breaks inside it become blanks.
  static void WriteLine(const char* text) {
    char line[kControlTextSize + 1];
    std::size_t n = 0;
    for (; text[n] != '\0' && n < kControlTextSize - 1; ++n) {
      const char c = text[n];
      line[n] = (c == '\n' || c == '\r') ? ' ' : c;
    }
    line[n++] = '\n';
    WriteAll(line, n);
  }

  // Writes a control's pending text when its second has passed (or always).
  void Flush(LoggedControl& control, bool always) {
    if (!control.pending || stdoutTty || depth == 0) {
      return;
    }
    const std::int64_t now = NowNs();
    if (!always && control.printed && now - control.lastNs < kLogIntervalNs) {
      return;
    }
    const char* text = stack[0]->GetDlgItemText(control.id);
    CopyControlText(control.last, text, kControlTextSize);
    WriteLine(text);
    control.pending = false;
    control.printed = true;
    control.lastNs = now;
  }

  void FlushPending(bool always) {
    for (int i = 0; i < loggedCount; ++i) {
      Flush(logged[i], always);
    }
  }

  // Milliseconds until the first pending text may be written; -1 for none.
  int PendingWaitMs() const {
    if (stdoutTty) {
      return -1;
    }
    int wait = -1;
    for (int i = 0; i < loggedCount; ++i) {
      if (!logged[i].pending) {
        continue;
      }
      const std::int64_t left = kLogIntervalNs - (NowNs() - logged[i].lastNs);
      const int ms = left <= 0 ? 0 : static_cast<int>(left / 1000000) + 1;
      wait = wait < 0 ? ms : std::min(wait, ms);
    }
    return wait;
  }

  void AppendFrame(std::size_t* used, const char* text, int width) {
    std::size_t n = std::strlen(text);
    if (width > 1 && n > static_cast<std::size_t>(width - 1)) {
      n = static_cast<std::size_t>(width - 1);
    }
    if (*used + 8 >= sizeof(frame)) {
      return;
    }
    const std::size_t room = sizeof(frame) - *used - 8;
    if (n > room) {
      n = room;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const char c = text[i];
      frame[*used + i] = (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    }
    *used += n;
    std::memcpy(frame + *used, "\x1b[K\n", 4);
    *used += 4;
  }

  void Render() {
    if (!stdoutTty || depth == 0) {
      return;
    }
    winsize ws{};
    int width = 0;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0) {
      width = ws.ws_col;
    }
    std::size_t used = 0;
    if (drawnLines > 0) {
      used +=
          static_cast<std::size_t>(std::snprintf(frame, sizeof(frame), "\r\x1b[%dA", drawnLines));
    }
    int lines = 0;
    for (int d = 0; d < depth; ++d) {
      const CDialog* dialog = stack[d];
      const DialogResource* resource = FindDialogResource(dialog->TemplateId());
      if (d > 0) {
        AppendFrame(&used, "", width);
        ++lines;
      }
      AppendFrame(&used, resource != nullptr ? resource->caption : "", width);
      ++lines;
      if (resource != nullptr) {
        for (int c = 0; c < resource->controlCount; ++c) {
          if (resource->controls[c].visible) {
            AppendFrame(&used, dialog->GetDlgItemText(resource->controls[c].id), width);
            ++lines;
          }
        }
      }
    }
    char hint[160];
    const CDialog* top = stack[depth - 1];
    if (depth == 1) {
      std::snprintf(hint, sizeof(hint), "%s", "[q] Close");
      const CSystemMenu& menu = top->m_systemMenu;
      for (int i = 0; i < menu.ItemCount(); ++i) {
        const char* amp = std::strchr(menu.ItemText(i), '&');
        if (amp != nullptr && amp[1] != '\0') {
          const std::size_t n = std::strlen(hint);
          std::snprintf(hint + n, sizeof(hint) - n, "  [%c] %s",
                        amp[1] >= 'A' && amp[1] <= 'Z' ? amp[1] - 'A' + 'a' : amp[1], amp + 1);
        }
      }
    } else {
      std::snprintf(hint, sizeof(hint), "%s", "[Enter] OK");
    }
    AppendFrame(&used, hint, width);
    ++lines;
    // Erase what a taller earlier frame left below.
    std::memcpy(frame + used, "\x1b[J", 3);
    used += 3;
    // Both texts are transferred on every change: draw only what differs.
    if (used == lastFrameSize && std::memcmp(frame, lastFrame, used) == 0) {
      return;
    }
    std::memcpy(lastFrame, frame, used);
    lastFrameSize = used;
    WriteAll(frame, used);
    drawnLines = lines;
  }

  // ---- input and timers ----

  void HandleKey(char key) {
    CDialog* top = stack[depth - 1];
    if (depth > 1) {
      if (key == '\r' || key == '\n' || key == ' ' || key == 'o' || key == 'O') {
        top->OnOK();
      } else if (key == 'q' || key == 'Q' || key == 0x1b) {
        top->OnSysCommand(kScClose, 0);
      }
      return;
    }
    if (key == 'q' || key == 'Q') {
      top->OnSysCommand(kScClose, 0);
      return;
    }
    const unsigned command = top->m_systemMenu.CommandForKey(key);
    if (command != 0) {
      top->OnSysCommand(command, 0);
    }
  }

  // One wait of the modal loop of the dialog on top.
  void RunOnce() {
    CDialog* top = stack[depth - 1];
    if (g_closeRequested != 0) {
      if (depth == 1) {
        g_closeRequested = 0;
        top->OnSysCommand(kScClose, 0);
      } else {
        // A nested dialog goes first; the outer loop then sees the request.
        top->EndDialog(kIdCancel);
      }
      return;
    }
    pollfd fds[2 + kMaxModalDepth * CDialog::kMaxTimers] = {};
    CDialog* owners[kMaxModalDepth * CDialog::kMaxTimers] = {};
    unsigned ids[kMaxModalDepth * CDialog::kMaxTimers] = {};
    nfds_t count = 0;
    fds[count++] = {g_signalPipe[0], POLLIN, 0};
    const nfds_t keyIndex = count;
    fds[count++] = {stdinTty ? STDIN_FILENO : -1, POLLIN, 0};
    const nfds_t firstTimer = count;
    for (int d = 0; d < depth; ++d) {
      CDialog* dialog = stack[d];
      for (int t = 0; t < dialog->m_timerCount; ++t) {
        if (dialog->m_timers[t].fd >= 0) {
          owners[count - firstTimer] = dialog;
          ids[count - firstTimer] = dialog->m_timers[t].id;
          fds[count++] = {dialog->m_timers[t].fd, POLLIN, 0};
        }
      }
    }
    const int ready = poll(fds, count, PendingWaitMs());
    FlushPending(false);
    if (ready <= 0) {
      return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      char drain[16];
      while (read(g_signalPipe[0], drain, sizeof(drain)) > 0) {
      }
      return;  // handled at the top of the next round
    }
    if ((fds[keyIndex].revents & POLLIN) != 0) {
      char key = 0;
      const ssize_t n = read(STDIN_FILENO, &key, 1);
      if (n == 1) {
        HandleKey(key);
      } else if (n == 0) {
        stdinTty = false;  // the terminal went away; keep serving
      }
      return;
    }
    if ((fds[keyIndex].revents & (POLLHUP | POLLERR)) != 0) {
      stdinTty = false;
    }
    for (nfds_t i = firstTimer; i < count; ++i) {
      if ((fds[i].revents & POLLIN) == 0) {
        continue;
      }
      std::uint64_t expirations = 0;
      // However many periods passed, one tick is delivered: no catching up.
      [[maybe_unused]] const ssize_t n = read(fds[i].fd, &expirations, sizeof(expirations));
      CDialog* owner = owners[i - firstTimer];
      if (IsHosted(owner) && !owner->m_ended && owner->IsTimerRunning(ids[i - firstTimer])) {
        owner->OnTimer(ids[i - firstTimer]);
      }
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
    if (m_timers[i].fd >= 0) {
      close(m_timers[i].fd);
    }
  }
  m_timerCount = 0;
}

int CDialog::DoModal() {
  DialogHost& host = DialogHost::Get();
  const DialogResource* resource = FindDialogResource(m_templateId);
  if (resource == nullptr || !host.Push(this)) {
    return -1;
  }
  m_hWnd = this;
  m_ended = false;
  m_result = 0;
  m_iconic = false;
  m_hasSystemMenu = true;
  for (int c = 0; c < resource->controlCount; ++c) {
    ControlText* control = FindControl(resource->controls[c].id);
    if (control != nullptr) {
      CopyControlText(control->text, resource->controls[c].text, kControlTextSize);
    }
  }
  OnInitDialog();
  host.Render();
  while (!m_ended) {
    host.RunOnce();
  }
  OnDestroy();
  ClearTimers();
  host.Pop();
  m_hWnd = nullptr;
  return m_result;
}

void CDialog::EndDialog(int result) {
  m_ended = true;
  m_result = result;
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::OnSysCommand(unsigned id, std::intptr_t /*param*/) {
  if ((id & 0xFFF0u) == kScClose) {
    OnClose();
  } else if ((id & 0xFFF0u) == 0xF020u) {  // SC_MINIMIZE
    ShowWindow(kSwMinimize);
  }
}

void CDialog::OnPaint() { m_defaultRequested = true; }

IconHandle CDialog::OnQueryDragIcon() { return nullptr; }

// A dialog's close turns into its Cancel command.
void CDialog::OnClose() { OnCancel(); }

bool CDialog::SetTimer(unsigned id, unsigned periodMs) {
  if (!TimerStartAllowed(id, periodMs) || periodMs == 0) {
    return false;
  }
  int slot = FindTimer(id);
  if (slot < 0) {
    if (m_timerCount == kMaxTimers) {
      return false;
    }
    slot = m_timerCount;
    m_timers[slot] = {id, periodMs, -1};
  }
  Timer& timer = m_timers[slot];
  if (m_hWnd != nullptr) {
    if (timer.fd < 0) {
      timer.fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
      if (timer.fd < 0) {
        return false;
      }
    }
    itimerspec period{};
    period.it_interval.tv_sec = periodMs / 1000;
    period.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000L;
    period.it_value = period.it_interval;
    if (timerfd_settime(timer.fd, 0, &period, nullptr) != 0) {
      close(timer.fd);
      timer.fd = -1;
      return false;
    }
  }
  timer.periodMs = periodMs;
  if (slot == m_timerCount) {
    ++m_timerCount;
  }
  return true;
}

bool CDialog::KillTimer(unsigned id) {
  const int slot = FindTimer(id);
  if (slot < 0) {
    return false;
  }
  if (m_timers[slot].fd >= 0) {
    close(m_timers[slot].fd);
  }
  ForgetTimerAt(slot);
  return true;
}

void CDialog::ShowWindow(int command) {
  if (command == kSwMinimize) {
    m_iconic = true;
    ++m_minimiseCount;
  }
}

bool CDialog::IsIconic() const { return m_iconic; }

void CDialog::SetIcon(IconHandle icon, bool bigIcon) { (bigIcon ? m_bigIcon : m_smallIcon) = icon; }

CSystemMenu* CDialog::GetSystemMenu() { return &m_systemMenu; }

std::intptr_t CDialog::SendMessage(unsigned /*message*/, std::uintptr_t /*wParam*/,
                                   std::intptr_t /*lParam*/) {
  return 0;
}

void CDialog::GetClientRect(ClientRect* rect) const {
  if (rect != nullptr) {
    *rect = ClientRect{0, 0, 0, 0};
  }
}

void* CDialog::GetClientDC() { return nullptr; }

void CDialog::ReleaseClientDC(void* /*dc*/) {}

void CDialog::SetDlgItemText(int controlId, const char* text) {
  ControlText* control = FindControl(controlId);
  if (control == nullptr) {
    return;
  }
  CopyControlText(control->text, text, kControlTextSize);
  if (m_hWnd != nullptr) {
    DialogHost::Get().ControlChanged(this, controlId);
  }
}

// A terminal has no window to paint: the context stays empty.
CDialog::CPaintDC::CPaintDC(CDialog* dialog) : m_pDialog(dialog) { m_ps[0] = 0; }
CDialog::CPaintDC::~CPaintDC() { m_pDialog = nullptr; }
std::uintptr_t CDialog::CPaintDC::GetSafeHdc() const {
  return reinterpret_cast<std::uintptr_t>(m_hdc);
}
void CDialog::CPaintDC::DrawIcon(int /*x*/, int /*y*/, IconHandle /*icon*/) {}

// ---- resources ----

bool PlatformAppendMenu(void* /*hMenu*/, unsigned /*commandId*/, const char* /*text*/) {
  return true;
}

void PlatformBeginUpdate(CDialog* /*dialog*/) { ++DialogHost::Get().updating; }

void PlatformEndUpdate(CDialog* dialog) {
  DialogHost& host = DialogHost::Get();
  if (--host.updating == 0 && host.stdoutTty && host.IsHosted(dialog)) {
    host.Render();
  }
}

int LoadResourceString(int id, char* buf, int size) {
  if (buf == nullptr || size <= 0) {
    return 0;
  }
  CopyControlText(buf, FindStringResource(id), size);
  return static_cast<int>(std::strlen(buf));
}

IconHandle LoadResourceIcon(int id) { return FindIconResource(id); }

int GetSystemMetrics(int index) { return index == kSmCxIcon || index == kSmCyIcon ? 32 : 0; }

}  // namespace platform
