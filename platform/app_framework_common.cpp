// Application framework, the parts every platform shares: the object's own
// copy of its control texts, text exchange, the system-menu item list, the
// resource table, the timer seam, the default handlers and the application
// object.
//
// Threading: the user-interface thread only.
#include <cctype>
#include <cstring>

#include "platform/app_framework.h"
#include "platform/app_framework_internal.h"

namespace platform {

namespace {

const ResourceTable* g_resources = nullptr;
TimerStartHook g_timerHook = nullptr;
CWinApp* g_app = nullptr;

void CopyBounded(char* dst, const char* src, int size) {
  if (dst == nullptr || size <= 0) {
    return;
  }
  if (src == nullptr) {
    src = "";
  }
  const std::size_t n = std::strlen(src);
  const std::size_t room = static_cast<std::size_t>(size) - 1;
  const std::size_t count = n < room ? n : room;
  std::memcpy(dst, src, count);
  dst[count] = '\0';
}

}  // namespace

void UseResourceTable(const ResourceTable* table) { g_resources = table; }

const ResourceTable* CurrentResourceTable() { return g_resources; }

const DialogResource* FindDialogResource(int templateId) {
  if (g_resources == nullptr) {
    return nullptr;
  }
  for (int i = 0; i < g_resources->dialogCount; ++i) {
    if (g_resources->dialogs[i].templateId == templateId) {
      return &g_resources->dialogs[i];
    }
  }
  return nullptr;
}

const char* FindStringResource(int id) {
  if (g_resources == nullptr) {
    return nullptr;
  }
  for (int i = 0; i < g_resources->stringCount; ++i) {
    if (g_resources->strings[i].id == id) {
      return g_resources->strings[i].text;
    }
  }
  return nullptr;
}

const int* FindIconResource(int id) {
  if (g_resources == nullptr) {
    return nullptr;
  }
  for (int i = 0; i < g_resources->iconCount; ++i) {
    if (g_resources->iconIds[i] == id) {
      return &g_resources->iconIds[i];
    }
  }
  return nullptr;
}

void SetTimerStartHook(TimerStartHook hook) { g_timerHook = hook; }

bool TimerStartAllowed(unsigned id, unsigned periodMs) {
  return g_timerHook == nullptr || g_timerHook(id, periodMs);
}

void CopyControlText(char* dst, const char* src, int size) { CopyBounded(dst, src, size); }

// ---- text exchange ----

void DDX_Text(CDataExchange* pDX, int controlId, char* text, int size) {
  if (pDX == nullptr || pDX->m_pDlgWnd == nullptr || text == nullptr || size <= 0) {
    return;
  }
  CDialog* dialog = pDX->m_pDlgWnd;
  if (pDX->m_bSaveAndValidate) {
    CopyBounded(text, dialog->GetDlgItemText(controlId), size);
  } else {
    dialog->SetDlgItemText(controlId, text);
  }
}

bool CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  PlatformBeginUpdate(this);
  DoDataExchange(&dx);
  PlatformEndUpdate(this);
  return true;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

CDialog::ControlText* CDialog::FindControl(int controlId) {
  for (int i = 0; i < m_controlCount; ++i) {
    if (m_controls[i].id == controlId) {
      return &m_controls[i];
    }
  }
  if (m_controlCount == kMaxDialogControls) {
    return nullptr;
  }
  ControlText& slot = m_controls[m_controlCount++];
  slot.id = controlId;
  slot.text[0] = '\0';
  return &slot;
}

const CDialog::ControlText* CDialog::FindControl(int controlId) const {
  for (int i = 0; i < m_controlCount; ++i) {
    if (m_controls[i].id == controlId) {
      return &m_controls[i];
    }
  }
  return nullptr;
}

const char* CDialog::GetDlgItemText(int controlId) const {
  const ControlText* control = FindControl(controlId);
  return control == nullptr ? "" : control->text;
}

bool CDialog::IsTimerRunning(unsigned id) const {
  for (int i = 0; i < m_timerCount; ++i) {
    if (m_timers[i].id == id) {
      return true;
    }
  }
  return false;
}

// ---- system menu ----

bool CSystemMenu::AppendSeparator() { return AppendItem(0, ""); }

const char* CSystemMenu::ItemText(int index) const {
  return index >= 0 && index < m_count ? m_items[index].text : "";
}

unsigned CSystemMenu::CommandForKey(char key) const {
  const int wanted = std::tolower(static_cast<unsigned char>(key));
  for (int i = 0; i < m_count; ++i) {
    const char* amp = std::strchr(m_items[i].text, '&');
    if (amp != nullptr && amp[1] != '\0' &&
        std::tolower(static_cast<unsigned char>(amp[1])) == wanted) {
      return m_items[i].command;
    }
  }
  return 0;
}

bool CSystemMenu::AppendItem(unsigned commandId, const char* text) {
  if (m_count >= kMaxItems) {
    return false;
  }
  if (m_hMenu != nullptr && !PlatformAppendMenu(m_hMenu, commandId, text)) {
    return false;
  }
  m_items[m_count].command = commandId;
  CopyBounded(m_items[m_count].text, text, static_cast<int>(sizeof(m_items[m_count].text)));
  ++m_count;
  return true;
}

// ---- application object ----

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) {
    g_app = nullptr;
  }
}

CWinApp* AfxGetApp() { return g_app; }

int RunApplication() {
  if (g_app == nullptr) {
    return 1;
  }
  // The application ends when InitInstance returns false, as a dialog
  // program's does; its exit status is then 0.
  if (!g_app->InitInstance()) {
    return 0;
  }
  return 0;
}

int CDialog::FindTimer(unsigned id) const {
  for (int i = 0; i < m_timerCount; ++i) {
    if (m_timers[i].id == id) {
      return i;
    }
  }
  return -1;
}

void CDialog::ForgetTimerAt(int slot) {
  m_timers[slot] = m_timers[m_timerCount - 1];
  --m_timerCount;
}

// Default handlers every host shares.
void CDialog::OnDestroy() {}

void CDialog::OnTimer(std::uintptr_t /*id*/) {}

void CDialog::OnOK() { EndDialog(kIdOk); }

void CDialog::OnCancel() { EndDialog(kIdCancel); }

}  // namespace platform
