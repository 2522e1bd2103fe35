// Helpers every test program shares (see TestSupport.h).
// Threading: see TestSupport.h.
#include "tests/support/TestSupport.h"

#include <atomic>
#include <cstdio>
#include <random>
#include <system_error>

#include "platform/module_path.h"
#include "tests/support/process.h"

namespace testsupport {

std::string UniqueName(const char* stem) {
  static std::atomic<int> serial{0};
  // The clock part keeps a name apart from one a crashed earlier run with the
  // same process id may have left behind.
  const long long clock = NowMs() % 100000;
  return std::string(stem) + std::to_string(CurrentProcessId()) + "_" + std::to_string(++serial) +
         "_" + std::to_string(clock);
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

ScratchFolder::ScratchFolder(const char* stem) {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) {
    return;
  }
  // A random part as well: a process id is reused across runs, and a folder
  // an earlier run left behind must not be taken over.
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::filesystem::path candidate =
        base / ("orogrid-" + UniqueName(stem) + "-" + std::to_string(random() % 1000000));
    if (std::filesystem::create_directory(candidate, ec) && !ec) {
      m_path = candidate;
      return;
    }
  }
}

ScratchFolder::~ScratchFolder() {
  if (!m_path.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
}

std::string ScratchFolder::File(const std::string& name) const { return (m_path / name).string(); }

std::string BesideThisProgram(const std::string& name) {
  char self[1024];
  if (!platform::ModuleFileName(self, sizeof self)) {
    return name;
  }
  std::string path(self);
  const std::size_t slash = path.rfind(platform::PathSeparator());
  path.resize(slash == std::string::npos ? 0 : slash + 1);
  return path + name;
}

std::string ProgramPath(const char* program) {
  return BesideThisProgram(std::string(program) + platform::ExecutableSuffix());
}

int RunProgram(const std::string& path, const std::vector<std::string>& args) {
  std::vector<const char*> argv{path.c_str()};
  for (const std::string& a : args) {
    argv.push_back(a.c_str());
  }
  argv.push_back(nullptr);
  ProcessHandle process = 0;
  if (!StartProcess(argv.data(), &process)) {
    return -100;
  }
  return WaitProcess(process);
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    return false;
  }
  const bool ok = text.empty() || std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace testsupport
