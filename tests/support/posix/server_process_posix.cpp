// End-to-end host on Linux: the orogrid program copied with a test map into
// a temporary folder, run with its output in a log file (see
// tests/support/server_process.h), or with its output on a pipe this process reads.
//
// Threading: the test's main thread.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/module_path.h"
#include "tests/support/server_process.h"

namespace fs = std::filesystem;

namespace e2e {

struct ServerProcess::Impl {
  fs::path folder;
  fs::path log;
  pid_t pid = -1;
  int status = -3;  // not yet reaped
  bool piped = false;
  int readEnd = -1;
  bool reading = false;
  std::string pipedText;
};

ServerProcess::ServerProcess() : m_pImpl(new Impl) {}

ServerProcess::~ServerProcess() {
  if (m_pImpl->pid > 0 && m_pImpl->status == -3) {
    kill(m_pImpl->pid, SIGKILL);
    int status = 0;
    waitpid(m_pImpl->pid, &status, 0);
  }
  if (m_pImpl->readEnd >= 0) {
    close(m_pImpl->readEnd);
  }
  std::error_code ignored;
  if (!m_pImpl->folder.empty()) {
    fs::remove_all(m_pImpl->folder, ignored);
  }
  delete m_pImpl;
}

namespace {

// Puts the program in a fresh folder, lets placeMap write its installed map
// (or not), and starts it with args and its output as asked.
bool StartProgram(ServerProcess::Impl& impl, const std::function<bool(const fs::path&)>& placeMap,
                  const std::vector<std::string>& args, bool outputOnPipe, std::string* reason) {
  char self[4096];
  if (!platform::ModuleFileName(self, static_cast<int>(sizeof(self)))) {
    *reason = "cannot find the test program's path";
    return false;
  }
  const fs::path program = fs::path(self).parent_path() / "orogrid";
  char pattern[] = "/tmp/orogrid-e2e-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    *reason = "cannot make a temporary folder";
    return false;
  }
  impl.folder = pattern;
  std::error_code error;
  fs::copy_file(program, impl.folder / "orogrid", error);
  if (error) {
    *reason = "cannot copy " + program.string() + ": " + error.message();
    return false;
  }
  const fs::path maps = impl.folder / "Bitmaps" / "Terrain";
  fs::create_directories(maps, error);
  if (!placeMap(maps / "KtTerrainMap.bmp")) {
    *reason = "cannot write the map";
    return false;
  }
  impl.log = impl.folder / "output.log";
  const std::string exe = (impl.folder / "orogrid").string();
  const std::string log = impl.log.string();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  int ends[2] = {-1, -1};
  if (outputOnPipe && pipe2(ends, O_CLOEXEC) != 0) {
    *reason = "cannot make a pipe";
    return false;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    *reason = "fork failed";
    return false;
  }
  if (pid == 0) {
    // From another folder, so that only the program's own folder can give
    // it its map. Both pipe ends close on exec; only the program's standard
    // output stays a writer, and nothing of it is a reader.
    const bool outputSet = outputOnPipe ? dup2(ends[1], STDOUT_FILENO) == STDOUT_FILENO
                                        : freopen(log.c_str(), "w", stdout) != nullptr;
    if (chdir("/") != 0 || !outputSet || freopen("/dev/null", "r", stdin) == nullptr) {
      _exit(127);
    }
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  impl.pid = pid;
  impl.status = -3;
  impl.piped = outputOnPipe;
  if (outputOnPipe) {
    close(ends[1]);
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    impl.readEnd = ends[0];
    impl.reading = true;
  }
  return true;
}

}  // namespace

bool ServerProcess::Start(const std::vector<unsigned char>& mapBytes, bool withMap,
                          std::string* reason, bool outputOnPipe) {
  const auto place = [&](const fs::path& path) {
    if (!withMap) {
      return true;
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(mapBytes.data()),
              static_cast<std::streamsize>(mapBytes.size()));
    out.close();
    return static_cast<bool>(out);
  };
  return StartProgram(*m_pImpl, place, {}, outputOnPipe, reason);
}

bool ServerProcess::StartWithMap(const MapWriter& writeMap, std::string* reason) {
  return StartProgram(
      *m_pImpl, [&](const fs::path& path) { return writeMap(path.string()); }, {}, false, reason);
}

bool ServerProcess::ArgumentsSupported() { return true; }

bool ServerProcess::StartWithArguments(const std::vector<std::string>& args, std::string* reason) {
  return StartProgram(
      *m_pImpl, [](const fs::path&) { return true; }, args, false, reason);
}

int ServerProcess::Wait(int timeoutMs) {
  if (m_pImpl->status != -3) {
    return m_pImpl->status;
  }
  const long long end = NowMs() + timeoutMs;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(m_pImpl->pid, &status, WNOHANG);
    if (done == m_pImpl->pid) {
      m_pImpl->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return m_pImpl->status;
    }
    if (NowMs() >= end) {
      return -2;
    }
    SleepMs(20);
  }
}

