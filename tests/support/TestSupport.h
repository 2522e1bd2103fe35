// Helpers every test program shares: names no other run uses, reads and
// writes of a shared record the compiler cannot fold, polling with a
// deadline, scratch folders, and the programs built beside the tests.
//
// Threading: free functions without shared state, except UniqueName's serial
// number, which is atomic.
#pragma once

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// stem, then the process id, a serial number and a clock reading: unique
// among the tests running at the same time and apart from names an earlier
// run left behind; at most 22 characters longer than stem, so a stem of up to
// 20 characters still makes a segment name.
std::string UniqueName(const char* stem);

// A field of a record another process or thread writes, read or written once
// through a volatile access so that a polling loop sees every change.
template <class T>
T ReadVolatile(const T& field) {
  return *static_cast<const volatile T*>(&field);
}

template <class T>
void WriteVolatile(T& field, T value) {
  *static_cast<volatile T*>(&field) = value;
}

// A monotonic clock in milliseconds, and a sleep.
long long NowMs();
void SleepMs(int ms);

// Asks done() every pollMs milliseconds until it holds (true) or timeoutMs
// have passed (false); done() is asked once more at the deadline.
template <class Condition>
bool WaitFor(Condition done, int timeoutMs, int pollMs = 1) {
  const long long end = NowMs() + timeoutMs;
  for (;;) {
    if (done()) {
      return true;
    }
    if (NowMs() >= end) {
      return false;
    }
    SleepMs(pollMs);
  }
}

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes. Path() is empty when it could not be made.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* stem);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // A file name inside the folder.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path m_path;
};

// A file beside this test program (every program lands in bin/), and a
// program there with the platform's executable suffix.
std::string BesideThisProgram(const std::string& name);
std::string ProgramPath(const char* program);

// Runs the program at path with args and waits for it: its exit status, or
// -100 when it could not be started.
int RunProgram(const std::string& path, const std::vector<std::string>& args);

// Writes text as the whole file; false when any step failed.
bool WriteTextFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

// Every byte of the two objects alike, padding included: the check that
// nothing at all was written into one.
inline bool SameBytes(const void* a, const void* b, std::size_t bytes) {
  return std::memcmp(a, b, bytes) == 0;
}

}  // namespace testsupport
