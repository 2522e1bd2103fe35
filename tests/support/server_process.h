// Test harness for the end-to-end tests of the orogrid program: putting
// the program and its terrain map in place, starting it, reading its status
// lines, closing it and waiting for it.
//  - Linux: the built program is copied into a fresh temporary folder with
//    the map under Bitmaps/Terrain/; its standard output goes to a log file,
//    whose plain lines are its status lines; closing is SIGTERM.
//  - Windows (under Wine): the program runs from the test's own folder and
//    the map goes to "C:\Program Files\Norvalia\Bitmaps\Terrain\"; status
//    line 2 is read from control 1001 of the window found by its caption;
//    closing is the system menu's Close.
//  - Output on a pipe (POSIX only; Windows reports it unsupported): the test
//    holds the read end, reads it whenever Output() is asked, and can stop
//    reading (the pipe is then filled to the brim) or close it.
//
// Threading: the test's main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace e2e {

class ServerProcess {
 public:
  ServerProcess();
  ~ServerProcess();  // kills a server that is still running
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Puts the program in place with the given map bytes (none: no map) and
  // starts it. False with a reason when that fails. outputOnPipe: standard
  // output goes to a pipe this object reads instead of the log file.
  bool Start(const std::vector<unsigned char>& mapBytes, bool withMap, std::string* reason,
             bool outputOnPipe = false);
  // Writes a map file at the given path; false when it could not.
  using MapWriter = std::function<bool(const std::string& path)>;
  // Starts the program with the installed map made by writeMap at the path
  // the program reads it from (large maps are written in place, not copied).
  bool StartWithMap(const MapWriter& writeMap, std::string* reason);
  // Starts the program with these arguments and no installed map. Only where
  // ArgumentsSupported() (the Windows program takes no arguments).
  bool StartWithArguments(const std::vector<std::string>& args, std::string* reason);
  static bool ArgumentsSupported();
  // Whether Start can put the output on a pipe here.
  static bool OutputPipeSupported();
  // Stops reading the pipe and fills it, so the program's next write finds
  // it full. False when there is no pipe or it cannot be filled.
  bool StopReadingOutput();
  // Closes the read end: the program's output has no reader any more.
  bool CloseOutputReader();
  // Waits up to timeoutMs for the program to end; its exit status, or -2 on
  // timeout, -1 when it was killed.
  int Wait(int timeoutMs);
  // The user's Close (SIGTERM on POSIX, the system menu's Close on Windows).
  bool Close();
  // Ends the program at once, without letting it clean up (SIGKILL,
  // TerminateProcess); Wait still tells when it has gone.
  bool Kill();
  bool Running();
  // Waits up to timeoutMs until a status line (1 or 2) starting with prefix
  // has been shown; the whole line in *found.
  bool WaitForStatus(int lineNumber, const std::string& prefix, int timeoutMs, std::string* found);
  // The program's text output (empty where there is none), for messages.
  std::string Output();

 public:
  struct Impl;  // the platform's own; public so its helpers can take it

 private:
  Impl* m_pImpl;
};

using testsupport::NowMs;
using testsupport::SleepMs;

}  // namespace e2e