bool ServerProcess::Close() { return m_pImpl->pid > 0 && kill(m_pImpl->pid, SIGTERM) == 0; }

bool ServerProcess::Kill() { return m_pImpl->pid > 0 && kill(m_pImpl->pid, SIGKILL) == 0; }

bool ServerProcess::Running() { return m_pImpl->status == -3 && Wait(0) == -2; }

bool ServerProcess::OutputPipeSupported() { return true; }

bool ServerProcess::StopReadingOutput() {
  if (m_pImpl->readEnd < 0) {
    return false;
  }
  Output();
  m_pImpl->reading = false;
  // A description of our own on the pipe, so that making it non-blocking
  // leaves the program's end as the program set it.
  const std::string self = "/proc/self/fd/" + std::to_string(m_pImpl->readEnd);
  const int filler = open(self.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (filler < 0) {
    return false;
  }
  // Big writes first, then single bytes into whatever room is left.
  static const char kFill[4096] = {};
  while (write(filler, kFill, sizeof(kFill)) > 0) {
  }
  while (write(filler, kFill, 1) > 0) {
  }
  const bool full = errno == EAGAIN;
  close(filler);
  return full;
}

bool ServerProcess::CloseOutputReader() {
  if (m_pImpl->readEnd < 0) {
    return false;
  }
  Output();
  close(m_pImpl->readEnd);
  m_pImpl->readEnd = -1;
  return true;
}

std::string ServerProcess::Output() {
  if (m_pImpl->piped) {
    char buffer[4096];
    ssize_t n = 0;
    while (m_pImpl->readEnd >= 0 && m_pImpl->reading &&
           (n = read(m_pImpl->readEnd, buffer, sizeof(buffer))) > 0) {
      m_pImpl->pipedText.append(buffer, static_cast<std::size_t>(n));
    }
    return m_pImpl->pipedText;
  }
  std::ifstream in(m_pImpl->log);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Status line 2 texts are the ones that start with these words; any other
// line is status line 1.
static bool IsLine2(const std::string& line) {
  return line.rfind("Awaiting simulation", 0) == 0 || line.rfind("Running", 0) == 0 ||
         line.rfind("Simulation lost", 0) == 0;
}

bool ServerProcess::WaitForStatus(int lineNumber, const std::string& prefix, int timeoutMs,
                                  std::string* found) {
  const long long end = NowMs() + timeoutMs;
  for (;;) {
    std::istringstream lines(Output());
    std::string line;
    while (std::getline(lines, line)) {
      if ((lineNumber == 2) == IsLine2(line) && line.rfind(prefix, 0) == 0) {
        if (found != nullptr) {
          *found = line;
        }
        return true;
      }
    }
    if (NowMs() >= end) {
      return false;
    }
    SleepMs(50);
  }
}

}  // namespace e2e
