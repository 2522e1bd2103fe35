// Win32 child processes: CreateProcessA, WaitForSingleObject,
// TerminateProcess.
// Threading: any thread.
#include <windows.h>

#include <string>

#include "tests/support/process.h"

namespace testsupport {
namespace {

// Quotes one argument the way the C runtime's command-line parser reads it
// back: backslashes are literal except before a quote.
void AppendQuoted(std::string& line, const char* arg) {
  line.push_back('"');
  int backslashes = 0;
  for (const char* p = arg; *p != '\0'; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    if (*p == '"') {
      line.append(static_cast<std::size_t>(backslashes * 2 + 1), '\\');
    } else {
      line.append(static_cast<std::size_t>(backslashes), '\\');
    }
    backslashes = 0;
    line.push_back(*p);
  }
  line.append(static_cast<std::size_t>(backslashes * 2), '\\');
  line.push_back('"');
}

// The process exit code Windows gives a TerminateProcess'd child here.
constexpr UINT kKilledExitCode = 0xDEAD;

}  // namespace

bool StartProcess(const char* const* argv, ProcessHandle* process) {
  std::string line;
  for (const char* const* arg = argv; *arg != nullptr; ++arg) {
    if (!line.empty()) {
      line.push_back(' ');
    }
    AppendQuoted(line, *arg);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(argv[0], line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  *process = reinterpret_cast<ProcessHandle>(info.hProcess);
  return true;
}

int WaitProcess(ProcessHandle process) {
  HANDLE handle = reinterpret_cast<HANDLE>(process);
  int result = -1;
  if (WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (GetExitCodeProcess(handle, &code) && code != kKilledExitCode) {
      result = static_cast<int>(code);
    }
  }
  CloseHandle(handle);
  return result;
}

bool KillProcess(ProcessHandle process) {
  return TerminateProcess(reinterpret_cast<HANDLE>(process), kKilledExitCode) != 0;
}

int CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace testsupport
