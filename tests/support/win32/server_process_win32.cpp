// End-to-end host on Windows (run under Wine): orogrid.exe from the test's
// own folder, the map at the program's fixed path, the status lines read
// from the window found by its caption (see tests/support/server_process.h); no
// output pipe.
//
// Threading: the test's main thread.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/support/server_process.h"

namespace e2e {

namespace {

const char kMapFolder[] = "C:\\Program Files\\Norvalia\\Bitmaps\\Terrain";
const char kMapPath[] = "C:\\Program Files\\Norvalia\\Bitmaps\\Terrain\\KtTerrainMap.bmp";
const char kCaption[] = "Orogrid v1.3";

struct FindData {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindWindowOfProcess(HWND hwnd, LPARAM lParam) {
  auto* data = reinterpret_cast<FindData*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  char caption[64] = {};
  GetWindowTextA(hwnd, caption, static_cast<int>(sizeof(caption)));
  if (owner == data->processId && std::string(caption) == kCaption) {
    data->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

struct ServerProcess::Impl {
  PROCESS_INFORMATION process{};
  bool started = false;
  int status = -3;
  HWND window = nullptr;

  HWND Window() {
    if (window != nullptr && IsWindow(window)) {
      return window;
    }
    // The caption names the window; the process id tells ours from others.
    HWND byCaption = FindWindowA(nullptr, kCaption);
    if (byCaption == nullptr) {
      return nullptr;
    }
    FindData data{process.dwProcessId, nullptr};
    EnumWindows(&FindWindowOfProcess, reinterpret_cast<LPARAM>(&data));
    window = data.found;
    return window;
  }
};

ServerProcess::ServerProcess() : m_pImpl(new Impl) {}

bool ServerProcess::Kill() {
  return m_pImpl->started && m_pImpl->status == -3 &&
         TerminateProcess(m_pImpl->process.hProcess, 99) != FALSE;
}

ServerProcess::~ServerProcess() {
  if (m_pImpl->started && m_pImpl->status == -3) {
    TerminateProcess(m_pImpl->process.hProcess, 99);
    WaitForSingleObject(m_pImpl->process.hProcess, 10000);
  }
  if (m_pImpl->started) {
    CloseHandle(m_pImpl->process.hProcess);
    CloseHandle(m_pImpl->process.hThread);
  }
  delete m_pImpl;
}

namespace {

// Puts the installed map in place with placeMap and starts the program.
bool StartProgram(ServerProcess::Impl& impl, const std::function<bool(const char*)>& placeMap,
                  std::string* reason);

}  // namespace

bool ServerProcess::Start(const std::vector<unsigned char>& mapBytes, bool withMap,
                          std::string* reason, bool outputOnPipe) {
  if (outputOnPipe) {
    *reason = "not supported: the program has no standard output here";
    return false;
  }
  return StartProgram(
      *m_pImpl,
      [&](const char* path) {
        if (!withMap) {
          return true;
        }
        FILE* out = std::fopen(path, "wb");
        if (out == nullptr) {
          return false;
        }
        const bool ok = std::fwrite(mapBytes.data(), 1, mapBytes.size(), out) == mapBytes.size();
        return std::fclose(out) == 0 && ok;
      },
      reason);
}

bool ServerProcess::StartWithMap(const MapWriter& writeMap, std::string* reason) {
  return StartProgram(
      *m_pImpl, [&](const char* path) { return writeMap(path); }, reason);
}

bool ServerProcess::ArgumentsSupported() { return false; }

bool ServerProcess::StartWithArguments(const std::vector<std::string>& /*args*/,
                                       std::string* reason) {
  *reason = "not supported: the Windows program takes no arguments";
  return false;
}

namespace {

bool StartProgram(ServerProcess::Impl& impl, const std::function<bool(const char*)>& placeMap,
                  std::string* reason) {
  const char* folders[] = {"C:\\Program Files", "C:\\Program Files\\Norvalia",
                           "C:\\Program Files\\Norvalia\\Bitmaps", kMapFolder};
  for (const char* folder : folders) {
    CreateDirectoryA(folder, nullptr);
  }
  DeleteFileA(kMapPath);
  if (!placeMap(kMapPath)) {
    *reason = std::string("cannot write ") + kMapPath;
    return false;
  }
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    *reason = "cannot find the test program's path";
    return false;
  }
  std::string exe(self);
  exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "orogrid.exe";
  std::string commandLine = "\"" + exe + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, "C:\\",
                      &startup, &impl.process)) {
    *reason = "cannot start " + exe + " (code " + std::to_string(GetLastError()) + ")";
    return false;
  }
  impl.started = true;
  impl.status = -3;
  return true;
}

}  // namespace

int ServerProcess::Wait(int timeoutMs) {
  if (m_pImpl->status != -3) {
    return m_pImpl->status;
  }
  if (WaitForSingleObject(m_pImpl->process.hProcess, static_cast<DWORD>(timeoutMs)) !=
      WAIT_OBJECT_0) {
    return -2;
  }
  DWORD code = 0;
  GetExitCodeProcess(m_pImpl->process.hProcess, &code);
  m_pImpl->status = static_cast<int>(code);
  return m_pImpl->status;
}

bool ServerProcess::Close() {
  HWND window = m_pImpl->Window();
  return window != nullptr && PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE;
}

bool ServerProcess::Running() { return m_pImpl->status == -3 && Wait(0) == -2; }

bool ServerProcess::WaitForStatus(int lineNumber, const std::string& prefix, int timeoutMs,
                                  std::string* found) {
  const long long end = NowMs() + timeoutMs;
  for (;;) {
    HWND window = m_pImpl->Window();
    if (window != nullptr) {
      char text[1400] = {};
      GetDlgItemTextA(window, lineNumber == 1 ? 1000 : 1001, text, static_cast<int>(sizeof(text)));
      const std::string line(text);
      if (line.rfind(prefix, 0) == 0) {
        if (found != nullptr) {
          *found = line;
        }
        return true;
      }
    }
    if (NowMs() >= end || !Running()) {
      return false;
    }
    SleepMs(50);
  }
}

std::string ServerProcess::Output() { return std::string(); }

// A window program: there is no standard output to put on a pipe.
bool ServerProcess::OutputPipeSupported() { return false; }

bool ServerProcess::StopReadingOutput() { return false; }

bool ServerProcess::CloseOutputReader() { return false; }

}  // namespace e2e
